#include "disk/support/ReferenceRaid.h"

#include <algorithm>
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
    int64_t largest = 0;
    for (size_t i = 0; i < members_.size(); ++i)
        if (!members_[i]->isMissing())
            largest = std::max(largest, members_[i]->sizeBytes() / 512 - offsets_[i]);
    const int64_t dataMembers = level == 0 ? static_cast<int64_t>(names.size()) : static_cast<int64_t>(names.size()) - 1;
    totalSectors = largest / stripe * stripe * dataMembers;
    baseOffset = 0;
    seek(0);
    return totalSectors > 0;
}

bool ReferenceRaid::holds(size_t member, int64_t byte) const {
    disk::readWriteInterface::Piece one{byte, nullptr, 1};
    return !members_[member]->isMissing() && members_[member]->piecesInside(&one, 1);
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
    const int64_t sector = (offset + baseOffset) / 512;
    map(sector, static_cast<int64_t>(members_.size()), level_, layout_, stripe_, &member, &memberSector);
    current = member;
    const int64_t byte = (memberSector + offsets_[static_cast<size_t>(member)]) * 512;
    mode_ = Mode::Unservable;
    if (sector >= totalSectors) return false;
    if (holds(static_cast<size_t>(member), byte)) {
        mode_ = Mode::Direct;
        return members_[static_cast<size_t>(member)]->seek(byte, 0);
    }
    if (level_ != 5) return false;
    for (size_t m = 0; m < members_.size(); ++m)
        if (static_cast<int64_t>(m) != member && !holds(m, byte)) return false;
    mode_ = Mode::Rebuild;
    bool all = true;
    for (size_t m = 0; m < members_.size(); ++m)
        if (static_cast<int64_t>(m) != member && !members_[m]->seek(byte, 0)) all = false;
    return all;
}

bool ReferenceRaid::read(void* buffer, uint32_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    if (count / 512 == 0) return false;
    bool ok = true;
    for (uint32_t s = 0; s < count / 512; ++s) {
        unsigned char* sector = out + static_cast<size_t>(s) * 512;
        if (mode_ == Mode::Unservable) {
            std::memset(sector, 0, 512);
            ok = false;
        } else if (mode_ == Mode::Direct) {
            if (!members_[static_cast<size_t>(current)]->read(sector, 512)) {
                ok = false;
                continue;  // no advance: the next sector comes from where this read left off
            }
        } else {
            unsigned char rebuild[512] = {};
            bool all = true;
            for (size_t m = 0; m < members_.size(); ++m) {
                if (static_cast<int64_t>(m) == current) continue;
                unsigned char scratch[512] = {};
                if (!members_[m]->read(scratch, 512)) all = false;
                for (int b = 0; b < 512; ++b) rebuild[b] ^= scratch[b];
            }
            std::memcpy(sector, rebuild, 512);
            if (!all) {
                ok = false;
                continue;
            }
        }
        seek(position + 512);
    }
    return ok;
}

}  // namespace quenlow::test
