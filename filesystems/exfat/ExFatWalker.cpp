#include "filesystems/exfat/ExFatWalker.h"

#include <algorithm>
#include <optional>

#include "platform/TextConvert.h"

namespace quenlow::fs {

namespace {

constexpr int64_t kEntryBytes = 32;
constexpr int64_t kPieceBytes = 16 * 1024;  // read from a folder cluster at a time

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint64_t le64(const uint8_t* p) { return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32); }

bool isFileEntry(uint8_t type) { return type == 0x85 || type == 0x05; }
bool isStreamEntry(uint8_t type) { return type == 0xC0 || type == 0x40; }
bool isNameEntry(uint8_t type) { return type == 0xC1 || type == 0x41; }

}  // namespace

ExFatWalker::ExFatWalker(disk::VolumeView view, const ExFatGeometry& geometry, ExFatFat& fat,
                         std::vector<ExFatDirRecord>& records)
    : view_(view), geometry_(geometry), fat_(fat), records_(records) {}

ExFatWalker::Cursor ExFatWalker::makeCursor(uint32_t folder, const ExFatDirRecord* record) const {
    Cursor c;
    c.folder = folder;
    if (record == nullptr) {  // the root: a FAT chain with no length of its own
        c.cluster = geometry_.rootCluster;
        c.bounded = false;
        return c;
    }
    c.cluster = record->firstCluster;
    const uint64_t clusterBytes = static_cast<uint64_t>(geometry_.clusterBytes);
    if (record->contiguous()) {
        c.fatChain = false;
        uint64_t clusters = record->validDataLength / clusterBytes + (record->validDataLength % clusterBytes != 0);
        c.clustersLeft = std::max<uint64_t>(clusters, 1) - 1;
    } else {
        c.lookupsLeft = record->validDataLength / clusterBytes + 1;
    }
    return c;
}

bool ExFatWalker::enterCluster(Cursor& c, uint32_t cluster) {
    c.cluster = 0;
    if (!geometry_.validCluster(cluster) || !walked_.insert(cluster).second) return false;
    if (control_ != nullptr && control_->poll()) {
        stopped_ = true;
        return false;
    }
    c.cluster = cluster;
    c.offset = 0;
    c.pieceLength = 0;
    return true;
}

const uint8_t* ExFatWalker::peekEntry(Cursor& c) {
    if (!c.started) {
        c.started = true;
        if (!enterCluster(c, c.cluster)) return nullptr;
    }
    if (c.cluster == 0) return nullptr;
    if (c.offset + kEntryBytes > geometry_.clusterBytes) {
        uint32_t next = 0;
        if (c.fatChain) {
            if (c.bounded && c.lookupsLeft == 0) return end(c);
            if (c.bounded) --c.lookupsLeft;
            next = fat_.next(c.cluster);
            if (next == kEndOfChain || next == 0) return end(c);
        } else {
            if (c.clustersLeft == 0) return end(c);
            --c.clustersLeft;
            next = c.cluster + 1;
        }
        if (!enterCluster(c, next)) return nullptr;
    }
    if (c.offset < c.pieceStart || c.offset + kEntryBytes > c.pieceStart + static_cast<int64_t>(c.pieceLength)) {
        size_t length = static_cast<size_t>(std::min(kPieceBytes, geometry_.clusterBytes - c.offset));
        c.piece.assign(length, 0);
        view_.readQuiet(geometry_.clusterOffset(c.cluster) + c.offset, c.piece.data(), length);
        c.pieceStart = c.offset;
        c.pieceLength = length;
    }
    return c.piece.data() + (c.offset - c.pieceStart);
}

const uint8_t* ExFatWalker::end(Cursor& c) {
    c.cluster = 0;
    return nullptr;
}

std::optional<ExFatWalker::Cursor> ExFatWalker::finishSet(Cursor& c) {
    c.pending = false;
    ExFatDirRecord rec = std::move(c.record);
    rec.name = platform::utf16ToUtf8(c.name);
    rec.parentRef = c.folder;
    c.record = ExFatDirRecord();
    c.name.clear();
    if (records_.size() >= kMaxRecords) return std::nullopt;
    const auto index = static_cast<uint32_t>(records_.size());
    if (rec.isFolder() && geometry_.validCluster(rec.firstCluster)) {
        // Two sets of one folder naming the same first cluster are one folder (a rename
        // leaves the old set behind, deleted): the later set names it, unless only the
        // earlier one is live.
        auto [it, added] = c.folders.emplace(rec.firstCluster, index);
        if (!added) {
            ExFatDirRecord& earlier = records_[it->second];
            if (!rec.deleted() || earlier.deleted()) {
                earlier.name = std::move(rec.name);
                earlier.entryType = rec.entryType;
            }
            return std::nullopt;
        }
    }
    rec.selfIndex = index;
    records_.push_back(std::move(rec));
    const ExFatDirRecord& added = records_.back();
    if (!added.isFolder() || stack_.size() >= kMaxDepth) return std::nullopt;
    if (added.deleted()) {
        deferred_.push_back(index);
        return std::nullopt;
    }
    return makeCursor(index, &added);
}

void ExFatWalker::walkStack(Feedback& feedback) {
    while (!stack_.empty() && !stopped_) {
        Cursor& c = stack_.back();
        const uint8_t* e = peekEntry(c);
        if (e == nullptr) {
            std::optional<Cursor> child = c.pending ? finishSet(c) : std::nullopt;
            stack_.pop_back();
            if (child) stack_.push_back(std::move(*child));
            continue;
        }
        const uint8_t type = e[0];
        if (c.pending) {
            if (!c.haveStream && c.names == 0 && isStreamEntry(type)) {
                c.haveStream = true;
                c.record.streamType = type;
                c.record.secondaryFlags = e[1];
                c.record.nameLength = e[3];
                c.record.validDataLength = le64(e + 8);
                c.record.firstCluster = le32(e + 20);
                c.record.dataLength = le64(e + 24);
                c.offset += kEntryBytes;
                continue;
            }
            if (isNameEntry(type)) {
                if (c.names++ < kMaxNamePieces) {
                    for (int k = 0; k < 15; ++k) {
                        char16_t ch = le16(e + 2 + 2 * k);
                        if (ch == 0) break;
                        c.name.push_back(ch);
                    }
                }
                c.offset += kEntryBytes;
                continue;
            }
            // The set ended before this entry, which is read again afterwards.
            std::optional<Cursor> child = finishSet(c);
            if (child) stack_.push_back(std::move(*child));
            if (records_.size() % 4096 == 0) feedback.progressPosition(static_cast<int64_t>(records_.size()));
            continue;
        }
        if (isFileEntry(type)) {
            c.pending = true;
            c.haveStream = false;
            c.names = 0;
            ExFatDirRecord& r = c.record;
            r.entryType = type;
            r.attributes = le16(e + 4);
            r.createTimestamp = le32(e + 8);
            r.modifyTimestamp = le32(e + 12);
            r.accessTimestamp = le32(e + 16);
            r.create10ms = e[20];
            r.modify10ms = e[21];
            r.createUtcOffset = e[22];
            r.modifyUtcOffset = e[23];
            r.accessUtcOffset = e[24];
        }
        c.offset += kEntryBytes;
    }
}

void ExFatWalker::walk(WorkControl& control, Feedback& feedback) {
    control_ = &control;
    records_.clear();
    walked_.clear();
    deferred_.clear();
    stopped_ = false;
    ExFatDirRecord dummy;
    dummy.entryType = 0x85;
    dummy.attributes = 0x10;
    dummy.name = "DUMMY ENTRY";
    records_.push_back(dummy);
    stack_.push_back(makeCursor(0, nullptr));
    walkStack(feedback);
    for (size_t i = 0; i < deferred_.size() && !stopped_; ++i) {
        stack_.push_back(makeCursor(deferred_[i], &records_[deferred_[i]]));
        walkStack(feedback);
    }
    stack_.clear();
    control_ = nullptr;
}

}  // namespace quenlow::fs
