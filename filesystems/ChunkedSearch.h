#pragma once
// A search of a whole volume in large pieces: one buffer, one read per piece, and each
// piece followed by a few bytes of the next one, so that a pattern that starts near the end
// of a piece is seen whole there (and only there: a match belongs to the piece it starts
// in). The searches of the advanced modes (FAT starts, directory entries) run on it.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "disk/VolumeView.h"
#include "disk/WorkControl.h"

namespace quenlow::fs {

// The piece the advanced searches read: 10 MiB.
inline constexpr size_t kSearchChunkBytes = 10 * 1024 * 1024;

// One piece: `own` bytes at volume offset `offset` belong to it; `available` (at least
// `own`) can be read at `data`, the rest being the start of the next piece. Returns false to
// end the search.
using ChunkVisitor = std::function<bool(uint64_t offset, const uint8_t* data, size_t own, size_t available)>;

enum class ChunkEnd { Finished, Stopped, Ended };

// Reads [0, end) of `view` in pieces of `chunkBytes` with `overlap` bytes of look-ahead and
// hands each to `visit`; polls `control` after every piece. Bytes a read could not deliver
// are zeros. Stopped: `control` asked to stop; Ended: `visit` returned false.
ChunkEnd scanChunks(const disk::VolumeView& view, uint64_t end, size_t chunkBytes, size_t overlap,
                    WorkControl& control, const ChunkVisitor& visit);

}  // namespace quenlow::fs
