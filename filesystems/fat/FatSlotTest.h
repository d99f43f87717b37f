#pragma once
// Whether a 32-byte slot found anywhere on a FAT16 or FAT32 volume looks like a directory
// entry: the attribute byte decides the kind (long-name piece, folder, file), then the
// first two name bytes must be of the kinds of characters names use, and the dates and
// times must be real ones. Also the slots that tell where the data region starts: the
// root folder's first entries and a folder's "." and ".." pair.

#include <cstdint>

namespace quenlow::fs {

class FatSlotTest {
public:
    // A DOS date with day 1-31 and month 1-12; a DOS time with hour < 24, minute < 60 and
    // a two-second count < 30.
    static bool validDate(uint16_t date);
    static bool validTime(uint16_t time);

    // The slot is an entry of a FAT32 (FAT16) volume whose clusters are numbered below
    // `maxCluster`.
    static bool fat32Entry(const uint8_t* slot, uint64_t maxCluster);
    static bool fat16Entry(const uint8_t* slot, uint64_t maxCluster);

    // A volume label, or a recycle-bin entry: slots the root folder holds first.
    static bool rootMarker(const uint8_t* slot);

    // `slot` is "." and `next` is "..": the cluster the "." names (FAT32: with the high
    // word), or 0.
    static uint32_t dotPairCluster(const uint8_t* slot, const uint8_t* next, bool highWord);
};

}  // namespace quenlow::fs
