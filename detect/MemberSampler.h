#pragma once
// Sampled reads of a set of members: 64 KiB blocks read once and kept, a MISSING member
// served as the XOR of the others (what it held under RAID-5), and a budget of blocks past
// which nothing more is read. A region limit keeps the first pass inside the members' heads.

#include <cstdint>
#include <unordered_map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::detect {

class MemberSampler {
public:
    static constexpr uint32_t kBlockSectors = 128;

    // readers[i] null: member i is missing.
    explicit MemberSampler(std::vector<std::unique_ptr<disk::readWriteInterface>> readers);

    size_t size() const { return readers_.size(); }
    bool present(size_t m) const { return readers_[m] != nullptr; }
    int64_t sectors(size_t m) const { return sectors_[m]; }

    // The 512 bytes of absolute sector `sector` of member `m`, or null when it lies past the
    // member, past the region limit, or beyond the budget (or, for a missing member, when a
    // present one cannot give its share). `rebuild`: a missing member is the XOR of the rest.
    const uint8_t* sector(size_t m, int64_t sector, bool rebuild);

    // Sectors from each member's start that may be read (0: no limit).
    void limitTo(int64_t sectors) { limit_ = sectors; }
    // Blocks that may still be read from the members.
    void setBudget(int64_t blocks) { budget_ = blocks; }
    int64_t bytesRead() const { return bytesRead_; }

private:
    const std::vector<uint8_t>* block(size_t m, int64_t index);
    const std::vector<uint8_t>* rebuilt(size_t m, int64_t index);

    std::vector<std::unique_ptr<disk::readWriteInterface>> readers_;
    std::vector<int64_t> sectors_;
    static uint64_t key(size_t m, int64_t index) { return (uint64_t{m} << 48) | static_cast<uint64_t>(index); }
    std::unordered_map<uint64_t, std::vector<uint8_t>> blocks_;  // by key(); empty vector: unreadable
    // Per member, the block last served (the map's elements stay where they are).
    std::vector<std::pair<int64_t, const std::vector<uint8_t>*>> recent_;
    int64_t limit_ = 0;
    int64_t budget_ = 0;
    int64_t bytesRead_ = 0;
};

}  // namespace quenlow::detect
