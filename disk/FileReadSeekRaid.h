#pragma once
// The RAID virtual disk: a set of member readers presented as one disk (RAID-0, or RAID-5
// with parity layouts 1, 2 and 3), a missing member rebuilt by XOR. Reads are served in
// large requests with exactly the bytes, results and positions of a sector-by-sector read.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::disk {

class FileReadSeekRaid : public readWriteInterface {
public:
    explicit FileReadSeekRaid(RecoveryContext* context = nullptr);
    ~FileReadSeekRaid() override;

    // Builds the members from memberNames (the path is not used). Refuses RAID-5 with fewer
    // than three members, a stripe of 0, a level other than 0 or 5 and a layout other than
    // 1-3, with the reason in lastError(). Sets the context's totalSectors to the virtual
    // disk's size.
    bool open(const std::string& path = {}) override;
    bool seek(int64_t offset, int32_t method = 0) override;
    bool read(void* buffer, uint32_t count) override;
    bool rotate(std::string* windowText) override;
    int64_t sizeBytes() const override { return static_cast<int64_t>(totalSectors_) * kSectorSize; }

    // The LDM probe: the proposed partition offset of a member (0 when none). May set
    // memberDataSize and the context's totalSectors.
    int64_t probeMember(const std::string& name);
    int64_t probeVhdMember(const std::string& path);

    // Where a logical sector (already including baseOffset) lives.
    struct Location {
        int32_t member = 0;        // index into members
        int64_t memberSector = 0;  // sector on that member, before its partition offset
        int32_t parityMember = -1; // RAID-5: the row's parity member
    };
    Location map(int64_t logicalSector) const;

    // Size of the virtual disk in sectors, as decided by open().
    uint64_t totalSectors() const { return totalSectors_; }

    static bool isMissingName(const std::string& name);

    // Set before open.
    std::vector<int64_t> partitionOffsets;  // per member, sectors
    std::vector<std::string> memberNames;   // per member, in member order
    int32_t level = -1;                     // -1 unset, 0 or 5
    int32_t parityLayout = 3;               // RAID-5: 1, 2 or 3
    uint8_t vhdMembers = 0;                 // 1: the members are VHD files
    int64_t stripeSectors = 128;
    int64_t memberDataSize = 0;             // sectors, from an LDM header; 0 when unknown

    // Built by open.
    std::vector<std::unique_ptr<readWriteInterface>> members;

private:
    readWriteInterface* current_ = nullptr;
    uint64_t totalSectors_ = 0;
    std::vector<unsigned char> scratch_;  // reused buffers of the fast path
};

}  // namespace quenlow::disk
