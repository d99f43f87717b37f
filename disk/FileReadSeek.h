#pragma once
// Reader over one drive or image file, opened read-only.

#include "disk/readWriteInterface.h"
#include "platform/ReadOnlyFile.h"

namespace quenlow::disk {

class FileReadSeek : public readWriteInterface {
public:
    explicit FileReadSeek(RecoveryContext* context = nullptr) : readWriteInterface(context) {}

    // Opens the path read-only, learns its size and stores it in the context's totalSectors.
    // Failure: "invalid handle ..." to the user, the reason in lastError().
    bool open(const std::string& path) override;
    // Reads once from the current file position. A short read delivers what came, zero-filled
    // to `count`, and fails; when nothing came the buffer is left untouched.
    bool read(void* buffer, uint32_t count) override;
    // Sets the file position to offset + baseOffset; fails, moving nothing, when negative.
    bool seek(int64_t offset, int32_t method = 0) override;
    uint32_t readRun(int64_t offset, void* buffer, uint32_t sectors) override;
    bool piecesInside(const Piece* pieces, size_t count) const override;
    // One scattered read for each stretch of pieces that follow each other in the file.
    bool readPieces(const Piece* pieces, size_t count) override;
    int64_t sizeBytes() const override { return static_cast<int64_t>(file_.size()); }

    // Marks this reader as a missing RAID member.
    void setMissing() { handle = kMissingHandle; }
    int64_t filePosition() const { return filePos_; }

private:
    platform::ReadOnlyFile file_;
    int64_t filePos_ = 0;
};

}  // namespace quenlow::disk
