#pragma once
// The entry table of one NTFS volume: one entry per MFT slot read (plus the synthetic orphan
// folder) and every name back to back in one string.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filesystems/ntfs/NtfsEntry.h"

namespace quenlow::fs {

class NtfsTable {
public:
    std::vector<NtfsEntry> entries;

    int64_t size() const { return static_cast<int64_t>(entries.size()); }
    bool contains(int64_t index) const { return index >= 0 && index < size(); }
    NtfsEntry& at(int64_t index) { return entries[static_cast<size_t>(index)]; }
    const NtfsEntry& at(int64_t index) const { return entries[static_cast<size_t>(index)]; }

    // Gives entry `index` the name `text` (reusing its room when the new name fits).
    void storeName(int64_t index, std::string_view text);
    // The entry's name; empty when it has none or the index is outside.
    std::string_view nameView(int64_t index) const;
    std::string nameAt(int64_t index) const { return std::string(nameView(index)); }
    void clear();

private:
    std::string names_;
};

}  // namespace quenlow::fs
