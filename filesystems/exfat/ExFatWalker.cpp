#include "filesystems/exfat/ExFatWalker.h"

#include <algorithm>
#include <optional>

#include "filesystems/exfat/ExFatEntrySet.h"
#include "platform/TextConvert.h"

namespace quenlow::fs {

namespace {

constexpr int64_t kEntryBytes = static_cast<int64_t>(exfat::kEntryBytes);
constexpr int64_t kPieceBytes = 16 * 1024;  // read from a folder cluster at a time

using exfat::isFileEntry;
using exfat::isNameEntry;
using exfat::isStreamEntry;

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
            // A set the folder's end cuts short of its name is left to the advanced scan,
            // which reads it whole where its clusters lie side by side.
            const bool cutShort = used_ != nullptr && c.pending && c.names * 15 < c.record.nameLength;
            if (cutShort) used_->erase(c.setOffset);
            std::optional<Cursor> child = c.pending && !cutShort ? finishSet(c) : std::nullopt;
            stack_.pop_back();
            if (child) stack_.push_back(std::move(*child));
            continue;
        }
        const platform::ByteReader entry(e, exfat::kEntryBytes);
        const uint8_t type = e[0];
        if (c.pending) {
            if (!c.haveStream && c.names == 0 && isStreamEntry(type)) {
                c.haveStream = true;
                exfat::readStreamEntry(entry, c.record);
                c.offset += kEntryBytes;
                continue;
            }
            if (isNameEntry(type)) {
                if (c.names++ < kMaxNamePieces) exfat::appendNamePiece(entry, c.name);
                c.offset += kEntryBytes;
                continue;
            }
            // The set ended before this entry, which is read again afterwards.
            std::optional<Cursor> child = finishSet(c);
            if (child) stack_.push_back(std::move(*child));
            if (records_.size() % 4096 == 0) feedback.progressPosition(static_cast<int64_t>(records_.size()));
            continue;
        }
        // A set an earlier walk or the advanced scan listed already is passed over whole.
        const int64_t at = geometry_.clusterOffset(c.cluster) + c.offset;
        if (isFileEntry(type) && (used_ == nullptr || used_->insert(at).second)) {
            c.pending = true;
            c.setOffset = at;
            c.haveStream = false;
            c.names = 0;
            exfat::readFileEntry(entry, c.record);
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
    walkAll(feedback);
    control_ = nullptr;
}

void ExFatWalker::walkFolder(uint32_t folder, WorkControl& control, Feedback& feedback) {
    if (folder >= records_.size() || !records_[folder].isFolder()) return;
    control_ = &control;
    stopped_ = false;
    deferred_.clear();
    stack_.push_back(makeCursor(folder, folder == 0 ? nullptr : &records_[folder]));
    walkAll(feedback);
    control_ = nullptr;
}

void ExFatWalker::walkAll(Feedback& feedback) {
    walkStack(feedback);
    for (size_t i = 0; i < deferred_.size() && !stopped_; ++i) {
        stack_.push_back(makeCursor(deferred_[i], &records_[deferred_[i]]));
        walkStack(feedback);
    }
    stack_.clear();
}

}  // namespace quenlow::fs
