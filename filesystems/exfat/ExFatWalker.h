#pragma once
// Walks the folders of an exFAT volume from the root and turns every directory entry set
// it meets into a record: depth first, a folder's record before its contents, entries of
// one folder in disk order. A folder is read over all its clusters (its FAT chain, or its
// contiguous run), and entry sets may cross from one cluster into the next. Every folder
// cluster is walked at most once; the walk keeps its own stack, so nesting costs no call
// depth. Deleted folders are walked after every live one, so that a deleted folder whose
// clusters a live folder took over does not claim the live folder's entries.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/exfat/ExFatDirRecord.h"
#include "filesystems/exfat/ExFatEntrySet.h"
#include "filesystems/exfat/ExFatFat.h"
#include "filesystems/exfat/ExFatGeometry.h"

namespace quenlow::fs {

class ExFatWalker {
public:
    ExFatWalker(disk::VolumeView view, const ExFatGeometry& geometry, ExFatFat& fat,
                std::vector<ExFatDirRecord>& records);

    // Appends the dummy root record and every set found below the root. Polls `control`
    // between clusters: a stop keeps what was found.
    void walk(WorkControl& control, Feedback& feedback);
    // Appends the sets found below the folder of record `folder` (already in the records),
    // over all its clusters; record 0 stands for the root, from the geometry's root cluster.
    // Clusters walked before by this walker are not walked again.
    void walkFolder(uint32_t folder, WorkControl& control, Feedback& feedback);
    // Notes the byte offset of every set's file entry in `used`; a set whose offset is
    // already there is passed over (it is listed elsewhere). Null: every set is listed.
    void noteSetsIn(std::unordered_set<int64_t>* used) { used_ = used; }
    bool stopped() const { return stopped_; }

    // Bounds of a walk over any bytes.
    static constexpr size_t kMaxRecords = size_t{1} << 26;
    static constexpr size_t kMaxDepth = 1000;
    static constexpr int kMaxNamePieces = exfat::kMaxNamePieces;

    uint64_t clustersWalked() const { return walked_.size(); }

private:
    // One folder being read: where its clusters come from, where the reading stands, and
    // the entry set being assembled.
    struct Cursor {
        uint32_t folder = 0;          // record index of the folder (0: the root)
        bool fatChain = true;
        uint32_t cluster = 0;         // the cluster being read; 0 once the folder has ended
        uint64_t clustersLeft = 0;    // contiguous: clusters still to read after this one
        uint64_t lookupsLeft = 0;     // FAT chain: lookups still allowed (the root: no bound)
        bool bounded = true;
        int64_t offset = 0;           // within the cluster
        std::vector<uint8_t> piece;   // bytes read from the cluster at pieceStart
        int64_t pieceStart = 0;
        size_t pieceLength = 0;
        bool started = false;
        // The set being assembled.
        bool pending = false;
        int64_t setOffset = 0;        // volume offset of its file entry
        bool haveStream = false;
        int names = 0;
        ExFatDirRecord record;
        std::u16string name;
        std::unordered_map<uint32_t, uint32_t> folders;  // first cluster -> record, this folder
    };

    Cursor makeCursor(uint32_t folder, const ExFatDirRecord* record) const;
    // The 32-byte entry at the cursor (read again until the cursor moves on), or null at
    // the folder's end.
    const uint8_t* peekEntry(Cursor& c);
    const uint8_t* end(Cursor& c);
    bool enterCluster(Cursor& c, uint32_t cluster);
    // Ends the set being assembled and records it; gives the cursor of a folder to walk
    // now (a deleted one is deferred instead).
    std::optional<Cursor> finishSet(Cursor& c);
    void walkStack(Feedback& feedback);
    void walkAll(Feedback& feedback);

    disk::VolumeView view_;
    const ExFatGeometry& geometry_;
    ExFatFat& fat_;
    std::vector<ExFatDirRecord>& records_;
    std::unordered_set<uint32_t> walked_;
    std::vector<Cursor> stack_;
    std::vector<uint32_t> deferred_;  // deleted folders, walked last
    bool stopped_ = false;
    WorkControl* control_ = nullptr;
    std::unordered_set<int64_t>* used_ = nullptr;
};

}  // namespace quenlow::fs
