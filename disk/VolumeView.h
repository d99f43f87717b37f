#pragma once
// One volume of a source as its reader sees it: byte offsets from the volume's first byte,
// reads bounded by the source, every unreadable sector reported. Parsers, the volume
// finder and every other user of a volume read through a view instead of moving the
// reader's baseOffset, so two users (a worker and a preview) can share one reader: each
// read takes the reader's lock.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "disk/readWriteInterface.h"

namespace quenlow::disk {

// A span of bytes, relative to whatever it is about (a volume, a file's data).
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
    uint64_t end() const { return offset + length; }
    bool operator==(const ByteRange&) const = default;
};

// Appends [offset, offset + length) to sorted `ranges`, joining it to a neighbour it touches.
void addRange(std::vector<ByteRange>& ranges, uint64_t offset, uint64_t length);

class VolumeView {
public:
    VolumeView() = default;
    // The volume starting at byte `start` of `reader`'s address space (baseOffset 0).
    VolumeView(readWriteInterface& reader, int64_t start);

    bool valid() const { return reader_ != nullptr; }
    readWriteInterface* reader() const { return reader_; }
    int64_t start() const { return start_; }
    // Bytes from the volume's start to the end of the source; -1 when the source's size is
    // not known.
    int64_t sourceLength() const;
    // Whether byte `offset` of the volume lies past the end of the source.
    bool pastSource(int64_t offset) const;

    // What one read could not deliver, relative to the start of the read.
    struct ReadReport {
        std::vector<ByteRange> failed;      // sectors whose read failed (their bytes are what
                                            // the read left, zeros where it left nothing)
        std::vector<ByteRange> pastSource;  // bytes past the end of the source (zeros)
        bool ok() const { return failed.empty() && pastSource.empty(); }
    };

    // Reads `bytes` at volume offset `offset` exactly as a seek and a 512-byte read per
    // sector would deliver them, in large requests. A negative offset reads zeros and is
    // reported as failed; a short tail is read as a whole sector.
    ReadReport read(int64_t offset, void* out, size_t bytes) const;
    // The same without a report, for metadata whose checks catch damage themselves.
    void readQuiet(int64_t offset, void* out, size_t bytes) const { (void)read(offset, out, bytes); }

private:
    readWriteInterface* reader_ = nullptr;
    int64_t start_ = 0;
};

}  // namespace quenlow::disk
