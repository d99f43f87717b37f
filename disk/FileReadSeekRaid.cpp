#include "disk/FileReadSeekRaid.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
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

bool FileReadSeekRaid::fail(const std::string& detail, Refusal why) {
    setLastError(detail);
    refusal_ = why;
    if (context_ != nullptr) context_->totalSectors = 0;
    totalSectors_ = 0;
    members.clear();
    memberData_.clear();
    warnings_.clear();
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
    refusal_ = Refusal::None;
    memberData_.clear();
    warnings_.clear();
    lastError_.clear();
    if (context_ != nullptr) context_->totalSectors = 0;

    const Refusal settings = Refusal::Parameters;
    const int n = memberCount;
    if (n == 0) return fail("the array has no members", settings);
    if (level != 0 && level != 5)
        return fail("RAID level " + std::to_string(level) + " is not supported (use 0 or 5)", settings);
    if (level == 5 && (parityLayout < 1 || parityLayout > 4))
        return fail("parity layout " + std::to_string(parityLayout) + " is not supported (use 1, 2, 3 or 4)", settings);
    if (stripeSectors <= 0)
        return fail("the stripe unit must be at least one sector (got " + std::to_string(stripeSectors) + ")",
                    settings);
    if (level == 5 && n < 3)
        return fail("RAID-5 needs at least three members (got " + std::to_string(n) + ")", settings);
    if (partitionOffsets.size() > static_cast<size_t>(n))
        return fail(std::to_string(partitionOffsets.size()) + " partition offsets for " +
                    std::to_string(n) + " members", settings);
    partitionOffsets.resize(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        int64_t off = partitionOffsets[static_cast<size_t>(i)];
        if (off < 0 || off > kMaxSector)
            return fail("member " + std::to_string(i) + " (" + memberNames[static_cast<size_t>(i)] +
                        "): partition offset " + std::to_string(off) + " is not a usable sector number", settings);
    }

    blockSectors_.assign(static_cast<size_t>(n), 0);
    for (int i = 0; i < n; ++i) {
        const std::string& name = memberNames[static_cast<size_t>(i)];
        std::unique_ptr<readWriteInterface> member;
        if (vhdMembers != 0) {
            auto vhd = std::make_unique<FileReadSeekVHD>(context_);
            if (isMissingName(name)) vhd->setMissing();
            else if (!vhd->open(name)) return fail(vhd->lastError(), Refusal::Members);
            if (!vhd->isMissing() && !vhd->isFixed()) blockSectors_[static_cast<size_t>(i)] = vhd->blockSectors();
            member = std::move(vhd);
        } else {
            auto drive = std::make_unique<FileReadSeek>(context_);
            if (isMissingName(name)) drive->setMissing();
            else if (!drive->open(name)) return fail(drive->lastError(), Refusal::Members);
            member = std::move(drive);
        }
        if (!member->isMissing()) {
            int64_t off = partitionOffsets[static_cast<size_t>(i)];
            int64_t sectors = member->sizeBytes() / kSectorSize;
            if (off > 0 && off >= sectors)
                return fail(name + ": partition offset " + std::to_string(off) +
                                " lies at or beyond the end of the member (" + std::to_string(sectors) + " sectors)",
                            settings);
        }
        members.push_back(std::move(member));
    }

    if (Refusal why = assess(); why != Refusal::None) return fail(lastError_, why);
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

std::string FileReadSeekRaid::memberLabel(size_t m) const {
    std::string label = "member " + std::to_string(m);
    if (m < memberNames.size() && !isMissingName(memberNames[m])) label += " (" + memberNames[m] + ")";
    return label;
}

namespace {

std::string mib(int64_t sectors) {
    const int64_t tenths = sectors * 10 / 2048;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " MiB";
}

std::string listOfMembers(const std::vector<size_t>& list) {
    std::string out = list.size() > 1 ? "members " : "member ";
    for (size_t i = 0; i < list.size(); ++i) {
        if (i > 0) out += i + 1 == list.size() ? " and " : ", ";
        out += std::to_string(list[i]);
    }
    return out;
}

}  // namespace

FileReadSeekRaid::Refusal FileReadSeekRaid::assess() {
    memberData_.clear();
    warnings_.clear();
    const size_t n = members.size();
    const uint64_t dataMembers = level == 0 ? n : n - 1;
    std::vector<int64_t> area(n, 0);
    bool anyPresent = false;
    int64_t largest = 0;
    for (size_t i = 0; i < n; ++i) {
        if (members[i]->isMissing()) continue;
        area[i] = std::max<int64_t>(0, members[i]->sizeBytes() / kSectorSize - partitionOffsets[i]);
        largest = std::max(largest, area[i]);
        anyPresent = true;
    }
    int64_t perMember = 0;
    if (memberDataSize > 0) {
        perMember = memberDataSize;
        totalSectors_ = sizeFromLdm();
    } else {
        perMember = largest / stripeSectors * stripeSectors;
        totalSectors_ = static_cast<uint64_t>(perMember) * dataMembers;
    }
    if (totalSectors_ == 0) {
        if (!anyPresent) {
            setLastError("every member is MISSING: there is nothing to read");
            return Refusal::Parameters;
        }
        if (largest == 0) {
            setLastError("no member holds any data (each is empty or ends at its partition offset)");
            return Refusal::Members;
        }
        if (largest < stripeSectors) {
            setLastError("the stripe unit (" + std::to_string(stripeSectors) +
                         " sectors) is larger than the largest member's data area (" + std::to_string(largest) +
                         " sectors): the virtual disk would hold no sectors");
            return Refusal::Stripe;
        }
        setLastError("the virtual disk would hold no sectors");
        return Refusal::Parameters;
    }

    // Which stretches of its data area each member lacks, walked the way reads see them.
    memberData_.assign(n, MemberData{});
    std::vector<std::vector<std::pair<int64_t, int64_t>>> lacking(n);  // [first, end) in area sectors
    for (size_t i = 0; i < n; ++i) {
        MemberData& d = memberData_[i];
        d.dataSectors = perMember;
        int64_t at = 0;
        while (at < perMember) {
            const int64_t sector = partitionOffsets[i] + at;
            const uint32_t limit = static_cast<uint32_t>(std::min<int64_t>(perMember - at, 1 << 30));
            Span s = sector <= kMaxSector ? span(i, sector * kSectorSize, limit) : Span{false, limit};
            if (s.held) {
                d.heldSectors += s.sectors;
            } else if (!lacking[i].empty() && lacking[i].back().second == at) {
                lacking[i].back().second += s.sectors;
            } else {
                lacking[i].push_back({at, at + s.sectors});
            }
            at += s.sectors;
        }
        if (!lacking[i].empty()) d.firstLacking = lacking[i].front().first;
    }

    const std::string unit = std::to_string(stripeSectors * kSectorSize / 1024) + " KiB";
    for (size_t i = 0; i < n; ++i) {
        const MemberData& d = memberData_[i];
        if (members[i]->isMissing()) {
            if (level == 0)
                warnings_.push_back("member " + std::to_string(i) +
                                    " is MISSING: RAID-0 keeps no parity, so its stripe units (one in " +
                                    std::to_string(n) + ", " + unit +
                                    " each) cannot be read; files lying wholly on the other members can still "
                                    "come out whole");
            continue;
        }
        if (d.firstLacking < 0) continue;
        const int64_t lack = d.dataSectors - d.heldSectors;
        std::string text = memberLabel(i);
        if (d.heldSectors == 0) {
            text += " holds none of the " + std::to_string(d.dataSectors) + " data sectors each member needs";
        } else if (lacking[i].size() == 1 && lacking[i].front().second == d.dataSectors) {
            text += " is short: it holds " + std::to_string(d.firstLacking) + " of the " +
                    std::to_string(d.dataSectors) + " data sectors each member needs (" + mib(lack) +
                    " missing at its end)";
        } else {
            text += " lacks " + std::to_string(lack) + " of its " + std::to_string(d.dataSectors) +
                    " data sectors (" + mib(lack) + "; the file ends before them), the first at sector " +
                    std::to_string(partitionOffsets[i] + d.firstLacking) + " of the member";
        }
        text += level == 0 ? "; RAID-0 keeps no parity, so these sectors cannot be read"
                           : "; there it counts as missing, rebuilt from the other members where they are whole";
        warnings_.push_back(std::move(text));
    }
    if (level == 5) warnAboutRebuilding(lacking);

    // The same file twice is rarely meant: every row would hold the same data.
    std::vector<bool> grouped(n, false);
    for (size_t i = 0; i < n; ++i) {
        if (members[i]->isMissing() || grouped[i]) continue;
        std::vector<size_t> group{i};
        for (size_t j = i + 1; j < n; ++j) {
            std::error_code ec;
            if (!members[j]->isMissing() && std::filesystem::equivalent(memberNames[i], memberNames[j], ec) && !ec) {
                group.push_back(j);
                grouped[j] = true;
            }
        }
        if (group.size() < 2) continue;
        std::string who = group.size() == n ? "every member is" : listOfMembers(group) + " are";
        warnings_.push_back(who + " the same file (" + memberNames[i] +
                            "); the members of an array are different disks");
    }
    return Refusal::None;
}

void FileReadSeekRaid::warnAboutRebuilding(const std::vector<std::vector<std::pair<int64_t, int64_t>>>& lacking) {
    // RAID-5 rebuilds one lacking member of a row. Where two or more lack the same sectors,
    // the stripe units on them there are lost.
    const size_t n = members.size();
    std::vector<size_t> missing;
    for (size_t i = 0; i < n; ++i)
        if (members[i]->isMissing()) missing.push_back(i);
    if (missing.size() >= 2) {
        warnings_.push_back(listOfMembers(missing) +
                            " are MISSING: RAID-5 rebuilds one member only, so the stripe units on them cannot "
                            "be read; files lying wholly on the other members can still come out whole");
        return;
    }
    // The first area sector two members lack, the members lacking it, and how much is lost.
    std::vector<std::pair<int64_t, int>> edges;  // +1 at a stretch's start, -1 at its end
    for (size_t i = 0; i < n; ++i)
        for (const auto& [first, end] : lacking[i]) {
            edges.push_back({first, +1});
            edges.push_back({end, -1});
        }
    std::sort(edges.begin(), edges.end());
    int depth = 0;
    int64_t lost = 0, firstLost = -1, since = 0;
    for (const auto& [at, step] : edges) {
        if (depth >= 2) lost += at - since;
        depth += step;
        since = at;
        if (depth >= 2 && firstLost < 0) firstLost = at;
    }
    if (firstLost < 0) return;
    std::vector<size_t> involved;
    for (size_t i = 0; i < n; ++i)
        for (const auto& [first, end] : lacking[i])
            if (first <= firstLost && firstLost < end) {
                involved.push_back(i);
                break;
            }
    warnings_.push_back(listOfMembers(involved) + (involved.size() == 2 ? " both" : " all") +
                        " lack data from sector " + std::to_string(firstLost) + " of their data areas (" +
                        std::to_string(lost) + " sectors in all where two members lack theirs): RAID-5 rebuilds "
                        "one member only, so the stripe units there cannot be read");
}

FileReadSeekRaid::Location FileReadSeekRaid::map(int64_t logicalSector) const {
    return locate(level, parityLayout, memberCount, stripeSectors, logicalSector);
}

FileReadSeekRaid::Location FileReadSeekRaid::locate(int32_t level, int32_t parityLayout, int64_t n, int64_t s,
                                                    int64_t logicalSector) {
    Location loc;
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
        case 4:
            parity = row % n;
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

FileReadSeekRaid::Span FileReadSeekRaid::span(size_t m, int64_t offset, uint32_t limit) const {
    readWriteInterface& member = *members[m];
    if (limit == 0) return {false, 0};
    if (member.isMissing()) return {false, limit};
    // A member holds a leading part of each of its blocks (of the whole member for an image
    // file): within a block, what it holds ends once and does not start again.
    if (const uint32_t block = blockSectors_[m]; block != 0) {
        const uint32_t within = static_cast<uint32_t>(offset / kSectorSize % block);
        limit = std::min(limit, block - within);
    }
    auto holds = [&](uint32_t sectors) {
        Piece piece{offset, nullptr, sectors};
        return member.piecesInside(&piece, 1);
    };
    if (!holds(1)) return {false, limit};
    if (limit == 1 || holds(limit)) return {true, limit};
    uint32_t yes = 1, no = limit;
    while (no - yes > 1) {
        const uint32_t mid = yes + (no - yes) / 2;
        (holds(mid) ? yes : no) = mid;
    }
    return {true, yes};
}

bool FileReadSeekRaid::plan(int64_t sector, uint32_t limit, Plan* out) const {
    const Location loc = map(sector);
    int64_t offset = 0;
    if (limit == 0 || !memberByteOffset(loc, &offset)) return false;
    const uint32_t inUnit = static_cast<uint32_t>(std::min<int64_t>(limit, stripeSectors - sector % stripeSectors));
    out->member = loc.member;
    out->offset = offset;
    if (sector < 0 || static_cast<uint64_t>(sector) >= totalSectors_) {
        // Past the end: nothing is read. Within the unit the member sectors only grow, so the
        // run's last sector maps when it does.
        out->mode = Mode::Unservable;
        Location last = loc;
        last.memberSector += inUnit - 1;
        int64_t ignored = 0;
        out->sectors = memberByteOffset(last, &ignored) ? inUnit : 1;
        return true;
    }
    const uint32_t run = static_cast<uint32_t>(std::min<uint64_t>(inUnit, totalSectors_ - static_cast<uint64_t>(sector)));
    const Span data = span(static_cast<size_t>(loc.member), offset, run);
    out->sectors = data.sectors;
    if (data.held) {
        out->mode = Mode::Direct;
        return true;
    }
    if (level != 5) {
        out->mode = Mode::Unservable;
        return true;
    }
    bool all = true;
    for (size_t m = 0; m < members.size(); ++m) {
        if (static_cast<int32_t>(m) == loc.member) continue;
        const Span other = span(m, offset, out->sectors);
        out->sectors = std::min(out->sectors, other.sectors);
        all = all && other.held;
    }
    out->mode = all ? Mode::Rebuild : Mode::Unservable;
    return true;
}

bool FileReadSeekRaid::seek(int64_t offset, int32_t method) {
    int64_t logical = 0;
    if (__builtin_add_overflow(offset, baseOffset, &logical) || logical < 0) return false;
    Plan p;
    if (!plan(logical / kSectorSize, 1, &p)) return false;
    position = offset;
    current_ = members[static_cast<size_t>(p.member)].get();
    mode_ = p.mode;
    modeMember_ = p.member;
    clean_ = true;
    cleanBase_ = baseOffset;
    switch (p.mode) {
    case Mode::Direct:
        return current_->seek(p.offset, method);
    case Mode::Rebuild: {
        bool all = true;
        for (size_t m = 0; m < members.size(); ++m)
            if (static_cast<int32_t>(m) != p.member && !members[m]->seek(p.offset, method)) all = false;
        return all;
    }
    case Mode::Unservable:
        break;
    }
    return false;
}

bool FileReadSeekRaid::readOneSector(unsigned char* out) {
    bool ok = false;
    switch (mode_) {
    case Mode::Unservable:
        std::memset(out, 0, kSectorSize);
        break;
    case Mode::Direct:
        if (!current_->read(out, kSectorSize)) {
            clean_ = false;
            return false;
        }
        ok = true;
        break;
    case Mode::Rebuild: {
        std::memset(rebuildBuffer_, 0, sizeof rebuildBuffer_);
        bool all = true;
        for (size_t m = 0; m < members.size(); ++m) {
            if (static_cast<int32_t>(m) == modeMember_) continue;
            std::memset(scratchBuffer_, 0, sizeof scratchBuffer_);
            if (!members[m]->read(scratchBuffer_, kSectorSize)) all = false;
            xorInto(rebuildBuffer_, scratchBuffer_, kSectorSize);
        }
        std::memcpy(out, rebuildBuffer_, kSectorSize);
        if (!all) {
            clean_ = false;
            return false;
        }
        ok = true;
        break;
    }
    }
    // The advance. A seek that maps the offset marks the disk clean again; one that refuses it
    // moves nothing, and the members stay where the read left them.
    clean_ = false;
    int64_t next = 0;
    if (!__builtin_add_overflow(position, static_cast<int64_t>(kSectorSize), &next)) seek(next, 0);
    return ok;
}

uint32_t FileReadSeekRaid::rebuildRun(int64_t offset, unsigned char* out, uint32_t sectors, int32_t skip) {
    bool first = true;
    uint32_t good = sectors;
    for (size_t m = 0; m < members.size(); ++m) {
        if (static_cast<int32_t>(m) == skip) continue;
        unsigned char* dest = first ? out : scratch_.data();
        uint32_t got = members[m]->readRun(offset, dest, sectors);
        good = std::min(good, got);
        if (!first) xorInto(out, scratch_.data(), static_cast<size_t>(good) * kSectorSize);
        first = false;
        if (good == 0) break;
    }
    return good;
}

uint32_t FileReadSeekRaid::readBatch(unsigned char* out, uint32_t sectors, bool* ok) {
    const uint32_t limit = std::min(sectors, kBatchSectors);
    const int64_t first = (position + baseOffset) / kSectorSize;
    // A rebuilt unit goes to its place from one member and to scratch from each other one.
    const size_t extra = members.size() > 2 ? members.size() - 2 : 0;
    pieces_.resize(members.size());
    for (auto& list : pieces_) list.clear();
    rebuilds_.clear();

    size_t scratchUsed = 0;
    uint32_t done = 0;
    int units = 0;
    bool failed = false;
    while (done < limit) {
        Plan p;
        if (!plan(first + done, limit - done, &p)) return 0;
        unsigned char* dest = out + static_cast<size_t>(done) * kSectorSize;
        const size_t bytes = static_cast<size_t>(p.sectors) * kSectorSize;
        switch (p.mode) {
        case Mode::Direct:
            pieces_[static_cast<size_t>(p.member)].push_back({p.offset, dest, p.sectors});
            break;
        case Mode::Rebuild: {
            // Grown, if at all, at the batch's first rebuilt unit, before any piece points into it.
            if (batchScratch_.size() < extra * limit * kSectorSize) batchScratch_.resize(extra * limit * kSectorSize);
            rebuilds_.push_back({dest, scratchUsed, p.sectors});
            bool firstOther = true;
            for (size_t m = 0; m < members.size(); ++m) {
                if (static_cast<int32_t>(m) == p.member) continue;
                unsigned char* into = dest;
                if (!firstOther) {
                    into = batchScratch_.data() + scratchUsed;
                    scratchUsed += bytes;
                }
                firstOther = false;
                pieces_[m].push_back({p.offset, into, p.sectors});
            }
            break;
        }
        case Mode::Unservable:
            std::memset(dest, 0, bytes);
            failed = true;
            break;
        }
        done += p.sectors;
        ++units;
    }
    if (units < 2) return 0;
    for (size_t m = 0; m < members.size(); ++m)
        if (!pieces_[m].empty() && !members[m]->piecesInside(pieces_[m].data(), pieces_[m].size())) return 0;
    for (size_t m = 0; m < members.size(); ++m)
        if (!pieces_[m].empty() && !members[m]->readPieces(pieces_[m].data(), pieces_[m].size())) return 0;
    for (const auto& r : rebuilds_) {
        const size_t bytes = static_cast<size_t>(r.sectors) * kSectorSize;
        for (size_t k = 0; k < extra; ++k) xorInto(r.dest, batchScratch_.data() + r.scratchAt + k * bytes, bytes);
    }
    if (failed) *ok = false;
    position += static_cast<int64_t>(done) * kSectorSize;
    return done;
}

uint32_t FileReadSeekRaid::readUnit(unsigned char* out, uint32_t sectors, bool* ok, bool* seekPending) {
    const int64_t sector = (position + baseOffset) / kSectorSize;
    Plan p;
    if (!plan(sector, sectors, &p)) {
        if (*seekPending) seek(position, 0);
        *seekPending = false;
        if (!readOneSector(out)) *ok = false;
        return 1;
    }
    uint32_t run = p.sectors;
    uint32_t good = 0;
    switch (p.mode) {
    case Mode::Direct:
        good = members[static_cast<size_t>(p.member)]->readRun(p.offset, out, run);
        break;
    case Mode::Rebuild:
        run = std::min(run, kMaxRebuildRun);
        good = rebuildRun(p.offset, out, run, p.member);
        break;
    case Mode::Unservable:
        std::memset(out, 0, static_cast<size_t>(run) * kSectorSize);
        good = run;
        *ok = false;
        break;
    }
    position += static_cast<int64_t>(good) * kSectorSize;
    if (good == run) {
        *seekPending = true;
        return run;
    }
    // Sector `good` failed somewhere: put everything where the sector-by-sector read would
    // have it and go on sector by sector from there.
    seek(position, 0);
    *seekPending = false;
    if (!readOneSector(out + static_cast<size_t>(good) * kSectorSize)) *ok = false;
    return good + 1;
}

bool FileReadSeekRaid::read(void* buffer, uint32_t count) {
    const uint32_t sectors = count / kSectorSize;
    if (sectors == 0 || current_ == nullptr) return false;
    auto* out = static_cast<unsigned char*>(buffer);
    bool ok = true;
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
            if (!readOneSector(dest)) ok = false;
            ++i;
            continue;
        }
        uint32_t served = 0;
        if (position >= batchFrom) {
            served = readBatch(dest, sectors - i, &ok);
            // Refused: the units it planned are read one at a time before it is tried again.
            if (served == 0 &&
                __builtin_add_overflow(position, static_cast<int64_t>(std::min(sectors - i, kBatchSectors)) * kSectorSize,
                                       &batchFrom))
                batchFrom = std::numeric_limits<int64_t>::max();
        }
        if (served > 0) {
            seekPending = true;
        } else {
            served = readUnit(dest, sectors - i, &ok, &seekPending);
        }
        i += served;
    }
    if (seekPending) seek(position, 0);
    return ok;
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
        Plan p;
        if (!clean_ || baseOffset != cleanBase_ || __builtin_add_overflow(position, baseOffset, &logical) ||
            logical < 0 || !plan(logical / kSectorSize, sectors - done, &p)) {
            // Outside the mapped geometry: the definition itself, one sector.
            if (!read(dest, kSectorSize)) return done;
            ++done;
            continue;
        }
        uint32_t run = p.sectors;
        uint32_t good = 0;
        switch (p.mode) {
        case Mode::Direct:
            good = members[static_cast<size_t>(p.member)]->readRun(p.offset, dest, run);
            break;
        case Mode::Rebuild:
            run = std::min(run, kMaxRebuildRun);
            good = rebuildRun(p.offset, dest, run, p.member);
            break;
        case Mode::Unservable:
            return done;  // the seek said so already
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
    std::rotate(blockSectors_.begin(), blockSectors_.begin() + 1, blockSectors_.end());
    if (memberNames.size() == members.size())
        std::rotate(memberNames.begin(), memberNames.begin() + 1, memberNames.end());
    if (windowText != nullptr && !memberNames.empty()) *windowText = memberNames.front();
    current_ = members.front().get();
    clean_ = false;
    // Under the new order the members' data areas may not give a disk at all; it then reads
    // as one of no sectors.
    if (assess() != Refusal::None) totalSectors_ = 0;
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
