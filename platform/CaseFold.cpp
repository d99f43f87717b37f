#include "platform/CaseFold.h"

#include "platform/TextConvert.h"

namespace quenlow::platform {

uint32_t foldCodePoint(uint32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;                  // Latin-1
    if (c >= 0x100 && c <= 0x137) return c | 1;                             // Latin Extended-A, pairs
    if (c >= 0x139 && c <= 0x148) return (c & 1) ? c + 1 : c;
    if (c >= 0x14A && c <= 0x177) return c | 1;
    if (c == 0x178) return 0xFF;
    if (c >= 0x179 && c <= 0x17E) return (c & 1) ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;               // Greek capitals
    if (c == 0x3C2) return 0x3C3;                                           // final sigma
    if (c == 0x386) return 0x3AC;
    if (c >= 0x388 && c <= 0x38A) return c + 37;
    if (c == 0x38C) return 0x3CC;
    if (c == 0x38E || c == 0x38F) return c + 63;
    if (c >= 0x410 && c <= 0x42F) return c + 32;                             // Cyrillic
    if (c >= 0x400 && c <= 0x40F) return c + 80;
    if (c >= 0x460 && c <= 0x481) return c | 1;
    if (c >= 0x48A && c <= 0x4BF) return c | 1;
    if (c >= 0x4D0 && c <= 0x52F) return c | 1;
    return c;
}

std::string foldCase(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            out += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
            ++i;
            continue;
        }
        // Two-byte sequences cover every folded letter; longer ones are copied unchanged.
        if ((c >> 5) == 0x6 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
            uint32_t cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            if (cp >= 0x80) {
                appendUtf8(out, foldCodePoint(cp));
                i += 2;
                continue;
            }
        }
        out += static_cast<char>(c);
        ++i;
    }
    return out;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) { return foldCase(a) == foldCase(b); }

}  // namespace quenlow::platform
