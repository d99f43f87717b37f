#include "filesystems/fat/FatNameAssembler.h"

#include "platform/TextConvert.h"

namespace quenlow::fs {

namespace {

// Windows-1252 for 0x80-0x9F; the bytes above are Latin-1. Undefined bytes read U+FFFD.
constexpr char16_t kAnsiHigh[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

char16_t ansi(uint8_t b) {
    if (b >= 0x80 && b < 0xA0) return kAnsiHigh[b - 0x80];
    return b;
}

}  // namespace

std::string FatNameAssembler::shortName(const uint8_t* e, bool folder) {
    (void)folder;  // a folder's name is made like a file's: its blanks are not part of it
    std::u16string base, ext;
    base.push_back(static_cast<char16_t>(static_cast<int16_t>(static_cast<int8_t>(e[0]))));
    for (int i = 1; i < 8; ++i) base.push_back(ansi(e[i]));
    for (int i = 8; i < 11; ++i) ext.push_back(ansi(e[i]));
    // The case flags other systems set for names that are all lower case.
    auto lower = [](std::u16string& s) {
        for (char16_t& c : s)
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    };
    if (e[12] & 0x08) lower(base);
    if (e[12] & 0x10) lower(ext);
    while (!base.empty() && base.back() == u' ') base.pop_back();
    std::u16string n = base + u'.' + ext;
    while (!n.empty() && n.back() == u' ') n.pop_back();
    while (!n.empty() && n.back() == u'.') n.pop_back();
    return platform::utf16ToUtf8(n);
}

void FatNameAssembler::addPiece(const uint8_t* e) {
    if (pieces_ == kMaxPieces) reset();  // too many pieces: this one starts a new name
    if (pieces_ == 0) deleted_ = e[0] == 0xE5;
    std::u16string& text = pieces_text_[pieces_++];
    text.clear();
    static constexpr int kOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int off : kOffsets) {
        char16_t c = static_cast<char16_t>(e[off] | (e[off + 1] << 8));
        if (c == 0) break;
        text.push_back(c);
    }
}

std::string FatNameAssembler::take(const uint8_t* e, bool folder, bool& deleted) {
    deleted = e[0] == 0xE5;
    if (pieces_ == 0) return shortName(e, folder);
    std::u16string name;
    for (int i = pieces_ - 1; i >= 0; --i) name += pieces_text_[i];
    deleted = deleted || deleted_;
    reset();
    if (name.empty()) return shortName(e, folder);  // a run of empty pieces names nothing
    return platform::utf16ToUtf8(name);
}

void FatNameAssembler::reset() {
    pieces_ = 0;
    deleted_ = false;
}

}  // namespace quenlow::fs
