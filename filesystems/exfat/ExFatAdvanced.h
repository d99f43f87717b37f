#pragma once
// The exFAT advanced scan, for a volume whose boot sector or folders cannot be trusted:
// the search for FAT starts and cluster heap starts, the scan of the whole volume for
// directory entry sets, and the records built from the sets found, each found folder
// walked with the chosen geometry and the sets outside the root's first cluster placed
// under the orphan folder.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/exfat/ExFatDirRecord.h"
#include "filesystems/exfat/ExFatFat.h"
#include "filesystems/exfat/ExFatGeometry.h"
#include "filesystems/exfat/ExFatRootAnchor.h"

namespace quenlow::fs {

inline constexpr const char* kOrphanEntryName = "ORPHAN ENTRY";
inline constexpr uint32_t kOrphanRecord = 1;

struct ExFatSignatures {
    std::vector<int64_t> fats;   // sectors that begin 0xFFFFFFF8, 0xFFFFFFFF: a FAT's first entries
    std::vector<int64_t> heaps;  // sectors that begin with eight 0xFF bytes: an allocation bitmap
    // Sectors whose first slots hold the bitmap and up-case table entries: a root folder's
    // start (the first few met).
    std::vector<std::pair<int64_t, ExFatRootAnchor>> roots;
    bool stopped = false;
};

// Both searches in one pass over [0, volumeBytes), every 512-byte boundary, until each
// list holds `maximum` positions (and the root folders met meanwhile). "found fat entry  %d "
// for each FAT start.
ExFatSignatures findExFatSignatures(const disk::VolumeView& view, int64_t volumeBytes, size_t maximum,
                                    WorkControl& control, Feedback& feedback);

struct ExFatFoundSets {
    std::vector<int64_t> positions;     // byte offsets of the file entries of accepted sets, ascending
    std::optional<int64_t> labelPosition;  // the first volume label entry met
    bool stopped = false;
};

// Every 32-byte slot of [0, volumeBytes) tested as the start of an entry set; a set may
// run on into the next cluster. "found Entry %d " shows the running count.
ExFatFoundSets scanForEntrySets(const disk::VolumeView& view, int64_t volumeBytes, WorkControl& control,
                                Feedback& feedback);

// The records of the sets found, with `geometry` giving the chosen FAT, heap and cluster
// size: the dummy root, the orphan folder, what a walk of the root finds (from the cluster
// of the volume label), then each set not met before, each found folder followed by what a
// walk of its clusters finds. A set met twice is listed once.
void assembleFoundSets(const ExFatFoundSets& found, const disk::VolumeView& view, const ExFatGeometry& geometry,
                       ExFatFat& fat, std::vector<ExFatDirRecord>& records, WorkControl& control, Feedback& feedback);

}  // namespace quenlow::fs
