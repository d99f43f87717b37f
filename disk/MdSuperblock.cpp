#include "disk/MdSuperblock.h"

#include <cstdio>

#include "platform/ByteReader.h"

namespace quenlow::disk {

namespace {

using platform::ByteReader;

// Version 0.90: 32-bit words in the writer's byte order.
namespace v090 {
constexpr size_t kBytes = 4096;
constexpr size_t kMajor = 1 * 4, kMinor = 2 * 4, kUuid0 = 5 * 4, kCtime = 6 * 4, kLevel = 7 * 4,
                 kSizeKiB = 8 * 4, kRaidDisks = 10 * 4, kUuid1 = 13 * 4, kUtime = 32 * 4, kChecksum = 38 * 4,
                 kEvents = 39 * 4, kLayout = 64 * 4, kChunkBytes = 65 * 4, kThisDisk = 992 * 4;
constexpr size_t kDiskRaidDisk = 3 * 4, kDiskState = 4 * 4;
constexpr uint32_t kStateFaulty = 1, kStateActive = 2, kStateSync = 4;
constexpr uint32_t kMaxDisks = 27;
}  // namespace v090

// Versions 1.x: little-endian.
namespace v1 {
constexpr size_t kHeader = 256;
constexpr size_t kMajor = 4, kUuid = 16, kName = 32, kCtime = 64, kLevel = 72, kLayout = 76, kChunkSectors = 88,
                 kRaidDisks = 92, kDataOffset = 128, kDataSize = 136, kSuperOffset = 144, kDevNumber = 160,
                 kUtime = 192, kEvents = 200, kChecksum = 216, kMaxDev = 220, kRoles = 256;
}  // namespace v1

uint32_t word(const ByteReader& r, size_t at, bool big) { return big ? r.be32(at) : r.le32(at); }

uint32_t fold(uint64_t sum) { return static_cast<uint32_t>((sum & 0xffffffffu) + (sum >> 32)); }

std::optional<MdSuperblock> parse090(std::span<const uint8_t> bytes) {
    ByteReader r(bytes);
    if (!r.fits(0, v090::kBytes)) return std::nullopt;
    bool big = false;
    if (r.le32(0) != MdSuperblock::kMagic) {
        if (r.be32(0) != MdSuperblock::kMagic) return std::nullopt;
        big = true;
    }
    if (word(r, v090::kMajor, big) != 0 || word(r, v090::kMinor, big) != 90) return std::nullopt;
    MdSuperblock sb;
    sb.version = MdSuperblock::Version::V090;
    sb.bigEndian = big;
    const uint32_t uuidWords[4] = {word(r, v090::kUuid0, big), word(r, v090::kUuid1, big),
                                   word(r, v090::kUuid1 + 4, big), word(r, v090::kUuid1 + 8, big)};
    for (size_t i = 0; i < 4; ++i)
        for (size_t b = 0; b < 4; ++b) sb.uuid[i * 4 + b] = static_cast<uint8_t>(uuidWords[i] >> (24 - 8 * b));
    sb.creationTime = word(r, v090::kCtime, big);
    sb.level = static_cast<int32_t>(word(r, v090::kLevel, big));
    sb.dataSectors = uint64_t{word(r, v090::kSizeKiB, big)} * 2;
    sb.raidDisks = word(r, v090::kRaidDisks, big);
    sb.updateTime = word(r, v090::kUtime, big);
    sb.events = big ? r.be64(v090::kEvents) : r.le64(v090::kEvents);
    sb.layout = word(r, v090::kLayout, big);
    sb.chunkBytes = word(r, v090::kChunkBytes, big);
    const uint32_t state = word(r, v090::kThisDisk + v090::kDiskState, big);
    const uint32_t raidDisk = word(r, v090::kThisDisk + v090::kDiskRaidDisk, big);
    if ((state & v090::kStateFaulty) != 0)
        sb.role = MdSuperblock::kRoleFaulty;
    else if ((state & (v090::kStateActive | v090::kStateSync)) != 0)
        sb.role = raidDisk;
    else
        sb.role = MdSuperblock::kRoleSpare;
    sb.storedChecksum = word(r, v090::kChecksum, big);
    uint64_t sum = 0;
    for (size_t at = 0; at < v090::kBytes; at += 4)
        if (at != v090::kChecksum) sum += word(r, at, big);
    sb.computedChecksum = fold(sum);
    return sb;
}

std::optional<MdSuperblock> parse1(std::span<const uint8_t> bytes, MdSuperblock::Version version) {
    ByteReader r(bytes);
    if (!r.fits(0, v1::kHeader) || r.le32(0) != MdSuperblock::kMagic || r.le32(v1::kMajor) != 1)
        return std::nullopt;
    MdSuperblock sb;
    sb.version = version;
    for (size_t i = 0; i < 16; ++i) sb.uuid[i] = r.u8(v1::kUuid + i);
    for (size_t i = 0; i < 32 && r.u8(v1::kName + i) != 0; ++i) sb.name.push_back(static_cast<char>(r.u8(v1::kName + i)));
    sb.creationTime = r.le64(v1::kCtime) & 0xFFFFFFFFFFull;
    sb.level = static_cast<int32_t>(r.le32(v1::kLevel));
    sb.layout = r.le32(v1::kLayout);
    sb.chunkBytes = uint64_t{r.le32(v1::kChunkSectors)} * 512;
    sb.raidDisks = r.le32(v1::kRaidDisks);
    sb.dataOffset = r.le64(v1::kDataOffset);
    sb.dataSectors = r.le64(v1::kDataSize);
    sb.superOffset = r.le64(v1::kSuperOffset);
    sb.updateTime = r.le64(v1::kUtime) & 0xFFFFFFFFFFull;
    sb.events = r.le64(v1::kEvents);
    sb.storedChecksum = r.le32(v1::kChecksum);
    const uint32_t maxDev = r.le32(v1::kMaxDev);
    sb.maxDevices = maxDev;
    const uint32_t devNumber = r.le32(v1::kDevNumber);
    // A role table beyond the bytes read leaves the role unknown (a spare) and the checksum
    // uncomputable: problems() names the count.
    if (maxDev <= MdSuperblock::kMaxDevices) {
        sb.role = devNumber < maxDev ? r.le16(v1::kRoles + size_t{devNumber} * 2) : MdSuperblock::kRoleSpare;
        size_t size = v1::kHeader + size_t{maxDev} * 2;
        uint64_t sum = 0;
        size_t at = 0;
        for (; at + 4 <= size; at += 4)
            if (at != v1::kChecksum) sum += r.le32(at);
        if (size - at == 2) sum += r.le16(at);
        sb.computedChecksum = fold(sum);
    } else {
        sb.computedChecksum = ~sb.storedChecksum;
    }
    return sb;
}

}  // namespace

int64_t MdSuperblock::location(Version version, int64_t memberBytes) {
    const int64_t sectors = memberBytes / 512;
    int64_t sector = -1;
    switch (version) {
    case Version::V090:
        sector = (sectors & ~int64_t{127}) - 128;
        break;
    case Version::V10:
        sector = (sectors - 16) & ~int64_t{7};
        break;
    case Version::V11:
        sector = 0;
        break;
    case Version::V12:
        sector = 8;
        break;
    }
    if (sector < 0 || (sector + 8) * 512 > memberBytes) return -1;
    return sector * 512;
}

std::optional<MdSuperblock> MdSuperblock::parse(std::span<const uint8_t> bytes, Version version) {
    return version == Version::V090 ? parse090(bytes) : parse1(bytes, version);
}

std::string MdSuperblock::uuidText() const {
    std::string out;
    char hex[3];
    for (size_t i = 0; i < uuid.size(); ++i) {
        if (i != 0 && i % 4 == 0) out += ':';
        std::snprintf(hex, sizeof hex, "%02x", uuid[i]);
        out += hex;
    }
    return out;
}

std::string MdSuperblock::versionText() const {
    switch (version) {
    case Version::V090: return "0.90";
    case Version::V10: return "1.0";
    case Version::V11: return "1.1";
    case Version::V12: return "1.2";
    }
    return "";
}

std::string MdSuperblock::levelText() const {
    switch (level) {
    case -1: return "linear";
    case 0: return "raid0";
    case 1: return "raid1";
    case 4: return "raid4";
    case 5: return "raid5";
    case 6: return "raid6";
    case 10: return "raid10";
    default: return "level " + std::to_string(level);
    }
}

std::string MdSuperblock::layoutText() const {
    if (level != 5) return "";
    switch (layout) {
    case LeftAsymmetric: return "left-asymmetric";
    case RightAsymmetric: return "right-asymmetric";
    case LeftSymmetric: return "left-symmetric";
    case RightSymmetric: return "right-symmetric";
    default: return "layout " + std::to_string(layout);
    }
}

std::vector<std::string> MdSuperblock::problems(int64_t memberBytes) const {
    std::vector<std::string> out;
    if (!checksumGood()) out.push_back("its checksum does not match its contents");
    const uint32_t maxDisks = version == Version::V090 ? v090::kMaxDisks : kMaxDevices;
    if (raidDisks == 0 || raidDisks > maxDisks)
        out.push_back("it names " + std::to_string(raidDisks) + " raid disks");
    const bool striped = level == 0 || level == 4 || level == 5 || level == 6 || level == 10;
    if (version != Version::V090 && (maxDevices > kMaxDevices || maxDevices < raidDisks))
        out.push_back("its role table of " + std::to_string(maxDevices) + " entries cannot be right");
    if (striped && chunkBytes == 0) out.push_back("its chunk size is 0");
    if (striped && chunkBytes % 512 != 0) out.push_back("its chunk size is not a whole number of sectors");
    if (role != kRoleSpare && role != kRoleFaulty && role != kRoleJournal && role >= raidDisks)
        out.push_back("this member's role " + std::to_string(role) + " lies beyond its " +
                      std::to_string(raidDisks) + " raid disks");
    const uint64_t memberSectors = memberBytes > 0 ? static_cast<uint64_t>(memberBytes) / 512 : 0;
    if (dataOffset > memberSectors || dataSectors > memberSectors - dataOffset)
        out.push_back("its data area (" + std::to_string(dataSectors) + " sectors from sector " +
                      std::to_string(dataOffset) + ") runs past the member's " + std::to_string(memberSectors) +
                      " sectors");
    if (version != Version::V090) {
        const int64_t at = location(version, memberBytes);
        if (at < 0 || superOffset != static_cast<uint64_t>(at) / 512)
            out.push_back("it says it lies at sector " + std::to_string(superOffset) + ", not where it was found");
    }
    return out;
}

}  // namespace quenlow::disk
