#include "filesystems/ntfs/Lznt1.h"

#include <algorithm>
#include <cstring>

namespace quenlow::fs {

Lznt1::Result Lznt1::decompress(const uint8_t* input, size_t inputSize, uint8_t* output,
                                size_t capacity) {
    Result r;
    size_t in = 0, out = 0;
    while (in + 2 <= inputSize && out < capacity) {
        uint16_t header = static_cast<uint16_t>(input[in] | (input[in + 1] << 8));
        size_t size = header & 0x0FFF;
        if (size == 0) break;
        size_t chunkEnd = in + size + 3;
        if (chunkEnd > inputSize) {
            r.ok = false;
            break;
        }
        in += 2;
        size_t chunkStart = out;
        // A chunk stands for at most 4096 bytes of output.
        size_t chunkCap = std::min(capacity, chunkStart + 4096);
        if ((header & 0x8000) == 0) {
            // Stored as it is: size + 1 bytes.
            size_t n = std::min(size + 1, capacity - out);
            std::memcpy(output + out, input + in, n);
            out += n;
            in = chunkEnd;
            continue;
        }
        while (in < chunkEnd && out < chunkCap) {
            uint8_t flags = input[in++];
            for (int bit = 0; bit < 8 && in < chunkEnd && out < chunkCap; ++bit, flags >>= 1) {
                if ((flags & 1) == 0) {
                    output[out++] = input[in++];
                    continue;
                }
                if (in + 2 > chunkEnd) {
                    r.ok = false;
                    in = chunkEnd;
                    break;
                }
                uint16_t token = static_cast<uint16_t>(input[in] | (input[in + 1] << 8));
                in += 2;
                size_t produced = out - chunkStart;
                if (produced == 0) {  // a back-reference before any byte of the chunk
                    r.ok = false;
                    r.written = out;
                    return r;
                }
                unsigned k = 0;
                for (size_t p = produced - 1; p > 15; p >>= 1) ++k;
                size_t back = static_cast<size_t>(token >> (12 - k)) + 1;
                size_t length = static_cast<size_t>(token & (0x0FFF >> k)) + 3;
                if (back > produced) {  // would reach before the chunk's first byte
                    r.ok = false;
                    r.written = out;
                    return r;
                }
                for (size_t n = 0; n < length && out < chunkCap; ++n, ++out)
                    output[out] = output[out - back];
            }
        }
        in = chunkEnd;
    }
    r.written = out;
    return r;
}

}  // namespace quenlow::fs
