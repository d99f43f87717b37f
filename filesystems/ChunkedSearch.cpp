#include "filesystems/ChunkedSearch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace quenlow::fs {

ChunkEnd scanChunks(const disk::VolumeView& view, uint64_t end, size_t chunkBytes, size_t overlap,
                    WorkControl& control, const ChunkVisitor& visit) {
    if (chunkBytes == 0 || overlap > chunkBytes) return ChunkEnd::Ended;
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(chunkBytes + overlap);
    } catch (const std::bad_alloc&) {
        return ChunkEnd::Ended;
    }
    // The look-ahead of one piece is the start of the next: it is kept, not read again.
    size_t carried = 0;
    for (uint64_t at = 0; at < end; at += chunkBytes) {
        const size_t own = static_cast<size_t>(std::min<uint64_t>(chunkBytes, end - at));
        const size_t available = static_cast<size_t>(std::min<uint64_t>(uint64_t{own} + overlap, end - at));
        if (carried > 0) std::memmove(buffer.data(), buffer.data() + chunkBytes, carried);
        std::memset(buffer.data() + carried, 0, available - carried);
        if (available > carried)
            view.readQuiet(static_cast<int64_t>(at + carried), buffer.data() + carried, available - carried);
        carried = available - own;
        if (!visit(at, buffer.data(), own, available)) return ChunkEnd::Ended;
        if (control.poll()) return ChunkEnd::Stopped;
    }
    return ChunkEnd::Finished;
}

}  // namespace quenlow::fs
