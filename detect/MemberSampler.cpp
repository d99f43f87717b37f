#include "detect/MemberSampler.h"

#include <algorithm>

#include "detect/SectorBytes.h"

namespace quenlow::detect {

MemberSampler::MemberSampler(std::vector<std::unique_ptr<disk::readWriteInterface>> readers)
    : readers_(std::move(readers)) {
    sectors_.resize(readers_.size(), 0);
    recent_.resize(readers_.size(), {0, nullptr});
    int64_t largest = 0;
    for (size_t m = 0; m < readers_.size(); ++m)
        if (readers_[m]) largest = std::max(largest, sectors_[m] = readers_[m]->sizeBytes() / 512);
    for (size_t m = 0; m < readers_.size(); ++m)
        if (!readers_[m]) sectors_[m] = largest;
}

const std::vector<uint8_t>* MemberSampler::block(size_t m, int64_t index) {
    auto it = blocks_.find(key(m, index));
    if (it != blocks_.end()) return it->second.empty() ? nullptr : &it->second;
    if (budget_ <= 0) return nullptr;  // not kept: a larger budget may read it later
    --budget_;
    std::vector<uint8_t> bytes;
    const int64_t first = index * kBlockSectors;
    const int64_t count = std::min<int64_t>(kBlockSectors, sectors_[m] - first);
    if (count > 0) {
        bytes.assign(kBlockSectors * 512, 0);
        const uint32_t got = readers_[m]->readRun(first * 512, bytes.data(), static_cast<uint32_t>(count));
        bytesRead_ += int64_t{got} * 512;
        if (got < count) bytes.clear();
    }
    auto& kept = blocks_[key(m, index)] = std::move(bytes);
    return kept.empty() ? nullptr : &kept;
}

const std::vector<uint8_t>* MemberSampler::rebuilt(size_t m, int64_t index) {
    auto it = blocks_.find(key(m, index));
    if (it != blocks_.end()) return it->second.empty() ? nullptr : &it->second;
    std::vector<uint8_t> bytes(kBlockSectors * 512, 0);
    for (size_t o = 0; o < readers_.size(); ++o) {
        if (o == m) continue;
        const std::vector<uint8_t>* other = readers_[o] ? block(o, index) : nullptr;
        if (other == nullptr) {
            if (budget_ <= 0) return nullptr;  // may be had with a larger budget
            bytes.clear();
            break;
        }
        xorBytes(bytes.data(), other->data(), bytes.size());
    }
    auto& kept = blocks_[key(m, index)] = std::move(bytes);
    return kept.empty() ? nullptr : &kept;
}

const uint8_t* MemberSampler::sector(size_t m, int64_t sector, bool rebuild) {
    if (m >= readers_.size() || sector < 0 || sector >= sectors_[m]) return nullptr;
    if (limit_ > 0 && sector >= limit_) return nullptr;
    const int64_t index = sector / kBlockSectors;
    if (!readers_[m] && !rebuild) return nullptr;
    // Sectors are mostly asked for in runs: each member's last block is at hand.
    auto& recent = recent_[m];
    if (recent.second == nullptr || recent.first != index) {
        const std::vector<uint8_t>* bytes = readers_[m] ? block(m, index) : rebuilt(m, index);
        if (bytes == nullptr) return nullptr;
        recent = {index, bytes};
    }
    const std::vector<uint8_t>* bytes = recent.second;
    return bytes->data() + static_cast<size_t>(sector % kBlockSectors) * 512;
}

}  // namespace quenlow::detect
