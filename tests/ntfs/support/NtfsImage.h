#pragma once
// Small NTFS volumes built byte by byte for the parser's tests: a boot sector, an MFT of
// 1024-byte records with update sequences, and data clusters.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace quenlow::test {

// A run for encoding: cluster -1 is a hole.
struct RunSpec {
    int64_t cluster;
    uint64_t length;
};
std::vector<uint8_t> encodeRuns(const std::vector<RunSpec>& runs);

class RecordBuilder {
public:
    explicit RecordBuilder(uint16_t flags = 1);
    RecordBuilder& standardInfo(uint64_t created, uint64_t modified, uint64_t accessed);
    RecordBuilder& fileName(int64_t parent, const std::u16string& name, uint32_t fileAttributes = 0,
                            int64_t allocatedSize = 0, uint8_t nameSpace = 1);
    // Makes this an extension record of `base` (whose sequence number is 1).
    RecordBuilder& extensionOf(uint64_t base);
    RecordBuilder& folderName(int64_t parent, const std::u16string& name);
    RecordBuilder& residentData(const std::vector<uint8_t>& data, uint16_t flags = 0,
                                const std::u16string& streamName = u"");
    RecordBuilder& nonResidentData(const std::vector<RunSpec>& runs, int64_t startVcn, int64_t lastVcn,
                                   int64_t dataSize, uint16_t flags = 0, uint8_t compressionUnit = 0,
                                   uint32_t type = 0x80);
    // Entries of (type, record number, starting VCN).
    RecordBuilder& attributeList(const std::vector<std::tuple<uint32_t, uint64_t, int64_t>>& entries);
    RecordBuilder& rawAttribute(const std::vector<uint8_t>& bytes);
    // The 1024-byte record with its end marker and update sequence applied.
    std::vector<uint8_t> finish() const;

private:
    void add(uint32_t type, std::vector<uint8_t> body, bool nonResident);
    uint16_t flags_;
    uint64_t base_ = 0;
    std::vector<uint8_t> attributes_;
};

class NtfsImage {
public:
    // A volume of `totalClusters` clusters whose MFT of `mftRecords` slots starts at
    // cluster `mftCluster`. Record 0 ($MFT) and 5 (the root ".") are written.
    NtfsImage(uint32_t clusterSize = 4096, uint32_t mftRecords = 32, uint64_t totalClusters = 256,
              uint64_t mftCluster = 4);
    void setRecord(uint64_t number, const std::vector<uint8_t>& record);
    void setRecord(uint64_t number, const RecordBuilder& record) { setRecord(number, record.finish()); }
    void writeCluster(uint64_t cluster, const std::vector<uint8_t>& data);
    void wipeBootSector();
    uint64_t firstFreeCluster() const { return mftCluster_ + mftClusters_; }
    uint32_t clusterSize() const { return clusterSize_; }
    int64_t recordPosition(uint64_t number) const;

    std::vector<uint8_t> bytes;

private:
    uint32_t clusterSize_;
    uint32_t mftRecords_;
    uint64_t mftCluster_;
    uint64_t mftClusters_;
};

}  // namespace quenlow::test
