#pragma once
// Format-aware finishes of the default types: what a signature record cannot say about
// where a file of a known format ends. A finish gives the exact size from the bytes at the
// file's start or around its end signature, or nothing (the record's own rule then holds).

#include <cstdint>
#include <optional>
#include <string>

#include "disk/VolumeView.h"

namespace quenlow::raw {

enum class Finish {
    None,
    ZipEndRecord,   // the end record: 22 bytes from its signature, then the comment it sizes
    PdfLineEnd,     // %%EOF and the line end after it (CR LF, LF or CR)
    SqlitePages,    // page size (16, big-endian) x page count (28, big-endian)
    SevenZipHeader, // the start header's next-header offset and size after its 32 bytes
    JpegSegments,   // the end is searched only after the segments before the scan (which may
                    // hold a thumbnail with an end marker of its own)
};

// The finish of a name in the signature table ("zip-end", "pdf-eol", ...); nullopt for an
// unknown name. "-" and "" are Finish::None.
std::optional<Finish> finishFromName(const std::string& name);
std::string finishName(Finish finish);

// The file's size when it starts at `start` of the volume and its end signature (of
// `endLength` bytes) was found at `end` (-1 for a type without end signature). Reads only a
// few bytes; nullopt when the finish does not apply to what is there. `limit` is the volume's
// size: no size reaches past it.
std::optional<int64_t> finishSize(Finish finish, const disk::VolumeView& view, int64_t limit, int64_t start,
                                  int64_t end, int endLength);

// Where the end signature of a file starting at `start` may first lie: past its header
// segments for JpegSegments; `start` + 1 for every other finish or when the header is not
// what the finish expects.
int64_t endSearchFrom(Finish finish, const disk::VolumeView& view, int64_t limit, int64_t start);

}  // namespace quenlow::raw
