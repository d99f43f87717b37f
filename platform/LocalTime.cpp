#include "platform/LocalTime.h"

#include <ctime>

namespace quenlow::platform {

std::optional<CalendarTime> localFromUnix(int64_t seconds) {
    // Keep within what time_t and struct tm's int year can carry.
    if (seconds < -62135596800LL || seconds > 253402300799LL) return std::nullopt;
    time_t t = static_cast<time_t>(seconds);
    struct tm tm {};
    if (localtime_r(&t, &tm) == nullptr) return std::nullopt;
    CalendarTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    return c;
}

UnixTime unixFromFileTime(uint64_t fileTime) {
    constexpr int64_t kEpochDelta = 11644473600LL;  // seconds from 1601 to 1970
    UnixTime u;
    u.seconds = static_cast<int64_t>(fileTime / 10000000ULL) - kEpochDelta;
    u.nanoseconds = static_cast<int64_t>(fileTime % 10000000ULL) * 100;
    return u;
}

std::optional<CalendarTime> localFromFileTime(uint64_t fileTime) {
    return localFromUnix(unixFromFileTime(fileTime).seconds);
}

}  // namespace quenlow::platform
