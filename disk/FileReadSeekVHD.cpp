#include "disk/FileReadSeekVHD.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "disk/RecoveryContext.h"
#include "disk/VhdDynamicHeader.h"
#include "disk/VhdFooter.h"
#include "platform/ByteReader.h"

namespace quenlow::disk {

namespace {

constexpr uint32_t kFooterBytes = VhdFooter::kSize;
constexpr uint32_t kHeaderBytes = VhdDynamicHeader::kSize;
constexpr uint32_t kUnallocated = 0xFFFFFFFFu;
constexpr uint32_t kMaxBlockBytes = 1u << 30;
constexpr uint32_t kMaxTableEntries = 1u << 28;

}  // namespace

bool FileReadSeekVHD::fail(const std::string& detail) {
    file_.close();
    handle = -1;
    positioned_ = false;
    blockTable.clear();
    blockTableCount = 0;
    virtualSize_ = 0;
    setLastError(detail);
    return false;
}

bool FileReadSeekVHD::notVhd(const std::string& detail) {
    fail(detail);
    reportFailure("not a vhd file", detail);
    return false;
}

bool FileReadSeekVHD::carriesFooter(const std::string& path) {
    platform::ReadOnlyFile file;
    if (!file.open(path) || file.size() < kFooterBytes) return false;
    unsigned char footer[kFooterBytes];
    if (file.readAt(footer, kFooterBytes, file.size() - kFooterBytes) == kFooterBytes &&
        VhdFooter::parse(footer).valid())
        return true;
    return file.readAt(footer, kFooterBytes, 0) == kFooterBytes && VhdFooter::parse(footer).valid();
}

bool FileReadSeekVHD::open(const std::string& path) {
    file_.close();
    handle = -1;
    blockTable.clear();
    blockTableCount = 0;
    virtualSize_ = 0;
    dataEnd_ = 0;
    fixed_ = false;
    positioned_ = false;
    clean_ = false;
    blockSectors_ = 4096;
    bitmapBytes_ = 512;
    lastError_.clear();

    if (!file_.open(path)) {
        reportFailure("invalid handle ...", file_.error());
        return false;
    }
    const int64_t size = static_cast<int64_t>(file_.size());
    length = size;
    if (size < static_cast<int64_t>(kFooterBytes))
        return notVhd(path + ": not a VHD file (" + std::to_string(size) + " bytes, too small for its footer)");

    unsigned char head[kFooterBytes] = {};
    unsigned char tail[kFooterBytes] = {};
    if (file_.readAt(head, kFooterBytes, 0) != kFooterBytes ||
        file_.readAt(tail, kFooterBytes, static_cast<uint64_t>(size - kFooterBytes)) != kFooterBytes)
        return fail(path + ": cannot read the VHD footer");
    const VhdFooter atStart = VhdFooter::parse(head);
    const VhdFooter atEnd = VhdFooter::parse(tail);

    VhdFooter chosen;
    if (atEnd.cookie && atEnd.diskType == VhdFooter::kFixed && (atEnd.checksum || !atStart.checksum)) {
        chosen = atEnd;
    } else if (atStart.valid()) {
        chosen = atStart;
    } else if (atEnd.valid()) {
        chosen = atEnd;
    } else if (atStart.cookie) {
        chosen = atStart;
    } else if (atEnd.cookie) {
        chosen = atEnd;
    } else {
        return notVhd(path + ": not a VHD file (no \"conectix\" footer at its start or end)");
    }
    // Sector data never runs into a valid footer at the end of the file.
    dataEnd_ = atEnd.cookie ? size - kFooterBytes : size;

    bool ok = false;
    switch (chosen.diskType) {
    case VhdFooter::kFixed:
        ok = openFixed(chosen);
        break;
    case VhdFooter::kDynamic:
        ok = openDynamic(chosen);
        break;
    case VhdFooter::kDifferencing:
        return fail(path + ": a differencing VHD holds only the changes to its parent disk and "
                           "cannot be read on its own");
    default:
        return fail(path + ": unknown VHD disk type " + std::to_string(chosen.diskType));
    }
    if (!ok) {
        std::string why = lastError_;
        return fail(path + ": " + why);
    }
    handle = file_.fd();
    if (context_ != nullptr) context_->totalSectors = static_cast<uint64_t>(virtualSize_) / kSectorSize;
    seek(0, 0);
    return true;
}

bool FileReadSeekVHD::openFixed(const VhdFooter& footer) {
    fixed_ = true;
    dataEnd_ = static_cast<int64_t>(file_.size()) - kFooterBytes;
    uint64_t size = footer.currentSize;
    virtualSize_ = static_cast<int64_t>(std::min<uint64_t>(size, static_cast<uint64_t>(dataEnd_)));
    virtualSize_ -= virtualSize_ % kSectorSize;
    return true;
}

bool FileReadSeekVHD::openDynamic(const VhdFooter& footer) {
    const uint64_t fileSize = file_.size();
    unsigned char bytes[kHeaderBytes] = {};
    VhdDynamicHeader header;
    auto readHeader = [&](uint64_t at) {
        if (at > fileSize || fileSize - at < kHeaderBytes || file_.readAt(bytes, kHeaderBytes, at) != kHeaderBytes)
            return false;
        header = VhdDynamicHeader::parse(bytes);
        return header.cookie;
    };
    if (!readHeader(footer.dataOffset) && !readHeader(kFooterBytes)) {
        setLastError("no dynamic disk header (\"cxsparse\")");
        return false;
    }
    const uint64_t tableOffset = header.tableOffset;
    const uint32_t entries = header.maxTableEntries;
    const uint32_t blockBytes = header.blockSize;
    if (blockBytes < kSectorSize || blockBytes % kSectorSize != 0 || blockBytes > kMaxBlockBytes) {
        setLastError("block size " + std::to_string(blockBytes) + " is not a usable number of sectors");
        return false;
    }
    blockSectors_ = blockBytes / kSectorSize;
    uint32_t bitmap = (blockSectors_ + 7) / 8;
    bitmapBytes_ = (bitmap + kSectorSize - 1) / kSectorSize * kSectorSize;
    if (entries > kMaxTableEntries) {
        setLastError("block allocation table of " + std::to_string(entries) + " entries is implausible");
        return false;
    }
    const uint64_t tableBytes = uint64_t{entries} * 4;
    if (entries > 0 && (tableOffset > fileSize || fileSize - tableOffset < tableBytes)) {
        setLastError("block allocation table (" + std::to_string(entries) + " entries at byte " +
                     std::to_string(tableOffset) + ") runs past the end of the file (" +
                     std::to_string(fileSize) + " bytes)");
        return false;
    }
    std::vector<unsigned char> raw(static_cast<size_t>(tableBytes));
    if (entries > 0 && file_.readAt(raw.data(), raw.size(), tableOffset) != static_cast<int64_t>(raw.size())) {
        setLastError("cannot read the block allocation table");
        return false;
    }
    blockTable.resize(entries);
    const platform::ByteReader table(raw.data(), raw.size());
    for (uint32_t i = 0; i < entries; ++i) blockTable[i] = table.be32(size_t{i} * 4);
    blockTableCount = entries;
    const uint64_t capacity = uint64_t{entries} * blockBytes;
    virtualSize_ = static_cast<int64_t>(std::min(footer.currentSize, capacity));
    virtualSize_ -= virtualSize_ % kSectorSize;
    return true;
}

bool FileReadSeekVHD::place(int64_t offset, Place* out) const {
    int64_t target = 0;
    if (!file_.isOpen() || __builtin_add_overflow(offset, baseOffset, &target) || target < 0) return false;
    const int64_t sector = target / kSectorSize;
    if (fixed_) {
        const int64_t sectors = virtualSize_ / kSectorSize;
        if (sector >= sectors) return false;
        out->allocated = true;
        out->fileOffset = sector * kSectorSize;
        out->runLeft = static_cast<uint32_t>(std::min<int64_t>(sectors - sector, std::numeric_limits<uint32_t>::max()));
        return true;
    }
    const int64_t block = sector / blockSectors_;
    const int64_t within = sector % blockSectors_;
    if (block >= static_cast<int64_t>(blockTable.size())) return false;
    const uint32_t entry = blockTable[static_cast<size_t>(block)];
    out->allocated = entry != kUnallocated;
    out->fileOffset = out->allocated ? static_cast<int64_t>(entry) * kSectorSize + bitmapBytes_ + within * kSectorSize : 0;
    out->runLeft = blockSectors_ - static_cast<uint32_t>(within);
    return true;
}

bool FileReadSeekVHD::seek(int64_t offset, int32_t) {
    position = offset;
    positioned_ = false;
    clean_ = true;
    cleanBase_ = baseOffset;
    Place p;
    if (!place(offset, &p)) return false;
    blockAllocated = p.allocated ? 1 : 0;
    filePos_ = p.fileOffset;
    runLeft_ = p.runLeft;
    positioned_ = true;
    return true;
}

bool FileReadSeekVHD::piecesInside(const Piece* pieces, size_t count) const {
    for (size_t i = 0; i < count; ++i) {
        uint32_t done = 0;
        while (done < pieces[i].sectors) {
            Place p;
            if (!place(pieces[i].offset + static_cast<int64_t>(done) * kSectorSize, &p)) return false;
            const uint32_t chunk = std::min(pieces[i].sectors - done, p.runLeft);
            if (p.allocated && (p.fileOffset > dataEnd_ ||
                                dataEnd_ - p.fileOffset < static_cast<int64_t>(chunk) * kSectorSize))
                return false;
            done += chunk;
        }
    }
    return true;
}

bool FileReadSeekVHD::readPieces(const Piece* pieces, size_t count) {
    if (!file_.isOpen()) return false;
    std::vector<platform::ReadOnlyFile::Target> targets;
    int64_t start = 0;
    int64_t end = 0;
    auto flush = [&]() {
        if (targets.empty()) return true;
        bool ok = file_.readScattered(targets.data(), targets.size(), static_cast<uint64_t>(start)) == end - start;
        targets.clear();
        return ok;
    };
    for (size_t i = 0; i < count; ++i) {
        uint32_t done = 0;
        while (done < pieces[i].sectors) {
            Place p;
            if (!place(pieces[i].offset + static_cast<int64_t>(done) * kSectorSize, &p)) return false;
            const uint32_t chunk = std::min(pieces[i].sectors - done, p.runLeft);
            unsigned char* dest = pieces[i].data + static_cast<size_t>(done) * kSectorSize;
            const size_t bytes = static_cast<size_t>(chunk) * kSectorSize;
            if (!p.allocated) {
                std::memset(dest, 0, bytes);
            } else {
                if (targets.empty() || p.fileOffset != end) {
                    if (!flush()) return false;
                    start = end = p.fileOffset;
                }
                targets.push_back({dest, bytes});
                end += static_cast<int64_t>(bytes);
            }
            done += chunk;
        }
    }
    return flush();
}

int64_t FileReadSeekVHD::readFile(void* out, uint64_t bytes, int64_t at) const {
    if (at < 0 || at >= dataEnd_) return 0;
    bytes = std::min<uint64_t>(bytes, static_cast<uint64_t>(dataEnd_ - at));
    return file_.readAt(out, static_cast<size_t>(bytes), static_cast<uint64_t>(at));
}

uint32_t FileReadSeekVHD::readHere(unsigned char* out, uint32_t sectors) const {
    sectors = std::min(sectors, runLeft_);
    if (blockAllocated == 0) {
        std::memset(out, 0, static_cast<size_t>(sectors) * kSectorSize);
        return sectors;
    }
    int64_t got = readFile(out, static_cast<uint64_t>(sectors) * kSectorSize, filePos_);
    return got <= 0 ? 0 : static_cast<uint32_t>(got / kSectorSize);
}

bool FileReadSeekVHD::readOneSector(unsigned char* out) {
    if (!positioned_) return false;
    if (blockAllocated == 0) {
        std::memset(out, 0, kSectorSize);
    } else {
        unsigned char sector[kSectorSize] = {};
        int64_t got = readFile(sector, kSectorSize, filePos_);
        if (got <= 0) return false;
        std::memcpy(out, sector, kSectorSize);
        filePos_ += got;
        if (got < static_cast<int64_t>(kSectorSize)) {
            clean_ = false;
            return false;
        }
    }
    int64_t next = 0;
    if (__builtin_add_overflow(position, static_cast<int64_t>(kSectorSize), &next)) {
        positioned_ = false;
    } else {
        seek(next, 0);
    }
    return true;
}

bool FileReadSeekVHD::read(void* buffer, uint32_t count) {
    if (!file_.isOpen()) return false;
    auto* out = static_cast<unsigned char*>(buffer);
    const uint32_t sectors = count / kSectorSize;
    bool result = true;
    uint32_t i = 0;
    while (i < sectors) {
        unsigned char* dest = out + static_cast<size_t>(i) * kSectorSize;
        if (!positioned_) {
            // Every remaining sector fails the same way and nothing moves.
            result = false;
            break;
        }
        if (!clean_ || baseOffset != cleanBase_) {
            result = readOneSector(dest);
            ++i;
            continue;
        }
        const uint32_t run = std::min(sectors - i, runLeft_);
        const uint32_t good = readHere(dest, run);
        if (good > 0) {
            result = true;
            int64_t next = 0;
            if (__builtin_add_overflow(position, static_cast<int64_t>(good) * kSectorSize, &next))
                positioned_ = false;
            else
                seek(next, 0);
        }
        i += good;
        if (good < run) {
            result = readOneSector(out + static_cast<size_t>(i) * kSectorSize);
            ++i;
        }
    }
    const uint32_t rest = count % kSectorSize;
    if (rest != 0) {
        unsigned char* dest = out + static_cast<size_t>(sectors) * kSectorSize;
        if (!positioned_) {
            result = false;
        } else if (blockAllocated == 0) {
            std::memset(dest, 0, rest);
            result = true;
        } else {
            unsigned char part[kSectorSize] = {};
            int64_t got = readFile(part, rest, filePos_);
            if (got > 0) {
                std::memcpy(dest, part, rest);
                filePos_ += got;
                clean_ = false;
            }
            result = got == static_cast<int64_t>(rest);
        }
    }
    return result;
}

uint32_t FileReadSeekVHD::readRun(int64_t offset, void* buffer, uint32_t sectors) {
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < sectors) {
        int64_t at = 0;
        if (__builtin_add_overflow(offset, static_cast<int64_t>(done) * kSectorSize, &at) || !seek(at, 0))
            break;
        const uint32_t run = std::min(sectors - done, runLeft_);
        const uint32_t good = readHere(out + static_cast<size_t>(done) * kSectorSize, run);
        done += good;
        if (good < run) break;
    }
    return done;
}

}  // namespace quenlow::disk
