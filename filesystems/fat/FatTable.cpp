#include "filesystems/fat/FatTable.h"

#include <algorithm>

namespace quenlow::fs {

FatTable::FatTable(disk::VolumeView view, int64_t start, uint64_t bytes, unsigned entryBytes)
    : view_(view), start_(start), bytes_(bytes), entryBytes_(entryBytes) {}

const uint8_t* FatTable::block(uint64_t number) {
    if (number == lastNumber_) return last_;
    auto it = blocks_.find(number);
    if (it != blocks_.end()) {
        ages_.splice(ages_.begin(), ages_, it->second.age);
    } else {
        if (blocks_.size() >= kMaxBlocks) {
            blocks_.erase(ages_.back());
            ages_.pop_back();
        }
        uint64_t offset = number * kBlockBytes;
        uint64_t length = std::min(kBlockBytes, bytes_ - offset);
        Cached c;
        c.bytes.assign(kBlockBytes, 0);
        view_.readQuiet(start_ + static_cast<int64_t>(offset), c.bytes.data(), static_cast<size_t>(length));
        ++reads_;
        ages_.push_front(number);
        c.age = ages_.begin();
        it = blocks_.emplace(number, std::move(c)).first;
    }
    lastNumber_ = number;
    last_ = it->second.bytes.data();
    return last_;
}

uint32_t FatTable::entry(uint64_t index) {
    if (entryBytes_ == 0 || index >= entryCount()) return 0;
    uint64_t at = index * entryBytes_;
    const uint8_t* b = block(at / kBlockBytes) + at % kBlockBytes;
    if (entryBytes_ == 2) return static_cast<uint32_t>(b[0] | (b[1] << 8));
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
           (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace quenlow::fs
