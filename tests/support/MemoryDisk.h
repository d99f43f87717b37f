#pragma once
// A reader over bytes in memory, for tests of everything that reads through
// readWriteInterface. It behaves like an image file: reads past the end deliver what is
// there, zero-filled, and fail. Sectors listed in badSectors fail to read (delivering
// zeros), as a failing disk's would.

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::test {

class MemoryDisk : public disk::readWriteInterface {
public:
    explicit MemoryDisk(std::vector<unsigned char> bytes = {}) : data(std::move(bytes)) {
        length = static_cast<int64_t>(data.size());
        handle = 1;
    }
    bool open(const std::string&) override { return true; }
    bool seek(int64_t offset, int32_t = 0) override {
        int64_t target = offset + baseOffset;
        if (target < 0) return false;
        pos = target;
        ++seeks;
        return true;
    }
    bool read(void* buffer, uint32_t count) override {
        ++reads;
        if (count == 0) return true;
        if (pos >= static_cast<int64_t>(data.size())) return false;
        if (!badSectors.empty()) {
            for (int64_t s = pos / 512; s <= (pos + count - 1) / 512; ++s)
                if (badSectors.count(s) != 0) {
                    std::memset(buffer, 0, count);
                    return false;
                }
        }
        size_t avail = std::min<size_t>(count, data.size() - static_cast<size_t>(pos));
        auto* out = static_cast<unsigned char*>(buffer);
        std::memcpy(out, data.data() + pos, avail);
        std::memset(out + avail, 0, count - avail);
        pos += static_cast<int64_t>(avail);
        return avail == count;
    }
    int64_t sizeBytes() const override { return static_cast<int64_t>(data.size()); }

    std::vector<unsigned char> data;
    std::set<int64_t> badSectors;
    int64_t pos = 0;
    int64_t seeks = 0;
    int64_t reads = 0;
};

}  // namespace quenlow::test
