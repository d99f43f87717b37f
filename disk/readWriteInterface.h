#pragma once
// The one way anything reads a source: position at a byte offset, read bytes. A sector is
// always 512 bytes. Readers only read; there is no write operation.

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace quenlow::disk {

struct RecoveryContext;

inline constexpr uint32_t kSectorSize = 512;
// A RAID member whose handle holds this value is missing and is never read.
inline constexpr int64_t kMissingHandle = 99999999;
// The member name that stands for a missing member (compared without regard to case).
inline constexpr const char* kMissingDiskName = "MISSING DISK";

class readWriteInterface {
public:
    explicit readWriteInterface(RecoveryContext* context = nullptr) : context_(context) {}
    virtual ~readWriteInterface() = default;
    readWriteInterface(const readWriteInterface&) = delete;
    readWriteInterface& operator=(const readWriteInterface&) = delete;

    virtual bool open(const std::string& path) = 0;
    // Reads `count` bytes at the current position. The default reads nothing and succeeds.
    virtual bool read(void* buffer, uint32_t count);
    // Positions at `offset` + baseOffset. Only method 0 (from the beginning) is used.
    virtual bool seek(int64_t offset, int32_t method = 0);
    // Moves the first member to the end (RAID only); `windowText` receives the new first
    // member's name. The default does nothing and succeeds.
    virtual bool rotate(std::string* windowText);

    // Size of the source in bytes as far as it is known (0 when unknown).
    virtual int64_t sizeBytes() const { return length; }

    // Fast path used by the RAID virtual disk: reads `sectors` whole sectors as if each were
    // read by seek(offset + i * 512) followed by read(512), and returns how many leading
    // sectors succeeded that way (their bytes are in `buffer`). Bytes of the first failing
    // sector and after are unspecified. The reader's position afterwards is unspecified;
    // callers seek again. The default does exactly that loop.
    virtual uint32_t readRun(int64_t offset, void* buffer, uint32_t sectors);

    // A piece of a scattered read: `sectors` whole sectors from byte `offset` on into `data`.
    struct Piece {
        int64_t offset;
        unsigned char* data;
        uint32_t sectors;
    };
    // Whether every piece lies where this reader knows there is data to read in full (inside
    // the file, inside allocated or unallocated blocks of the table). The default knows
    // nothing and says no.
    virtual bool piecesInside(const Piece* pieces, size_t count) const;
    // Reads the pieces (checked with piecesInside first) as readRun would read each, in as few
    // requests as possible. Returns false when some piece did not come in full (an I/O error);
    // the pieces' contents are then unspecified. The position afterwards is unspecified.
    virtual bool readPieces(const Piece* pieces, size_t count);

    bool isMissing() const { return handle == kMissingHandle; }
    // The reason of the last failure, in words a user understands, naming the path.
    const std::string& lastError() const { return lastError_; }
    RecoveryContext* context() const { return context_; }

    // Fields shared by the readers.
    uint64_t blockTableCount = 0;          // VHD: entries read into blockTable
    std::vector<uint32_t> blockTable;      // VHD: block allocation table, host order
    int64_t baseOffset = 0;                // added to every offset given to seek
    int64_t position = 0;                  // RAID and VHD: offset last given to seek
    int64_t length = 0;                    // length of the underlying file when known
    uint8_t blockAllocated = 1;            // VHD: whether the block under position is allocated
    int32_t memberCount = 0;               // RAID: number of members
    int64_t handle = -1;                   // open descriptor, or kMissingHandle

    // Held by every VolumeView read: a reader keeps a position between its calls, so only
    // one thread at a time may use it.
    std::mutex accessMutex;

protected:
    // Records the failure and shows `userText` (when not empty) through the context's feedback.
    void reportFailure(const std::string& userText, const std::string& detail);
    void setLastError(const std::string& detail) { lastError_ = detail; }

    RecoveryContext* context_ = nullptr;
    std::string lastError_;
};

}  // namespace quenlow::disk
