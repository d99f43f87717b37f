#pragma once
// The volume finder: lists the volumes of a disk from its partition tables (an MBR with its
// chain of extended boot records, or a GPT), or finds them by scanning every sector for
// boot sectors and HFS+ volume headers. Records are appended to a list the caller owns;
// progress and status texts go to a Feedback, stop requests come through a WorkControl.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "disk/readWriteInterface.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::volumes {

class Partition {
public:
    // Extended boot records followed at most.
    static constexpr int kMaxBootRecords = 50;
    // Sectors examined per chunk of the scan (1 MiB).
    static constexpr uint32_t kChunkSectors = 2048;

    Partition(disk::readWriteInterface& disk, std::vector<VolumeRecord>& volumes,
              Feedback& feedback = silentFeedback(), WorkControl* control = nullptr);

    // 1: read the disk as GPT.
    uint8_t gptFormat = 0;
    // Scan: 1 jumps past every recognised volume.
    uint8_t skipVolumeSize = 1;
    // Scan: first sector (0 = the beginning) and the sector past which no chunk starts
    // (0 = no end).
    int64_t customStartSector = 0;
    int64_t customEndSector = 0;
    // Scan: the end of the area scanned, in sectors. The disk's size unless set otherwise.
    uint64_t totalSectors = 0;
    // Scan: called with every record right after it is appended (a list shows it on top).
    std::function<void(const VolumeRecord&)> onScanRecord;
    // Scan: sectors read per request (a multiple of kChunkSectors). Chunks are still
    // examined, reported and ended one by one; this only makes the reads larger.
    uint32_t readAheadSectors = 4 * kChunkSectors;

    // Reads the tables and appends one record per volume. 0 when done (also when stopped or
    // when something unexpected ended it), otherwise the error code of the failed read.
    int32_t listPartitions();
    // Scans from the custom start to the end. 1 when the area is covered, stopped, the
    // custom end passed or a read failed; -1 when something unexpected ended it.
    int32_t scanVolumes();

    // Sector `sector` is an exFAT boot sector.
    bool isExfatBootSector(int64_t sector);
    // The sector two after `sector` (byte 1024 of a volume starting there) is an HFS+
    // volume header.
    bool isHfsPlusAt(int64_t sector);

    bool stopRequested() const { return control_ != nullptr && control_->stopRequested(); }

    // After listPartitions: the MBR holds a protective entry (type 0xEE), so the disk is
    // partitioned with GPT (whatever gptFormat said).
    bool protectiveMbr = false;
    // After listPartitions: what the tables hold that is not listed as it says, in words for
    // the user: no MBR signature, entries that start past the disk's end (not listed) or run
    // past it (listed). After a scan that skips volumes: the volumes that run past the end.
    const std::vector<std::string>& warnings() const { return warnings_; }

private:
    int32_t listGpt(const unsigned char* header);
    int32_t listMbr();
    // Seeks to `offset` and reads `count` bytes; false (nothing read) when the bytes do
    // not lie within the disk.
    bool readAt(int64_t offset, void* buffer, uint32_t count);
    bool withinDisk(uint64_t offset, uint64_t count) const;
    int32_t failure() const;
    void append(VolumeRecord record);
    // Whether a table entry of `sectors` sectors from `start` on lies on the disk; warns when
    // it starts past the end (false: not listed) or runs past it.
    bool entryOnDisk(const std::string& what, uint64_t start, uint64_t sectors, bool warnRunningPast);
    void scanChunks();

    disk::readWriteInterface& disk_;
    std::vector<VolumeRecord>& volumes_;
    Feedback& feedback_;
    WorkControl* control_;
    uint64_t diskBytes_ = 0;  // 0 when the disk's size is unknown
    int nextNumber_ = 0;
    std::vector<std::string> warnings_;
};

}  // namespace quenlow::volumes
