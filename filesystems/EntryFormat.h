#pragma once
// Texts shared by every parser: the Size column and the date columns.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/LocalTime.h"

namespace quenlow::fs {

// "%.2f GB", "%.2f MB", "%.2f KB" (1024-based) or "%lld Bytes".
std::string sizeText(int64_t bytes);
// "%02d/%02d/%d  %02d:%02d AM" / "... PM" on the 12-hour clock: 00:05 is 12:05 AM, 12:05 is
// 12:05 PM, 13:00 is 01:00 PM. Seconds are not shown.
std::string dateText(const platform::CalendarTime& time);
// A Windows file time in local time; empty when it cannot be converted.
std::string dateTextFromFileTime(uint64_t fileTime);
// Seconds since 1970 in local time; empty when they cannot be converted.
std::string dateTextFromUnix(int64_t seconds);

}  // namespace quenlow::fs
