#include "volumes/Partition.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/ByteReader.h"
#include "platform/TextConvert.h"
#include "volumes/BootSector.h"

namespace quenlow::volumes {

namespace {

constexpr int64_t kMaxSectorForBytes = std::numeric_limits<int64_t>::max() / disk::kSectorSize;

// GPT header: the sector of the entry array. GPT entry: first and last sector.
constexpr size_t kGptEntryArray = 72;
constexpr size_t kGptFirstSector = 32;
constexpr size_t kGptLastSector = 40;
// MBR entry: first sector (relative) and sector count.
constexpr size_t kMbrFirstSector = 8;
constexpr size_t kMbrSectorCount = 12;

bool isExtended(unsigned char type) { return type == 0x05 || type == 0x0F; }

// The name of a GPT entry: UTF-16 at entry byte 56, up to 36 units, cut at the first NUL.
std::string entryName(const unsigned char* entry) {
    size_t units = 0;
    while (units < 36 && (entry[56 + 2 * units] != 0 || entry[57 + 2 * units] != 0)) ++units;
    return platform::utf16leToUtf8(entry + 56, units * 2);
}

}  // namespace

Partition::Partition(disk::readWriteInterface& disk, std::vector<VolumeRecord>& volumes,
                     Feedback& feedback, WorkControl* control)
    : disk_(disk), volumes_(volumes), feedback_(feedback), control_(control) {
    int64_t size = disk.sizeBytes();
    diskBytes_ = size > 0 ? static_cast<uint64_t>(size) : 0;
    totalSectors = diskBytes_ / disk::kSectorSize;
}

bool Partition::withinDisk(uint64_t offset, uint64_t count) const {
    if (diskBytes_ == 0) return true;
    return offset <= diskBytes_ && count <= diskBytes_ - offset;
}

bool Partition::readAt(int64_t offset, void* buffer, uint32_t count) {
    if (offset < 0 || !withinDisk(static_cast<uint64_t>(offset), count)) return false;
    errno = 0;
    if (!disk_.seek(offset, 0)) return false;
    return disk_.read(buffer, count);
}

int32_t Partition::failure() const { return errno != 0 ? errno : EIO; }

bool Partition::entryOnDisk(const std::string& what, uint64_t start, uint64_t sectors, bool warnRunningPast) {
    const uint64_t diskSectors = diskBytes_ / disk::kSectorSize;
    if (diskBytes_ == 0) return true;
    if (start >= diskSectors) {
        warnings_.push_back(what + " starts at sector " + std::to_string(start) + ", past the disk's end (" +
                            std::to_string(diskSectors) + " sectors): what it holds is not listed");
        return false;
    }
    if (warnRunningPast && sectors > diskSectors - start)
        warnings_.push_back(what + " covers sectors " + std::to_string(start) + " to " + std::to_string(start + sectors - 1) +
                            " and runs past the disk's end (" + std::to_string(diskSectors) + " sectors): its last " +
                            std::to_string(sectors - (diskSectors - start)) + " sectors cannot be read");
    return true;
}

namespace {

bool hasBootSignature(const unsigned char* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

std::string typeText(unsigned char type) {
    const char* digits = "0123456789ABCDEF";
    return std::string("type 0x") + digits[type >> 4] + digits[type & 15];
}

}  // namespace

void Partition::append(VolumeRecord record) {
    record.volumeNumber = std::to_string(nextNumber_++);
    volumes_.push_back(std::move(record));
}

bool Partition::isExfatBootSector(int64_t sector) {
    unsigned char s[disk::kSectorSize];
    if (sector < 0 || sector > kMaxSectorForBytes) return false;
    return readAt(sector * disk::kSectorSize, s, sizeof s) && BootSector::isExfat(s);
}

bool Partition::isHfsPlusAt(int64_t sector) {
    unsigned char s[disk::kSectorSize];
    if (sector < 0 || sector > kMaxSectorForBytes - 2) return false;
    return readAt((sector + 2) * disk::kSectorSize, s, sizeof s) && BootSector::hasHfsPlusSignature(s);
}

// ---------------------------------------------------------------- partition tables

int32_t Partition::listPartitions() {
    protectiveMbr = false;
    warnings_.clear();
    try {
        disk_.baseOffset = 0;
        unsigned char head[2 * disk::kSectorSize];
        bool haveHead = readAt(0, head, sizeof head);
        // The GPT signature decides nothing: the user says which table the disk has.
        if (haveHead && gptFormat) return listGpt(head + disk::kSectorSize);
        return listMbr();
    } catch (...) {
        return 0;
    }
}

int32_t Partition::listGpt(const unsigned char* header) {
    constexpr uint32_t kEntrySize = 128;
    constexpr uint32_t kEntriesRead = 80;
    constexpr uint32_t kEntriesUsed = 72;
    std::vector<unsigned char> entries(kEntrySize * kEntriesRead);
    uint64_t arraySector = platform::ByteReader(header, disk::kSectorSize).le64(kGptEntryArray);
    if (arraySector > static_cast<uint64_t>(kMaxSectorForBytes) ||
        !readAt(static_cast<int64_t>(arraySector) * disk::kSectorSize, entries.data(),
                static_cast<uint32_t>(entries.size())))
        return failure();

    std::vector<const unsigned char*> collected;
    for (uint32_t i = 0; i < kEntriesUsed; ++i) {
        const unsigned char* e = entries.data() + i * kEntrySize;
        if (e[0] == 0x30 || e[1] == 0x30 || e[2] == 0x30 || e[3] == 0x30) break;
        if (platform::ByteReader(e, kEntrySize).le64(kGptFirstSector) <= 2) break;
        collected.push_back(e);
    }

    int ntfsCount = 0;
    for (size_t index = 0; index < collected.size(); ++index) {
        const unsigned char* e = collected[index];
        const platform::ByteReader entry(e, kEntrySize);
        uint64_t first = entry.le64(kGptFirstSector);
        uint64_t last = entry.le64(kGptLastSector);
        if (last >= first)
            entryOnDisk("GPT entry " + std::to_string(index + 1), first, last - first + 1, true);
        unsigned char boot[disk::kSectorSize];
        bool haveBoot = first <= static_cast<uint64_t>(kMaxSectorForBytes) &&
                        readAt(static_cast<int64_t>(first) * disk::kSectorSize, boot, sizeof boot);
        std::string name = entryName(e);
        if (name == "Microsoft reserved partition") continue;
        if (!haveBoot) return failure();

        VolumeRecord record;
        record.startSector = static_cast<int64_t>(first);
        BootSector::Verdict v = BootSector::classify(boot, BootSector::Rules::Table);
        if (v.family == BootSector::Family::Ntfs) {
            if (v.record) {
                record.fileSystem = "NTFS";
                record.volumeSizeText = std::to_string(v.sizeMiB) + "   MB";
                append(std::move(record));
                feedback_.status("found NTFS " + std::to_string(++ntfsCount) + "...");
            }
            if (stopRequested()) return 0;
        } else if (v.family == BootSector::Family::Fat) {
            feedback_.status(v.status);
            if (v.record) {
                record.fileSystem = v.fileSystem;
                record.volumeSizeText = std::to_string(v.sizeMiB) + "  MB";
                append(std::move(record));
            }
            if (stopRequested()) return 0;
        } else {
            record.fileSystem = isHfsPlusAt(static_cast<int64_t>(first)) ? "HFS+" : name;
            uint64_t mib = last >= first ? (last - first) / 2048 : 0;
            record.volumeSizeText = std::to_string(mib);
            append(std::move(record));
        }
    }
    return 0;
}

int32_t Partition::listMbr() {
    unsigned char table[disk::kSectorSize];
    if (!readAt(0, table, sizeof table)) return failure();
    if (!hasBootSignature(table)) {
        warnings_.push_back("sector 0 holds no partition table (it lacks the 0x55AA signature)");
        return 0;
    }

    int ntfsPrimaries = 0;
    // One MBR entry as a record, by its type byte.
    auto recordEntry = [&](unsigned char type, uint64_t start, uint32_t sectors, bool primary) {
        VolumeRecord record;
        record.startSector = static_cast<int64_t>(start);
        record.volumeSizeText = std::to_string(sectors / 2048) + "   MB";
        std::string status;
        switch (type) {
            case 0x01: record.fileSystem = "FAT12"; break;
            case 0x04: case 0x06: case 0x0E:
                record.fileSystem = "FAT16", status = "found FAT 16...";
                break;
            case 0x07:
                if (isExfatBootSector(record.startSector)) {
                    record.fileSystem = "FAT64", status = "found FAT64...";
                } else {
                    record.fileSystem = "NTFS";
                    status = primary ? "found NTFS " + std::to_string(++ntfsPrimaries) + "..."
                                     : std::string("found NTFS...");
                }
                break;
            case 0x0B: case 0x0C:
                record.fileSystem = "FAT32", status = "found FAT 32...";
                break;
            case 0x42:
                if (primary) {
                    record.fileSystem = "NTFS", status = "NTFS...";
                } else {
                    record.fileSystem = "Unknown", status = "found UNKNOWN...";
                }
                break;
            case 0x83:
                record.fileSystem = "extX", status = primary ? "found ext2..." : "found extx...";
                break;
            default: record.fileSystem = "Unknown", status = "found UNKNOWN..."; break;
        }
        if (!status.empty()) feedback_.status(status);
        append(std::move(record));
    };

    bool haveExtended = false;
    uint64_t extendedBase = 0;
    for (int i = 0; i < 4; ++i) {
        const unsigned char* e = table + 446 + 16 * i;
        const platform::ByteReader entry(e, 16);
        unsigned char type = e[4];
        const std::string what = "primary partition " + std::to_string(i + 1) + " (" + typeText(type) + ")";
        if (isExtended(type)) {
            extendedBase = entry.le32(kMbrFirstSector);
            haveExtended = entryOnDisk(what, extendedBase, entry.le32(kMbrSectorCount), false);
            break;
        }
        if (type == 0x00) break;
        if (type == 0xEE) protectiveMbr = true;
        // A protective entry covers the whole disk whatever its size.
        if (!entryOnDisk(what, entry.le32(kMbrFirstSector), entry.le32(kMbrSectorCount), type != 0xEE)) continue;
        recordEntry(type, entry.le32(kMbrFirstSector), entry.le32(kMbrSectorCount), true);
    }
    if (!haveExtended) return 0;

    uint64_t link = 0;
    for (int n = 0; n < kMaxBootRecords; ++n) {
        disk_.baseOffset = 0;
        const uint64_t here = extendedBase + link;
        if (!readAt(static_cast<int64_t>(here * disk::kSectorSize), table, sizeof table))
            return failure();
        if (!hasBootSignature(table)) {
            warnings_.push_back("the extended boot record at sector " + std::to_string(here) +
                                " lacks the 0x55AA signature: the chain of logical partitions ends there");
            break;
        }
        bool linked = false;
        for (int i = 0; i < 4; ++i) {
            const unsigned char* e = table + 446 + 16 * i;
            const platform::ByteReader entry(e, 16);
            unsigned char type = e[4];
            const std::string what = "the logical partition (" + typeText(type) + ") of the boot record at sector " +
                                     std::to_string(here);
            if (isExtended(type)) {
                link = entry.le32(kMbrFirstSector);
                linked = entryOnDisk("the next boot record, linked from sector " + std::to_string(here) + ",",
                                     extendedBase + link, 1, false);
                break;
            }
            if (type == 0x00) break;
            const uint64_t start = extendedBase + link + entry.le32(kMbrFirstSector);
            if (!entryOnDisk(what, start, entry.le32(kMbrSectorCount), true)) continue;
            recordEntry(type, start, entry.le32(kMbrSectorCount), false);
        }
        if (!linked) break;
    }
    return 0;
}

// ---------------------------------------------------------------- sector scan

int32_t Partition::scanVolumes() {
    warnings_.clear();
    try {
        scanChunks();
        return 1;
    } catch (...) {
        return -1;
    }
}

void Partition::scanChunks() {
    feedback_.status("Scanning partition.....");
    disk_.baseOffset = 0;
    const uint64_t total = totalSectors;
    const bool hasEnd = customEndSector > 0;
    const uint64_t endSector = hasEnd ? static_cast<uint64_t>(customEndSector) : 0;
    uint64_t sector = customStartSector > 0 ? static_cast<uint64_t>(customStartSector) : 0;
    feedback_.progressRange(0, 1000);

    // Reads are made larger than a chunk; the chunks are examined one by one in the window.
    const uint64_t window = std::max<uint64_t>(kChunkSectors, readAheadSectors / kChunkSectors * kChunkSectors);
    std::vector<unsigned char> buffer;
    uint64_t bufferStart = 0, bufferSectors = 0;
    int ntfsCount = 0;

    auto record = [&](const char* fs, std::string sizeText, uint64_t start, uint64_t sectors) {
        // Where volumes are skipped, each record is a volume's own start: say when it does
        // not fit on the disk (without the skip, backup boot sectors are found too).
        if (skipVolumeSize && sectors > 0)
            entryOnDisk(std::string("the ") + fs + " volume found at sector " + std::to_string(start), start, sectors, true);
        VolumeRecord r;
        r.fileSystem = fs;
        r.volumeSizeText = std::move(sizeText);
        r.startSector = static_cast<int64_t>(start);
        append(std::move(r));
        if (onScanRecord) onScanRecord(volumes_.back());
    };

    while (sector < total) {
        // A chunk starting beyond the custom end is not read.
        if (hasEnd && sector > endSector) break;
        // The last chunk holds what is left of the disk.
        const uint64_t count = std::min<uint64_t>(kChunkSectors, total - sector);
        if (sector < bufferStart || sector + count > bufferStart + bufferSectors) {
            uint64_t want = std::min<uint64_t>(window, total - sector);
            if (hasEnd) want = std::min<uint64_t>(want, std::max<uint64_t>(count, endSector - sector + kChunkSectors));
            if (buffer.size() < want * disk::kSectorSize) buffer.assign(want * disk::kSectorSize, 0);
            if (sector > static_cast<uint64_t>(kMaxSectorForBytes)) break;
            int64_t offset = static_cast<int64_t>(sector) * disk::kSectorSize;
            if (!readAt(offset, buffer.data(), static_cast<uint32_t>(want * disk::kSectorSize))) {
                // A failure in the read-ahead must not end the scan early: only a failure
                // of this chunk itself does.
                if (want == count || !readAt(offset, buffer.data(), static_cast<uint32_t>(count * disk::kSectorSize)))
                    break;
                want = count;
            }
            bufferStart = sector;
            bufferSectors = want;
        }
        const unsigned char* chunk = buffer.data() + (sector - bufferStart) * disk::kSectorSize;

        // Moves j past a recognised volume, never beyond the end of the disk.
        auto skip = [&](uint64_t& j, uint64_t sectors) {
            uint64_t room = total - sector - j;
            j += std::min(sectors, room);
        };

        uint64_t j = 0;
        while (j < count) {
            if (stopRequested()) {
                feedback_.status("Scanned Partitions");
                break;
            }
            const unsigned char* s = chunk + j * disk::kSectorSize;
            const uint64_t here = sector + j;
            if (s[0] == 0xEB) {
                BootSector::Verdict v = BootSector::classify(s, BootSector::Rules::Scan);
                if (v.family == BootSector::Family::Ntfs) {
                    if (v.record) {
                        record("NTFS", std::to_string(v.sizeMiB) + "   MB", here, v.sizeSectors);
                        feedback_.status("found NTFS " + std::to_string(++ntfsCount) + "...");
                        if (skipVolumeSize) skip(j, v.sizeSectors);
                    }
                } else if (v.family == BootSector::Family::Fat) {
                    feedback_.status(v.status);
                    if (v.record) {
                        record(v.fileSystem.c_str(), std::to_string(v.sizeMiB) + "  MB", here, v.sizeSectors);
                        // The FAT family counts every sector of the volume: the next one
                        // looked at is the first after it (a volume right behind stays found).
                        if (skipVolumeSize) skip(j, v.sizeSectors - 1);
                    }
                }
            } else if (BootSector::hasHfsPlusSignature(s)) {
                BootSector::Verdict v = BootSector::hfsPlusHeader(s);
                // A header in the first two sectors would put the volume before the disk.
                if (v.record && here >= 2) {
                    feedback_.status(v.status);
                    record("HFS+", std::to_string(v.sizeMiB) + "  MB", here - 2, v.sizeSectors);
                }
                // The header is the volume's third sector: go on at the first after it.
                if (skipVolumeSize && v.sizeMiB > 0 && here >= 2) skip(j, v.sizeSectors - 3);
            }
            if (stopRequested()) break;
            ++j;
        }

        sector += j;
        auto permille = static_cast<int64_t>(
            std::min<unsigned __int128>(1000, static_cast<unsigned __int128>(sector) * 1000 / total));
        feedback_.progressPosition(permille);
        if (control_ != nullptr && control_->poll()) {
            feedback_.status("Scanned Partitions");
            break;
        }
    }
}

}  // namespace quenlow::volumes
