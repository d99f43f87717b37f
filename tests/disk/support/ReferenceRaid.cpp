#include "disk/support/ReferenceRaid.h"

#include <cstring>

#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "disk/FileReadSeekVHD.h"

namespace quenlow::test {

bool ReferenceRaid::open(const std::vector<std::string>& names, std::vector<int64_t> offsets, int level,
                         int layout, int64_t stripe, bool vhd) {
    members_.clear();
    offsets_ = std::move(offsets);
    offsets_.resize(names.size(), 0);
    level_ = level;
    layout_ = layout;
    stripe_ = stripe;
    for (const auto& name : names) {
        std::unique_ptr<disk::readWriteInterface> m;
        if (vhd) {
            auto r = std::make_unique<disk::FileReadSeekVHD>();
            if (disk::FileReadSeekRaid::isMissingName(name)) r->setMissing();
            else if (!r->open(name)) return false;
            m = std::move(r);
        } else {
            auto r = std::make_unique<disk::FileReadSeek>();
            if (disk::FileReadSeekRaid::isMissingName(name)) r->setMissing();
            else if (!r->open(name)) return false;
            m = std::move(r);
        }
        members_.push_back(std::move(m));
    }
    baseOffset = 0;
    return seek(0) || true;
}

void ReferenceRaid::map(int64_t sector, int64_t n, int level, int layout, int64_t stripe, int64_t* member,
                        int64_t* memberSector) {
    int64_t q = sector / stripe;
    int64_t r = sector % stripe;
    if (level == 0) {
        *member = q % n;
        *memberSector = (q / n) * stripe + r;
        return;
    }
    int64_t row = q / (n - 1);
    int64_t k = q % (n - 1);
    int64_t p = 0;
    int64_t d = 0;
    if (layout == 1) {
        p = row % n;
        d = k < p ? k : k + 1;
    } else if (layout == 2) {
        p = n - 1 - row % n;
        d = k < p ? k : k + 1;
    } else {
        p = n - 1 - row % n;
        d = (p + 1 + k) % n;
    }
    *member = d;
    *memberSector = row * stripe + r;
}

bool ReferenceRaid::seek(int64_t offset) {
    if (offset + baseOffset < 0) return false;
    position = offset;
    int64_t member = 0;
    int64_t memberSector = 0;
    map((offset + baseOffset) / 512, static_cast<int64_t>(members_.size()), level_, layout_, stripe_, &member,
        &memberSector);
    current = member;
    int64_t byte = (memberSector + offsets_[static_cast<size_t>(member)]) * 512;
    if (!members_[static_cast<size_t>(member)]->isMissing())
        return members_[static_cast<size_t>(member)]->seek(byte, 0);
    bool result = false;
    for (auto& m : members_)
        if (!m->isMissing()) result = m->seek(byte, 0);
    return result;
}

bool ReferenceRaid::read(void* buffer, uint32_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    bool result = false;
    for (uint32_t s = 0; s < count / 512; ++s) {
        auto& cur = members_[static_cast<size_t>(current)];
        if (!cur->isMissing()) {
            result = cur->read(out + s * 512, 512);
            if (!result) continue;
        } else {
            unsigned char rebuild[512] = {};
            bool any = false;
            bool all = true;
            for (auto& m : members_) {
                if (m->isMissing()) continue;
                unsigned char scratch[512] = {};
                if (!m->read(scratch, 512)) all = false;
                for (int b = 0; b < 512; ++b) rebuild[b] ^= scratch[b];
                any = true;
            }
            std::memcpy(out + s * 512, rebuild, 512);
            if (any && !all) {
                result = false;
                continue;
            }
            result = any;
        }
        seek(position + 512);
    }
    return result;
}

}  // namespace quenlow::test
