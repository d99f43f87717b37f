#include "filesystems/ntfs/NtfsTable.h"

#include <cstring>

namespace quenlow::fs {

void NtfsTable::storeName(int64_t index, std::string_view text) {
    NtfsEntry& e = at(index);
    if (e.hasName && e.nameLength >= text.size()) {
        std::memcpy(names_.data() + e.nameOffset, text.data(), text.size());
    } else {
        e.nameOffset = names_.size();
        names_.append(text);
    }
    e.nameLength = static_cast<uint32_t>(text.size());
    e.hasName = 1;
}

std::string_view NtfsTable::nameView(int64_t index) const {
    if (!contains(index)) return {};
    const NtfsEntry& e = at(index);
    if (!e.hasName) return {};
    return std::string_view(names_).substr(e.nameOffset, e.nameLength);
}

void NtfsTable::clear() {
    entries.clear();
    names_.clear();
}

}  // namespace quenlow::fs
