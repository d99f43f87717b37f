#include "detect/ArrayDetect.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <set>

#include "detect/DiskEvidence.h"
#include "detect/MemberSampler.h"
#include "detect/SectorBytes.h"
#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "disk/FileReadSeekVHD.h"

namespace quenlow::detect {

namespace {

using disk::MdSuperblock;

// Sampling: the head of every member (where tables, boot sectors, MFT, FATs and group
// descriptors live), windows spread over the members for the parity test, and a budget of
// further blocks for the best candidates.
constexpr int64_t kHeadSectors = 8192;       // 4 MiB
constexpr int64_t kDeepHeadSectors = 65536;  // 32 MiB
constexpr int kParityWindows = 16;
constexpr int kDeepParityWindows = 64;
constexpr int64_t kFarBlocks = 2048;         // 128 MiB
constexpr int64_t kDeepFarBlocks = 8192;     // 512 MiB
constexpr size_t kFinalists = 64;
// Sectors each candidate's scoring may look at: on the heads, then further for the finalists.
constexpr int64_t kHeadProbes = 6000;
constexpr int64_t kFarProbes = 60000;
// Member sectors from the offsets on whose rows' parity is checked for the finalists.
constexpr int64_t kParityCheckSectors = 2048;
constexpr size_t kReported = 10;
// Member orders searched in full up to this many members; beyond it the given order and its
// rotations only.
constexpr size_t kMaxPermutedMembers = 6;
// Less than this is no evidence at all.
constexpr int64_t kMinScore = 12;
constexpr int64_t kStripes[] = {128, 64, 256, 32, 512, 16, 1024, 8, 2048};
constexpr int kLayouts[] = {3, 2, 1, 4};

std::unique_ptr<disk::readWriteInterface> openReader(const std::string& name, bool vhd, std::string* error) {
    std::unique_ptr<disk::readWriteInterface> reader;
    if (vhd)
        reader = std::make_unique<disk::FileReadSeekVHD>();
    else
        reader = std::make_unique<disk::FileReadSeek>();
    if (!reader->open(name)) {
        *error = reader->lastError().empty() ? name + ": cannot be opened" : reader->lastError();
        return nullptr;
    }
    return reader;
}

}  // namespace

void examineMd(disk::readWriteInterface& reader, MemberReport& member) {
    const int64_t bytes = reader.sizeBytes();
    std::vector<uint8_t> buffer(MdSuperblock::kReadBytes);
    for (MdSuperblock::Version version : MdSuperblock::kVersions) {
        const int64_t at = MdSuperblock::location(version, bytes);
        if (at < 0) continue;
        std::fill(buffer.begin(), buffer.end(), 0);
        if (reader.readRun(at, buffer.data(), MdSuperblock::kReadBytes / 512) != MdSuperblock::kReadBytes / 512) continue;
        auto sb = MdSuperblock::parse(buffer, version);
        if (!sb) continue;
        // 0.90 and 1.0 may name the same place on small members; one finding each.
        member.md.push_back({*sb, sb->problems(bytes)});
    }
    // The newest sound superblock is the member's (an old one of another version may remain).
    for (size_t i = 0; i < member.md.size(); ++i) {
        if (!member.md[i].problems.empty()) continue;
        if (member.trustedMd < 0 ||
            member.md[i].superblock.updateTime > member.md[static_cast<size_t>(member.trustedMd)].superblock.updateTime)
            member.trustedMd = static_cast<int>(i);
    }
}

namespace {

// Every md superblock that carries the magic but is not to be trusted, and why.
std::vector<std::string> untrustedNotes(const std::vector<MemberReport>& members) {
    std::vector<std::string> out;
    for (const auto& m : members)
        for (const auto& f : m.md)
            if (!f.problems.empty()) {
                std::string why;
                for (const auto& p : f.problems) why += (why.empty() ? "" : "; ") + p;
                out.push_back(m.name + ": md " + f.superblock.versionText() + " superblock not trusted (" + why +
                              "); taken as carrying no metadata");
            }
    return out;
}

std::string quoteArgument(const std::string& text) {
    const bool plain = !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-+:,=@", c) != nullptr;
    });
    if (plain) return text;
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

int layoutFromMd(uint32_t mdLayout) {
    switch (mdLayout) {
    case MdSuperblock::LeftAsymmetric: return 2;
    case MdSuperblock::RightAsymmetric: return 1;
    case MdSuperblock::LeftSymmetric: return 3;
    case MdSuperblock::RightSymmetric: return 4;
    default: return 0;
    }
}

std::string commandLine(const Candidate& candidate, const std::vector<MemberReport>& members, bool vhd) {
    const ArrayParameters& p = candidate.parameters;
    std::string out = vhd ? "--vhd" : "";
    for (int index : p.order) {
        if (!out.empty()) out += ' ';
        out += "-m " + (index < 0 || members[static_cast<size_t>(index)].missing
                            ? std::string("MISSING")
                            : quoteArgument(members[static_cast<size_t>(index)].name));
    }
    out += " -l " + std::to_string(p.level);
    if (p.level == 5) out += " --layout " + std::to_string(p.layout);
    out += " -s " + std::to_string(p.stripeSectors) + " -o ";
    for (size_t i = 0; i < p.offsets.size(); ++i) out += (i ? "," : "") + std::to_string(p.offsets[i]);
    return out;
}

std::optional<DetectReport> assembleFromMd(std::vector<MemberReport> members) {
    DetectReport report;
    report.members = std::move(members);
    auto& list = report.members;
    report.notes = untrustedNotes(list);
    // Arrays by UUID, in the order their first member was given.
    std::vector<std::array<uint8_t, 16>> uuids;
    std::map<std::array<uint8_t, 16>, std::vector<size_t>> groups;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].trustedMd < 0) continue;
        const auto& sb = list[i].md[static_cast<size_t>(list[i].trustedMd)].superblock;
        if (!groups.count(sb.uuid)) uuids.push_back(sb.uuid);
        groups[sb.uuid].push_back(i);
    }
    if (uuids.empty()) return std::nullopt;
    // The array most members belong to; the others are named and left out.
    auto chosen = uuids.front();
    for (const auto& u : uuids)
        if (groups[u].size() > groups[chosen].size()) chosen = u;
    const std::vector<size_t>& group = groups[chosen];
    const auto& first = list[group.front()].md[static_cast<size_t>(list[group.front()].trustedMd)].superblock;
    if (uuids.size() > 1) {
        for (const auto& u : uuids) {
            if (u == chosen) continue;
            std::string names;
            for (size_t i : groups[u]) names += (names.empty() ? "" : ", ") + list[i].name;
            disk::MdSuperblock other;
            other.uuid = u;
            report.notes.push_back("members of different arrays were given together: " + names + " belong to array " +
                                   other.uuidText() + ", not to " + first.uuidText() + "; they are left out");
        }
    }
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].trustedMd < 0 && !list[i].missing)
            report.notes.push_back(list[i].name + ": carries no md superblock of array " + first.uuidText() +
                                   "; left out");

    // The newest superblock speaks for the array.
    uint64_t newest = 0;
    size_t speaker = group.front();
    for (size_t i : group) {
        const auto& sb = list[i].md[static_cast<size_t>(list[i].trustedMd)].superblock;
        if (sb.events > newest || (sb.events == newest && i == group.front())) {
            newest = sb.events;
            speaker = i;
        }
    }
    const auto& array = list[speaker].md[static_cast<size_t>(list[speaker].trustedMd)].superblock;
    report.source = DetectReport::Source::Md;
    const std::string label = "md " + array.versionText() + " array " + array.uuidText() + " (" + array.levelText() +
                              (array.layoutText().empty() ? "" : ", " + array.layoutText()) + ", chunk " +
                              std::to_string(array.chunkBytes / 1024) + " KiB, " + std::to_string(array.raidDisks) +
                              " raid disks)";
    Candidate c;
    ArrayParameters& p = c.parameters;
    p.stripeSectors = static_cast<int64_t>(array.chunkBytes / 512);
    if (array.level == 0) {
        p.level = 0;
    } else if (array.level == 5 && layoutFromMd(array.layout) != 0) {
        p.level = 5;
        p.layout = layoutFromMd(array.layout);
    } else {
        report.verdict = label + ": this level or layout cannot be assembled here (RAID-0 and RAID-5 only)";
        return report;
    }
    const size_t disks = array.raidDisks;
    std::vector<int> byRole(disks, -1);
    std::vector<size_t> stale;
    for (size_t i : group) {
        const auto& sb = list[i].md[static_cast<size_t>(list[i].trustedMd)].superblock;
        if (sb.role >= disks) {
            report.notes.push_back(list[i].name + ": a " +
                                   std::string(sb.role == MdSuperblock::kRoleFaulty ? "faulty member" : "spare") +
                                   " of the array; left out");
            continue;
        }
        if (sb.events < newest) {
            stale.push_back(i);
            continue;
        }
        int& slot = byRole[sb.role];
        if (slot >= 0) {
            report.notes.push_back(list[i].name + ": role " + std::to_string(sb.role) + " is also held by " +
                                   list[static_cast<size_t>(slot)].name + "; left out");
            continue;
        }
        slot = static_cast<int>(i);
    }
    const auto lacking = [&] { return static_cast<size_t>(std::count(byRole.begin(), byRole.end(), -1)); };
    for (size_t i : stale) {
        const auto& sb = list[i].md[static_cast<size_t>(list[i].trustedMd)].superblock;
        const std::string events = "events " + std::to_string(sb.events) + " where the others have " +
                                   std::to_string(newest);
        // Left out when the others rebuild its role: RAID-5 with no other role lacking.
        const bool suffice = p.level == 5 && byRole[sb.role] < 0 && lacking() == 1;
        if (suffice || byRole[sb.role] >= 0) {
            report.notes.push_back(list[i].name + ": stale (" + events + "); left out, its role is rebuilt from the others");
        } else {
            report.notes.push_back(list[i].name + ": stale (" + events + "); used all the same, the others do not suffice "
                                   "without it: what changed since it dropped out reads wrong");
            byRole[sb.role] = static_cast<int>(i);
        }
    }
    for (size_t r = 0; r < disks; ++r) {
        p.order.push_back(byRole[r]);
        // A MISSING member is rebuilt from the same offsets on the others: it takes theirs.
        p.offsets.push_back(byRole[r] < 0 ? static_cast<int64_t>(array.dataOffset)
                                          : static_cast<int64_t>(list[static_cast<size_t>(byRole[r])]
                                                                     .md[static_cast<size_t>(list[static_cast<size_t>(byRole[r])].trustedMd)]
                                                                     .superblock.dataOffset));
        if (byRole[r] < 0) report.notes.push_back("role " + std::to_string(r) + " has no member: MISSING");
    }
    p.dataSectors = static_cast<int64_t>(array.dataSectors);
    c.confidence = "certain";
    c.evidence.push_back(label);
    report.candidates.push_back(c);
    const size_t gone = lacking();
    if ((p.level == 0 && gone > 0) || gone > 1) {
        report.verdict = label + ": " + std::to_string(gone) + " of its " + std::to_string(disks) +
                         " members are not here; it cannot be assembled whole";
        report.confidence = "certain";
        return report;
    }
    report.decided = true;
    report.confidence = "certain";
    report.verdict = "from the " + label;
    return report;
}

namespace {

// One geometry tried on the sampled members.
struct Trial {
    ArrayParameters parameters;
    std::vector<int64_t> memberOffsets;  // per given member
};

class DataSearch {
public:
    DataSearch(MemberSampler& sampler, const DetectOptions& options) : sampler_(sampler), options_(options) {}

    // Which levels the members' contents allow, from the XOR over sampled rows: a healthy
    // RAID-5 has every row XOR to zero.
    std::vector<int> levels(const std::vector<int64_t>& offsets, std::vector<std::string>& notes, bool* nothing) {
        const size_t n = sampler_.size();
        size_t missing = 0;
        for (size_t m = 0; m < n; ++m) missing += sampler_.present(m) ? 0 : 1;
        int64_t shortest = -1;
        for (size_t m = 0; m < n; ++m)
            if (sampler_.present(m)) {
                const int64_t data = sampler_.sectors(m) - offsets[m];
                shortest = shortest < 0 ? data : std::min(shortest, data);
            }
        int64_t nonzero = 0, zeroXor = 0;
        const int windows = options_.deep ? kDeepParityWindows : kParityWindows;
        std::vector<int64_t> starts;
        for (int64_t s = 0; s < std::min<int64_t>(shortest, 2048); s += 1) starts.push_back(s);
        for (int w = 1; w <= windows && shortest > 0; ++w) {
            const int64_t at = shortest / (windows + 1) * w;
            for (int64_t s = 0; s < 128 && at + s < shortest; ++s) starts.push_back(at + s);
        }
        uint8_t acc[512];
        for (int64_t s : starts) {
            bool any = false, complete = true;
            std::fill(acc, acc + 512, 0);
            for (size_t m = 0; m < n && complete; ++m) {
                if (!sampler_.present(m)) continue;
                const uint8_t* p = sampler_.sector(m, offsets[m] + s, false);
                if (p == nullptr) {
                    complete = false;
                    break;
                }
                any = any || !zeroSector(p);
                xorBytes(acc, p, 512);
            }
            if (!complete || !any) continue;
            ++nonzero;
            zeroXor += zeroSector(acc) ? 1 : 0;
        }
        *nothing = nonzero == 0;
        if (nonzero == 0) return {};
        if (missing > 1) {
            notes.push_back(std::to_string(missing) + " members are MISSING: no RAID-0 or RAID-5 can be rebuilt");
            return {};
        }
        if (missing == 1) return n >= 3 ? std::vector<int>{5} : std::vector<int>{};
        if (n == 2 && zeroXor == nonzero) {
            notes.push_back("the two members hold the same data: a mirror (RAID-1), each member alone is the disk");
            return {};
        }
        const double ratio = static_cast<double>(zeroXor) / static_cast<double>(nonzero);
        if (n >= 3 && ratio >= 0.98) {
            notes.push_back("every sampled row XORs to zero across the members (" + std::to_string(zeroXor) +
                            " rows): RAID-5");
            return {5};
        }
        if (n < 3 || ratio <= 0.5) {
            notes.push_back("the members' rows do not XOR to zero: RAID-0");
            return {0};
        }
        notes.push_back("some sampled rows XOR to zero, others not: RAID-0 and RAID-5 both tried");
        return {5, 0};
    }

    Evidence score(const Trial& trial, bool far) {
        const auto& p = trial.parameters;
        const int64_t n = static_cast<int64_t>(p.order.size());
        SectorView view = [&](int64_t logical) -> const uint8_t* {
            const auto loc = disk::FileReadSeekRaid::locate(p.level, p.layout, n, p.stripeSectors, logical);
            if (loc.member < 0) return nullptr;
            const size_t m = static_cast<size_t>(p.order[static_cast<size_t>(loc.member)]);
            return sampler_.sector(m, trial.memberOffsets[m] + loc.memberSector, p.level == 5);
        };
        Evidence e = scoreDisk(view, far, far ? kFarProbes : kHeadProbes);
        if (far && p.level == 5) misplacedParity(trial, e);
        return e;
    }

    // A row whose parity sector reads zero while its data does not (and no two of its data
    // sectors are equal) holds its parity in one of the units taken for data (that unit is
    // the XOR of the others): the layout or the order puts the parity in the wrong place.
    // Rows at the members' heads are looked at.
    void misplacedParity(const Trial& trial, Evidence& e) {
        const auto& p = trial.parameters;
        const int64_t n = static_cast<int64_t>(p.order.size());
        int64_t wrong = 0, pairs = 0;
        std::vector<const uint8_t*> row(static_cast<size_t>(n));
        for (int64_t t = 0; t < kParityCheckSectors; ++t) {
            const int64_t first = t / p.stripeSectors * (n - 1) * p.stripeSectors;
            const auto loc = disk::FileReadSeekRaid::locate(5, p.layout, n, p.stripeSectors, first);
            if (loc.parityMember < 0) return;
            bool complete = true, data = false;
            for (int64_t slot = 0; slot < n && complete; ++slot) {
                const size_t m = static_cast<size_t>(p.order[static_cast<size_t>(slot)]);
                row[static_cast<size_t>(slot)] = sampler_.sector(m, trial.memberOffsets[m] + t, true);
                complete = row[static_cast<size_t>(slot)] != nullptr;
                if (complete && slot != loc.parityMember)
                    data = data || !zeroSector(row[static_cast<size_t>(slot)]);
            }
            if (!data || !zeroSector(row[static_cast<size_t>(loc.parityMember)]))
                continue;
            // Two equal data sectors (the zero second halves of two MFT records, say) XOR to
            // zero in their own right: such rows only weigh a little.
            bool pair = false;
            for (int64_t a = 0; a < n && !pair; ++a)
                for (int64_t b = a + 1; b < n && !pair; ++b)
                    pair = a != loc.parityMember && b != loc.parityMember &&
                           std::memcmp(row[static_cast<size_t>(a)], row[static_cast<size_t>(b)], 512) == 0;
            (pair ? pairs : wrong) += 1;
        }
        e.score -= wrong + pairs / 8;
        e.broke += wrong;
        if (wrong > 0) e.findings.push_back(std::to_string(wrong) + " sectors whose parity reads zero under data that does not");
    }

private:
    MemberSampler& sampler_;
    const DetectOptions& options_;
};

std::vector<std::vector<int>> memberOrders(size_t n, std::vector<std::string>& notes) {
    std::vector<int> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::vector<std::vector<int>> out;
    if (n <= kMaxPermutedMembers) {
        do out.push_back(order);
        while (std::next_permutation(order.begin(), order.end()));
    } else {
        notes.push_back(std::to_string(n) + " members: only the given order and its rotations were tried");
        for (size_t r = 0; r < n; ++r) {
            out.push_back(order);
            std::rotate(order.begin(), order.begin() + 1, order.end());
        }
    }
    return out;
}

bool sameGeometry(const ArrayParameters& a, const ArrayParameters& b) {
    return a.level == b.level && a.layout == b.layout && a.stripeSectors == b.stripeSectors && a.order == b.order &&
           a.offsets == b.offsets;
}

// The level the user gave, when the members allow it; the XOR's verdict otherwise noted.
std::vector<int> givenLevel(int level, const std::vector<int>& fromData, MemberSampler& sampler,
                            std::vector<std::string>& notes) {
    size_t missing = 0;
    for (size_t m = 0; m < sampler.size(); ++m) missing += sampler.present(m) ? 0 : 1;
    if (missing > 1 || (level == 0 && missing > 0) || (level == 5 && sampler.size() < 3)) {
        notes.push_back(level == 0 && missing == 1 ? "RAID-0 was given, but a member is MISSING: RAID-0 cannot rebuild it"
                                                   : "RAID-" + std::to_string(level) + " was given, but these members cannot make one");
        return {};
    }
    if (std::find(fromData.begin(), fromData.end(), level) == fromData.end())
        notes.push_back("the members' XOR does not point to RAID-" + std::to_string(level) + "; it was searched as given");
    return {level};
}

// What the search was limited to, in a note.
std::string searchNote(const DetectOptions& options) {
    std::string limits;
    if (options.level >= 0) limits += "RAID-" + std::to_string(options.level);
    if (options.layout > 0) limits += (limits.empty() ? "" : ", ") + std::string("layout ") + std::to_string(options.layout);
    if (options.stripeSectors > 0)
        limits += (limits.empty() ? "" : ", ") + std::string("stripe unit ") + std::to_string(options.stripeSectors) + " sectors";
    return limits.empty() ? "" : "searched only " + limits + ", as given";
}

void detectFromData(DetectReport& report, MemberSampler& sampler, const DetectOptions& options) {
    if (const std::string note = searchNote(options); !note.empty()) report.notes.push_back(note);
    const size_t n = report.members.size();
    // The offsets tried: the user's, else 0 and (when any member has one) the LDM probe's.
    std::vector<std::vector<int64_t>> offsetSets;
    if (!options.offsets.empty()) {
        offsetSets.push_back(options.offsets);
        offsetSets.back().resize(n, 0);
    } else {
        offsetSets.push_back(std::vector<int64_t>(n, 0));
        std::vector<int64_t> ldm(n, 0);
        bool any = false;
        for (size_t i = 0; i < n; ++i) {
            ldm[i] = report.members[i].ldmOffset;
            any = any || ldm[i] != 0;
        }
        if (any) offsetSets.push_back(ldm);
    }
    const int64_t head = options.deep ? kDeepHeadSectors : kHeadSectors;
    std::vector<std::pair<Trial, Evidence>> scored;
    DataSearch search(sampler, options);
    bool allNothing = true;
    for (const auto& offsets : offsetSets) {
        for (size_t m = 0; m < n; ++m)
            if (sampler.present(m) && offsets[m] >= sampler.sectors(m)) {
                report.notes.push_back(report.members[m].name + ": offset " + std::to_string(offsets[m]) +
                                       " lies past its end");
                return;
            }
        int64_t largestOffset = 0;
        for (int64_t o : offsets) largestOffset = std::max(largestOffset, o);
        sampler.limitTo(0);
        sampler.setBudget(static_cast<int64_t>(n) * ((largestOffset + head + 2048) / MemberSampler::kBlockSectors + 4 +
                                                     (options.deep ? kDeepParityWindows : kParityWindows) * 2));
        bool nothing = false;
        std::vector<int> levels = search.levels(offsets, report.notes, &nothing);
        allNothing = allNothing && nothing;
        if (!nothing && options.level >= 0) levels = givenLevel(options.level, levels, sampler, report.notes);
        const auto orders = memberOrders(n, report.notes);
        std::vector<int64_t> stripes(std::begin(kStripes), std::end(kStripes));
        if (options.stripeSectors > 0) stripes = {options.stripeSectors};
        for (int level : levels) {
            std::vector<int> layouts = level == 5 ? std::vector<int>(std::begin(kLayouts), std::end(kLayouts)) : std::vector<int>{0};
            if (level == 5 && options.layout > 0) layouts = {options.layout};
            for (int layout : layouts) {
                for (int64_t stripe : stripes) {
                    for (const auto& order : orders) {
                        Trial t;
                        t.parameters.level = level;
                        t.parameters.layout = layout;
                        t.parameters.stripeSectors = stripe;
                        t.parameters.order = order;
                        t.memberOffsets = offsets;
                        for (int i : order) t.parameters.offsets.push_back(offsets[static_cast<size_t>(i)]);
                        // The first pass sees only the heads, so every trial sees the same bytes.
                        sampler.limitTo(largestOffset + head);
                        Evidence e = search.score(t, false);
                        scored.emplace_back(std::move(t), std::move(e));
                    }
                }
            }
        }
    }
    if (allNothing) {
        report.verdict = "cannot tell: the members hold no evidence (all the sampled sectors are zero)";
        return;
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.second.score > b.second.score; });
    if (scored.empty() || scored.front().second.score < kMinScore) {
        if (report.verdict.empty())
            report.verdict = "cannot tell: no partition table, boot sector or file-system structure shows up under "
                             "any member order, stripe unit or layout tried" +
                             std::string(searchNote(options).empty() ? "" : " (the search was limited to what was given)");
        return;
    }
    // Second pass: the best of the first look further (mirrors, backup boot sectors,
    // superblock copies), with a budget of blocks.
    sampler.limitTo(0);
    sampler.setBudget(options.deep ? kDeepFarBlocks : kFarBlocks);
    const size_t finalists = std::min(scored.size(), kFinalists);
    for (size_t i = 0; i < finalists; ++i) scored[i].second = search.score(scored[i].first, true);
    std::stable_sort(scored.begin(), scored.begin() + static_cast<std::ptrdiff_t>(finalists),
                     [](const auto& a, const auto& b) { return a.second.score > b.second.score; });
    for (size_t i = 0; i < finalists && report.candidates.size() < kReported; ++i) {
        Candidate c;
        c.parameters = scored[i].first.parameters;
        c.score = scored[i].second.score;
        c.evidence = scored[i].second.findings;
        bool seen = false;
        for (const auto& other : report.candidates) seen = seen || sameGeometry(other.parameters, c.parameters);
        if (!seen) report.candidates.push_back(std::move(c));
    }
    const int64_t best = report.candidates.front().score;
    const int64_t second = report.candidates.size() > 1 ? std::max<int64_t>(report.candidates[1].score, 0) : 0;
    for (auto& c : report.candidates) c.confidence = c.score == best ? "low" : "unlikely";
    report.source = DetectReport::Source::Data;
    report.decided = true;
    if (best == second) {
        report.confidence = "low";
        report.verdict = "ambiguous: the best candidates score the same (" + std::to_string(best) +
                         "); the first one is proposed, check the others";
    } else {
        report.confidence = best - second >= 20 && best >= 30 ? "high" : (best - second >= 5 ? "medium" : "low");
        report.verdict = "from the data: the best candidate scores " + std::to_string(best) + ", the next " +
                         std::to_string(second);
    }
    report.candidates.front().confidence = report.confidence;
    // Limited to what the user gave, the best may still be wrong: when its structures break
    // in a tenth of their checks or more, nothing fits.
    const Evidence& top = scored.front().second;
    if (!searchNote(options).empty() && top.broke * 10 >= top.held + top.broke) {
        report.decided = false;
        report.verdict = "cannot tell: nothing fits what was given; the best candidate's structures break in " +
                         std::to_string(top.broke) + " of " + std::to_string(top.held + top.broke) + " checks";
    }
}

}  // namespace

DetectReport detectArray(const std::vector<std::string>& names, const DetectOptions& options) {
    std::vector<MemberReport> members;
    std::vector<std::unique_ptr<disk::readWriteInterface>> readers;
    for (const auto& name : names) {
        MemberReport m;
        m.name = name;
        m.missing = disk::FileReadSeekRaid::isMissingName(name) || disk::FileReadSeekRaid::isMissingName(name + " DISK");
        std::unique_ptr<disk::readWriteInterface> reader;
        if (!m.missing) {
            reader = openReader(name, options.vhd, &m.error);
            if (reader) {
                m.sizeSectors = reader->sizeBytes() / 512;
                examineMd(*reader, m);
                disk::FileReadSeekRaid prober(nullptr);
                m.ldmOffset = options.vhd ? prober.probeVhdMember(name) : prober.probeMember(name);
                m.ldm = prober.memberDataSize != 0;
            }
        }
        members.push_back(std::move(m));
        readers.push_back(std::move(reader));
    }
    DetectReport report;
    for (const auto& m : members)
        if (!m.error.empty()) {
            report.members = members;
            report.verdict = "cannot tell: " + m.error;
            return report;
        }
    if (auto fromMd = assembleFromMd(members)) return *fromMd;
    report.members = std::move(members);
    report.notes = untrustedNotes(report.members);
    const size_t present = static_cast<size_t>(std::count_if(report.members.begin(), report.members.end(),
                                                             [](const MemberReport& m) { return !m.missing; }));
    if (report.members.size() < 2) {
        report.verdict = "cannot tell: one member alone carries no metadata of an array; a RAID-0 needs two members, "
                         "a RAID-5 three";
        return report;
    }
    if (present == 0) {
        report.verdict = "cannot tell: every member is MISSING";
        return report;
    }
    if ((options.level != -1 && options.level != 0 && options.level != 5) || options.layout < 0 || options.layout > 4 ||
        options.stripeSectors < 0) {
        report.verdict = "cannot tell: only RAID-0 and RAID-5 (layouts 1 to 4, a stripe unit of 1 sector or more) are "
                         "searched";
        return report;
    }
    if (!options.offsets.empty() && options.offsets.size() != report.members.size()) {
        report.verdict = "cannot tell: " + std::to_string(options.offsets.size()) + " offsets for " +
                         std::to_string(report.members.size()) + " members";
        return report;
    }
    MemberSampler sampler(std::move(readers));
    detectFromData(report, sampler, options);
    report.bytesRead = sampler.bytesRead();
    if (!report.decided && report.verdict.empty())
        report.verdict = "cannot tell: nothing in the members points to one geometry";
    return report;
}

}  // namespace quenlow::detect
