#include "ntfs/support/Lznt1Compressor.h"

#include <algorithm>

namespace quenlow::test {

std::vector<uint8_t> lznt1Compress(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    for (size_t chunk = 0; chunk < data.size(); chunk += 4096) {
        size_t size = std::min<size_t>(4096, data.size() - chunk);
        const uint8_t* src = data.data() + chunk;
        std::vector<uint8_t> body;
        size_t pos = 0;
        while (pos < size) {
            size_t flagAt = body.size();
            body.push_back(0);
            for (int bit = 0; bit < 8 && pos < size; ++bit) {
                unsigned k = 0;
                if (pos > 0)
                    for (size_t p = pos - 1; p > 15; p >>= 1) ++k;
                size_t maxBack = size_t{1} << (12 - k);
                size_t maxLen = (size_t{0x0FFF} >> k) + 3;
                size_t bestLen = 0, bestBack = 0;
                for (size_t back = 1; back <= std::min(pos, maxBack); ++back) {
                    size_t len = 0;
                    while (len < maxLen && pos + len < size && src[pos + len - back] == src[pos + len]) ++len;
                    if (len > bestLen) {
                        bestLen = len;
                        bestBack = back;
                    }
                }
                if (bestLen >= 3) {
                    uint16_t token = static_cast<uint16_t>(((bestBack - 1) << (12 - k)) | (bestLen - 3));
                    body.push_back(static_cast<uint8_t>(token));
                    body.push_back(static_cast<uint8_t>(token >> 8));
                    body[flagAt] = static_cast<uint8_t>(body[flagAt] | (1 << bit));
                    pos += bestLen;
                } else {
                    body.push_back(src[pos++]);
                }
            }
        }
        if (body.size() >= size && size == 4096) {
            out.push_back(0xFF);
            out.push_back(0x3F);
            out.insert(out.end(), src, src + size);
        } else {
            uint16_t header = static_cast<uint16_t>(0xB000 | (body.size() + 2 - 3));
            out.push_back(static_cast<uint8_t>(header));
            out.push_back(static_cast<uint8_t>(header >> 8));
            out.insert(out.end(), body.begin(), body.end());
        }
    }
    return out;
}

}  // namespace quenlow::test
