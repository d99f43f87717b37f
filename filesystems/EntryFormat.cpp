#include "filesystems/EntryFormat.h"

#include <cstdio>

namespace quenlow::fs {

std::string sizeText(int64_t bytes) {
    char buf[64];
    long double s = static_cast<long double>(bytes);
    constexpr long double kGiB = 1073741824.0L, kMiB = 1048576.0L, kKiB = 1024.0L;
    if (s / kGiB >= 1)
        std::snprintf(buf, sizeof buf, "%.2f GB", static_cast<double>(s / kGiB));
    else if (s / kMiB >= 1)
        std::snprintf(buf, sizeof buf, "%.2f MB", static_cast<double>(s / kMiB));
    else if (s / kKiB >= 1)
        std::snprintf(buf, sizeof buf, "%.2f KB", static_cast<double>(s / kKiB));
    else
        std::snprintf(buf, sizeof buf, "%lld Bytes", static_cast<long long>(bytes));
    return buf;
}

std::string dateText(const platform::CalendarTime& t) {
    // The 12-hour clock: midnight is 12 AM, noon 12 PM.
    int hour12 = t.hour % 12 == 0 ? 12 : t.hour % 12;
    const char* half = t.hour >= 12 ? "PM" : "AM";
    if (t.month < 0 || t.month > 99 || t.day < 0 || t.day > 99 || t.year < 0 || t.year > 9999 || t.hour < 0 ||
        t.minute < 0 || t.minute > 99) {
        char buf[255];
        std::snprintf(buf, sizeof buf, "%02d/%02d/%d  %02d:%02d %s", t.month, t.day, t.year, hour12, t.minute, half);
        return buf;
    }
    // "%02d/%02d/%d  %02d:%02d AM", digit by digit: listings format millions of these.
    char buf[24];
    size_t n = 0;
    auto two = [&](int v) {
        buf[n++] = static_cast<char>('0' + v / 10);
        buf[n++] = static_cast<char>('0' + v % 10);
    };
    two(t.month);
    buf[n++] = '/';
    two(t.day);
    buf[n++] = '/';
    if (t.year >= 1000) buf[n++] = static_cast<char>('0' + t.year / 1000);
    if (t.year >= 100) buf[n++] = static_cast<char>('0' + t.year / 100 % 10);
    if (t.year >= 10) buf[n++] = static_cast<char>('0' + t.year / 10 % 10);
    buf[n++] = static_cast<char>('0' + t.year % 10);
    buf[n++] = ' ';
    buf[n++] = ' ';
    two(hour12);
    buf[n++] = ':';
    two(t.minute);
    buf[n++] = ' ';
    buf[n++] = half[0];
    buf[n++] = 'M';
    return std::string(buf, n);
}

std::string dateTextFromFileTime(uint64_t fileTime) {
    auto t = platform::localFromFileTime(fileTime);
    return t ? dateText(*t) : std::string();
}

std::string dateTextFromUnix(int64_t seconds) {
    auto t = platform::localFromUnix(seconds);
    return t ? dateText(*t) : std::string();
}

}  // namespace quenlow::fs
