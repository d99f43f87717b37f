#pragma once
// The NTFS parser: finds the Master File Table, keeps one entry per MFT slot (live or
// deleted), links the entries into folders through their FILE_NAME parent references,
// gathers entries without a usable parent under "ORPHAN_ENTRY", fills the first level of
// the folder tree, and reads file data back for the Size column and for saving.

#include <cstdint>
#include <string>
#include <vector>

#include "disk/readWriteInterface.h"
#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "filesystems/ntfs/NtfsEntry.h"
#include "filesystems/ntfs/NtfsRecord.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::platform {
class OutputFile;
}

namespace quenlow::fs {

class ntfs : public VolumeParser {
public:
    ntfs(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume, FolderTree& tree,
         std::string rootLabel);
    ~ntfs() override;

    // 1 standard, 2 advanced, 3 deep.
    int32_t mode = 1;

    // The worker's steps, in calling order.
    void prepare();
    bool readBootSector();
    bool locateMft();
    // Advanced mode: picks one of the MFT records found earlier as the table to walk.
    // Not built yet: returns false and leaves the run list empty.
    bool selectCandidate(size_t candidateIndex, const std::string& sectorsPerClusterText);
    // Deep mode: collects every plausible MFT record of the volume. Not built yet.
    void collectRecords();
    void enumerateMft();
    bool parseEntries();

    // The runs of the first non-resident attribute of `type` in the record at `recordPosition`.
    std::vector<NtfsRun> decodeRuns(int64_t recordPosition, uint32_t type);
    // Reads the record at `recordPosition` into entry `index` and links it.
    void parseRecord(int64_t recordPosition, int64_t index);

    // VolumeParser
    std::vector<EntryRef> firstLevel() const override { return firstLevel_; }
    EntryRef firstChild(EntryRef folder) const override;
    EntryRef nextSibling(EntryRef entry) const override;
    bool qualifiesAsSaveFolder(EntryRef entry) const override;
    bool isFolder(EntryRef entry) const override;
    bool isFile(EntryRef entry) const override;
    bool hasChildren(EntryRef entry) const override;
    bool isDeleted(EntryRef entry) const override;
    std::string name(EntryRef entry) const override;
    int64_t sizeField(EntryRef entry) const override;
    bool skipWhenSaving(EntryRef entry) const override;
    bool setName(EntryRef entry, const std::string& newName) override;
    std::string sizeText(EntryRef entry) override;
    int64_t dataSize(EntryRef entry) override;
    EntryTexts entryTexts(EntryRef entry) override;
    bool saveEntry(EntryRef entry, const std::string& outputPath, std::string& error) override;

    // An entry's reference is its index + 1, so that no real entry has reference 0.
    static EntryRef refOf(int64_t index) { return static_cast<EntryRef>(index) + 1; }
    int64_t indexOf(EntryRef ref) const;
    const NtfsEntry* entry(EntryRef ref) const;
    const std::vector<NtfsEntry>& entries() const { return entries_; }
    std::string nameAt(int64_t index) const;

    int64_t clusterSize() const { return clusterSize_; }
    int64_t volumeSize() const { return volumeSize_; }
    bool mftLocated() const { return mftLocated_; }
    const std::vector<NtfsRun>& mftRuns() const { return mftRuns_; }
    int64_t orphanIndex() const { return orphanIndex_; }
    int64_t rootIndex() const { return rootIndex_; }
    TreeItem rootItem() const { return rootItem_; }

    // Tests compare the fast linking (which remembers each folder's last child) with the
    // plain walk of every child list.
    bool walkWholeLists = false;

private:
    struct DataLayout;

    void clearTable();
    void status(const char* format, long long value);
    // Reads `bytes` at `offset` (relative to the volume) the way sector-by-sector reads of
    // the reader would deliver them, in large requests. Bytes past the source are zero.
    void readBytes(int64_t offset, uint8_t* out, size_t bytes);
    // End of the source relative to the volume, -1 when unknown.
    int64_t sourceEnd() const;
    bool beyondSource(int64_t cluster) const;
    // How many of `count` clusters from `cluster` on read as zeros without reading.
    uint64_t zeroClusters(int64_t cluster, uint64_t count) const;
    bool loadRecord(int64_t position, NtfsRecord& record);
    void applyRecord(int64_t index, const NtfsRecord& record, bool link);
    void storeName(int64_t index, const std::string& text);
    void moveExtensionNames();
    void linkEntry(int64_t index);
    void appendEntry(int64_t index);
    void flushSlots(int64_t start, int64_t slots);
    void forgetReadAhead(int64_t from);
    void linkOrphans();
    void arrangeDeep();  // deep mode's arrangement under the orphan folder (not built yet)
    void orphanChildrenOfFiles();
    void cutRevisits();
    bool fillFirstLevel();
    void insertFirstLevel(int64_t index);

    bool loadData(int64_t index, NtfsRecord& record, DataLayout& layout);
    bool readAttributeList(const NtfsRecord& record, std::vector<uint8_t>& bytes);
    void plainCopy(const DataLayout& layout, platform::OutputFile& out);
    void compressedCopy(const DataLayout& layout, platform::OutputFile& out);
    void readClusters(int64_t cluster, uint64_t count, uint8_t* out);

    disk::readWriteInterface& reader_;
    volumes::VolumeRecord volume_;
    FolderTree& tree_;
    std::string rootLabel_;
    TreeItem rootItem_ = kNoItem;

    int64_t volumeSize_ = 0;
    int64_t clusterSize_ = 4096;
    int64_t recordsPerCluster_ = 4;
    bool bootRead_ = false;
    bool bootIsNtfs_ = false;
    uint16_t bytesPerSector_ = 0;
    uint8_t sectorsPerCluster_ = 0;
    int64_t mftStartCluster_ = 0;

    bool mftLocated_ = false;
    bool runsNeeded_ = true;
    std::vector<NtfsRun> mftRuns_;
    int64_t clusterCount_ = 0;

    std::vector<NtfsEntry> entries_;
    std::string names_;  // every entry name, UTF-8, back to back
    int64_t orphanIndex_ = -1;
    int64_t rootIndex_ = 5;
    std::vector<std::pair<int64_t, int64_t>> extensions_;  // (extension, base) with FILE_NAMEs
    std::vector<int64_t> lastChild_;  // while linking: each folder's last child, 0 unknown
    std::vector<EntryRef> firstLevel_;

    std::vector<uint8_t> slotBuffer_;
};

}  // namespace quenlow::fs
