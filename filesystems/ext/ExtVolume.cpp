#include "filesystems/ext/ExtVolume.h"

#include <algorithm>

namespace quenlow::fs {

bool ExtVolume::findSuperblock(int64_t volumeBytes, WorkControl& control) {
    // Candidates are examined in memory from 1 MiB reads (each with the 1024 bytes the last
    // candidate needs), so the search costs a read per MiB, not per step.
    constexpr int64_t kChunk = 1 << 20;
    const int64_t end = std::min(volumeBytes, kSearchLimit);
    std::vector<uint8_t> buffer(kChunk + ExtSuperblock::kSize);
    for (int64_t base = 1024; base + 512 < end; base += kChunk) {
        if (control.poll()) return false;
        view_.readQuiet(base, buffer.data(), buffer.size());
        for (int64_t at = 0; at < kChunk && base + at + 512 < end; at += 512) {
            ExtSuperblock s = ExtSuperblock::parse(std::span<const uint8_t>(buffer.data() + at, ExtSuperblock::kSize));
            if (!s.plausible()) continue;
            super_ = s;
            superOffset_ = base + at;
            uint64_t byGroups = s.groupCount() * s.inodesPerGroup;
            inodeLimit_ = static_cast<uint32_t>(std::min<uint64_t>({s.inodesCount, byGroups, uint64_t{INT32_MAX}}));
            return true;
        }
    }
    return false;
}

bool ExtVolume::readDescriptors() {
    const uint64_t bs = blockSize();
    const uint64_t count = super_.groupCount();
    const uint64_t position = (static_cast<uint64_t>(superOffset_) / bs + 1) * bs;
    const uint64_t bytes = count * super_.descSize;
    const int64_t source = view_.sourceLength();
    if (source >= 0 && (position > static_cast<uint64_t>(source) || bytes > static_cast<uint64_t>(source) - position))
        return false;
    groups_.clear();
    groups_.reserve(count);
    // In pieces of up to 1 MiB: a large volume's table is megabytes.
    constexpr uint64_t kPiece = 1 << 20;
    std::vector<uint8_t> buffer;
    for (uint64_t done = 0; done < bytes; done += kPiece) {
        size_t n = static_cast<size_t>(std::min(kPiece, bytes - done));
        buffer.assign(n, 0);
        view_.readQuiet(static_cast<int64_t>(position + done), buffer.data(), n);
        for (size_t at = 0; at + super_.descSize <= n; at += super_.descSize)
            groups_.push_back(ExtGroupDescriptor::parse(std::span<const uint8_t>(buffer.data() + at, super_.descSize),
                                                        super_.descSize >= 64));
    }
    return true;
}

uint32_t ExtVolume::usedInodes(size_t g) const {
    if (g >= groups_.size()) return 0;
    const ExtGroupDescriptor& d = groups_[g];
    if (!super_.groupChecksums()) return super_.inodesPerGroup;
    if (d.flags & ExtGroupDescriptor::InodeUninit) return 0;
    return d.itableUnused >= super_.inodesPerGroup ? 0 : super_.inodesPerGroup - d.itableUnused;
}

int64_t ExtVolume::inodeOffset(uint32_t number) const {
    if (number == 0 || number > inodeLimit_) return -1;
    const uint32_t index = number - 1;
    const size_t g = index / super_.inodesPerGroup;
    if (g >= groups_.size()) return -1;
    const uint64_t table = groups_[g].inodeTable;
    const uint64_t tableBlocks = (static_cast<uint64_t>(super_.inodesPerGroup) * super_.inodeSize + blockSize() - 1) /
                                 blockSize();
    if (table == 0 || table >= super_.blocksCount || super_.blocksCount - table < tableBlocks) return -1;
    return static_cast<int64_t>(table * blockSize() + static_cast<uint64_t>(index % super_.inodesPerGroup) * super_.inodeSize);
}

std::optional<ExtInode> ExtVolume::readInode(uint32_t number) const {
    int64_t at = inodeOffset(number);
    if (at < 0) return std::nullopt;
    std::vector<uint8_t> bytes(super_.inodeSize);
    if (!readAt(at, bytes.data(), bytes.size()).ok()) return std::nullopt;
    return ExtInode::parse(bytes);
}

disk::VolumeView::ReadReport ExtVolume::readAt(int64_t offset, uint8_t* out, size_t bytes) const {
    const size_t lead = static_cast<size_t>(offset % 512);
    if (lead == 0) return view_.read(offset, out, bytes);
    std::vector<uint8_t> buffer(lead + bytes);
    disk::VolumeView::ReadReport sectors = view_.read(offset - static_cast<int64_t>(lead), buffer.data(), buffer.size());
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(lead), buffer.end(), out);
    disk::VolumeView::ReadReport report;
    for (auto [from, to] : {std::pair{&sectors.failed, &report.failed}, std::pair{&sectors.pastSource, &report.pastSource}})
        for (const disk::ByteRange& r : *from)
            if (r.end() > lead) {
                uint64_t start = std::max<uint64_t>(r.offset, lead);
                disk::addRange(*to, start - lead, r.end() - start);
            }
    return report;
}

}  // namespace quenlow::fs
