#include "cli/EntryJson.h"

#include <cstdio>

namespace quenlow::cli {

namespace {

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
}

// Length of the valid UTF-8 sequence at `s` (0 when it is not one).
size_t utf8Length(std::string_view s, size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
    return n;
}

void appendTime(std::string& out, const char* key, const std::optional<platform::UnixTime>& t, int digits) {
    out += ",\"";
    out += key;
    out += "\":";
    if (!t) {
        out += "null";
        return;
    }
    out += '"';
    out += isoUtc(*t, digits);
    out += '"';
}

}  // namespace

void appendJsonString(std::string& out, std::string_view s) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
            size_t j = i + 1;
            while (j < s.size()) {
                unsigned char d = static_cast<unsigned char>(s[j]);
                if (d < 0x20 || d >= 0x80 || d == '"' || d == '\\') break;
                ++j;
            }
            out.append(s.data() + i, j - i);
            i = j;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        if (c < 0x20) {
            char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            out.append(esc, 6);
            ++i;
            continue;
        }
        size_t n = utf8Length(s, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
        } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
            // A C1 control character: JSON may leave it raw, but a terminal would act on it.
            unsigned char d = static_cast<unsigned char>(s[i + 1]);
            char esc[6] = {'\\', 'u', '0', '0', kHex[d >> 4], kHex[d & 15]};
            out.append(esc, 6);
            i += 2;
        } else {
            out.append(s.data() + i, n);
            i += n;
        }
    }
    out += '"';
}

std::string isoUtc(const platform::UnixTime& time, int fractionDigits) {
    int64_t seconds = time.seconds;
    int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    int64_t rest = seconds - days * 86400;
    int64_t y;
    unsigned m, d;
    civilFromDays(days, y, m, d);
    // Written digit by digit: listings format millions of these.
    char text[48];
    size_t n = 0;
    auto digits = [&](uint64_t v, int width) {
        for (int k = width - 1; k >= 0; --k) {
            text[n + static_cast<size_t>(k)] = static_cast<char>('0' + v % 10);
            v /= 10;
        }
        n += static_cast<size_t>(width);
    };
    if (y < 0 || y > 9999) {
        n = static_cast<size_t>(std::snprintf(text, sizeof text, "%lld", static_cast<long long>(y)));
    } else {
        digits(static_cast<uint64_t>(y), 4);
    }
    text[n++] = '-';
    digits(m, 2);
    text[n++] = '-';
    digits(d, 2);
    text[n++] = 'T';
    digits(static_cast<uint64_t>(rest / 3600), 2);
    text[n++] = ':';
    digits(static_cast<uint64_t>(rest / 60 % 60), 2);
    text[n++] = ':';
    digits(static_cast<uint64_t>(rest % 60), 2);
    if (fractionDigits > 0) {
        int width = fractionDigits > 9 ? 9 : fractionDigits;
        uint64_t nanos = static_cast<uint64_t>(time.nanoseconds % 1000000000);
        for (int k = width; k < 9; ++k) nanos /= 10;
        text[n++] = '.';
        digits(nanos, width);
    }
    text[n++] = 'Z';
    return std::string(text, n);
}

void appendEntryJson(std::string& out, const EntryJson& e) {
    static const fs::EntryTexts kNoTexts;
    static const fs::EntryTimes kNoTimes;
    const fs::EntryTexts& t = e.texts != nullptr ? *e.texts : kNoTexts;
    const fs::EntryTimes& times = e.times != nullptr ? *e.times : kNoTimes;
    out += "{\"path\":";
    appendJsonString(out, e.path);
    out += ",\"name\":";
    appendJsonString(out, e.name);
    out += e.folder ? ",\"folder\":true" : ",\"folder\":false";
    out += e.deleted ? ",\"deleted\":true" : ",\"deleted\":false";
    out += ",\"size\":";
    out += std::to_string(e.size);
    out += ",\"created\":";
    appendJsonString(out, t.created);
    out += ",\"accessed\":";
    appendJsonString(out, t.accessed);
    out += ",\"modified\":";
    appendJsonString(out, t.modified);
    out += ",\"attributes\":";
    appendJsonString(out, t.attributes);
    appendTime(out, "created_utc", times.created, times.fractionDigits);
    appendTime(out, "accessed_utc", times.accessed, times.fractionDigits);
    appendTime(out, "modified_utc", times.modified, times.fractionDigits);
    if (times.changed) appendTime(out, "changed_utc", times.changed, times.fractionDigits);
    out += '}';
}

}  // namespace quenlow::cli
