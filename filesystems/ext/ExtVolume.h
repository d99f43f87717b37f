#pragma once
// An ext volume's geometry as the walks use it: the superblock found by the search, the
// group descriptors, and where each inode lies. Reads go through the volume view.

#include <cstdint>
#include <optional>
#include <vector>

#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/ext/ExtGroupDescriptor.h"
#include "filesystems/ext/ExtInode.h"
#include "filesystems/ext/ExtSuperblock.h"

namespace quenlow::fs {

class ExtVolume {
public:
    explicit ExtVolume(disk::VolumeView view) : view_(view) {}

    // Searches for a plausible superblock at 1024, 1536, 2048, ... (512-byte steps) while the
    // candidate lies within `volumeBytes`, and no further than a backup of the largest block
    // size can lie (group 1 of 64 KiB blocks). False when none is found or the search was
    // stopped.
    bool findSuperblock(int64_t volumeBytes, WorkControl& control);
    // Reads the descriptor table from the block after the superblock's. False when it does
    // not lie inside the source.
    bool readDescriptors();

    const ExtSuperblock& superblock() const { return super_; }
    int64_t superblockOffset() const { return superOffset_; }
    const std::vector<ExtGroupDescriptor>& groups() const { return groups_; }
    const disk::VolumeView& view() const { return view_; }
    uint32_t blockSize() const { return super_.blockSize(); }
    uint64_t blocksCount() const { return super_.blocksCount; }
    // Inode numbers run from 1 to this (the superblock's count, bounded by the groups').
    uint32_t inodeLimit() const { return inodeLimit_; }

    // Inodes of group `g` that may be in use: none when its table is marked uninitialised,
    // the table less its unused tail when the volume keeps group checksums, else all.
    uint32_t usedInodes(size_t g) const;
    // The byte offset of inode `number` (from 1), or -1 when its group's table lies outside
    // the volume.
    int64_t inodeOffset(uint32_t number) const;
    // Reads one inode; nothing when it lies outside the volume or its read failed.
    std::optional<ExtInode> readInode(uint32_t number) const;
    // Reads `bytes` at `offset` through whole sectors from the one that holds `offset` (a
    // reader serves whole sectors: an inode of 128 or 256 bytes may start inside one); the
    // report's ranges are relative to `offset`.
    disk::VolumeView::ReadReport readAt(int64_t offset, uint8_t* out, size_t bytes) const;
    // A block that lies inside the volume's block count.
    bool validBlock(uint64_t block) const { return block < super_.blocksCount; }

    // The largest offset the superblock search goes to.
    static constexpr int64_t kSearchLimit = (int64_t{65536} * 65536) + 65536 + 1024;

private:
    disk::VolumeView view_;
    ExtSuperblock super_;
    int64_t superOffset_ = -1;
    std::vector<ExtGroupDescriptor> groups_;
    uint32_t inodeLimit_ = 0;
};

}  // namespace quenlow::fs
