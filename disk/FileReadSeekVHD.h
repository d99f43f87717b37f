#pragma once
// Reader over one VHD file: dynamic disks through their block allocation table (unallocated
// blocks read as zeros), fixed disks directly. Opened read-only.

#include "disk/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace quenlow::disk {

class FileReadSeekVHD : public readWriteInterface {
public:
    explicit FileReadSeekVHD(RecoveryContext* context = nullptr) : readWriteInterface(context) {}

    // "not a vhd file" for a name not ending in "vhd", "invalid handle ..." for a file that
    // cannot be opened; a damaged footer, header or table is reported in lastError().
    bool open(const std::string& path) override;
    bool seek(int64_t offset, int32_t method = 0) override;
    bool read(void* buffer, uint32_t count) override;
    uint32_t readRun(int64_t offset, void* buffer, uint32_t sectors) override;
    int64_t sizeBytes() const override { return virtualSize_; }

    void setMissing() { handle = kMissingHandle; }
    bool isFixed() const { return fixed_; }
    uint32_t blockSectors() const { return blockSectors_; }

private:
    platform::ReadOnlyFile file_;
    int64_t filePos_ = 0;          // position in the VHD file
    int64_t virtualSize_ = 0;      // current size from the footer, bytes
    uint32_t blockSectors_ = 4096; // data sectors per block (2 MiB blocks by default)
    uint32_t bitmapBytes_ = 512;   // sector bitmap at the start of each block
    bool fixed_ = false;
};

}  // namespace quenlow::disk
