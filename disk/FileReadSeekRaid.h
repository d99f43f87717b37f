#pragma once
// The RAID virtual disk: a set of member readers presented as one disk (RAID-0, or RAID-5
// with parity layouts 1 to 4), a missing member rebuilt by XOR. Layouts: 1 rotating parity 0
// with data restart, 2 rotating parity N with data restart, 3 rotating parity N with data
// continuation, 4 rotating parity 0 with data continuation (data goes on from the member
// after the parity). Reads are served in
// large requests with exactly the bytes, results and positions of a sector-by-sector read.
//
// Which sectors a member holds: a missing member none; any other the sectors its reader has
// in full (inside an image file; inside a VHD's table and, for an allocated block, inside
// the file). A member whose file ends early thus holds nothing past its end.
//
// The sector-by-sector definition. seek() maps the logical sector and decides how it is
// served:
//   - past the disk's end (totalSectors()): it cannot be served;
//   - its member holds it: it is read from that member (direct);
//   - otherwise, under RAID-5, when every other member holds the same-offset sector: it is
//     the XOR of those sectors (rebuilt);
//   - otherwise (RAID-0, or a second member of the row lacking) it cannot be served.
// seek() positions the member(s) that serve the sector and succeeds only when the sector
// can be served. read() then, for each whole sector: a sector that cannot be served comes
// out as zeros and fails; a direct or rebuilt one is read (a rebuilt one succeeds only when
// every member read does). After each sector, unless a member read failed, it seeks to
// position + 512, which maps the next logical sector afresh. After a failed member read the
// next sector is read the same way from wherever the members' file positions are. The call
// succeeds only when every sector did.

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

    // Why the last open() failed.
    enum class Refusal {
        None,
        Parameters,  // the array's settings: level, layout, stripe, member count, offsets
        Stripe,      // a stripe unit larger than every member's data area
        Members,     // a member cannot be opened or holds nothing to read
    };

    // Builds the members from memberNames (the path is not used). Refuses RAID-5 with fewer
    // than three members, a stripe of 0, a level other than 0 or 5, a layout other than 1-4,
    // and an array whose virtual disk would hold no sectors, with the reason in lastError()
    // and refusal(). Sets the context's totalSectors to the virtual disk's size, works out
    // warnings() and leaves the disk positioned at offset 0.
    bool open(const std::string& path = {}) override;
    // Maps offset + baseOffset to a member and positions what serves that sector. Fails when
    // the sector cannot be served (it is then read as a failing sector of zeros). A negative
    // or unrepresentable offset fails and moves nothing.
    bool seek(int64_t offset, int32_t method = 0) override;
    bool read(void* buffer, uint32_t count) override;
    // The leading sectors of a run that read as seek + read(512) each would, one request per
    // stripe unit (per member for a rebuilt unit).
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
    // The same for any geometry: `members` members of `stripeSectors` sectors per unit.
    static Location locate(int32_t level, int32_t parityLayout, int64_t members, int64_t stripeSectors,
                           int64_t logicalSector);

    // Size of the virtual disk in sectors, as decided by open(): with an LDM data size d,
    // n * d (RAID-0) or (n - 1) * d (RAID-5); otherwise the largest member's data area (its
    // size less its partition offset) rounded down to whole stripe units, times n or n - 1.
    uint64_t totalSectors() const { return totalSectors_; }
    // The member that holds the sector at `position`.
    readWriteInterface* current() const { return current_; }

    // What open() learnt of each member's data area (the sectors from its partition offset
    // on that the disk maps to it).
    struct MemberData {
        int64_t dataSectors = 0;  // sectors the disk maps to each member
        int64_t heldSectors = 0;  // of those, the ones this member holds
        int64_t firstLacking = -1;  // first sector of the area it does not hold (-1: none)
    };
    const std::vector<MemberData>& memberData() const { return memberData_; }
    // What the array cannot give back, in words for the user: members that are short or
    // missing where nothing can rebuild them, the same file given twice. Empty for a healthy
    // array and for RAID-5 with one member missing.
    const std::vector<std::string>& warnings() const { return warnings_; }
    Refusal refusal() const { return refusal_; }

    static bool isMissingName(const std::string& name);

    // Set before open.
    std::vector<int64_t> partitionOffsets;  // per member, sectors
    std::vector<std::string> memberNames;   // per member, in member order
    int32_t level = -1;                     // -1 unset, 0 or 5
    int32_t parityLayout = 3;               // RAID-5: 1, 2, 3 or 4
    uint8_t vhdMembers = 0;                 // 1: the members are VHD files
    int64_t stripeSectors = 128;
    int64_t memberDataSize = 0;             // sectors, from an LDM header; 0 when unknown

    // Built by open.
    std::vector<std::unique_ptr<readWriteInterface>> members;

private:
    // How a sector is served.
    enum class Mode : uint8_t { Direct, Rebuild, Unservable };
    // How the sectors from one logical sector on are served: all in the same way, from the
    // same member offset on, for `sectors` sectors (at least one).
    struct Plan {
        Mode mode = Mode::Unservable;
        int32_t member = -1;  // the data member (left out of a rebuild)
        int64_t offset = 0;   // byte offset on the member(s)
        uint32_t sectors = 0;
    };
    // Whether member `m` holds the sector at member byte `offset`, and for how many sectors
    // from there on (up to `limit`, at least one) that stays so.
    struct Span {
        bool held = false;
        uint32_t sectors = 0;
    };

    bool fail(const std::string& detail, Refusal why);
    int64_t probe(readWriteInterface& reader);
    // Works out the size, memberData() and warnings(); when the disk would hold no sectors,
    // sets the reason and says whose fault it is.
    Refusal assess();
    void warnAboutRebuilding(const std::vector<std::vector<std::pair<int64_t, int64_t>>>& lacking);
    uint64_t sizeFromLdm() const;
    std::string memberLabel(size_t m) const;
    // Byte offset on member `loc.member` of a mapped sector; false when it does not fit.
    bool memberByteOffset(const Location& loc, int64_t* offset) const;
    Span span(size_t m, int64_t offset, uint32_t limit) const;
    // How up to `limit` sectors from logical sector `sector` on are served; false when the
    // sector cannot be mapped.
    bool plan(int64_t sector, uint32_t limit, Plan* out) const;
    // One sector of the sector-by-sector definition, advance included.
    bool readOneSector(unsigned char* out);
    // XOR of `sectors` sectors at `offset` of every member but `skip` into `out`; returns
    // the leading sectors every one of them delivered in full.
    uint32_t rebuildRun(int64_t offset, unsigned char* out, uint32_t sectors, int32_t skip);
    // Serves the next units (at least two, from a clean state) with one scattered read per
    // member when every member says its pieces lie inside it. Returns the sectors served, or
    // 0 when the units are to be read one at a time.
    uint32_t readBatch(unsigned char* out, uint32_t sectors, bool* ok);
    // One unit from a clean state: one run per member, or the sector-by-sector definition
    // from the first failing sector on. Returns the sectors consumed.
    uint32_t readUnit(unsigned char* out, uint32_t sectors, bool* ok, bool* seekPending);

    readWriteInterface* current_ = nullptr;
    // How the sector of the last successful mapping is served, and by which data member.
    Mode mode_ = Mode::Unservable;
    int32_t modeMember_ = -1;
    // True when the members are where seek(position) would put them (or would be, once that
    // seek is issued): then the next sectors can be served in runs. False after a sector
    // whose read failed, when the next sector depends on where that read left the member.
    bool clean_ = false;
    int64_t cleanBase_ = 0;  // baseOffset when the members were put in place
    uint64_t totalSectors_ = 0;
    std::vector<uint32_t> blockSectors_;  // per member: held sectors come in blocks of this (0: one stretch)
    std::vector<MemberData> memberData_;
    std::vector<std::string> warnings_;
    Refusal refusal_ = Refusal::None;
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
