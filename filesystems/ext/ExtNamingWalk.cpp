#include "filesystems/ext/ExtNamingWalk.h"

#include <algorithm>
#include <cstdio>

#include "filesystems/ext/ExtBlockMap.h"
#include "filesystems/ext/ExtDirEntry.h"

namespace quenlow::fs {

namespace {

std::string counted(const char* format, uint64_t a, uint64_t b) {
    char text[96];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long long>(a), static_cast<unsigned long long>(b));
    return text;
}

}  // namespace

std::vector<ExtNamed> ExtNamingWalk::run() {
    const ExtSuperblock& s = volume_.superblock();
    const size_t groups = volume_.groups().size();
    const uint32_t limit = volume_.inodeLimit();
    const size_t inodeSize = s.inodeSize;
    feedback_.progressRange(0, limit);
    // Inode tables are read in pieces of up to 4 MiB; only the part a group may use.
    const size_t piece = std::max<size_t>(inodeSize, (size_t{4} << 20) / inodeSize * inodeSize);
    std::vector<uint8_t> buffer;
    for (size_t g = 0; g < groups && !stopped_; ++g) {
        const uint64_t firstNumber = static_cast<uint64_t>(g) * s.inodesPerGroup + 1;
        if (firstNumber > limit) break;
        if (g % 64 == 0 || g + 1 == groups) {
            feedback_.status(counted("parsing group %llu  of %llu ", g + 1, groups));
            feedback_.status(counted("parsing inode entry %llu  of %llu ", firstNumber, limit));
            feedback_.progressPosition(static_cast<int64_t>(firstNumber));
        }
        if (control_.poll()) {
            stopped_ = true;
            break;
        }
        uint64_t used = std::min<uint64_t>(volume_.usedInodes(g), limit - firstNumber + 1);
        int64_t table = volume_.inodeOffset(static_cast<uint32_t>(firstNumber));
        if (used == 0 || table < 0) continue;
        for (uint64_t done = 0; done < used * inodeSize && !stopped_; done += piece) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(piece, used * inodeSize - done));
            buffer.assign(n, 0);
            if (!volume_.view().read(table + static_cast<int64_t>(done), buffer.data(), n).ok()) {
                // Inodes whose sectors failed are passed over; the rest of the piece is read.
            }
            for (size_t at = 0; at + inodeSize <= n; at += inodeSize) {
                std::span<const uint8_t> bytes(buffer.data() + at, inodeSize);
                // Cheap tests first: most inodes are not folders.
                if ((bytes[1] & 0xF0) != 0x40) continue;
                ExtInode inode = ExtInode::parse(bytes);
                if (!inode.isFolder() || (inode.blockArea[0] | inode.blockArea[1] | inode.blockArea[2] | inode.blockArea[3]) == 0)
                    continue;
                walkFolder(static_cast<uint32_t>(firstNumber + (done + at) / inodeSize), inode);
                if (control_.poll()) stopped_ = true;
            }
        }
    }
    feedback_.status(counted("parsed inode entry %llu  of %llu ", limit, limit));
    feedback_.progressPosition(limit);
    // One record per key: the last name given wins.
    std::stable_sort(named_.begin(), named_.end(), [](const ExtNamed& a, const ExtNamed& b) { return a.key < b.key; });
    std::vector<ExtNamed> out;
    out.reserve(named_.size());
    for (size_t i = 0; i < named_.size(); ++i)
        if (i + 1 == named_.size() || named_[i + 1].key != named_[i].key) out.push_back(std::move(named_[i]));
    named_.clear();
    named_.shrink_to_fit();
    return out;
}

void ExtNamingWalk::walkFolder(uint32_t number, const ExtInode& inode) {
    // Folders kept inside the inode carry no blocks to walk.
    if (inode.inlineData()) return;
    if (!first_) current_ = static_cast<int64_t>(number) - 1;
    const uint64_t bs = volume_.blockSize();
    const uint64_t blocks = std::min(inode.size / bs + (inode.size % bs != 0), kMaxFolderBlocks);
    ExtMapping mapping = ExtBlockMap(volume_).map(inode, blocks);
    const uint64_t perRead = std::max<uint64_t>(1, (uint64_t{1} << 20) / bs);
    std::vector<uint8_t> buffer;
    for (const ExtMapping::Extent& e : mapping.extents) {
        if (e.uninitialised) continue;
        for (uint64_t done = 0; done < e.count; done += perRead) {
            uint64_t n = std::min(perRead, e.count - done);
            buffer.assign(static_cast<size_t>(n * bs), 0);
            disk::VolumeView::ReadReport report =
                volume_.view().read(static_cast<int64_t>((e.physical + done) * bs), buffer.data(), buffer.size());
            for (uint64_t b = 0; b < n; ++b) {
                // A block any of whose sectors failed is skipped.
                bool failed = false;
                for (const auto& list : {report.failed, report.pastSource})
                    for (const disk::ByteRange& r : list)
                        if (r.offset < (b + 1) * bs && r.end() > b * bs) failed = true;
                if (!failed) walkBlock(std::span<const uint8_t>(buffer.data() + b * bs, static_cast<size_t>(bs)));
            }
        }
    }
}

void ExtNamingWalk::walkBlock(std::span<const uint8_t> block) {
    const bool fileTypes = volume_.superblock().fileTypes();
    const uint32_t limit = volume_.inodeLimit();
    size_t at = 0;
    while (at + ExtDirEntry::kHeaderSize <= block.size()) {
        ExtDirEntry e = ExtDirEntry::parse(block.subspan(at), fileTypes);
        if (fileTypes) {
            if (e.nameLen == 0 || e.recLen == 0 || e.inode > limit) break;
        } else if (e.nameLen == 0 || e.nameLen > 1024 || e.recLen == 0) {
            break;
        }
        // A name that runs past the block ends the block's walk.
        if (e.nameCut) break;
        uint16_t typeMode = 0;
        if (fileTypes && e.fileType == ExtDirEntry::Directory) typeMode = 0x4000;
        if (fileTypes && e.fileType == ExtDirEntry::RegularFile) typeMode = 0x8000;
        entry(e.inode, e.name, typeMode);
        at += fileTypes ? e.advance() : e.recLen;
    }
}

void ExtNamingWalk::entry(uint32_t inode, std::string_view name, uint16_t typeMode) {
    const bool dot = name == ".", dotdot = name == "..";
    if ((!dot && !dotdot) || first_) {
        if (first_) current_ = inode;
        first_ = false;
        if (inode > 0 && inode <= volume_.inodeLimit())
            named_.push_back({static_cast<int32_t>(inode - 1), static_cast<int32_t>(current_), typeMode, std::string(name)});
    } else if (dot) {
        current_ = static_cast<int64_t>(inode) - 1;
    }
}

}  // namespace quenlow::fs
