#pragma once
// The Recycle Bin's info file ("$I" followed by the part its data file "$R" shares): the
// former full path of the recycled file or folder. Version 1 holds the path at byte 24 up
// to its first NUL; version 2 (written by current systems) holds the path's length in
// UTF-16 units (its NUL included) at byte 24 and the path from byte 28.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quenlow::recovery {

// Info files are this small: a larger entry is not one.
inline constexpr size_t kRecycleInfoLimit = 2048;

struct RecycleInfoRecord {
    uint64_t version = 0;
    std::string formerPath;  // UTF-8; invalid UTF-16 becomes U+FFFD

    // The record in `bytes`; none when they are too short for their version or reach the
    // size limit. Any version other than 2 is read as version 1.
    static std::optional<RecycleInfoRecord> decode(const uint8_t* bytes, size_t size);

    // The former name: the part of the path after its last '\' (the whole path without one).
    std::string formerName() const;
};

}  // namespace quenlow::recovery
