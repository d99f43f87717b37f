// LZNT1 input of any bytes into an output of a capacity taken from the first two bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "filesystems/ntfs/Lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    size_t capacity = static_cast<size_t>(data[0] | (data[1] << 8)) + 1;
    std::vector<uint8_t> out(capacity);
    quenlow::fs::Lznt1::Result r = quenlow::fs::Lznt1::decompress(data + 2, size - 2, out.data(), out.size());
    if (r.written > capacity) __builtin_trap();
    return 0;
}
