#pragma once
// Where the cluster heap starts and how large its clusters are, read from a root folder found
// on a volume whose boot sector is gone: the root's allocation bitmap and up-case table entries
// name their first clusters, and the up-case table's checksum proves a guess of heap start and
// cluster size when the table is found where the guess puts it. This finds the heap of small
// volumes, whose bitmap does not begin with 64 clusters in use.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "disk/VolumeView.h"

namespace quenlow::fs {

// The bitmap and up-case table entries among the first slots of a sector.
struct ExFatRootAnchor {
    uint32_t bitmapCluster = 0;
    uint64_t bitmapBytes = 0;
    uint32_t upcaseCluster = 0;
    uint64_t upcaseBytes = 0;
    uint32_t upcaseChecksum = 0;

    // The entries found in the first four 32-byte slots of `sector` (at least 128 bytes), or
    // none when the slots do not hold both with sound values.
    static std::optional<ExFatRootAnchor> decode(std::span<const uint8_t> sector);
};

// The up-case table's checksum over `bytes`.
uint32_t exFatTableChecksum(std::span<const uint8_t> bytes);

struct ExFatHeapGuess {
    int64_t heap = 0;          // byte offset of cluster 2
    int64_t clusterBytes = 0;
};

// The heap start and cluster size under which the root folder at `rootPosition` (its first
// sector holding `anchor`) finds its up-case table with the right checksum; among several,
// the one whose bitmap length fits the volume's cluster count best. Bounded: a few hundred
// guesses, each one read of the table.
std::optional<ExFatHeapGuess> heapFromRoot(const disk::VolumeView& view, int64_t volumeBytes, int64_t rootPosition,
                                           const ExFatRootAnchor& anchor);

}  // namespace quenlow::fs
