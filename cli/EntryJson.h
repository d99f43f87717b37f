#pragma once
// The JSON object of one entry of a listing, written straight into a text buffer (listings
// of millions of entries stream out without building a document).

#include <cstdint>
#include <string>
#include <string_view>

#include "filesystems/VolumeParser.h"

namespace quenlow::cli {

struct EntryJson {
    std::string_view path;
    std::string_view name;
    bool folder = false;
    bool deleted = false;
    int64_t size = 0;
    const fs::EntryTexts* texts = nullptr;
    const fs::EntryTimes* times = nullptr;
};

// Appends `text` as a JSON string: quotes, backslashes and control characters (C1 too)
// escaped, invalid UTF-8 replaced by U+FFFD.
void appendJsonString(std::string& out, std::string_view text);
// "2020-01-02T03:04:05.5000000Z": UTC with the fraction the file system stores.
std::string isoUtc(const platform::UnixTime& time, int fractionDigits);
// Appends {"path":…,"name":…,"folder":…,"deleted":…,"size":…,"created":…,"accessed":…,
// "modified":…,"attributes":…,"created_utc":…,"accessed_utc":…,"modified_utc":…} and
// "changed_utc" where the file system keeps that time; a time it lacks is null.
void appendEntryJson(std::string& out, const EntryJson& entry);

}  // namespace quenlow::cli
