#include "detect/DiskEvidence.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <span>

#include "detect/SectorBytes.h"
#include "filesystems/ext/ExtGroupDescriptor.h"
#include "filesystems/ext/ExtSuperblock.h"
#include "filesystems/ntfs/NtfsRecord.h"
#include "platform/ByteReader.h"
#include "volumes/BootSector.h"
#include "volumes/FatBootSector.h"
#include "volumes/NtfsBootSector.h"

namespace quenlow::detect {

namespace {

using platform::ByteReader;

constexpr size_t kMaxVolumes = 16;
constexpr int kMaxBootRecords = 16;
constexpr int64_t kMaxMftRecords = 4096;
constexpr int64_t kMaxFatSectors = 4096;
constexpr uint64_t kMaxGroups = 8192;
// Folders whose own first block is checked, per volume.
constexpr int kMaxFolders = 32;
constexpr int64_t kFolder = 3;
constexpr int64_t kLargestSector = int64_t{1} << 48;  // sector numbers beyond are not a disk's
// Walks over a volume's structures: folders visited, index blocks and log pages looked at,
// FAT links followed, folder blocks read, inode types checked.
constexpr size_t kMaxWalkedFolders = 256;
constexpr int64_t kMaxIndexBlocks = 2048;
constexpr int64_t kMaxLogPages = 512;
constexpr int64_t kMaxUpcaseSectors = 256;
constexpr int64_t kMaxFolderClusters = 1024;
constexpr int64_t kMaxChainSteps = 16384;
constexpr int64_t kMaxFolderBlocks = 1024;
constexpr int64_t kMaxTypeChecks = 4096;
constexpr uint32_t kNotAtHand = 0xFFFFFFFF;

// Points for a structure found where it belongs, and for its checks.
constexpr int64_t kBoot = 10;
constexpr int64_t kCopy = 10;
constexpr int64_t kBrokenCopy = -5;

bool isFat(const uint8_t* p) {
    const auto v = volumes::BootSector::classify(p, volumes::BootSector::Rules::Scan);
    return v.family == volumes::BootSector::Family::Fat && v.record && !volumes::BootSector::isExfat(p);
}

bool fits(uint64_t sector) { return sector < static_cast<uint64_t>(kLargestSector); }

// Checks that held and checks that broke.
struct Tally {
    int64_t good = 0, bad = 0;
    void count(bool ok) { (ok ? good : bad) += 1; }
    // 1 held, -1 broke, 0 could not be told.
    void count(int verdict) {
        if (verdict != 0) count(verdict > 0);
    }
};

uint32_t fatEntryCluster(const uint8_t* d) {
    return (uint32_t{ByteReader(d, 32).le16(20)} << 16) | ByteReader(d, 32).le16(26);
}

class Scorer {
public:
    Scorer(const SectorView& view, bool far, int64_t probes) : view_(view), far_(far), probes_(probes) {}

    Evidence run() {
        const uint8_t* first = view_(0);
        if (first == nullptr) return std::move(out_);
        if (volumeAt(0)) {
            scoreVolume(0);
        } else if (first[510] == 0x55 && first[511] == 0xAA) {
            listTable(first);
            for (int64_t start : volumes_) scoreVolume(start);
        }
        return std::move(out_);
    }

private:
    // A sector of the disk; null when it is not at hand or the probes are spent.
    const uint8_t* at(int64_t sector) {
        if (sector < 0 || !fits(static_cast<uint64_t>(sector)) || probes_ <= 0) return nullptr;
        --probes_;
        return view_(sector);
    }
    // `count` consecutive sectors into `out`; false when one is not at hand.
    bool gather(int64_t sector, int64_t count, uint8_t* out) {
        for (int64_t i = 0; i < count; ++i) {
            const uint8_t* p = at(sector + i);
            if (p == nullptr) return false;
            std::memcpy(out + i * 512, p, 512);
        }
        return true;
    }
    void add(int64_t points, std::string text) {
        out_.score += points;
        if (!text.empty()) out_.findings.push_back(std::move(text));
    }
    // A copy or mirror at hand that matches.
    void held(int64_t points, std::string text) {
        ++out_.held;
        add(points, std::move(text));
    }
    // A copy or mirror at hand that does not match.
    void broken() {
        ++out_.broke;
        add(kBrokenCopy, "");
    }
    // `weight` points for each check that held, twice that off for each that broke.
    void add(const Tally& t, int64_t weight, const std::string& what) {
        if (t.good + t.bad == 0) return;
        out_.held += t.good;
        out_.broke += t.bad;
        add(weight * (t.good - 2 * t.bad),
            std::to_string(t.good) + " " + what + (t.bad > 0 ? " (" + std::to_string(t.bad) + " not)" : ""));
    }
    void addVolume(uint64_t start) {
        if (start == 0 || !fits(start) || volumes_.size() >= kMaxVolumes) return;
        if (std::find(volumes_.begin(), volumes_.end(), static_cast<int64_t>(start)) == volumes_.end())
            volumes_.push_back(static_cast<int64_t>(start));
    }

    bool volumeAt(int64_t start) {
        const uint8_t* p = at(start);
        if (p == nullptr) return false;
        if (std::memcmp(p + 3, "NTFS", 4) == 0 || volumes::BootSector::isExfat(p) ||
            isFat(p))
            return true;
        const uint8_t* sb = at(start + 2);
        return sb != nullptr && (ByteReader(sb, 512).le16(56) == fs::ExtSuperblock::kMagic ||
                                 volumes::BootSector::hasHfsPlusSignature(sb));
    }

    void listTable(const uint8_t* mbr) {
        ByteReader r(mbr, 512);
        int entries = 0;
        for (size_t e = 0; e < 4; ++e) {
            const size_t o = 446 + 16 * e;
            const uint8_t type = r.u8(o + 4);
            const uint32_t start = r.le32(o + 8);
            if (type == 0 || start == 0) continue;
            ++entries;
            if (type == 0xEE)
                listGpt();
            else if (type == 0x05 || type == 0x0F || type == 0x85)
                listExtended(start);
            else
                addVolume(start);
        }
        if (entries > 0) add(2, "a partition table at sector 0");
    }

    void listGpt() {
        const uint8_t* h = at(1);
        if (h == nullptr) return;
        ByteReader r(h, 512);
        if (!r.equals(0, "EFI PART")) return;
        add(5, "a GPT header at sector 1");
        const uint64_t lba = r.le64(72);
        const uint32_t count = std::min<uint32_t>(r.le32(80), 128);
        const uint32_t size = r.le32(84);
        if (size < 128 || size > 512 || 512 % size != 0 || !fits(lba)) return;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* p = at(static_cast<int64_t>(lba) + i * size / 512);
            if (p == nullptr) return;
            ByteReader e(p + (i * size) % 512, size);
            bool used = false;
            for (size_t b = 0; b < 16; ++b) used = used || e.u8(b) != 0;
            if (used) addVolume(e.le64(32));
        }
    }

    void listExtended(uint32_t base) {
        uint64_t ebr = base;
        for (int i = 0; i < kMaxBootRecords && fits(ebr); ++i) {
            const uint8_t* p = at(static_cast<int64_t>(ebr));
            if (p == nullptr || p[510] != 0x55 || p[511] != 0xAA) return;
            ByteReader r(p, 512);
            if (r.u8(446 + 4) != 0 && r.le32(446 + 8) != 0) addVolume(ebr + r.le32(446 + 8));
            const uint32_t next = r.le32(462 + 8);
            if (r.u8(462 + 4) == 0 || next == 0) return;
            ebr = uint64_t{base} + next;
        }
    }

    void scoreVolume(int64_t start) {
        const uint8_t* p = at(start);
        if (p == nullptr) return;
        const std::string where = " at sector " + std::to_string(start);
        if (std::memcmp(p + 3, "NTFS    ", 8) == 0 && p[510] == 0x55 && p[511] == 0xAA) {
            add(kBoot, "NTFS boot sector" + where);
            ntfs(start, p);
        } else if (volumes::BootSector::isExfat(p)) {
            add(kBoot, "exFAT boot sector" + where);
            exfat(start, p);
        } else if (isFat(p)) {
            add(kBoot, volumes::BootSector::classify(p, volumes::BootSector::Rules::Scan).fileSystem + " boot sector" + where);
            fat(start, p);
        } else if (const uint8_t* sb = at(start + 2); sb != nullptr && volumes::BootSector::hasHfsPlusSignature(sb)) {
            add(kBoot, "HFS+ volume header" + where);
        } else {
            ext(start);
        }
    }

    // Whether the copy at `sector` holds the same bytes as `original`: points when it does,
    // a penalty when it is at hand and differs.
    void copy(int64_t sector, const uint8_t* original, const std::string& what) {
        if (!far_) return;
        const uint8_t* p = at(sector);
        if (p == nullptr) return;
        if (std::memcmp(p, original, 512) == 0)
            held(kCopy, what + " at sector " + std::to_string(sector));
        else
            broken();
    }

    void ntfs(int64_t start, const uint8_t* boot) {
        const auto b = volumes::NtfsBootSector::parse({boot, 512});
        const uint64_t factor = b.bytesPerSector >= 512 && b.bytesPerSector % 512 == 0 ? b.bytesPerSector / 512 : 1;
        const int64_t spc = static_cast<int64_t>(b.sectorsPerCluster() * factor);
        int64_t record = static_cast<int64_t>(b.recordBytes() / 512);
        if (record == 0 || record > 128) record = 2;
        if (spc == 0 || spc > 65536 || b.mftCluster > (uint64_t{1} << 36) || b.mftMirrorCluster > (uint64_t{1} << 36))
            return;
        // Index blocks: clusters per block, or 2^-n bytes when negative.
        const int8_t indexField = static_cast<int8_t>(boot[0x44]);
        const int64_t indexSectors = indexField < 0 ? (indexField >= -16 ? (int64_t{1} << -indexField) / 512 : 0)
                                                    : int64_t{indexField} * spc;
        const int64_t mft = start + static_cast<int64_t>(b.mftCluster) * spc;
        std::vector<uint8_t> bytes(static_cast<size_t>(record) * 512);
        // The $MFT's own runs (record 0), else the records from its first cluster on.
        std::vector<fs::NtfsRun> mftRuns;
        if (gather(mft, record, bytes.data())) {
            const fs::NtfsRecord r(bytes.data(), bytes.size());
            fs::NtfsAttribute data;
            if (r.isFile() && r.recordNumber() == 0 && r.firstNonResident(0x80, data)) mftRuns = r.runsOf(data);
        }
        if (mftRuns.empty())
            mftRuns.push_back({static_cast<int64_t>(b.mftCluster), static_cast<uint64_t>(kMaxMftRecords * record / spc + 1), false});
        const auto usable = [&](const fs::NtfsRun& run) {
            return !run.sparse && run.cluster > 0 && static_cast<uint64_t>(run.cluster) < (uint64_t{1} << 36) &&
                   run.length < (uint64_t{1} << 36);
        };
        Tally numbered, indexes, log, upcase;
        std::vector<std::vector<fs::NtfsRun>> folders;
        std::vector<fs::NtfsRun> logRuns, upcaseRuns;
        int64_t i = 0, misses = 0;
        for (const auto& run : mftRuns) {
            const int64_t count = static_cast<int64_t>(std::min<uint64_t>(run.length, 1 << 20)) * spc / record;
            for (int64_t k = 0; k < count && i < kMaxMftRecords && misses < 64; ++k, ++i) {
                if (!usable(run) || !gather(start + run.cluster * spc + k * record, record, bytes.data())) continue;
                ByteReader r(bytes.data(), bytes.size());
                if (!r.equals(0, "FILE")) {
                    ++misses;
                    if (!zeroSector(bytes.data())) numbered.count(false);
                    continue;
                }
                misses = 0;
                // Records of NTFS before 3.1 keep no number (their fixups start at 0x2A);
                // records formatted but never used (the reserved ones after the system
                // files) may carry number 0: neither tells its place.
                const bool numberedFormat = r.le16(4) >= 0x30;
                const bool inPlace = !numberedFormat || r.le32(0x2C) == static_cast<uint32_t>(i);
                if (!inPlace && r.le32(0x2C) == 0 && (r.le16(0x16) & 1) == 0) continue;
                if (numberedFormat) numbered.count(inPlace);
                if (!inPlace) continue;
                const fs::NtfsRecord rec(bytes.data(), bytes.size());
                fs::NtfsAttribute a;
                if (!rec.inUse()) continue;
                if (i == 2 && rec.firstNonResident(0x80, a)) logRuns = rec.runsOf(a);
                if (i == 10 && rec.firstNonResident(0x80, a)) upcaseRuns = rec.runsOf(a);
                if ((rec.headerFlags() & 2) != 0 && folders.size() < kMaxWalkedFolders && rec.firstNonResident(0xA0, a))
                    folders.push_back(rec.runsOf(a));
            }
        }
        add(numbered, 1, "MFT records in place (their own numbers) from sector " + std::to_string(mft));
        // Each folder's index blocks say "INDX" and their own VCN.
        int64_t blocks = 0;
        const int64_t step = std::max<int64_t>(1, indexSectors / spc);
        for (const auto& runs : folders) {
            int64_t vcn = 0;
            for (const auto& run : runs) {
                for (int64_t c = 0; usable(run) && c < static_cast<int64_t>(run.length) && blocks < kMaxIndexBlocks; c += step) {
                    const uint8_t* p = at(start + (run.cluster + c) * spc);
                    if (p == nullptr || zeroSector(p)) continue;
                    ++blocks;
                    ByteReader r(p, 512);
                    indexes.count(r.equals(0, "INDX") && (indexSectors < spc || r.le64(0x10) == static_cast<uint64_t>(vcn + c)));
                }
                vcn += static_cast<int64_t>(std::min<uint64_t>(run.length, 1 << 30));
            }
        }
        add(indexes, kFolder, "folder index blocks in place (their own VCNs)");
        // $LogFile: restart and record pages, or the 0xFF of a log never written.
        int64_t pages = 0;
        for (const auto& run : logRuns)
            for (int64_t s = 0; usable(run) && s < static_cast<int64_t>(run.length) * spc && pages < kMaxLogPages; s += 8, ++pages) {
                const uint8_t* p = at(start + run.cluster * spc + s);
                if (p == nullptr) continue;
                ByteReader r(p, 512);
                log.count(r.equals(0, "RSTR") || r.equals(0, "RCRD") || allBytes(p, 512, 0xFF));
            }
        add(log, 1, "$LogFile pages in place");
        // $UpCase: most characters map to themselves, so its sectors tell their own place.
        int64_t sector = 0;
        for (const auto& run : upcaseRuns)
            for (int64_t s = 0; usable(run) && s < static_cast<int64_t>(run.length) * spc && sector < kMaxUpcaseSectors; ++s, ++sector) {
                const uint8_t* p = at(start + run.cluster * spc + s);
                if (p == nullptr) continue;
                ByteReader r(p, 512);
                int same = 0;
                for (size_t j = 0; j < 256; ++j) same += r.le16(j * 2) == static_cast<uint16_t>(sector * 256 + static_cast<int64_t>(j)) ? 1 : 0;
                upcase.count(same >= 32);
            }
        add(upcase, 1, "$UpCase sectors in place");
        if (!far_) return;
        const int64_t mirror = start + static_cast<int64_t>(b.mftMirrorCluster) * spc;
        if (const uint8_t* p = at(mirror); p != nullptr) {
            ByteReader r(p, 512);
            if (r.equals(0, "FILE") && r.le32(0x2C) == 0)
                held(kCopy, "the MFT mirror at sector " + std::to_string(mirror));
            else
                broken();
        }
        if (fits(b.totalSectors)) copy(start + static_cast<int64_t>(b.totalSectors), boot, "the NTFS backup boot sector");
    }

    void exfat(int64_t start, const uint8_t* boot) {
        ByteReader r(boot, 512);
        const uint8_t* fat = at(start + r.le32(80));
        if (fat != nullptr && ByteReader(fat, 512).le32(0) == 0xFFFFFFF8) add(2, "the exFAT FAT's media entry");
        copy(start + 12, boot, "the exFAT backup boot sector");
    }

    void fat(int64_t start, const uint8_t* boot) {
        const auto b = volumes::FatBootSector::parse({boot, 512});
        const int64_t factor = b.bytesPerSector / 512;
        if (factor <= 0) return;
        const int64_t fatSectors = static_cast<int64_t>(b.sectorsPerFat()) * factor;
        const int64_t fat1 = start + int64_t{b.reservedSectors} * factor;
        int64_t same = 0, differ = 0;
        if (b.fatCount >= 2) {
            for (int64_t j = 0; j < std::min(fatSectors, kMaxFatSectors); ++j) {
                const uint8_t* a = at(fat1 + j);
                const uint8_t* c = at(fat1 + fatSectors + j);
                if (a == nullptr || c == nullptr) break;
                if (zeroSector(a) && zeroSector(c)) continue;
                (std::memcmp(a, c, 512) == 0 ? same : differ) += 1;
            }
            // Copies may legitimately differ (one damaged, one not yet written back), so a
            // sector that differs costs no more than one that agrees earns: it counts when a
            // geometry puts other data (a parity unit, another member's unit) into a copy.
            out_.held += same;
            out_.broke += differ;
            add(same - differ, std::to_string(same) + " FAT sectors equal in both copies" +
                                   (differ > 0 ? " (" + std::to_string(differ) + " differ)" : ""));
        }
        chains(fat1, fatSectors, b.sectorsPerFat16 == 0 ? 4 : 2);
        FatLayout f;
        f.fat1 = fat1;
        f.spc = int64_t{b.sectorsPerCluster} * factor;
        f.rootStart = fat1 + int64_t{b.fatCount} * fatSectors;
        f.rootSectors = b.sectorsPerFat16 == 0 ? 0 : (int64_t{b.rootEntries} * 32 + 511) / 512 * factor;
        f.dataStart = f.rootStart + f.rootSectors;
        const int64_t total = static_cast<int64_t>(b.totalSectors()) * factor;
        if (f.spc > 0 && total > f.dataStart - start) {
            const int64_t clusters = (total - (f.dataStart - start)) / f.spc;
            f.width = b.sectorsPerFat16 == 0 ? 4 : (clusters >= 4085 ? 2 : 0);
            f.clusters = static_cast<uint32_t>(std::min<int64_t>(clusters, 0x0FFFFFF0));
            f.clusterBytes = f.spc * 512;
            fatTree(f, b.sectorsPerFat16 == 0 ? b.rootCluster : 0);
        }
        if (b.sectorsPerFat16 == 0) copy(start + 6, boot, "the FAT32 backup boot sector");
    }

    // Files lie mostly in runs of clusters, so most links of a FAT sector point to the next
    // entry: entry e holds e + 1. A FAT sector from elsewhere in the FAT agrees on a run
    // that starts at another entry.
    void chains(int64_t fat1, int64_t fatSectors, size_t width) {
        const int64_t perSector = static_cast<int64_t>(512 / width);
        int64_t good = 0, bad = 0;
        for (int64_t j = 0; j < std::min(fatSectors, kMaxFatSectors); ++j) {
            const uint8_t* p = at(fat1 + j);
            if (p == nullptr) break;
            if (zeroSector(p)) continue;  // free clusters: no links
            int64_t here = 0, elsewhere = 0, lastBase = -1;
            for (int64_t k = 0; k < perSector; ++k) {
                const uint8_t* x = p + k * static_cast<int64_t>(width);
                const uint32_t low = uint32_t{x[0]} | uint32_t{x[1]} << 8;
                const uint32_t v = width == 4 ? (low | uint32_t{x[2]} << 16 | uint32_t{x[3]} << 24) & 0x0FFFFFFF : low;
                if (v == 0 || v >= (width == 4 ? 0x0FFFFFF7u : 0xFFF7u)) continue;
                const int64_t base = int64_t{v} - 1 - k;  // where this run would start
                if (base == j * perSector) {
                    ++here;
                } else if (base == lastBase) {
                    ++elsewhere;
                }
                lastBase = base;
            }
            if (here >= 8) ++good;
            else if (elsewhere >= 8 && here == 0) ++bad;
        }
        if (good + bad > 0)
            add(good - 2 * bad, std::to_string(good) + " FAT sectors whose links run on from their own entries");
    }

    struct FatLayout {
        int64_t fat1 = 0, spc = 0, rootStart = 0, rootSectors = 0, dataStart = 0, clusterBytes = 0;
        size_t width = 0;  // bytes per FAT entry; 0: FAT12, whose links are not followed
        uint32_t clusters = 0;
        bool end(uint32_t v) const { return v >= (width == 4 ? 0x0FFFFFF8u : 0xFFF8u); }
        bool inside(uint32_t v) const { return v >= 2 && v - 2 < clusters; }
    };

    // The FAT's entry for `cluster`, kNotAtHand when its sector is not.
    uint32_t fatEntry(const FatLayout& f, uint32_t cluster) {
        const uint64_t byte = uint64_t{cluster} * f.width;
        const uint8_t* p = at(f.fat1 + static_cast<int64_t>(byte / 512));
        if (p == nullptr) return kNotAtHand;
        ByteReader r(p, 512);
        return f.width == 4 ? r.le32(byte % 512) & 0x0FFFFFFF : r.le16(byte % 512);
    }

    // Whether the chain from `cluster` holds `size` bytes and ends there.
    int chainHolds(const FatLayout& f, uint32_t cluster, uint64_t size, int64_t& steps) {
        const uint64_t need = (size + static_cast<uint64_t>(f.clusterBytes) - 1) / static_cast<uint64_t>(f.clusterBytes);
        for (uint64_t k = 1;; ++k) {
            if (++steps > kMaxChainSteps) return 0;
            const uint32_t v = fatEntry(f, cluster);
            if (v == kNotAtHand) return 0;
            if (f.end(v)) return k == need ? 1 : -1;
            if (!f.inside(v) || k >= need) return -1;
            cluster = v;
        }
    }

    // The folder tree from the root, in the clusters the FAT chains give: every sector of a
    // folder parses as entries, each sub-folder's "." and ".." name its own and its parent's
    // cluster, each file's chain holds its size.
    void fatTree(const FatLayout& f, uint32_t rootCluster) {
        struct Folder {
            uint32_t cluster, parent;
        };
        std::vector<Folder> queue{{rootCluster, 0}};
        std::set<uint32_t> seen{rootCluster};
        Tally sectors, selves, chains;
        int64_t steps = 0;
        for (size_t q = 0; q < queue.size(); ++q) {
            const Folder folder = queue[q];
            uint32_t cluster = folder.cluster;
            bool ended = false;
            for (int64_t n = 0; n < kMaxFolderClusters && !ended; ++n) {
                if (cluster != 0 && !f.inside(cluster)) {
                    chains.count(false);
                    break;
                }
                const int64_t first = cluster == 0 ? f.rootStart : f.dataStart + (int64_t{cluster} - 2) * f.spc;
                const int64_t count = cluster == 0 ? f.rootSectors : f.spc;
                for (int64_t s = 0; s < count && !ended; ++s) {
                    const uint8_t* p = at(first + s);
                    if (p == nullptr) {
                        ended = true;
                        break;
                    }
                    bool sound = true;
                    int entries = 0;
                    for (size_t e = 0; e < 512; e += 32) {
                        const uint8_t* d = p + e;
                        if (d[0] == 0) {
                            ended = true;
                            break;
                        }
                        ++entries;
                        if (!entrySound(d)) {
                            sound = false;
                            continue;
                        }
                        const uint32_t c = fatEntryCluster(d);
                        if (q > 0 && n == 0 && s == 0 && e < 64) {
                            const bool parentIsRoot = folder.parent == rootCluster;
                            const uint32_t want = e == 0 ? folder.cluster : folder.parent;
                            selves.count(d[0] == '.' && (d[11] & 0x10) != 0 &&
                                         (c == want || (e > 0 && parentIsRoot && c == 0)));
                            continue;
                        }
                        if (d[11] == 0x0F || d[0] == 0xE5 || d[0] == '.' || (d[11] & 0x08) != 0 || c < 2) continue;
                        if ((d[11] & 0x10) != 0) {
                            if (queue.size() < kMaxWalkedFolders && seen.insert(c).second) queue.push_back({c, folder.cluster});
                        } else if (const uint32_t size = ByteReader(d, 32).le32(28); size > 0 && f.width != 0) {
                            chains.count(chainHolds(f, c, size, steps));
                        }
                    }
                    if (entries > 0) sectors.count(sound);
                }
                if (cluster == 0 || f.width == 0) break;
                const uint32_t next = fatEntry(f, cluster);
                if (next == kNotAtHand || f.end(next)) break;
                cluster = next;
            }
        }
        add(sectors, 1, "folder sectors whose entries parse");
        add(selves, kFolder, "'.' and '..' entries that name their folder's and its parent's cluster");
        add(chains, 1, "files whose FAT chains hold their sizes");
    }

    static bool entrySound(const uint8_t* d) {
        if (d[11] == 0x0F) return ((d[0] & 0x1F) >= 1 && (d[0] & 0x1F) <= 20) && d[26] == 0 && d[27] == 0;
        if ((d[11] & 0xC0) != 0) return false;
        for (size_t i = 0; i < 11; ++i) {
            const uint8_t c = d[i];
            if (i == 0 && (c == 0xE5 || c == 0x05 || c == '.')) continue;
            if (c < 0x20 || std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr || (c == '.' && i > 0 && d[0] != '.'))
                return false;
        }
        return true;
    }

    void ext(int64_t start) {
        const uint8_t* a = at(start + 2);
        const uint8_t* c = at(start + 3);
        if (a == nullptr || c == nullptr) return;
        uint8_t bytes[1024];
        std::memcpy(bytes, a, 512);
        std::memcpy(bytes + 512, c, 512);
        const auto sb = fs::ExtSuperblock::parse({bytes, sizeof bytes});
        if (sb.magic != fs::ExtSuperblock::kMagic || !sb.plausible()) return;
        add(kBoot, "ext superblock at sector " + std::to_string(start + 2));
        const int64_t spb = sb.blockSize() / 512;
        const uint64_t groups = std::min(sb.groupCount(), kMaxGroups);
        const int64_t gdt = start + (int64_t{sb.firstDataBlock} + 1) * spb;
        const size_t desc = sb.descSize;
        if (desc == 0 || desc > 512) return;
        int64_t good = 0, bad = 0;
        uint64_t previous = 0, firstTable = 0;
        for (uint64_t g = 0; g < groups; ++g) {
            const uint64_t byte = g * desc;
            const uint8_t* p = at(gdt + static_cast<int64_t>(byte / 512));
            if (p == nullptr) break;
            const auto d = fs::ExtGroupDescriptor::parse({p + byte % 512, desc}, sb.wide());
            const bool sound = d.inodeTable > 0 && d.inodeTable < sb.blocksCount && d.inodeTable >= previous;
            (sound ? good : bad) += 1;
            if (g == 0) firstTable = d.inodeTable;
            previous = d.inodeTable;
        }
        add(good - 2 * bad, std::to_string(good) + " group descriptors in order at sector " + std::to_string(gdt));
        if (firstTable > 0 && fits(firstTable * static_cast<uint64_t>(spb)))
            inodes(start + static_cast<int64_t>(firstTable) * spb, sb, start);
        ExtLayout x{start, spb, gdt, desc, sb, {}};
        if (sb.inodesPerGroup > 0 && sb.inodeSize >= 128 && sb.inodeSize <= 512 && fits(sb.blocksCount * static_cast<uint64_t>(spb)))
            extTree(x);
        if (!far_) return;
        const bool sparse = (sb.featureRoCompat & 0x1) != 0;
        static constexpr uint64_t kSparse[] = {1, 3, 5, 7, 9, 25, 27, 49, 81, 125};
        for (size_t i = 0; i < (sparse ? std::size(kSparse) : 9); ++i) {
            const uint64_t g = sparse ? kSparse[i] : i + 1;
            if (g >= groups) break;
            const uint64_t block = g * sb.blocksPerGroup + sb.firstDataBlock;
            if (!fits(block * static_cast<uint64_t>(spb))) break;
            const uint8_t* p = at(start + static_cast<int64_t>(block) * spb);
            if (p == nullptr) continue;
            ByteReader r(p, 512);
            if (r.le16(56) == fs::ExtSuperblock::kMagic && r.le16(0x5A) == g)
                held(kCopy, "the ext superblock copy of group " + std::to_string(g));
            else
                broken();
        }
    }

    struct ExtLayout {
        int64_t start, spb, gdt;
        size_t desc;
        fs::ExtSuperblock sb;
        std::map<uint64_t, uint64_t> tables;  // group -> first block of its inode table
    };

    // Inode `n` from its group's table into `out` (inodeSize bytes); false when not at hand.
    bool extInode(ExtLayout& x, uint32_t n, uint8_t* out) {
        if (n == 0 || n > x.sb.inodesCount) return false;
        const uint64_t group = (n - 1) / x.sb.inodesPerGroup, index = (n - 1) % x.sb.inodesPerGroup;
        auto it = x.tables.find(group);
        if (it == x.tables.end()) {
            const uint64_t byte = group * x.desc;
            const uint8_t* p = at(x.gdt + static_cast<int64_t>(byte / 512));
            if (p == nullptr || byte % 512 + x.desc > 512) return false;
            it = x.tables.emplace(group, fs::ExtGroupDescriptor::parse({p + byte % 512, x.desc}, x.sb.wide()).inodeTable).first;
        }
        if (it->second == 0 || it->second >= x.sb.blocksCount) return false;
        const uint64_t byte = it->second * static_cast<uint64_t>(x.spb) * 512 + index * x.sb.inodeSize;
        const uint8_t* p = at(x.start + static_cast<int64_t>(byte / 512));
        if (p == nullptr || byte % 512 + x.sb.inodeSize > 512) return false;
        std::memcpy(out, p + byte % 512, x.sb.inodeSize);
        return true;
    }

    // The blocks of a folder inode in logical order (holes left out), at most `limit`;
    // logical block 0 first when the folder has it.
    std::vector<std::pair<uint64_t, uint64_t>> extBlocks(const uint8_t* inode, size_t limit) {
        std::vector<std::pair<uint64_t, uint64_t>> out;  // logical, physical
        ByteReader r(inode, 128);
        const uint32_t flags = r.le32(32);
        if ((flags & 0x10000000) != 0) return out;  // inline data
        if ((flags & 0x80000) == 0) {
            for (size_t k = 0; k < 12; ++k)
                if (const uint32_t b = r.le32(40 + 4 * k); b != 0) out.emplace_back(k, b);
            return out;
        }
        const auto leaf = [&](const ByteReader& h, size_t at, size_t room) {
            const size_t count = std::min<size_t>(h.le16(at + 2), (room - 12) / 12);
            for (size_t e = 0; e < count && out.size() < limit; ++e) {
                const size_t o = at + 12 + e * 12;
                const uint64_t logical = h.le32(o);
                uint32_t length = h.le16(o + 4);
                if (length > 32768) length -= 32768;
                const uint64_t physical = (uint64_t{h.le16(o + 6)} << 32) | h.le32(o + 8);
                for (uint32_t k = 0; k < length && out.size() < limit; ++k) out.emplace_back(logical + k, physical + k);
            }
        };
        if (r.le16(40) != 0xF30A) return out;
        if (r.le16(46) == 0) {
            leaf(r, 40, 60);
            return out;
        }
        // One level of index: the leaves' first sectors.
        const size_t count = std::min<size_t>(r.le16(42), 4);
        for (size_t e = 0; e < count && out.size() < limit; ++e) {
            const size_t o = 52 + e * 12;
            const uint64_t block = (uint64_t{r.le16(o + 8)} << 32) | r.le32(o + 4);
            if (!fits(block * static_cast<uint64_t>(spb_))) continue;
            const uint8_t* p = at(start_ + static_cast<int64_t>(block) * spb_);
            if (p == nullptr) continue;
            ByteReader h(p, 512);
            if (h.le16(0) == 0xF30A && h.le16(6) == 0) leaf(h, 0, 512);
        }
        return out;
    }

    // The folder tree from the root inode: every folder block's entries chain to its end,
    // each folder's first block names it in "." and its parent in "..", and the inodes the
    // entries name have the type the entries say.
    void extTree(ExtLayout& x) {
        const int64_t blockSectors = x.spb;
        if (blockSectors <= 0 || blockSectors > 128) return;
        start_ = x.start;
        spb_ = blockSectors;
        const size_t bs = static_cast<size_t>(blockSectors) * 512;
        std::vector<uint8_t> block(bs), inode(x.sb.inodeSize);
        std::vector<std::pair<uint32_t, uint32_t>> queue{{2, 2}};  // folder, parent
        std::set<uint32_t> seen{2};
        Tally chained, selves, types;
        int64_t blocks = 0, checks = 0;
        for (size_t q = 0; q < queue.size(); ++q) {
            const auto [self, parent] = queue[q];
            if (!extInode(x, self, inode.data()) || (ByteReader(inode.data(), 2).le16(0) & 0xF000) != 0x4000) continue;
            for (const auto& [logical, physical] : extBlocks(inode.data(), 64)) {
                if (blocks >= kMaxFolderBlocks || physical == 0 || physical >= x.sb.blocksCount) break;
                if (!gather(x.start + static_cast<int64_t>(physical) * blockSectors, blockSectors, block.data())) continue;
                ++blocks;
                ByteReader r(block.data(), bs);
                size_t off = 0;
                bool sound = true;
                while (off + 8 <= bs) {
                    const uint32_t number = r.le32(off);
                    const uint16_t len = r.le16(off + 4);
                    const uint8_t nameLength = r.u8(off + 6), type = r.u8(off + 7);
                    if (len < 8 || len % 4 != 0 || off + len > bs || size_t{nameLength} + 8 > len || number > x.sb.inodesCount) {
                        sound = false;
                        break;
                    }
                    const bool dot = nameLength == 1 && r.u8(off + 8) == '.';
                    const bool dotdot = nameLength == 2 && r.equals(off + 8, "..");
                    if (logical == 0 && off == 0) selves.count(dot && number == self);
                    if (logical == 0 && dot && off == 0)
                        selves.count(len + 12u <= bs && r.le32(len) == parent && r.u8(len + 6) == 2 && r.equals(len + 8, ".."));
                    if (number != 0 && !dot && !dotdot && x.sb.fileTypes() && (type == 1 || type == 2) && checks < kMaxTypeChecks) {
                        ++checks;
                        if (extInode(x, number, inode.data())) {
                            const uint16_t mode = ByteReader(inode.data(), 2).le16(0) & 0xF000;
                            types.count(mode == (type == 2 ? 0x4000 : 0x8000));
                        }
                        if (type == 2 && queue.size() < kMaxWalkedFolders && seen.insert(number).second)
                            queue.emplace_back(number, self);
                    }
                    off += len;
                }
                chained.count(sound && off == bs);
            }
        }
        add(chained, 1, "folder blocks whose entries chain to the block's end");
        add(selves, kFolder, "folders whose first block names them in '.' and their parent in '..'");
        add(types, 1, "folder entries whose inodes have the entry's type");
    }

    // Group 0's inode table: inodes in use carry a file type and, on ext4, an extent header;
    // the root folder's first block starts with "." and "..".
    void inodes(int64_t table, const fs::ExtSuperblock& sb, int64_t start) {
        const size_t size = sb.inodeSize;
        if (size < 128 || size > 512) return;
        int64_t good = 0, bad = 0, selfGood = 0, selfBad = 0;
        int folders = 0;
        const uint32_t count = std::min<uint32_t>(sb.inodesPerGroup, 1024);
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t byte = uint64_t{i} * size;
            const uint8_t* p = at(table + static_cast<int64_t>(byte / 512));
            if (p == nullptr) break;
            ByteReader r(p + byte % 512, size);
            const uint16_t mode = r.le16(0);
            if (mode == 0) continue;
            const uint16_t type = mode & 0xF000;
            const bool known = type == 0x4000 || type == 0x8000 || type == 0xA000 || type == 0x2000 ||
                               type == 0x6000 || type == 0x1000 || type == 0xC000;
            const bool extents = (r.le32(32) & 0x80000) != 0;
            (known && (!extents || r.le16(40) == 0xF30A) ? good : bad) += 1;
            if (type == 0x4000 && folders < kMaxFolders) {
                const int verdict = folderBlock(r, i + 1, sb, start);
                folders += verdict != 0 ? 1 : 0;
                (verdict > 0 ? selfGood : selfBad) += verdict != 0 ? 1 : 0;
            }
        }
        if (good + bad > 0)
            add(good - 2 * bad, std::to_string(good) + " inodes that parse at sector " + std::to_string(table));
        if (selfGood + selfBad > 0)
            add(kFolder * (selfGood - selfBad), std::to_string(selfGood) + " folders whose first block names them in '.'");
    }

    // A folder inode's first block: 1 when it starts with "." naming the inode and "..", -1
    // when it is at hand and does not, 0 when it cannot be told.
    int folderBlock(const ByteReader& inode, uint32_t number, const fs::ExtSuperblock& sb, int64_t start) {
        uint64_t block = inode.le32(40);
        if ((inode.le32(32) & 0x80000) != 0) {
            if (inode.le16(40) != 0xF30A || inode.le16(42) == 0 || inode.le16(46) != 0) return 0;
            block = (uint64_t{inode.le16(58)} << 32) | inode.le32(60);
        }
        const int64_t spb = sb.blockSize() / 512;
        if (block == 0 || block >= sb.blocksCount || !fits(block * static_cast<uint64_t>(spb))) return 0;
        const uint8_t* p = at(start + static_cast<int64_t>(block) * spb);
        if (p == nullptr) return 0;
        ByteReader r(p, 512);
        const uint16_t len = r.le16(4);
        return r.le32(0) == number && r.u8(6) == 1 && r.u8(8) == '.' && len >= 12 && len < 500 && r.u8(len + 6) == 2 &&
                       r.equals(len + 8, "..")
                   ? 1
                   : -1;
    }

    const SectorView& view_;
    bool far_;
    int64_t probes_;
    int64_t start_ = 0, spb_ = 0;  // the ext volume being walked: its start, sectors per block
    Evidence out_;
    std::vector<int64_t> volumes_;
};

}  // namespace

Evidence scoreDisk(const SectorView& view, bool far, int64_t probes) { return Scorer(view, far, probes).run(); }

}  // namespace quenlow::detect
