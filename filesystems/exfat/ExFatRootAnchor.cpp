#include "filesystems/exfat/ExFatRootAnchor.h"

#include <algorithm>
#include <map>

#include "platform/ByteReader.h"

namespace quenlow::fs {

namespace {

constexpr uint8_t kBitmapEntry = 0x81;
constexpr uint8_t kUpcaseEntry = 0x82;
constexpr size_t kSlots = 4;
constexpr uint64_t kLongestUpcase = 128 * 1024;  // 65536 16-bit values
constexpr int kLargestClusterShift = 25;         // 32 MiB

}  // namespace

std::optional<ExFatRootAnchor> ExFatRootAnchor::decode(std::span<const uint8_t> sector) {
    if (sector.size() < kSlots * 32) return std::nullopt;
    const platform::ByteReader slots(sector);
    std::optional<ExFatRootAnchor> out;
    bool bitmap = false, upcase = false;
    ExFatRootAnchor a;
    for (size_t at = 0; at < kSlots * 32; at += 32) {
        if (sector[at] == kBitmapEntry && !bitmap && (sector[at + 1] & 1) == 0) {
            a.bitmapCluster = slots.le32(at + 20);
            a.bitmapBytes = slots.le64(at + 24);
            bitmap = true;
        } else if (sector[at] == kUpcaseEntry && !upcase) {
            a.upcaseChecksum = slots.le32(at + 4);
            a.upcaseCluster = slots.le32(at + 20);
            a.upcaseBytes = slots.le64(at + 24);
            upcase = true;
        }
    }
    // A bitmap holds at most 2^32 bits; the table at most 65536 values.
    if (!bitmap || !upcase || a.bitmapCluster < 2 || a.upcaseCluster < 2 || a.bitmapBytes == 0 ||
        a.bitmapBytes > (uint64_t{1} << 29) || a.upcaseBytes == 0 || a.upcaseBytes > kLongestUpcase ||
        a.upcaseCluster == a.bitmapCluster)
        return std::nullopt;
    return a;
}

uint32_t exFatTableChecksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (uint8_t b : bytes) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + b;
    return sum;
}

std::optional<ExFatHeapGuess> heapFromRoot(const disk::VolumeView& view, int64_t volumeBytes, int64_t rootPosition,
                                           const ExFatRootAnchor& anchor) {
    std::map<int64_t, bool> tableAt;  // up-case positions tested, and whether the table was there
    std::vector<uint8_t> table(static_cast<size_t>(anchor.upcaseBytes));
    const auto tableFound = [&](int64_t position) {
        if (auto it = tableAt.find(position); it != tableAt.end()) return it->second;
        bool found = position >= 0 && position + static_cast<int64_t>(table.size()) <= volumeBytes &&
                     view.read(position, table.data(), table.size()).ok() &&
                     exFatTableChecksum(table) == anchor.upcaseChecksum;
        tableAt.emplace(position, found);
        return found;
    };
    // The bitmap at `position` marks the clusters of the bitmap, the table and the root in use.
    const auto inUse = [&](int64_t position, int64_t rootCluster) {
        const int64_t bit[] = {anchor.bitmapCluster - int64_t{2}, anchor.upcaseCluster - int64_t{2}, rootCluster - 2};
        const int64_t last = std::max({bit[0], bit[1], bit[2]});
        // Formatters put these three among the first clusters.
        if (last < 0 || last / 8 >= std::min<int64_t>(4096, static_cast<int64_t>(anchor.bitmapBytes))) return false;
        std::vector<uint8_t> head(static_cast<size_t>(last / 8 + 1));
        if (position < 0 || position + static_cast<int64_t>(head.size()) > volumeBytes ||
            !view.read(position, head.data(), head.size()).ok())
            return false;
        for (int64_t b : bit)
            if ((head[static_cast<size_t>(b / 8)] >> (b % 8) & 1) == 0) return false;
        return true;
    };
    std::optional<ExFatHeapGuess> best;
    uint64_t bestMisfit = 0;
    for (int shift = 9; shift <= kLargestClusterShift; ++shift) {
        const int64_t cluster = int64_t{1} << shift;
        // The root's own cluster: formatters put it right after the bitmap or the table, or
        // among the first clusters.
        const auto clustersOf = [&](uint64_t bytes) { return static_cast<int64_t>((bytes + cluster - 1) / cluster); };
        std::vector<int64_t> roots;
        for (int64_t c = 2; c < 18; ++c) roots.push_back(c);
        for (int64_t k = 0; k < 3; ++k) {
            roots.push_back(anchor.bitmapCluster + clustersOf(anchor.bitmapBytes) + k);
            roots.push_back(anchor.upcaseCluster + clustersOf(anchor.upcaseBytes) + k);
        }
        for (int64_t rootCluster : roots) {
            if (rootCluster == anchor.bitmapCluster || rootCluster == anchor.upcaseCluster) continue;
            const int64_t heap = rootPosition - (rootCluster - 2) * cluster;
            if (heap < 0 || heap >= volumeBytes) continue;
            if (static_cast<int64_t>(anchor.upcaseCluster - 2) > (volumeBytes - heap) / cluster) continue;
            if (!tableFound(heap + (static_cast<int64_t>(anchor.upcaseCluster) - 2) * cluster)) continue;
            if (!inUse(heap + (static_cast<int64_t>(anchor.bitmapCluster) - 2) * cluster, rootCluster)) continue;
            // The bitmap has a bit per cluster of the heap: the guess whose heap fills the
            // volume most nearly as the bitmap counts wins.
            const uint64_t clusters = static_cast<uint64_t>((volumeBytes - heap) / cluster);
            const uint64_t bits = anchor.bitmapBytes * 8;
            const uint64_t misfit = clusters > bits ? clusters - bits : bits - clusters;
            if (!best || misfit < bestMisfit) {
                best = ExFatHeapGuess{heap, cluster};
                bestMisfit = misfit;
            }
        }
    }
    return best;
}

}  // namespace quenlow::fs
