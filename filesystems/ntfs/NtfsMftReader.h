#pragma once
// Reads the Master File Table of one NTFS volume into an entry table: the boot sector, the
// table's own run list (or, when the boot sector is not NTFS, a scan for the first record of
// the table), every slot along the runs in large requests, and the FILE_NAMEs that link each
// entry into its folder.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/VolumeView.h"
#include "disk/WorkControl.h"
#include "filesystems/ntfs/NtfsLinker.h"
#include "filesystems/ntfs/NtfsRecord.h"
#include "filesystems/ntfs/NtfsTable.h"
#include "volumes/NtfsBootSector.h"

namespace quenlow::fs {

class NtfsMftReader {
public:
    NtfsMftReader(disk::VolumeView view, int64_t recordSizeBytes, NtfsTable& table, NtfsLinker& linker);

    // Where status texts and progress go, and the stop and pause requests it polls.
    void attach(WorkControl& control, Feedback& feedback) {
        control_ = &control;
        feedback_ = &feedback;
    }

    // The steps, in calling order.
    bool readBootSector();
    std::optional<volumes::NtfsBootSector> findBackupBoot() const;
    bool locateMft();
    void enumerateMft();
    // Links every entry of the table (its FILE_NAMEs read ahead, or its record read now).
    void linkEntries();

    // Deep mode, instead of locating the table: every plausible record anywhere on the
    // volume that carries a name, appended in volume order (no MFT walk follows). At most
    // maxDeepRecords are kept; the scan ends there.
    void collectRecords();
    int64_t maxDeepRecords = int64_t{1} << 23;
    bool deepLimitReached() const { return deepLimitReached_; }
    // The table holds records gathered by collectRecords: its indices are not record numbers.
    bool deepTable() const { return deepTable_; }
    // Advanced mode's search: the positions of $MFT records, each recognised by the $Boot
    // record found seven records after it ($MFTMirr is not one). Once `maximum` are found
    // the search ends at the start of the next chunk. The table is left empty.
    std::vector<int64_t> searchMft(int64_t maximum);
    // Advanced mode, instead of locating the table: its runs from the $MFT record at
    // `position`, and clusters of `sectorsPerCluster` 512-byte sectors (0: the boot
    // sector's, or 4096 bytes). False when the record gives no run.
    bool selectCandidate(int64_t position, int64_t sectorsPerCluster);
    // A 512-byte block that may start an MFT record: "FILE", and its update sequence
    // offset, count and first attribute offset each below 512.
    static bool plausibleRecord(const uint8_t* block);

    // The runs of the first non-resident attribute of `type` in the record at `position`.
    std::vector<NtfsRun> decodeRuns(int64_t position, uint32_t type);
    // Reads the record at `position` into entry `index` and links it.
    void parseRecord(int64_t position, int64_t index);
    // Reads the record at `position`; false when it cannot be addressed.
    bool loadRecord(int64_t position, NtfsRecord& record) const;
    // Reads MFT record `number` where the record numbered `from` at `position` puts it in
    // the same stretch of the table; true only when a FILE record numbering itself `number`
    // is there (for tables whose indices are not record numbers).
    bool loadNeighbour(int64_t position, uint32_t from, uint64_t number, NtfsRecord& out) const;
    // Keeps what the table needs of `record` in entry `index`: the names (linked at once
    // when `link`), the times, the attribute flags and the data size.
    void applyRecord(int64_t index, const NtfsRecord& record, bool link);

    int64_t clusterSize() const { return clusterSize_; }
    int64_t volumeSize() const { return volumeSize_; }
    bool bootIsNtfs() const { return bootIsNtfs_; }
    // The boot sector was not sound and the backup in the volume's last sector was read.
    bool usedBackupBoot() const { return usedBackupBoot_; }
    int64_t bootClusterBytes() const { return bootIsNtfs_ ? clusterBytes_ : 0; }
    bool mftLocated() const { return mftLocated_; }
    const std::vector<NtfsRun>& mftRuns() const { return mftRuns_; }
    // The table's runs came from the copy of its record in $MFTMirr.
    bool usedMirror() const { return usedMirror_; }
    const disk::VolumeView& view() const { return view_; }

private:
    void status(const char* format, long long value);
    bool stopRequested() const { return control_ != nullptr && control_->stopRequested(); }
    bool poll() { return control_ != nullptr && control_->poll(); }
    void flushSlots(int64_t start, int64_t slots);
    void moveExtensionNames();
    void forgetReadAhead(int64_t from);
    void keepDetails(int64_t index, const NtfsRecord& record);
    // Calls `onRecord` (position, 1024 bytes) for every plausible record starting below
    // `end`, in volume order; false from it ends the scan. `stopAtChunk` may end it at a
    // chunk's start.
    void scanVolume(int64_t end, const std::function<bool(int64_t, const uint8_t*)>& onRecord,
                    const std::function<bool()>& stopAtChunk);
    // Appends the record at `position` as a new entry, its FILE_NAMEs read but not linked
    // (counted in pendingLinks).
    NtfsEntry& appendUnlinked(int64_t position, const uint8_t* bytes, NtfsRecord& record);
    // Deep mode: entry `index`, read from an extension record, becomes its base record.
    void adoptBase(int64_t index, const NtfsRecord& extension);

    disk::VolumeView view_;
    int64_t recordSizeBytes_;  // the volume's size by its record, for a boot sector that is not NTFS
    NtfsTable& table_;
    NtfsLinker& linker_;
    WorkControl* control_ = nullptr;
    Feedback* feedback_ = &silentFeedback();

    int64_t volumeSize_ = 0;
    int64_t clusterSize_ = 4096;
    int64_t recordsPerCluster_ = 4;
    bool bootRead_ = false;
    bool bootIsNtfs_ = false;
    bool usedBackupBoot_ = false;
    uint16_t bytesPerSector_ = 0;
    uint8_t sectorsPerCluster_ = 0;
    int64_t clusterBytes_ = 0;
    int64_t mftStartCluster_ = 0;
    int64_t mftMirrorCluster_ = 0;
    bool usedMirror_ = false;

    bool mftLocated_ = false;
    bool runsNeeded_ = true;
    bool deepTable_ = false;
    bool deepLimitReached_ = false;
    std::vector<NtfsRun> mftRuns_;
    int64_t clusterCount_ = 0;
    std::vector<std::pair<int64_t, int64_t>> extensions_;  // (extension, base) with FILE_NAMEs
    std::vector<uint8_t> slotBuffer_;
};

}  // namespace quenlow::fs
