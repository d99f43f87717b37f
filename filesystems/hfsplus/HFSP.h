#pragma once
// The HFS+ parser: the volume header, the extents-overflow file's data-fork records, the
// catalog's leaf nodes (standard mode: the catalog file along all its extents; deep mode:
// a scan of the whole volume for leaf nodes), one entry per folder and file record
// (HfsCatalog), the child lists and the first level, the list's texts with the stored
// UTC dates, and each file's data fork as a stream (HfsDataStream).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/hfsplus/HfsCatalog.h"
#include "filesystems/hfsplus/HfsExtentsIndex.h"
#include "filesystems/hfsplus/HfsVolumeHeader.h"

namespace quenlow::fs {

inline constexpr const char* kHfsSelectedText = "HFS+ partition selected....";
inline constexpr const char* kHfsDoneText = "Work Done.";
inline constexpr const char* kHfsAbortedText = "Work Aborted....";
inline constexpr const char* kHfsBlockSizeText = "BlockSize not valid .Aborting..";
inline constexpr const char* kHfsLinkingText = "Maintaining Parent Child....";

class HFSP : public VolumeParser {
public:
    explicit HFSP(const ParserSetup& setup);
    ~HFSP() override;

    ParseOutcome parse(WorkControl& control, Feedback& feedback, Mode mode) override;

    std::vector<EntryRef> firstLevel() const override { return firstLevel_; }
    EntryRef firstChild(EntryRef folder) const override;
    EntryRef nextSibling(EntryRef entry) const override;
    bool qualifiesAsSaveFolder(EntryRef entry) const override { return isFolder(entry); }
    bool isFolder(EntryRef entry) const override;
    bool isFile(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override { return firstChild(entry) != kNoEntry; }
    bool isDeleted(EntryRef) const override { return false; }
    std::string name(EntryRef entry) const override;
    int64_t sizeField(EntryRef entry) const override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override;
    EntryTexts entryTexts(EntryRef entry) override;
    EntryTimes times(EntryRef entry) override;
    Result<EntryData> openData(EntryRef entry, Feedback& feedback) override;

    const HfsCatalog& catalog() const { return catalog_; }
    const HfsVolumeHeader& header() const { return header_; }
    bool scanned() const { return scanMode_; }
    // The data fork's extents in order, completed from the extents-overflow file.
    std::vector<HfsExtent> dataExtents(const HfsCatalogEntry& entry) const;

private:
    ParseOutcome abort(Feedback& feedback, const std::string& reason);
    bool readExtentsOverflow(WorkControl& control, Feedback& feedback);
    void fillTree(Feedback& feedback);
    // Blocks the volume is taken to have: the header's count, or the record's size.
    uint64_t volumeBlocks() const;

    ParserSetup setup_;
    HfsVolumeHeader header_;
    HfsExtentsIndex overflow_;
    HfsCatalog catalog_;
    bool scanMode_ = false;
    std::vector<EntryRef> firstLevel_;
    TreeItem rootItem_ = kNoItem;
};

}  // namespace quenlow::fs
