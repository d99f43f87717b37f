#pragma once
// SHA-256 for the tests: the program's own digest (raw/Sha256.h), plus the digest of a byte
// vector and of a whole file.

#include <fstream>
#include <string>
#include <vector>

#include "raw/Sha256.h"

namespace quenlow::test {

class Sha256 : public raw::Sha256 {
public:
    using raw::Sha256::of;
    static std::string of(const std::vector<unsigned char>& bytes) { return of(bytes.data(), bytes.size()); }
    static std::string of(const std::string& bytes) { return of(bytes.data(), bytes.size()); }
    // Digest of a whole file; empty text when it cannot be read.
    static std::string ofFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) return {};
        Sha256 h;
        std::vector<char> buf(1 << 20);
        while (in) {
            in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
            h.update(buf.data(), static_cast<size_t>(in.gcount()));
        }
        return h.hex();
    }
};

}  // namespace quenlow::test
