#pragma once
// Fast tests and XOR over sector bytes: detection looks at millions of sectors.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace quenlow::detect {

// Whether the `bytes` bytes at `p` (at least 1) all hold `value`: each equals the next.
inline bool allBytes(const uint8_t* p, size_t bytes, uint8_t value) {
    return p[0] == value && std::memcmp(p, p + 1, bytes - 1) == 0;
}

inline bool zeroSector(const uint8_t* p) { return allBytes(p, 512, 0); }

// to[i] ^= from[i] for `bytes` bytes (a multiple of 8).
inline void xorBytes(uint8_t* to, const uint8_t* from, size_t bytes) {
    for (size_t i = 0; i < bytes; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, to + i, 8);
        std::memcpy(&b, from + i, 8);
        a ^= b;
        std::memcpy(to + i, &a, 8);
    }
}

}  // namespace quenlow::detect
