#include "filesystems/exfat/ExFatAdvanced.h"

#include <cstdio>
#include <unordered_set>

#include "filesystems/ChunkedScan.h"
#include "filesystems/exfat/ExFatEntrySet.h"
#include "filesystems/exfat/ExFatWalker.h"
#include "platform/ByteReader.h"

namespace quenlow::fs {

namespace {

constexpr size_t kMaxRoots = 4;

std::string counted(const char* format, size_t n) {
    char text[64];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

}  // namespace

ExFatSignatures findExFatSignatures(const disk::VolumeView& view, int64_t volumeBytes, size_t maximum,
                                    WorkControl& control, Feedback& feedback) {
    ExFatSignatures found;
    if (maximum == 0) return found;
    ChunkedScan scan(view, volumeBytes);
    found.stopped = !scan.run(control, &feedback, [&](int64_t position, std::span<const uint8_t> bytes, size_t own) {
        const platform::ByteReader chunk(bytes);
        for (size_t at = 0; at < own; at += 512) {
            if (found.roots.size() < kMaxRoots && at + 512 <= bytes.size() && (bytes[at] == 0x81 || bytes[at + 32] == 0x81 || bytes[at + 64] == 0x81 ||
                                                   bytes[at + 96] == 0x81))
                if (auto anchor = ExFatRootAnchor::decode(bytes.subspan(at, 512)))
                    found.roots.emplace_back(position + static_cast<int64_t>(at), *anchor);
            const uint32_t first = chunk.le32(at), second = chunk.le32(at + 4);
            if (second != 0xFFFFFFFF) continue;
            if (first == 0xFFFFFFF8 && found.fats.size() < maximum) {
                found.fats.push_back(position + static_cast<int64_t>(at));
                feedback.status(counted("found fat entry  %zu ", found.fats.size()));
            } else if (first == 0xFFFFFFFF && found.heaps.size() < maximum) {
                found.heaps.push_back(position + static_cast<int64_t>(at));
            }
            if (found.fats.size() >= maximum && found.heaps.size() >= maximum) return false;
        }
        return true;
    });
    return found;
}

ExFatFoundSets scanForEntrySets(const disk::VolumeView& view, int64_t volumeBytes, WorkControl& control,
                                Feedback& feedback) {
    ExFatFoundSets found;
    // A set that starts in a chunk is tested whole from its lookahead; after an accepted set
    // the scan goes on behind it, in this chunk or the next.
    int64_t next = 0;
    size_t shown = 0;
    ChunkedScan scan(view, volumeBytes, ChunkedScan::kChunkBytes, exfat::kLongestSetBytes);
    found.stopped = !scan.run(control, &feedback, [&](int64_t position, std::span<const uint8_t> bytes, size_t own) {
        size_t at = static_cast<size_t>(next - position);
        const uint8_t* slots = bytes.data();
        auto candidate = [](uint8_t type) { return (type & 0x7F) == 0x05 || type == 0x83; };
        for (; at < own; at += exfat::kEntryBytes) {
            // The common case, eight slots (256 bytes) at a time: no file entry, no label.
            while (at + 8 * exfat::kEntryBytes <= own) {
                bool any = false;
                for (size_t k = 0; k < 8; ++k) any |= candidate(slots[at + k * exfat::kEntryBytes]);
                if (any) break;
                at += 8 * exfat::kEntryBytes;
            }
            if (at >= own) break;
            const uint8_t type = slots[at];
            if (!candidate(type)) continue;
            if (type == 0x83) {
                const platform::ByteReader label(bytes.subspan(at, exfat::kEntryBytes));
                if (!found.labelPosition && label.le64(24) == 0) found.labelPosition = position + static_cast<int64_t>(at);
                continue;
            }
            if (!exfat::isFileEntry(type)) continue;
            const size_t entries = exfat::acceptedSetEntries(bytes.subspan(at));
            if (entries == 0) continue;
            // No more sets than records can be kept: a volume of fake sets ends the scan there.
            if (found.positions.size() >= ExFatWalker::kMaxRecords) return false;
            found.positions.push_back(position + static_cast<int64_t>(at));
            at += (entries - 1) * exfat::kEntryBytes;
        }
        next = position + static_cast<int64_t>(at);
        if (found.positions.size() != shown) {
            shown = found.positions.size();
            feedback.status(counted("found Entry %zu ", shown));
        }
        return true;
    });
    return found;
}

void assembleFoundSets(const ExFatFoundSets& found, const disk::VolumeView& view, const ExFatGeometry& geometry,
                       ExFatFat& fat, std::vector<ExFatDirRecord>& records, WorkControl& control, Feedback& feedback) {
    records.clear();
    if (found.positions.empty()) return;
    // The root directory is taken to be the cluster that holds the volume label (or the
    // first set found); sets past it whose folder no walk reaches are orphans.
    const int64_t rootEnd = found.labelPosition.value_or(found.positions.front()) + geometry.clusterBytes;
    ExFatDirRecord dummy;
    dummy.entryType = 0x85;
    dummy.attributes = 0x10;
    dummy.name = "DUMMY ENTRY";
    records.push_back(dummy);
    ExFatDirRecord orphans = dummy;
    orphans.name = kOrphanEntryName;
    orphans.selfIndex = kOrphanRecord;
    records.push_back(orphans);

    // The label's cluster is the root's first: the root is walked over its whole chain
    // first, so that sets crossing from one of its clusters into the next are not lost and
    // the root's further clusters are not taken for orphans.
    ExFatGeometry rooted = geometry;
    std::unordered_set<int64_t> used;
    ExFatWalker walker(view, rooted, fat, records);
    walker.noteSetsIn(&used);
    if (found.labelPosition && *found.labelPosition >= geometry.dataStart) {
        const int64_t root = (*found.labelPosition - geometry.dataStart) / geometry.clusterBytes + 2;
        if (geometry.validCluster(static_cast<uint64_t>(root))) {
            rooted.rootCluster = static_cast<uint32_t>(root);
            walker.walkFolder(0, control, feedback);
        }
    }
    // The positions ascend: the 2048 bytes from each one's sector come from a window read
    // once for the run of positions that fits in it (a folder's sets), no further.
    constexpr int64_t kWindowBytes = 1024 * 1024, kSetBytes = 2048;
    std::vector<uint8_t> window(kWindowBytes);
    int64_t windowStart = -1, windowEnd = -1;
    for (size_t i = 0; i < found.positions.size() && records.size() < ExFatWalker::kMaxRecords && !walker.stopped(); ++i) {
        const int64_t position = found.positions[i];
        if (i % 256 == 0 && control.poll()) break;
        if (!used.insert(position).second) continue;
        const int64_t sector = position / 512 * 512;
        if (windowStart < 0 || sector < windowStart || sector + kSetBytes > windowEnd) {
            windowStart = sector;
            windowEnd = sector + kSetBytes;
            for (size_t j = i + 1; j < found.positions.size(); ++j) {
                const int64_t end = found.positions[j] / 512 * 512 + kSetBytes;
                if (end > windowStart + kWindowBytes) break;
                windowEnd = end;
            }
            view.readQuiet(windowStart, window.data(), static_cast<size_t>(windowEnd - windowStart));
        }
        const std::span<const uint8_t> sectors(window.data() + (sector - windowStart), kSetBytes);
        ExFatDirRecord r;
        if (!exfat::readSet(sectors, static_cast<size_t>(position % 512), r)) continue;
        r.parentRef = position >= rootEnd ? kOrphanRecord : 0;
        r.selfIndex = static_cast<uint32_t>(records.size());
        records.push_back(std::move(r));
        if (records.back().isFolder()) walker.walkFolder(records.back().selfIndex, control, feedback);
    }
}

}  // namespace quenlow::fs
