#pragma once
// The RAID virtual disk: a set of member readers presented as one disk (RAID-0, or RAID-5
// with parity layouts 1, 2 and 3), a missing member rebuilt by XOR. Reads are served in
// large requests with exactly the bytes, results and positions of a sector-by-sector read.
//
// The sector-by-sector definition of read(): for each whole sector, read 512 bytes from the
// member that holds it (or, when that member is missing, the XOR of the same-offset sector
// of every present member), then seek to position + 512, which maps the next logical sector
// afresh. A sector whose read fails is not followed by that seek: the next sector is read
// from wherever the member's file position is. The call's result is that of the last sector.
// A rebuilt sector is one composite read: it succeeds only when every present member's read
// succeeded, and any failing member stops the advance. A member that delivers nothing adds
// zeros to the XOR. When every member is missing sectors read as zeros, the advance still
// happens, and the result is false (no member read was performed).

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
    // disk's size and leaves the disk positioned at offset 0.
    bool open(const std::string& path = {}) override;
    // Maps offset + baseOffset to a member and positions it (every present member when it is
    // missing). A negative or unrepresentable offset fails and moves nothing.
    bool seek(int64_t offset, int32_t method = 0) override;
    bool read(void* buffer, uint32_t count) override;
    // The leading sectors of a run that read as seek + read(512) each would, one request per
    // stripe unit (per present member for a rebuilt unit).
    uint32_t readRun(int64_t offset, void* buffer, uint32_t sectors) override;
    // Moves the first member (reader and name) to the end; partitionOffsets stay in place.
    // The disk is positioned afresh at `position` under the new order.
    bool rotate(std::string* windowText) override;
    int64_t sizeBytes() const override { return static_cast<int64_t>(totalSectors_) * kSectorSize; }

    // The LDM probe: the proposed partition offset of a member (0 when none). May set
    // memberDataSize and the context's totalSectors.
    int64_t probeMember(const std::string& name);
    int64_t probeVhdMember(const std::string& path);

    // Where a logical sector (already including baseOffset) lives.
    struct Location {
        int32_t member = -1;       // index into members; -1 when the geometry is unusable
        int64_t memberSector = 0;  // sector on that member, before its partition offset
        int32_t parityMember = -1; // RAID-5: the row's parity member
    };
    Location map(int64_t logicalSector) const;

    // Size of the virtual disk in sectors, as decided by open().
    uint64_t totalSectors() const { return totalSectors_; }
    // The member that holds the sector at `position`.
    readWriteInterface* current() const { return current_; }

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
    bool fail(const std::string& detail);
    int64_t probe(readWriteInterface& reader);
    uint64_t computeSize() const;
    uint64_t sizeFromLdm() const;
    // Byte offset on member `loc.member` of a mapped sector; false when it does not fit.
    bool memberByteOffset(const Location& loc, int64_t* offset) const;
    // One sector of the sector-by-sector definition, advance included.
    bool readOneSector(unsigned char* out);
    // Rebuilds `sectors` sectors at `offset` on every present member into `out`; returns the
    // leading sectors every present member delivered in full.
    uint32_t rebuildRun(int64_t offset, unsigned char* out, uint32_t sectors, bool* anyPresent);
    // Serves the next units (at least two, from a clean state) with one scattered read per
    // member when every member says its pieces lie inside it. Returns the sectors served, or
    // 0 when the units are to be read one at a time.
    uint32_t readBatch(unsigned char* out, uint32_t sectors, bool* result);
    // One unit from a clean state: one run per member, or the sector-by-sector definition
    // from the first failing sector on. Returns the sectors consumed.
    uint32_t readUnit(unsigned char* out, uint32_t sectors, bool* result, bool* seekPending);

    readWriteInterface* current_ = nullptr;
    // True when the members are where seek(position) would put them (or would be, once that
    // seek is issued): then the next sectors can be served in runs. False after a sector
    // whose read failed, when the next sector depends on where that read left the member.
    bool clean_ = false;
    int64_t cleanBase_ = 0;  // baseOffset when the members were put in place
    uint64_t totalSectors_ = 0;
    std::vector<unsigned char> scratch_;  // one member's run during a rebuild

    struct Rebuild {
        unsigned char* dest;
        size_t scratchAt;
        uint32_t sectors;
    };
    std::vector<std::vector<Piece>> pieces_;  // per member, the pieces of a batch
    std::vector<Rebuild> rebuilds_;
    std::vector<unsigned char> batchScratch_;
    unsigned char rebuildBuffer_[kSectorSize] = {};
    unsigned char scratchBuffer_[kSectorSize] = {};
};

}  // namespace quenlow::disk
