#pragma once
// Reads back where an NTFS entry's data lives (its record, its attribute list and the
// extension records it names) and gives the data as a stream: resident bytes, runs of
// clusters with holes, or compression units.

#include <cstdint>
#include <memory>
#include <vector>

#include "filesystems/DataStream.h"
#include "filesystems/ntfs/NtfsDataLayout.h"
#include "filesystems/ntfs/NtfsMftReader.h"
#include "filesystems/ntfs/NtfsTable.h"

namespace quenlow::fs {

class NtfsDataReader {
public:
    NtfsDataReader(const NtfsMftReader& mft, const NtfsTable& table) : mft_(mft), table_(table) {}

    // Reads entry `index`'s record into `record` and its data's layout into `layout`; false
    // when the slot holds no FILE record.
    bool load(int64_t index, NtfsRecord& record, NtfsDataLayout& layout) const;
    // The data the layout describes (empty when it has none).
    std::unique_ptr<DataStream> stream(const NtfsDataLayout& layout) const;

private:
    bool readAttributeList(const NtfsRecord& record, std::vector<uint8_t>& bytes) const;
    // Reads MFT record `number`, named by the attribute list of entry `index`'s `base`.
    bool loadExtension(int64_t index, const NtfsRecord& base, uint64_t number, NtfsRecord& out) const;
    std::vector<RunStream::Run> plainRuns(const NtfsDataLayout& layout, uint64_t& size) const;

    const NtfsMftReader& mft_;
    const NtfsTable& table_;
};

}  // namespace quenlow::fs
