#include "filesystems/ChunkedScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quenlow::fs {

namespace {

size_t wholeSectors(size_t n) { return (n + 511) / 512 * 512; }

}  // namespace

ChunkedScan::ChunkedScan(disk::VolumeView view, int64_t end, size_t chunkBytes, size_t lookahead)
    : view_(view), end_(std::max<int64_t>(end, 0)), chunk_(wholeSectors(std::max<size_t>(chunkBytes, 512))),
      lookahead_(std::min(wholeSectors(lookahead), chunk_)) {}

bool ChunkedScan::run(WorkControl& control, Feedback* progress, const Visit& visit) const {
    if (progress != nullptr) progress->progressRange(0, 1000);
    std::vector<uint8_t> buffer(std::min<int64_t>(static_cast<int64_t>(chunk_ + lookahead_), end_ + 512), 0);
    // The buffer holds [position, position + filled): the chunk's own bytes, then the
    // lookahead, which the next chunk takes over instead of reading it again.
    auto fill = [&](size_t from, int64_t at, size_t length) {
        int64_t inside = std::clamp<int64_t>(end_ - at, 0, static_cast<int64_t>(length));
        if (inside > 0) view_.readQuiet(at, buffer.data() + from, static_cast<size_t>(inside));
        std::memset(buffer.data() + from + inside, 0, length - static_cast<size_t>(inside));
    };
    size_t filled = 0;
    for (int64_t position = 0; position < end_;) {
        if (control.poll()) return false;
        const size_t own = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(chunk_), end_ - position));
        const size_t want = std::min(buffer.size(), own + lookahead_);
        if (filled < want) fill(filled, position + static_cast<int64_t>(filled), want - filled);
        if (!visit(position, std::span<const uint8_t>(buffer.data(), want), own)) break;
        position += static_cast<int64_t>(own);
        if (progress != nullptr) progress->progressPosition(position * 1000 / end_);
        filled = want - own;
        std::memmove(buffer.data(), buffer.data() + own, filled);
    }
    if (progress != nullptr) progress->progressPosition(1000);
    return true;
}

}  // namespace quenlow::fs
