#include "detect/DiskEvidence.h"

#include <algorithm>
#include <cstring>
#include <span>

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

// Points for a structure found where it belongs, and for its checks.
constexpr int64_t kBoot = 10;
constexpr int64_t kCopy = 10;
constexpr int64_t kBrokenCopy = -5;

bool allZero(const uint8_t* p) {
    for (size_t i = 0; i < 512; ++i)
        if (p[i] != 0) return false;
    return true;
}

bool isFat(const uint8_t* p) {
    const auto v = volumes::BootSector::classify(p, volumes::BootSector::Rules::Scan);
    return v.family == volumes::BootSector::Family::Fat && v.record && !volumes::BootSector::isExfat(p);
}

bool fits(uint64_t sector) { return sector < static_cast<uint64_t>(kLargestSector); }

class Scorer {
public:
    Scorer(const SectorView& view, bool far) : view_(view), far_(far) {}

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
    const uint8_t* at(int64_t sector) const {
        return sector >= 0 && fits(static_cast<uint64_t>(sector)) ? view_(sector) : nullptr;
    }
    void add(int64_t points, std::string text) {
        out_.score += points;
        if (!text.empty()) out_.findings.push_back(std::move(text));
    }
    void addVolume(uint64_t start) {
        if (start == 0 || !fits(start) || volumes_.size() >= kMaxVolumes) return;
        if (std::find(volumes_.begin(), volumes_.end(), static_cast<int64_t>(start)) == volumes_.end())
            volumes_.push_back(static_cast<int64_t>(start));
    }

    bool volumeAt(int64_t start) const {
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
            add(kCopy, what + " at sector " + std::to_string(sector));
        else
            add(kBrokenCopy, "");
    }

    void ntfs(int64_t start, const uint8_t* boot) {
        const auto b = volumes::NtfsBootSector::parse({boot, 512});
        const uint64_t factor = b.bytesPerSector >= 512 && b.bytesPerSector % 512 == 0 ? b.bytesPerSector / 512 : 1;
        const uint64_t spc = b.sectorsPerCluster() * factor;
        uint64_t record = b.recordBytes() / 512;
        if (record == 0 || record > 128) record = 2;
        if (spc == 0 || spc > 65536 || b.mftCluster > (uint64_t{1} << 36) || b.mftMirrorCluster > (uint64_t{1} << 36))
            return;
        const int64_t mft = start + static_cast<int64_t>(b.mftCluster * spc);
        int64_t inOrder = 0, wrong = 0, misses = 0, indexGood = 0, indexBad = 0;
        int folders = 0;
        for (int64_t i = 0; i < kMaxMftRecords && misses < 16; ++i) {
            const int64_t sector = mft + i * static_cast<int64_t>(record);
            const uint8_t* p = at(sector);
            if (p == nullptr) break;
            ByteReader r(p, 512);
            if (!r.equals(0, "FILE")) {
                ++misses;
                if (!allZero(p)) ++wrong;
                continue;
            }
            misses = 0;
            const bool numbered = r.le32(0x2C) == static_cast<uint32_t>(i);
            (numbered ? inOrder : wrong) += 1;
            // A folder in use: its first index block says "INDX" at VCN 0.
            if (!numbered || (r.le16(22) & 3) != 3 || record != 2 || folders >= kMaxFolders) continue;
            const uint8_t* second = at(sector + 1);
            if (second == nullptr) continue;
            uint8_t bytes[1024];
            std::memcpy(bytes, p, 512);
            std::memcpy(bytes + 512, second, 512);
            const fs::NtfsRecord rec(bytes, sizeof bytes);
            fs::NtfsAttribute index;
            if (!rec.firstNonResident(0xA0, index)) continue;
            const auto runs = rec.runsOf(index);
            if (runs.empty() || runs.front().sparse || runs.front().cluster <= 0 ||
                static_cast<uint64_t>(runs.front().cluster) > (uint64_t{1} << 36))
                continue;
            const uint8_t* block = at(start + runs.front().cluster * static_cast<int64_t>(spc));
            if (block == nullptr) continue;
            ++folders;
            ByteReader b(block, 512);
            (b.equals(0, "INDX") && b.le64(0x10) == 0 ? indexGood : indexBad) += 1;
        }
        if (indexGood + indexBad > 0)
            add(kFolder * (indexGood - indexBad), std::to_string(indexGood) + " folders whose index blocks lie where their records say");
        add(inOrder - 2 * wrong, std::to_string(inOrder) + " MFT records in order from sector " + std::to_string(mft) +
                                     (wrong > 0 ? " (" + std::to_string(wrong) + " out of place)" : ""));
        if (!far_) return;
        const int64_t mirror = start + static_cast<int64_t>(b.mftMirrorCluster * spc);
        if (const uint8_t* p = at(mirror); p != nullptr) {
            ByteReader r(p, 512);
            if (r.equals(0, "FILE") && r.le32(0x2C) == 0)
                add(kCopy, "the MFT mirror at sector " + std::to_string(mirror));
            else
                add(kBrokenCopy, "");
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
                if (allZero(a) && allZero(c)) continue;
                (std::memcmp(a, c, 512) == 0 ? same : differ) += 1;
            }
            // Copies may legitimately differ (one damaged, one not yet written back): only
            // agreement counts.
            add(same, std::to_string(same) + " FAT sectors equal in both copies" +
                                       (differ > 0 ? " (" + std::to_string(differ) + " differ)" : ""));
        }
        chains(fat1, fatSectors, b.sectorsPerFat16 == 0 ? 4 : 2);
        const int64_t afterFats = fat1 + int64_t{b.fatCount} * fatSectors;
        const int64_t spc = int64_t{b.sectorsPerCluster} * factor;
        const int64_t root = b.sectorsPerFat16 == 0 && b.rootCluster >= 2
                                 ? afterFats + (int64_t{b.rootCluster} - 2) * spc
                                 : afterFats;
        const int64_t dataStart = b.sectorsPerFat16 == 0
                                      ? afterFats
                                      : afterFats + (int64_t{b.rootEntries} * 32 + 511) / 512 * factor;
        directory(root, dataStart, spc);
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
            ByteReader r(p, 512);
            int64_t here = 0, elsewhere = 0, lastBase = -1;
            for (int64_t k = 0; k < perSector; ++k) {
                const uint32_t v = width == 4 ? r.le32(static_cast<size_t>(k) * 4) & 0x0FFFFFFF
                                              : r.le16(static_cast<size_t>(k) * 2);
                const int64_t e = j * perSector + k;
                if (v == 0 || v >= (width == 4 ? 0x0FFFFFF7u : 0xFFF7u)) continue;
                const int64_t base = int64_t{v} - 1 - k;  // where this run would start
                if (base == j * perSector) {
                    ++here;
                } else if (base == lastBase) {
                    ++elsewhere;
                }
                lastBase = base;
                (void)e;
            }
            if (here >= 8) ++good;
            else if (elsewhere >= 8 && here == 0) ++bad;
        }
        if (good + bad > 0)
            add(good - 2 * bad, std::to_string(good) + " FAT sectors whose links run on from their own entries");
    }

    void directory(int64_t first, int64_t dataStart, int64_t spc) {
        int64_t good = 0, bad = 0;
        std::vector<uint32_t> folders;
        for (int64_t s = 0; s < 16; ++s) {
            const uint8_t* p = at(first + s);
            if (p == nullptr) break;
            for (size_t e = 0; e < 512; e += 32) {
                const uint8_t* d = p + e;
                if (d[0] == 0) {
                    s = 16;
                    break;
                }
                const bool sound = entrySound(d);
                (sound ? good : bad) += 1;
                const uint32_t cluster = (uint32_t{ByteReader(d, 32).le16(20)} << 16) | ByteReader(d, 32).le16(26);
                if (sound && d[11] != 0x0F && (d[11] & 0x10) != 0 && d[0] != '.' && d[0] != 0xE5 && cluster >= 2 &&
                    folders.size() < static_cast<size_t>(kMaxFolders))
                    folders.push_back(cluster);
            }
        }
        // Each sub-folder's first cluster starts with its "." entry naming that cluster.
        int64_t selfGood = 0, selfBad = 0;
        for (uint32_t cluster : folders) {
            const uint8_t* d = at(dataStart + (int64_t{cluster} - 2) * spc);
            if (d == nullptr) continue;
            ByteReader r(d, 32);
            const uint32_t self = (uint32_t{r.le16(20)} << 16) | r.le16(26);
            (r.equals(0, ".          ") && (d[11] & 0x10) != 0 && self == cluster ? selfGood : selfBad) += 1;
        }
        if (selfGood + selfBad > 0)
            add(kFolder * (selfGood - selfBad), std::to_string(selfGood) + " sub-folders whose '.' entry names their own cluster");
        if (good + bad > 0)
            add(std::min<int64_t>(good, 64) - 2 * bad, std::to_string(good) + " directory entries that parse at sector " +
                                                            std::to_string(first));
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
                add(kCopy, "the ext superblock copy of group " + std::to_string(g));
            else
                add(kBrokenCopy, "");
        }
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
    Evidence out_;
    std::vector<int64_t> volumes_;
};

}  // namespace

Evidence scoreDisk(const SectorView& view, bool far) { return Scorer(view, far).run(); }

}  // namespace quenlow::detect
