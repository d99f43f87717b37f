#pragma once
// A file's data as the parsers describe it and everything else reads it: saving, the
// Recycle Bin reader, previews, the tests. A stream has a size, reads at any offset, tells
// which parts are holes (zeros without reading: sparse runs, unallocated space, data past
// the end of the source), and collects the byte ranges it could not read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/VolumeView.h"

namespace quenlow::fs {

using disk::ByteRange;

class DataStream {
public:
    virtual ~DataStream() = default;
    virtual uint64_t size() const = 0;
    // Fills `out` with the `length` bytes at `offset`, cut at size(); returns the bytes
    // delivered. Parts that could not be read are delivered as the source left them (zeros
    // where it left nothing) and added to damaged().
    virtual size_t read(uint64_t offset, void* out, size_t length) = 0;

    // The piece that starts at `offset`: `length` bytes that are all a hole (zeros, no need
    // to read them) or all data. Length 0 only at or past size().
    struct Extent {
        uint64_t length = 0;
        bool hole = false;
    };
    virtual Extent extentAt(uint64_t offset) const;

    // Byte ranges of the data that could not be read (or lie past the end of the source),
    // sorted and joined. Grows as the stream is read; ranges known in advance are there from
    // the start.
    const std::vector<ByteRange>& damaged() const { return damaged_; }

protected:
    void noteDamage(uint64_t offset, uint64_t length);

private:
    std::vector<ByteRange> damaged_;
};

// Data held in memory (resident data, small records).
class MemoryStream : public DataStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint64_t size() const override { return bytes_.size(); }
    size_t read(uint64_t offset, void* out, size_t length) override;

private:
    std::vector<uint8_t> bytes_;
};

// Data in runs of a volume: each run is a number of bytes either at a byte offset of the
// volume or a hole. Runs are laid end to end from offset 0; the stream is cut at `size`
// (data beyond the runs reads as a hole). Bytes of a run that lie past the end of the
// source are a hole and are damaged from the start.
class RunStream : public DataStream {
public:
    struct Run {
        uint64_t length = 0;
        int64_t volumeOffset = -1;  // -1: a hole
        bool hole() const { return volumeOffset < 0; }
    };
    RunStream(disk::VolumeView view, std::vector<Run> runs, uint64_t size);

    uint64_t size() const override { return size_; }
    size_t read(uint64_t offset, void* out, size_t length) override;
    Extent extentAt(uint64_t offset) const override;

private:
    struct Piece {
        uint64_t logical;  // where it starts in the data
        Run run;
    };
    size_t pieceAt(uint64_t offset) const;

    disk::VolumeView view_;
    std::vector<Piece> pieces_;
    uint64_t size_ = 0;
};

}  // namespace quenlow::fs
