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
    char buf[255];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%d  %02d:%02d %s", t.month, t.day, t.year, hour12,
                  t.minute, t.hour >= 12 ? "PM" : "AM");
    return buf;
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
