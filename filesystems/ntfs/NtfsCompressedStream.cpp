#include "filesystems/ntfs/NtfsCompressedStream.h"

#include <algorithm>
#include <cstring>

#include "filesystems/ntfs/Lznt1.h"

namespace quenlow::fs {

namespace {

constexpr uint64_t kMaxUnitBytes = 64u << 20;  // largest compression unit handled as such
constexpr uint64_t kReadClusters = 2048;        // clusters read per request without units

uint64_t saturatingMul(uint64_t a, uint64_t b) {
    uint64_t r;
    return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}

}  // namespace

NtfsCompressedStream::NtfsCompressedStream(disk::VolumeView view, const NtfsDataLayout& layout, int64_t clusterSize)
    : view_(view), cs_(clusterSize > 0 ? clusterSize : 4096) {
    const uint64_t cs = static_cast<uint64_t>(cs_);
    // The unit size in clusters is a 16-bit value: 2^16 and above read as 0.
    unit_ = layout.compressionUnit < 16 ? (uint64_t{1} << layout.compressionUnit) : 0;
    if (unit_ * cs > kMaxUnitBytes) unit_ = 0;
    // The clusters of the attribute in order; cluster 0 is a hole.
    totalClusters_ = layout.clusterCount > 0 ? static_cast<uint64_t>(layout.clusterCount) : 0;
    uint64_t mapped = 0;
    for (const NtfsRun& run : layout.runs) {
        if (mapped >= totalClusters_) break;
        uint64_t count = std::min(run.length, totalClusters_ - mapped);
        if (count == 0) continue;
        pieces_.push_back({mapped, run.sparse ? 0 : run.cluster, count});
        mapped += count;
    }
    if (mapped < totalClusters_) pieces_.push_back({mapped, 0, totalClusters_ - mapped});

    uint64_t produced = unit_ == 0 ? saturatingMul(totalClusters_, cs) : saturatingMul(totalClusters_ / unit_ * unit_, cs);
    size_ = layout.dataSize > 0 ? std::min<uint64_t>(static_cast<uint64_t>(layout.dataSize), produced) : 0;
    if (unit_ > 0) {
        stored_.resize(static_cast<size_t>(unit_ * cs));
        plain_.resize(static_cast<size_t>(unit_ * cs));
        numbers_.resize(static_cast<size_t>(unit_));
    }

    // Clusters past the end of the source hold data that cannot be had.
    const int64_t end = view_.sourceLength();
    if (end < 0) return;
    const uint64_t firstPast = static_cast<uint64_t>(end) / cs + (static_cast<uint64_t>(end) % cs != 0 ? 1 : 0);
    const uint64_t group = unit_ == 0 ? 1 : unit_;
    for (const Piece& p : pieces_) {
        if (p.cluster <= 0) continue;
        uint64_t from = static_cast<uint64_t>(p.cluster) >= firstPast ? 0 : firstPast - static_cast<uint64_t>(p.cluster);
        if (from >= p.count) continue;
        uint64_t a = (p.first + from) / group * group, b = (p.first + p.count + group - 1) / group * group;
        uint64_t start = saturatingMul(a, cs), stop = std::min(saturatingMul(b, cs), size_);
        if (start < stop) noteDamage(start, stop - start);
    }
}

int64_t NtfsCompressedStream::clusterOf(uint64_t index) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), index,
                               [](uint64_t i, const Piece& p) { return i < p.first; });
    if (it == pieces_.begin()) return 0;
    const Piece& p = *(it - 1);
    if (index - p.first >= p.count || p.cluster == 0) return 0;
    return p.cluster + static_cast<int64_t>(index - p.first);
}

uint64_t NtfsCompressedStream::zeroClustersFrom(uint64_t index) const {
    auto it = std::upper_bound(pieces_.begin(), pieces_.end(), index,
                               [](uint64_t i, const Piece& p) { return i < p.first; });
    if (it == pieces_.begin()) return 0;
    const Piece& p = *(it - 1);
    if (index - p.first >= p.count) return totalClusters_ > index ? totalClusters_ - index : 1;
    uint64_t rest = p.count - (index - p.first);
    if (p.cluster == 0) return rest;
    int64_t cluster = p.cluster + static_cast<int64_t>(index - p.first);
    // Clusters before 0 cannot be sought and those past the source's end read as zeros.
    if (cluster < 0) return std::min<uint64_t>(rest, static_cast<uint64_t>(-(cluster + 1)) + 1);
    int64_t end = view_.sourceLength(), position;
    if (end < 0) return 0;
    if (__builtin_mul_overflow(cluster, cs_, &position)) return rest;
    return position >= end ? rest : 0;
}

void NtfsCompressedStream::readClusters(int64_t cluster, uint64_t count, uint8_t* out, uint64_t logical) {
    size_t bytes = static_cast<size_t>(count * static_cast<uint64_t>(cs_));
    int64_t position;
    if (cluster <= 0 || __builtin_mul_overflow(cluster, cs_, &position) || position > INT64_MAX - view_.start()) {
        std::memset(out, 0, bytes);
        return;
    }
    disk::VolumeView::ReadReport report = view_.read(position, out, bytes);
    if (!report.failed.empty() && logical < size_) noteDamage(logical, std::min<uint64_t>(bytes, size_ - logical));
}

void NtfsCompressedStream::decodeUnit(uint64_t u) {
    if (decoded_ == u) return;
    const uint64_t cs = static_cast<uint64_t>(cs_);
    const size_t unitBytes = static_cast<size_t>(unit_ * cs);
    const uint64_t logical = u * unitBytes;
    decoded_ = u;
    if (zeroClustersFrom(u * unit_) >= unit_) {
        std::memset(plain_.data(), 0, unitBytes);
        return;
    }
    for (uint64_t c = 0; c < unit_; ++c) numbers_[static_cast<size_t>(c)] = clusterOf(u * unit_ + c);
    uint64_t a = 0;
    for (uint64_t c = unit_; c > 0; --c)
        if (numbers_[static_cast<size_t>(c - 1)] != 0) {
            a = c;
            break;
        }
    if (a == 0) {
        std::memset(plain_.data(), 0, unitBytes);
        return;
    }
    // Read the unit's stored clusters, joining neighbours into one request.
    for (uint64_t c = 0; c < a;) {
        uint64_t run = 1;
        int64_t first = numbers_[static_cast<size_t>(c)];
        while (c + run < a && first != 0 && numbers_[static_cast<size_t>(c + run)] == first + static_cast<int64_t>(run))
            ++run;
        readClusters(first, run, stored_.data() + c * cs, logical);
        c += run;
    }
    if (a == unit_) {
        std::memcpy(plain_.data(), stored_.data(), unitBytes);  // stored as it is
        return;
    }
    Lznt1::Result r = Lznt1::decompress(stored_.data(), static_cast<size_t>(a * cs), plain_.data(), unitBytes);
    // A unit always stands for its full size: what the data does not fill is zero.
    std::memset(plain_.data() + r.written, 0, unitBytes - r.written);
}

DataStream::Extent NtfsCompressedStream::extentAt(uint64_t offset) const {
    if (offset >= size_) return {};
    const uint64_t cs = static_cast<uint64_t>(cs_);
    const uint64_t left = size_ - offset;
    if (unit_ == 0) {
        uint64_t index = offset / cs, within = offset % cs;
        uint64_t zeros = zeroClustersFrom(index);
        if (zeros > 0) return {std::min(left, saturatingMul(zeros, cs) - within), true};
        return {std::min(left, cs - within), false};
    }
    const uint64_t unitBytes = unit_ * cs;
    uint64_t u = offset / unitBytes, within = offset % unitBytes;
    uint64_t zeros = zeroClustersFrom(u * unit_);
    if (zeros >= unit_) return {std::min(left, saturatingMul(zeros / unit_, unitBytes) - within), true};
    return {std::min(left, unitBytes - within), false};
}

size_t NtfsCompressedStream::read(uint64_t offset, void* buffer, size_t length) {
    if (offset >= size_) return 0;
    length = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
    auto* out = static_cast<uint8_t*>(buffer);
    const uint64_t cs = static_cast<uint64_t>(cs_);
    size_t done = 0;
    while (done < length) {
        uint64_t at = offset + done;
        size_t want = length - done;
        if (unit_ > 0) {
            const uint64_t unitBytes = unit_ * cs;
            uint64_t u = at / unitBytes, within = at % unitBytes;
            decodeUnit(u);
            size_t n = static_cast<size_t>(std::min<uint64_t>(want, unitBytes - within));
            std::memcpy(out + done, plain_.data() + within, n);
            done += n;
            continue;
        }
        uint64_t index = at / cs, within = at % cs;
        uint64_t zeros = zeroClustersFrom(index);
        if (zeros > 0) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(want, saturatingMul(zeros, cs) - within));
            std::memset(out + done, 0, n);
            done += n;
            continue;
        }
        // Clusters that follow each other on the volume, up to what is wanted.
        int64_t first = clusterOf(index);
        uint64_t count = 1;
        uint64_t need = (within + want + cs - 1) / cs;
        while (count < std::min(need, kReadClusters) && zeroClustersFrom(index + count) == 0 &&
               clusterOf(index + count) == first + static_cast<int64_t>(count))
            ++count;
        if (stored_.size() < count * cs) stored_.resize(static_cast<size_t>(count * cs));
        readClusters(first, count, stored_.data(), index * cs);
        size_t n = static_cast<size_t>(std::min<uint64_t>(want, count * cs - within));
        std::memcpy(out + done, stored_.data() + within, n);
        done += n;
    }
    return length;
}

}  // namespace quenlow::fs
