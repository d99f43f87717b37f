#include "filesystems/ext/ExtDataStream.h"

#include <algorithm>

#include "filesystems/ext/ExtBlockMap.h"

namespace quenlow::fs {

std::unique_ptr<DataStream> ExtDataStream::open(const ExtVolume& volume, const ExtInode& inode) {
    const uint64_t bs = volume.blockSize();
    if (inode.fastSymlink() || inode.inlineData()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(inode.size, ExtInode::kBlockAreaSize));
        return std::make_unique<MemoryStream>(std::vector<uint8_t>(inode.blockArea.begin(), inode.blockArea.begin() + n));
    }
    // ext4 maps at most 2^32 logical blocks.
    const uint64_t size = std::min(inode.size, bs << 32);
    const uint64_t blocks = size / bs + (size % bs != 0);
    ExtMapping mapping = ExtBlockMap(volume).map(inode, blocks);
    std::vector<Run> runs;
    uint64_t at = 0;  // logical block reached
    auto hole = [&](uint64_t count) {
        if (count == 0) return;
        if (!runs.empty() && runs.back().hole())
            runs.back().length += count * bs;
        else
            runs.push_back({count * bs, -1});
    };
    for (const ExtMapping::Extent& e : mapping.extents) {
        hole(e.logical - at);
        if (e.uninitialised)
            hole(e.count);
        else
            runs.push_back({e.count * bs, static_cast<int64_t>(e.physical * bs)});
        at = e.logical + e.count;
    }
    std::unique_ptr<ExtDataStream> stream(new ExtDataStream(volume.view(), std::move(runs), size));
    for (const ExtMapping::Range& r : mapping.damaged) {
        uint64_t from = r.first * bs;
        if (from < size) stream->noteDamage(from, std::min(r.count * bs, size - from));
    }
    return stream;
}

}  // namespace quenlow::fs
