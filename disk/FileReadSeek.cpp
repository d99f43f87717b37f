#include "disk/FileReadSeek.h"

#include <cstring>
#include <vector>

#include "disk/RecoveryContext.h"

namespace quenlow::disk {

bool FileReadSeek::open(const std::string& path) {
    if (!file_.open(path)) {
        handle = -1;
        reportFailure("invalid handle ...", file_.error());
        return false;
    }
    handle = file_.fd();
    length = static_cast<int64_t>(file_.size());
    filePos_ = 0;
    if (context_ != nullptr) context_->totalSectors = file_.size() / kSectorSize;
    return true;
}

bool FileReadSeek::read(void* buffer, uint32_t count) {
    if (!file_.isOpen()) return false;
    if (count == 0) return true;
    std::vector<unsigned char> block(count, 0);
    int64_t got = file_.readAt(block.data(), count, static_cast<uint64_t>(filePos_));
    if (got <= 0) return false;
    std::memcpy(buffer, block.data(), count);
    filePos_ += got;
    return got == static_cast<int64_t>(count);
}

bool FileReadSeek::seek(int64_t offset, int32_t) {
    int64_t target = offset + baseOffset;
    if (target < 0) return false;
    filePos_ = target;
    return true;
}

uint32_t FileReadSeek::readRun(int64_t offset, void* buffer, uint32_t sectors) {
    if (!file_.isOpen() || sectors == 0) return 0;
    int64_t target = offset + baseOffset;
    if (target < 0) return 0;
    uint64_t bytes = static_cast<uint64_t>(sectors) * kSectorSize;
    int64_t got = file_.readAt(buffer, bytes, static_cast<uint64_t>(target));
    if (got < 0) return 0;
    filePos_ = target + got;
    return static_cast<uint32_t>(static_cast<uint64_t>(got) / kSectorSize);
}

bool FileReadSeek::piecesInside(const Piece* pieces, size_t count) const {
    if (!file_.isOpen()) return false;
    const uint64_t size = file_.size();
    for (size_t i = 0; i < count; ++i) {
        int64_t start = 0;
        if (__builtin_add_overflow(pieces[i].offset, baseOffset, &start) || start < 0) return false;
        uint64_t bytes = static_cast<uint64_t>(pieces[i].sectors) * kSectorSize;
        if (static_cast<uint64_t>(start) > size || size - static_cast<uint64_t>(start) < bytes) return false;
    }
    return true;
}

bool FileReadSeek::readPieces(const Piece* pieces, size_t count) {
    if (!file_.isOpen()) return false;
    std::vector<platform::ReadOnlyFile::Target> targets;
    targets.reserve(count);
    size_t i = 0;
    while (i < count) {
        const uint64_t start = static_cast<uint64_t>(pieces[i].offset + baseOffset);
        uint64_t end = start;
        targets.clear();
        for (; i < count && static_cast<uint64_t>(pieces[i].offset + baseOffset) == end; ++i) {
            const size_t bytes = static_cast<size_t>(pieces[i].sectors) * kSectorSize;
            targets.push_back({pieces[i].data, bytes});
            end += bytes;
        }
        if (file_.readScattered(targets.data(), targets.size(), start) != static_cast<int64_t>(end - start))
            return false;
        filePos_ = static_cast<int64_t>(end);
    }
    return true;
}

}  // namespace quenlow::disk
