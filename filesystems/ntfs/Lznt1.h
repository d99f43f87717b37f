#pragma once
// Decompression of NTFS-compressed data (LZNT1): a sequence of chunks, each a 16-bit header
// followed by either the chunk's bytes as they are or flag bytes and tokens.

#include <cstddef>
#include <cstdint>

namespace quenlow::fs {

class Lznt1 {
public:
    struct Result {
        size_t written = 0;   // bytes placed in the output
        bool ok = true;       // false when the input was cut off or malformed
    };
    // Decompresses `input` into `output`, never writing more than `capacity` bytes and never
    // reading outside `input`. Stops at a chunk header of size 0 or at the input's end.
    static Result decompress(const uint8_t* input, size_t inputSize, uint8_t* output,
                             size_t capacity);
};

}  // namespace quenlow::fs
