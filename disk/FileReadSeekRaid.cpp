#include "disk/FileReadSeekRaid.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekVHD.h"
#include "disk/LdmPrivateHeader.h"
#include "disk/RecoveryContext.h"

namespace quenlow::disk {

namespace {

// Longest run read in one request from one member during a rebuild (bounds the scratch).
constexpr uint32_t kMaxRebuildRun = 2048;
// Most sectors served by one batch of scattered reads.
constexpr uint32_t kBatchSectors = 4096;
// Largest sector number whose byte offset still fits a signed 64-bit value.
constexpr int64_t kMaxSector = std::numeric_limits<int64_t>::max() / kSectorSize;
constexpr uint32_t kProbeBytes = 1024 * 1024;

// out ^= in over `bytes` bytes, a word at a time.
void xorInto(unsigned char* out, const unsigned char* in, size_t bytes) {
    size_t i = 0;
    for (; i + sizeof(uint64_t) <= bytes; i += sizeof(uint64_t)) {
        uint64_t a, b;
        std::memcpy(&a, out + i, sizeof a);
        std::memcpy(&b, in + i, sizeof b);
        a ^= b;
        std::memcpy(out + i, &a, sizeof a);
    }
    for (; i < bytes; ++i) out[i] ^= in[i];
}

}  // namespace

FileReadSeekRaid::FileReadSeekRaid(RecoveryContext* context) : readWriteInterface(context) {}
FileReadSeekRaid::~FileReadSeekRaid() = default;

bool FileReadSeekRaid::isMissingName(const std::string& name) {
    const std::string missing = kMissingDiskName;
    if (name.size() != missing.size()) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != missing[i]) return false;
    return true;
}

bool FileReadSeekRaid::fail(const std::string& detail) {
    setLastError(detail);
    if (context_ != nullptr) context_->totalSectors = 0;
    totalSectors_ = 0;
    members.clear();
    current_ = nullptr;
    clean_ = false;
    return false;
}

bool FileReadSeekRaid::open(const std::string&) {
    baseOffset = 0;
    position = 0;
    memberCount = static_cast<int32_t>(memberNames.size());
    members.clear();
    current_ = nullptr;
    clean_ = false;
    totalSectors_ = 0;
    lastError_.clear();
    if (context_ != nullptr) context_->totalSectors = 0;

    const int n = memberCount;
    if (n == 0) return fail("the array has no members");
    if (level != 0 && level != 5)
        return fail("RAID level " + std::to_string(level) + " is not supported (use 0 or 5)");
    if (level == 5 && (parityLayout < 1 || parityLayout > 3))
        return fail("parity layout " + std::to_string(parityLayout) + " is not supported (use 1, 2 or 3)");
    if (stripeSectors <= 0)
        return fail("the stripe unit must be at least one sector (got " + std::to_string(stripeSectors) + ")");
    if (level == 5 && n < 3)
        return fail("RAID-5 needs at least three members (got " + std::to_string(n) + ")");
    if (partitionOffsets.size() > static_cast<size_t>(n))
        return fail(std::to_string(partitionOffsets.size()) + " partition offsets for " +
                    std::to_string(n) + " members");
    partitionOffsets.resize(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        int64_t off = partitionOffsets[static_cast<size_t>(i)];
        if (off < 0 || off > kMaxSector)
            return fail("member " + std::to_string(i) + " (" + memberNames[static_cast<size_t>(i)] +
                        "): partition offset " + std::to_string(off) + " is not a usable sector number");
    }

    for (int i = 0; i < n; ++i) {
        const std::string& name = memberNames[static_cast<size_t>(i)];
        std::unique_ptr<readWriteInterface> member;
        if (vhdMembers != 0) {
            auto vhd = std::make_unique<FileReadSeekVHD>(context_);
            if (isMissingName(name)) vhd->setMissing();
            else if (!vhd->open(name)) return fail(vhd->lastError());
            member = std::move(vhd);
        } else {
            auto drive = std::make_unique<FileReadSeek>(context_);
            if (isMissingName(name)) drive->setMissing();
            else if (!drive->open(name)) return fail(drive->lastError());
            member = std::move(drive);
        }
        if (!member->isMissing()) {
            int64_t off = partitionOffsets[static_cast<size_t>(i)];
            int64_t sectors = member->sizeBytes() / kSectorSize;
            if (off > 0 && off >= sectors)
                return fail(name + ": partition offset " + std::to_string(off) +
                            " lies at or beyond the end of the member (" + std::to_string(sectors) +
                            " sectors)");
        }
        members.push_back(std::move(member));
    }

    totalSectors_ = computeSize();
    if (context_ != nullptr) context_->totalSectors = totalSectors_;
    scratch_.assign(static_cast<size_t>(kMaxRebuildRun) * kSectorSize, 0);
    seek(0, 0);
    return true;
}

uint64_t FileReadSeekRaid::sizeFromLdm() const {
    uint64_t n = memberNames.size();
    uint64_t d = static_cast<uint64_t>(memberDataSize);
    uint64_t dataMembers = level == 0 ? n : (n > 0 ? n - 1 : 0);
    if (d != 0 && dataMembers > std::numeric_limits<uint64_t>::max() / d) return 0;
    return dataMembers * d;
}

uint64_t FileReadSeekRaid::computeSize() const {
    if (memberDataSize > 0) return sizeFromLdm();
    bool any = false;
    int64_t smallest = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        if (members[i]->isMissing()) continue;
        int64_t area = members[i]->sizeBytes() / kSectorSize - partitionOffsets[i];
        if (area < 0) area = 0;
        if (!any || area < smallest) smallest = area;
        any = true;
    }
    if (!any || stripeSectors <= 0) return 0;
    uint64_t units = static_cast<uint64_t>(smallest / stripeSectors);
    uint64_t perMember = units * static_cast<uint64_t>(stripeSectors);
    uint64_t dataMembers = level == 0 ? members.size() : members.size() - 1;
    return perMember * dataMembers;
}

FileReadSeekRaid::Location FileReadSeekRaid::map(int64_t logicalSector) const {
    Location loc;
    const int64_t n = memberCount;
    const int64_t s = stripeSectors;
    if (n <= 0 || s <= 0 || logicalSector < 0) return loc;
    const int64_t q = logicalSector / s;  // stripe unit
    const int64_t r = logicalSector % s;  // sector within the unit
    if (level == 5) {
        if (n < 3) return loc;
        const int64_t row = q / (n - 1);
        const int64_t k = q % (n - 1);  // data unit within the row
        int64_t parity = 0;
        int64_t data = 0;
        switch (parityLayout) {
        case 1:
            parity = row % n;
            data = k < parity ? k : k + 1;
            break;
        case 2:
            parity = n - 1 - (row % n);
            data = k < parity ? k : k + 1;
            break;
        case 3:
            parity = n - 1 - (row % n);
            data = (parity + 1 + k) % n;
            break;
        default:
            return loc;
        }
        loc.member = static_cast<int32_t>(data);
        loc.parityMember = static_cast<int32_t>(parity);
        loc.memberSector = row * s + r;
    } else if (level == 0) {
        loc.member = static_cast<int32_t>(q % n);
        loc.memberSector = (q / n) * s + r;
    }
    return loc;
}

bool FileReadSeekRaid::memberByteOffset(const Location& loc, int64_t* offset) const {
    if (loc.member < 0 || static_cast<size_t>(loc.member) >= members.size() ||
        static_cast<size_t>(loc.member) >= partitionOffsets.size())
        return false;
    int64_t sector = 0;
    if (__builtin_add_overflow(loc.memberSector, partitionOffsets[static_cast<size_t>(loc.member)], &sector) ||
        sector > kMaxSector)
        return false;
    *offset = sector * kSectorSize;
    return true;
}

bool FileReadSeekRaid::seek(int64_t offset, int32_t method) {
    int64_t logical = 0;
    if (__builtin_add_overflow(offset, baseOffset, &logical) || logical < 0) return false;
    Location loc = map(logical / kSectorSize);
    int64_t memberOffset = 0;
    if (!memberByteOffset(loc, &memberOffset)) return false;
    position = offset;
    current_ = members[static_cast<size_t>(loc.member)].get();
    clean_ = true;
    cleanBase_ = baseOffset;
    if (!current_->isMissing()) return current_->seek(memberOffset, method);
    bool result = false;
    for (auto& m : members)
        if (!m->isMissing()) result = m->seek(memberOffset, method);
    return result;
}

bool FileReadSeekRaid::readOneSector(unsigned char* out) {
    bool ok = false;
    if (!current_->isMissing()) {
        ok = current_->read(out, kSectorSize);
        if (!ok) {
            clean_ = false;
            return false;
        }
    } else {
        std::memset(rebuildBuffer_, 0, sizeof rebuildBuffer_);
        bool any = false;
        bool all = true;
        for (auto& m : members) {
            if (m->isMissing()) continue;
            std::memset(scratchBuffer_, 0, sizeof scratchBuffer_);
            if (!m->read(scratchBuffer_, kSectorSize)) all = false;
            xorInto(rebuildBuffer_, scratchBuffer_, kSectorSize);
            any = true;
        }
        std::memcpy(out, rebuildBuffer_, kSectorSize);
        if (any && !all) {
            clean_ = false;
            return false;
        }
        ok = any;
    }
    // The advance. A seek that maps the offset marks the disk clean again; one that refuses it
    // moves nothing, and the members stay where the read left them.
    clean_ = false;
    int64_t next = 0;
    if (!__builtin_add_overflow(position, static_cast<int64_t>(kSectorSize), &next)) seek(next, 0);
    return ok;
}

uint32_t FileReadSeekRaid::rebuildRun(int64_t offset, unsigned char* out, uint32_t sectors,
                                      bool* anyPresent) {
    bool any = false;
    uint32_t good = sectors;
    for (auto& m : members) {
        if (m->isMissing()) continue;
        unsigned char* dest = any ? scratch_.data() : out;
        uint32_t got = m->readRun(offset, dest, sectors);
        good = std::min(good, got);
        if (any) xorInto(out, scratch_.data(), static_cast<size_t>(good) * kSectorSize);
        any = true;
        if (good == 0) break;
    }
    if (!any) std::memset(out, 0, static_cast<size_t>(sectors) * kSectorSize);
    *anyPresent = any;
    return good;
}

uint32_t FileReadSeekRaid::readBatch(unsigned char* out, uint32_t sectors, bool* result) {
    const uint32_t limit = std::min(sectors, kBatchSectors);
    const int64_t first = (position + baseOffset) / kSectorSize;
    size_t present = 0;
    for (auto& m : members)
        if (!m->isMissing()) ++present;
    const size_t extra = present > 1 ? present - 1 : 0;  // scratch slots per rebuilt sector
    // Only a missing member's units need scratch: one slot per present member but the first.
    if (present < members.size() && batchScratch_.size() < extra * limit * kSectorSize)
        batchScratch_.resize(extra * limit * kSectorSize);
    pieces_.resize(members.size());
    for (auto& list : pieces_) list.clear();
    rebuilds_.clear();

    size_t scratchUsed = 0;
    uint32_t done = 0;
    int units = 0;
    while (done < limit) {
        const int64_t sector = first + done;
        const Location loc = map(sector);
        int64_t offset = 0;
        if (!memberByteOffset(loc, &offset)) return 0;
        const uint32_t run = static_cast<uint32_t>(std::min<int64_t>(limit - done, stripeSectors - sector % stripeSectors));
        unsigned char* dest = out + static_cast<size_t>(done) * kSectorSize;
        const size_t bytes = static_cast<size_t>(run) * kSectorSize;
        if (!members[static_cast<size_t>(loc.member)]->isMissing()) {
            pieces_[static_cast<size_t>(loc.member)].push_back({offset, dest, run});
        } else {
            rebuilds_.push_back({dest, scratchUsed, run});
            bool firstPresent = true;
            for (size_t m = 0; m < members.size(); ++m) {
                if (members[m]->isMissing()) continue;
                unsigned char* into = dest;
                if (!firstPresent) {
                    into = batchScratch_.data() + scratchUsed;
                    scratchUsed += bytes;
                }
                firstPresent = false;
                pieces_[m].push_back({offset, into, run});
            }
        }
        done += run;
        ++units;
    }
    if (units < 2) return 0;
    for (size_t m = 0; m < members.size(); ++m)
        if (!pieces_[m].empty() && !members[m]->piecesInside(pieces_[m].data(), pieces_[m].size())) return 0;
    for (size_t m = 0; m < members.size(); ++m)
        if (!pieces_[m].empty() && !members[m]->readPieces(pieces_[m].data(), pieces_[m].size())) return 0;
    for (const auto& r : rebuilds_) {
        const size_t bytes = static_cast<size_t>(r.sectors) * kSectorSize;
        if (present == 0) {
            std::memset(r.dest, 0, bytes);
            continue;
        }
        for (size_t k = 0; k < extra; ++k) xorInto(r.dest, batchScratch_.data() + r.scratchAt + k * bytes, bytes);
    }
    *result = present > 0;
    position += static_cast<int64_t>(done) * kSectorSize;
    return done;
}

uint32_t FileReadSeekRaid::readUnit(unsigned char* out, uint32_t sectors, bool* result, bool* seekPending) {
    const int64_t sector = (position + baseOffset) / kSectorSize;
    const Location loc = map(sector);
    int64_t memberOffset = 0;
    if (!memberByteOffset(loc, &memberOffset)) {
        if (*seekPending) seek(position, 0);
        *seekPending = false;
        *result = readOneSector(out);
        return 1;
    }
    uint32_t run = static_cast<uint32_t>(std::min<int64_t>(sectors, stripeSectors - sector % stripeSectors));
    readWriteInterface* member = members[static_cast<size_t>(loc.member)].get();
    uint32_t good = 0;
    bool any = true;
    if (!member->isMissing()) {
        good = member->readRun(memberOffset, out, run);
    } else {
        run = std::min(run, kMaxRebuildRun);
        good = rebuildRun(memberOffset, out, run, &any);
    }
    if (good > 0) *result = any;
    position += static_cast<int64_t>(good) * kSectorSize;
    if (good == run) {
        *seekPending = true;
        return run;
    }
    // Sector `good` failed somewhere: put everything where the sector-by-sector read would
    // have it and go on sector by sector from there.
    seek(position, 0);
    *seekPending = false;
    *result = readOneSector(out + static_cast<size_t>(good) * kSectorSize);
    return good + 1;
}

bool FileReadSeekRaid::read(void* buffer, uint32_t count) {
    const uint32_t sectors = count / kSectorSize;
    if (sectors == 0 || current_ == nullptr) return false;
    auto* out = static_cast<unsigned char*>(buffer);
    bool result = false;
    bool seekPending = false;  // units were served; the members still have to be put in place
    int64_t batchFrom = std::numeric_limits<int64_t>::min();
    uint32_t i = 0;
    while (i < sectors) {
        unsigned char* dest = out + static_cast<size_t>(i) * kSectorSize;
        int64_t logical = 0;
        int64_t end = 0;
        if (!clean_ || baseOffset != cleanBase_ || __builtin_add_overflow(position, baseOffset, &logical) ||
            logical < 0 || __builtin_add_overflow(logical, static_cast<int64_t>(sectors - i) * kSectorSize, &end)) {
            if (seekPending) seek(position, 0);
            seekPending = false;
            result = readOneSector(dest);
            ++i;
            continue;
        }
        uint32_t served = 0;
        if (position >= batchFrom) {
            served = readBatch(dest, sectors - i, &result);
            // Refused: the units it planned are read one at a time before it is tried again.
            if (served == 0 &&
                __builtin_add_overflow(position, static_cast<int64_t>(std::min(sectors - i, kBatchSectors)) * kSectorSize,
                                       &batchFrom))
                batchFrom = std::numeric_limits<int64_t>::max();
        }
        if (served > 0) {
            seekPending = true;
        } else {
            served = readUnit(dest, sectors - i, &result, &seekPending);
        }
        i += served;
    }
    if (seekPending) seek(position, 0);
    return result;
}

uint32_t FileReadSeekRaid::readRun(int64_t offset, void* buffer, uint32_t sectors) {
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < sectors) {
        int64_t at = 0;
        if (__builtin_add_overflow(offset, static_cast<int64_t>(done) * kSectorSize, &at)) return done;
        if (!seek(at, 0)) return done;
        unsigned char* dest = out + static_cast<size_t>(done) * kSectorSize;
        int64_t logical = 0;
        const bool fast = clean_ && baseOffset == cleanBase_ && current_ != nullptr &&
                          !__builtin_add_overflow(position, baseOffset, &logical) && logical >= 0;
        const Location loc = fast ? map(logical / kSectorSize) : Location{};
        int64_t memberOffset = 0;
        if (!fast || !memberByteOffset(loc, &memberOffset)) {
            // Outside the mapped geometry: the definition itself, one sector.
            if (!read(dest, kSectorSize)) return done;
            ++done;
            continue;
        }
        const int64_t sector = logical / kSectorSize;
        uint32_t run = static_cast<uint32_t>(std::min<int64_t>(sectors - done, stripeSectors - sector % stripeSectors));
        readWriteInterface* member = members[static_cast<size_t>(loc.member)].get();
        uint32_t good = 0;
        if (!member->isMissing()) {
            good = member->readRun(memberOffset, dest, run);
        } else {
            run = std::min(run, kMaxRebuildRun);
            bool any = false;
            good = rebuildRun(memberOffset, dest, run, &any);
            if (!any) good = 0;  // with every member missing no sector read succeeds
        }
        if (good > run) good = run;
        done += good;
        if (good < run) return done;
    }
    return done;
}

bool FileReadSeekRaid::rotate(std::string* windowText) {
    if (members.size() < 2) return false;
    std::rotate(members.begin(), members.begin() + 1, members.end());
    if (memberNames.size() == members.size())
        std::rotate(memberNames.begin(), memberNames.begin() + 1, memberNames.end());
    if (windowText != nullptr && !memberNames.empty()) *windowText = memberNames.front();
    current_ = members.front().get();
    clean_ = false;
    totalSectors_ = computeSize();
    if (context_ != nullptr) context_->totalSectors = totalSectors_;
    seek(position, 0);
    return true;
}

int64_t FileReadSeekRaid::probe(readWriteInterface& reader) {
    std::vector<unsigned char> head(kProbeBytes, 0);
    if (!reader.seek(0, 0)) return 0;
    reader.read(head.data(), kProbeBytes);  // a short member delivers what it has, zero-filled
    for (size_t at = 0; at + kSectorSize <= head.size(); at += kSectorSize) {
        const LdmPrivateHeader header = LdmPrivateHeader::parse({head.data() + at, kSectorSize});
        if (!header.magic) continue;
        uint64_t start = header.logicalStart;
        uint64_t size = header.logicalSize;
        if (start > static_cast<uint64_t>(kMaxSector) || size > static_cast<uint64_t>(kMaxSector))
            return 0;  // not a header anyone wrote
        int64_t offset = static_cast<int64_t>(start);
        if (stripeSectors > 0 && offset % stripeSectors != 0) {
            int64_t rounded = (offset / stripeSectors + 1) * stripeSectors;
            if (rounded > kMaxSector) return 0;
            offset = rounded;
        }
        if (size != 0) {
            memberDataSize = static_cast<int64_t>(size);
            if (context_ != nullptr) context_->totalSectors = sizeFromLdm();
        }
        return offset;
    }
    return 0;
}

int64_t FileReadSeekRaid::probeMember(const std::string& name) {
    if (isMissingName(name)) return 0;
    FileReadSeek reader(nullptr);  // opened quietly: a member that cannot be read proposes 0
    if (!reader.open(name)) return 0;
    return probe(reader);
}

int64_t FileReadSeekRaid::probeVhdMember(const std::string& path) {
    if (isMissingName(path)) return 0;
    FileReadSeekVHD reader(context_);
    if (!reader.open(path)) return 0;
    return probe(reader);
}

}  // namespace quenlow::disk
