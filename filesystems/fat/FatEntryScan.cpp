#include "filesystems/fat/FatEntryScan.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "filesystems/ChunkedScan.h"
#include "filesystems/fat/FatSlotTest.h"

namespace quenlow::fs {

FatEntryScan::FatEntryScan(bool fat32, uint64_t clusterBytes, uint64_t maxCluster)
    : fat32_(fat32), clusterBytes_(clusterBytes), maxCluster_(maxCluster) {}

void FatEntryScan::run(const disk::VolumeView& view, uint64_t volumeBytes, WorkControl& control,
                       Feedback& feedback) {
    found_.clear();
    votes_.clear();
    markers_.clear();
    stopped_ = full_ = false;
    if (volumeBytes == 0) return;
    const int64_t range = fat32_ ? 1000 : 100000;
    feedback.progressRange(0, range);
    char text[128];
    // A "." entry's ".." is read from the next piece when the "." ends this one.
    const ChunkedScan chunks(view, static_cast<int64_t>(volumeBytes), kFatSearchChunkBytes, 32);
    const bool finished = chunks.run(control, nullptr, [&](int64_t at, std::span<const uint8_t> bytes, size_t own) {
                                  const uint64_t offset = static_cast<uint64_t>(at);
                                  if (!fat32_) {
                                      std::snprintf(text, sizeof text, "currently at sector %lld of %lld",
                                                    static_cast<long long>(offset / 512),
                                                    static_cast<long long>(volumeBytes / 512));
                                      feedback.status(text);
                                  }
                                  feedback.progressPosition(static_cast<int64_t>(
                                      static_cast<double>(offset) / static_cast<double>(volumeBytes) * range));
                                  visit(offset, bytes.data(), own, bytes.size());
                                  if (fat32_) {
                                      std::snprintf(text, sizeof text, "found file or directory =  %zu ",
                                                    found_.size());
                                      feedback.status(text);
                                  }
                                  return !full_;
                              });
    stopped_ = !finished;
    if (full_) {
        std::snprintf(text, sizeof text, "The entry scan ended after %zu entries: the rest of the volume was not searched.",
                      found_.size());
        feedback.message(text);
    }
    feedback.progressPosition(range);
}

namespace {

// The attribute bytes of the slots the scan looks at further: long-name pieces, folders,
// files, volume labels.
constexpr std::array<bool, 256> makeAttributes() {
    std::array<bool, 256> t{};
    for (unsigned a : {0x08u, 0x0Fu, 0x10u, 0x11u, 0x12u, 0x14u, 0x15u, 0x16u, 0x20u, 0x26u, 0x30u}) t[a] = true;
    return t;
}
constexpr std::array<bool, 256> kAttributes = makeAttributes();

}  // namespace

void FatEntryScan::visit(uint64_t offset, const uint8_t* data, size_t own, size_t available) {
    // Eight slots at a time: the ones of a kind looked at further, as bits.
    for (size_t block = 0; block < own && !full_; block += 256) {
        const size_t slots = std::min<size_t>(8, (own - block) / 32);
        unsigned mask = 0;
        for (size_t k = 0; k < slots; ++k) {
            const uint8_t* s = data + block + 32 * k;
            mask |= static_cast<unsigned>(kAttributes[s[11]] | (s[0] == '.')) << k;
        }
        for (; mask != 0; mask &= mask - 1) slot(offset, data, block + 32 * static_cast<size_t>(__builtin_ctz(mask)), available);
    }
}

void FatEntryScan::slot(uint64_t offset, const uint8_t* data, size_t at, size_t available) {
    const uint8_t* s = data + at;
    const int64_t position = static_cast<int64_t>(offset + at);
    if (s[0] == '.' && at + 64 <= available) {
        uint32_t c = FatSlotTest::dotPairCluster(s, s + 32, fat32_);
        const uint64_t back = (uint64_t{c} - 2) * clusterBytes_;
        if (c >= 2 && c < maxCluster_ && back <= static_cast<uint64_t>(position)) {
            const int64_t start = position - static_cast<int64_t>(back);
            auto it = votes_.find(start);
            if (it != votes_.end()) ++it->second;
            else if (votes_.size() < kMaxVotes) votes_.emplace(start, 1);
        }
    }
    if (markers_.size() < kMaxMarkers && FatSlotTest::rootMarker(s)) markers_.push_back(position);
    bool entry = fat32_ ? FatSlotTest::fat32Entry(s, maxCluster_) : FatSlotTest::fat16Entry(s, maxCluster_);
    if (!entry || full_) return;
    if (found_.size() >= kMaxFound) {
        full_ = true;
        return;
    }
    found_.push_back(position);
}

int64_t FatEntryScan::votedDataStart(int64_t from, uint64_t step, uint64_t span) const {
    int64_t best = -1;
    uint64_t most = 0;
    for (const auto& [start, count] : votes_) {
        if (start < from || static_cast<uint64_t>(start - from) > span) continue;
        if (step != 0 && static_cast<uint64_t>(start - from) % step != 0) continue;
        if (count > most) best = start, most = count;
    }
    return best;
}

}  // namespace quenlow::fs
