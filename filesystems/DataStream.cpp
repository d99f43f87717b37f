#include "filesystems/DataStream.h"

#include <algorithm>
#include <cstring>

namespace quenlow::fs {

DataStream::Extent DataStream::extentAt(uint64_t offset) const {
    return {offset < size() ? size() - offset : 0, false};
}

void DataStream::noteDamage(uint64_t offset, uint64_t length) { disk::addRange(damaged_, offset, length); }

size_t MemoryStream::read(uint64_t offset, void* out, size_t length) {
    if (offset >= bytes_.size()) return 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
    std::memcpy(out, bytes_.data() + offset, n);
    return n;
}

RunStream::RunStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size) : view_(view) {
    uint64_t logical = 0;
    const int64_t end = view_.sourceLength();
    for (Run run : runs) {
        if (run.length == 0) continue;
        if (logical >= size) break;
        run.length = std::min(run.length, size - logical);
        if (!run.hole() && (run.volumeOffset > INT64_MAX - static_cast<int64_t>(std::min<uint64_t>(run.length, INT64_MAX))))
            run.volumeOffset = -1;  // cannot be addressed: nothing to read there
        if (!run.hole() && end >= 0) {
            // The part past the end of the source cannot be read: a damaged hole.
            uint64_t inside = run.volumeOffset >= end ? 0 : static_cast<uint64_t>(end - run.volumeOffset);
            if (inside < run.length) {
                if (inside > 0) {
                    pieces_.push_back({logical, {inside, run.volumeOffset}});
                    logical += inside;
                }
                uint64_t rest = run.length - inside;
                noteDamage(logical, rest);
                pieces_.push_back({logical, {rest, -1}});
                logical += rest;
                continue;
            }
        }
        pieces_.push_back({logical, run});
        logical += run.length;
    }
    size_ = size;
    // Data beyond the runs is a hole up to the size.
    if (logical < size_) pieces_.push_back({logical, {size_ - logical, -1}});
}

size_t RunStream::pieceAt(uint64_t offset) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), offset,
                               [](uint64_t o, const Piece& p) { return o < p.logical; });
    return it == pieces_.begin() ? pieces_.size() : static_cast<size_t>(it - pieces_.begin()) - 1;
}

DataStream::Extent RunStream::extentAt(uint64_t offset) const {
    if (offset >= size_) return {};
    size_t i = pieceAt(offset);
    if (i >= pieces_.size()) return {size_ - offset, true};
    bool hole = pieces_[i].run.hole();
    uint64_t end = pieces_[i].logical + pieces_[i].run.length;
    // Neighbouring pieces of the same kind make one extent.
    for (size_t j = i + 1; j < pieces_.size() && pieces_[j].run.hole() == hole; ++j)
        end = pieces_[j].logical + pieces_[j].run.length;
    return {std::min(end, size_) - offset, hole};
}

size_t RunStream::read(uint64_t offset, void* buffer, size_t length) {
    if (offset >= size_) return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    size_t i = pieceAt(offset);
    while (done < length && i < pieces_.size()) {
        const Piece& p = pieces_[i];
        uint64_t at = offset + done;
        uint64_t within = at - p.logical;
        size_t n = static_cast<size_t>(std::min<uint64_t>(length - done, p.run.length - within));
        if (p.run.hole()) {
            std::memset(out + done, 0, n);
        } else {
            disk::VolumeView::ReadReport report =
                view_.read(p.run.volumeOffset + static_cast<int64_t>(within), out + done, n);
            for (const ByteRange& r : report.failed) noteDamage(at + r.offset, r.length);
            for (const ByteRange& r : report.pastSource) noteDamage(at + r.offset, r.length);
        }
        done += n;
        ++i;
    }
    if (done < length) std::memset(out + done, 0, length - done);
    return length;
}

}  // namespace quenlow::fs
