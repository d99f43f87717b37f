#include "disk/VolumeView.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace quenlow::disk {

void addRange(std::vector<ByteRange>& ranges, uint64_t offset, uint64_t length) {
    if (length == 0) return;
    if (!ranges.empty() && ranges.back().end() >= offset && ranges.back().offset <= offset) {
        ByteRange& last = ranges.back();
        last.length = std::max(last.end(), offset + length) - last.offset;
        return;
    }
    auto at = std::lower_bound(ranges.begin(), ranges.end(), offset,
                               [](const ByteRange& r, uint64_t o) { return r.offset < o; });
    at = ranges.insert(at, ByteRange{offset, length});
    // Join with the neighbours it now touches.
    if (at != ranges.begin() && std::prev(at)->end() >= at->offset) {
        auto before = std::prev(at);
        before->length = std::max(before->end(), at->end()) - before->offset;
        at = ranges.erase(at) - 1;
    }
    while (std::next(at) != ranges.end() && at->end() >= std::next(at)->offset) {
        auto after = std::next(at);
        at->length = std::max(at->end(), after->end()) - at->offset;
        ranges.erase(after);
    }
}

VolumeView::VolumeView(readWriteInterface& reader, int64_t start) : reader_(&reader), start_(start) {}

int64_t VolumeView::sourceLength() const {
    if (reader_ == nullptr) return 0;
    int64_t size = reader_->sizeBytes();
    if (size <= 0) return -1;
    return std::max<int64_t>(0, size - start_);
}

bool VolumeView::pastSource(int64_t offset) const {
    int64_t end = sourceLength();
    return end >= 0 && offset >= end;
}

VolumeView::ReadReport VolumeView::read(int64_t offset, void* buffer, size_t bytes) const {
    ReadReport report;
    auto* out = static_cast<uint8_t*>(buffer);
    if (bytes == 0) return report;
    int64_t absolute;
    if (reader_ == nullptr || offset < 0 || __builtin_add_overflow(offset, start_, &absolute) || absolute < 0) {
        std::memset(out, 0, bytes);
        addRange(report.failed, 0, bytes);
        return report;
    }
    std::lock_guard<std::mutex> lock(reader_->accessMutex);
    // The view addresses the source from its own start; a reader left with a base offset
    // is compensated for.
    const int64_t base = reader_->baseOffset;
    const int64_t limit = sourceLength();
    size_t done = 0;
    while (done < bytes) {
        int64_t pos = offset + static_cast<int64_t>(done);
        size_t left = bytes - done;
        if (limit >= 0 && pos >= limit) {
            std::memset(out + done, 0, left);
            addRange(report.pastSource, done, left);
            return report;
        }
        int64_t at = absolute + static_cast<int64_t>(done) - base;
        if (left < kSectorSize) {
            // Readers deliver whole sectors: read one and keep its head.
            uint8_t sector[kSectorSize] = {};
            if (reader_->readRun(at, sector, 1) != 1) {
                std::memset(sector, 0, sizeof sector);
                if (!reader_->seek(at, 0) || !reader_->read(sector, kSectorSize)) addRange(report.failed, done, left);
            }
            std::memcpy(out + done, sector, left);
            return report;
        }
        uint32_t sectors = static_cast<uint32_t>(std::min<size_t>(left / kSectorSize, 1u << 16));
        uint32_t got = std::min(reader_->readRun(at, out + done, sectors), sectors);
        done += static_cast<size_t>(got) * kSectorSize;
        if (got < sectors) {
            // The failing sector is read on its own, as a plain seek and read would.
            uint8_t* sector = out + done;
            std::memset(sector, 0, kSectorSize);
            int64_t failing = at + static_cast<int64_t>(got) * kSectorSize;
            if (!reader_->seek(failing, 0) || !reader_->read(sector, kSectorSize))
                addRange(report.failed, done, kSectorSize);
            done += kSectorSize;
        }
    }
    return report;
}

}  // namespace quenlow::disk
