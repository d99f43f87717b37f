#pragma once
// Conversion of on-disk timestamps to local calendar time, under the process's TZ.

#include <cstdint>
#include <optional>

namespace quenlow::platform {

struct CalendarTime {
    int year = 0;    // four digits
    int month = 0;   // 1-12
    int day = 0;     // 1-31
    int hour = 0;    // 0-23
    int minute = 0;
    int second = 0;
};

// Seconds since 1970-01-01 UTC to local time; nullopt when the value is out of range.
std::optional<CalendarTime> localFromUnix(int64_t seconds);

// Windows file time (100 ns ticks since 1601-01-01 UTC) to Unix seconds and nanoseconds.
struct UnixTime {
    int64_t seconds = 0;
    int64_t nanoseconds = 0;
};
UnixTime unixFromFileTime(uint64_t fileTime);
std::optional<CalendarTime> localFromFileTime(uint64_t fileTime);

}  // namespace quenlow::platform
