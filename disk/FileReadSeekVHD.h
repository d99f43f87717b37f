#pragma once
// Reader over one VHD file: dynamic disks through their block allocation table (unallocated
// blocks read as zeros), fixed disks directly. Opened read-only.
//
// A file is taken as a VHD by its footer ("conectix"), whatever its name. The footer is taken
// from its copy at the start of the file, or from the end of the file when that copy is
// damaged; fixed disks have only the one at the end. Block size and table
// place come from the dynamic header. Differencing disks are refused: their data is split
// between them and a parent disk.

#include "disk/VhdFooter.h"
#include "disk/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace quenlow::disk {

class FileReadSeekVHD : public readWriteInterface {
public:
    explicit FileReadSeekVHD(RecoveryContext* context = nullptr) : readWriteInterface(context) {}

    // "not a vhd file" for a file without a VHD footer, "invalid handle ..." for a file that
    // cannot be opened; a damaged footer, header or table is reported in lastError().
    // Leaves the reader at virtual offset 0 and the context's totalSectors at its size.
    bool open(const std::string& path) override;
    // Translates offset + baseOffset. Fails beyond the block table (beyond the size of a fixed
    // disk) or for a negative offset; reads after a failed seek fail too.
    bool seek(int64_t offset, int32_t method = 0) override;
    // Whole sectors, each followed by a seek to the next one when it was read in full; a
    // remainder below 512 bytes is read at the file position without translation. A short
    // read delivers what came, zero-filled, and fails; nothing at all leaves the buffer alone.
    bool read(void* buffer, uint32_t count) override;
    uint32_t readRun(int64_t offset, void* buffer, uint32_t sectors) override;
    bool piecesInside(const Piece* pieces, size_t count) const override;
    bool readPieces(const Piece* pieces, size_t count) override;
    int64_t sizeBytes() const override { return virtualSize_; }

    // Whether the file at `path` ends (or, for a dynamic disk, starts) with a VHD footer whose
    // cookie and checksum hold. Opens it read-only and reports nothing.
    static bool carriesFooter(const std::string& path);

    void setMissing() { handle = kMissingHandle; }
    bool isFixed() const { return fixed_; }
    uint32_t blockSectors() const { return blockSectors_; }

private:
    // Where the sector at virtual byte `offset` (+ baseOffset) lies in the file.
    struct Place {
        bool allocated = false;
        int64_t fileOffset = 0;
        uint32_t runLeft = 0;  // contiguous sectors from it on (to the end of its block)
    };
    bool place(int64_t offset, Place* out) const;
    bool fail(const std::string& detail);
    // fail(), and the "not a vhd file" message.
    bool notVhd(const std::string& detail);
    bool openFixed(const VhdFooter& footer);
    bool openDynamic(const VhdFooter& footer);
    // Reads at a file offset, never past the end of the disk's data.
    int64_t readFile(void* out, uint64_t bytes, int64_t at) const;
    // Reads up to `sectors` sectors at the positioned place without leaving its stretch of
    // contiguous sectors; returns the sectors read in full. Moves nothing.
    uint32_t readHere(unsigned char* out, uint32_t sectors) const;
    // One sector of the sector-by-sector definition, advance included.
    bool readOneSector(unsigned char* out);

    platform::ReadOnlyFile file_;
    int64_t filePos_ = 0;          // position in the VHD file
    int64_t dataEnd_ = 0;          // file offset past the last byte that may hold sector data
    int64_t virtualSize_ = 0;      // size of the virtual disk, bytes
    uint32_t blockSectors_ = 4096; // data sectors per block (2 MiB blocks by default)
    uint32_t bitmapBytes_ = 512;   // sector bitmap at the start of each block
    uint32_t runLeft_ = 0;         // contiguous sectors from the positioned one on
    bool fixed_ = false;
    bool positioned_ = false;      // the last seek succeeded
    bool clean_ = false;           // the file position is where that seek put it
    int64_t cleanBase_ = 0;        // baseOffset at that seek
};

}  // namespace quenlow::disk
