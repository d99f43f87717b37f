#include "cli/TerminalText.h"

#include <algorithm>
#include <cstdio>

namespace quenlow::cli {

namespace {

// One step through a text: a character of valid UTF-8, or a single byte that is not.
struct Unit {
    char32_t c;
    size_t length;
    bool valid;
};

Unit decodeAt(std::string_view s, size_t at) {
    auto b0 = static_cast<unsigned char>(s[at]);
    const Unit bad{b0, 1, false};
    if (b0 < 0x80) return {b0, 1, true};
    size_t length;
    char32_t c, least;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2, c = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3, c = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4, c = b0 & 0x07, least = 0x10000;
    } else {
        return bad;  // a continuation byte alone, or a lead byte UTF-8 never uses
    }
    if (s.size() - at < length) return bad;
    for (size_t i = 1; i < length; ++i) {
        auto b = static_cast<unsigned char>(s[at + i]);
        if ((b & 0xC0) != 0x80) return bad;
        c = (c << 6) | (b & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8 either.
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return bad;
    return {c, length, true};
}

bool isC0OrDel(char32_t c) { return c < 0x20 || c == 0x7F; }
bool isC1(char32_t c) { return c >= 0x80 && c <= 0x9F; }

bool plainAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char ch) {
        auto b = static_cast<unsigned char>(ch);
        return b >= 0x20 && b < 0x7F;
    });
}

// Columns of one unit once escaped.
size_t unitColumns(const Unit& u) {
    if (!u.valid || isC0OrDel(u.c)) return 4;  // \xHH
    if (isC1(u.c)) return 6;                    // \u00HH
    return static_cast<size_t>(charColumns(u.c));
}

}  // namespace

std::string terminalText(std::string_view text) {
    if (plainAscii(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    char escape[8];
    for (size_t at = 0; at < text.size();) {
        Unit u = decodeAt(text, at);
        if (!u.valid || isC0OrDel(u.c)) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(text[at])));
            out += escape;
            at += 1;
            continue;
        }
        if (isC1(u.c)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(u.c));
            out += escape;
        } else {
            out.append(text.substr(at, u.length));
        }
        at += u.length;
    }
    return out;
}

size_t displayWidth(std::string_view text) {
    if (plainAscii(text)) return text.size();
    size_t columns = 0;
    for (size_t at = 0; at < text.size();) {
        Unit u = decodeAt(text, at);
        columns += unitColumns(u);
        at += u.valid ? u.length : 1;
    }
    return columns;
}

std::string fitColumns(std::string_view text, size_t columns) {
    std::string shown = terminalText(text);
    if (displayWidth(shown) <= columns) return shown;
    const std::string_view mark = "...";
    size_t budget = columns > mark.size() ? columns - mark.size() : 0;
    size_t used = 0, at = 0;
    while (at < shown.size()) {
        Unit u = decodeAt(shown, at);  // valid UTF-8 without controls now
        size_t w = unitColumns(u);
        if (used + w > budget) break;
        used += w;
        at += u.length;
    }
    return shown.substr(0, at) + std::string(mark.substr(0, std::min(mark.size(), columns)));
}

bool writeTable(std::ostream& out, const std::vector<std::string>& header,
                const std::vector<std::vector<std::string>>& rows, const std::vector<size_t>& caps) {
    struct Cell {
        std::string text;
        size_t width;
    };
    auto escapeRow = [](const std::vector<std::string>& row) {
        std::vector<Cell> cells;
        cells.reserve(row.size());
        for (const auto& t : row) {
            std::string shown = terminalText(t);
            size_t w = displayWidth(shown);
            cells.push_back({std::move(shown), w});
        }
        return cells;
    };
    std::vector<std::vector<Cell>> lines;
    lines.reserve(rows.size() + 1);
    lines.push_back(escapeRow(header));
    for (const auto& row : rows) lines.push_back(escapeRow(row));

    std::vector<size_t> width(header.size(), 0);
    for (const auto& line : lines)
        for (size_t i = 0; i < line.size() && i < width.size(); ++i) width[i] = std::max(width[i], line[i].width);
    for (size_t i = 0; i < caps.size() && i < width.size(); ++i)
        if (caps[i] > 0) width[i] = std::min(width[i], std::max(caps[i], lines[0][i].width));

    std::string text;
    for (const auto& line : lines) {
        text.clear();
        for (size_t i = 0; i < line.size() && i < width.size(); ++i) {
            text += line[i].text;
            if (i + 1 < line.size() && i + 1 < width.size())
                text.append((line[i].width < width[i] ? width[i] - line[i].width : 0) + 2, ' ');
        }
        text += '\n';
        if (!out.write(text.data(), static_cast<std::streamsize>(text.size()))) return false;
    }
    return static_cast<bool>(out);
}

std::string terminalJson(std::string_view dumped) {
    std::string out;
    out.reserve(dumped.size());
    char escape[8];
    for (size_t at = 0; at < dumped.size(); ++at) {
        auto b = static_cast<unsigned char>(dumped[at]);
        auto next = at + 1 < dumped.size() ? static_cast<unsigned char>(dumped[at + 1]) : 0;
        if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(next));
            out += escape;
            ++at;
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

}  // namespace quenlow::cli
