#pragma once
// The Linux md (software RAID) superblock a member may carry: version 0.90 (4096 bytes in
// the last 64 KiB-aligned 64 KiB of the member, in the byte order of the host that wrote it)
// and versions 1.0, 1.1 and 1.2 (little-endian, at the end less 8 KiB rounded down to 4 KiB,
// at 0, at 4 KiB). Decoded from the bytes alone; fields outside the bytes read as 0.
//
// parse() reads the fields and verifies the checksum; problems() says, in words for the
// user, why a superblock that carries the magic must not be trusted (a failed checksum, a
// role beyond the raid disks, a data area past the member, a chunk of 0, absurd counts).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quenlow::disk {

struct MdSuperblock {
    static constexpr uint32_t kMagic = 0xa92b4efc;
    // Bytes read at a superblock's place: a 0.90 superblock is 4096 bytes; a 1.x one 256
    // bytes and two per device role, at most 4096 in all.
    static constexpr size_t kReadBytes = 4096;

    enum class Version { V090, V10, V11, V12 };
    // Where each version lies on a member of `memberBytes` bytes; -1 when the member is too
    // small to hold it.
    static int64_t location(Version version, int64_t memberBytes);
    static constexpr std::array<Version, 4> kVersions = {Version::V090, Version::V10, Version::V11, Version::V12};

    // The array's layout (RAID-5 parity algorithms, md's own numbering).
    enum Layout : uint32_t { LeftAsymmetric = 0, RightAsymmetric = 1, LeftSymmetric = 2, RightSymmetric = 3 };
    // Device roles beyond the raid disks.
    static constexpr uint32_t kRoleSpare = 0xFFFF;
    static constexpr uint32_t kRoleFaulty = 0xFFFE;
    static constexpr uint32_t kRoleJournal = 0xFFFD;
    // The largest role table a 1.x superblock of 4096 bytes can hold.
    static constexpr uint32_t kMaxDevices = (kReadBytes - 256) / 2;

    Version version = Version::V12;
    bool bigEndian = false;  // 0.90 only: written by a big-endian host
    std::array<uint8_t, 16> uuid{};
    std::string name;        // 1.x only: the array's name (up to 32 bytes)
    int32_t level = 0;       // 0, 1, 4, 5, 6, 10; -1 linear
    uint32_t layout = 0;
    uint64_t chunkBytes = 0;
    uint32_t raidDisks = 0;
    uint32_t maxDevices = 0;     // 1.x: entries of the role table
    uint32_t role = kRoleSpare;  // this member's place in the array, or one of kRole...
    uint64_t dataOffset = 0;     // sectors from the member's start
    uint64_t dataSectors = 0;    // sectors of this member's data area
    uint64_t superOffset = 0;    // sectors: where the superblock itself lies
    uint64_t events = 0;
    uint64_t updateTime = 0;     // seconds since 1970
    uint64_t creationTime = 0;   // seconds since 1970
    uint32_t storedChecksum = 0;
    uint32_t computedChecksum = 0;

    bool checksumGood() const { return storedChecksum == computedChecksum; }
    std::string uuidText() const;  // 32 hex digits in groups of 8, ':' between them
    std::string versionText() const;
    std::string levelText() const;   // "raid0", "raid5", "linear", ...
    std::string layoutText() const;  // "left-symmetric" ... for RAID-5; "" otherwise
    // Why this superblock must not be trusted on a member of `memberBytes` bytes; empty when
    // it is sound.
    std::vector<std::string> problems(int64_t memberBytes) const;

    // The superblock of `version` in `bytes` (read at location()), or nothing when the
    // magic and version are not there.
    static std::optional<MdSuperblock> parse(std::span<const uint8_t> bytes, Version version);
};

}  // namespace quenlow::disk
