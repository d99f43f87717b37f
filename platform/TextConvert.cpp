#include "platform/TextConvert.h"

namespace quenlow::platform {

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

namespace {

template <typename UnitAt>
std::string convert(size_t units, UnitAt unitAt) {
    std::string out;
    out.reserve(units);
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = unitAt(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t low = unitAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, u);  // lone surrogates become U+FFFD there
    }
    return out;
}

}  // namespace

std::string utf16ToUtf8(const char16_t* text, size_t units) {
    return convert(units, [text](size_t i) { return static_cast<uint32_t>(text[i]); });
}

std::string utf16ToUtf8(const std::u16string& text) { return utf16ToUtf8(text.data(), text.size()); }

std::string utf16leToUtf8(const uint8_t* bytes, size_t byteCount) {
    return convert(byteCount / 2, [bytes](size_t i) {
        return static_cast<uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    });
}

std::string utf16beToUtf8(const uint8_t* bytes, size_t byteCount) {
    return convert(byteCount / 2, [bytes](size_t i) {
        return static_cast<uint32_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    });
}

}  // namespace quenlow::platform
