#include "recovery/VolumeChoice.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace quenlow::recovery {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool startsWithNoCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && lower(text.substr(0, prefix.size())) == lower(prefix);
}

// The text "0". Assigned as a string, not a literal: GCC 12 at -O3 warns falsely
// (-Wrestrict) on short literals assigned to strings.
const std::string kZero(1, '0');

std::string trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return {};
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

}  // namespace

int64_t VolumeChoice::leadingNumber(const std::string& text) {
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 ? v : 0;
}

bool VolumeChoice::isNumber(const std::string& text) {
    const std::string t = trimmed(text);
    size_t at = !t.empty() && (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (at == t.size()) return false;
    for (size_t i = at; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9') return false;
    errno = 0;
    std::strtoll(t.c_str(), nullptr, 10);
    return errno == 0;
}

std::string VolumeChoice::notNumberText(const std::string& label, const std::string& text) {
    if (isNumber(text)) return {};
    return label + " \"" + text + "\" is not a number of sectors. Type a whole number.";
}

VolumeChoice::Row VolumeChoice::rowFor(const volumes::VolumeRecord& record) const {
    return {record.volumeNumber, record.fileSystem, record.volumeSizeText,
            std::to_string(record.startSector), record};
}

void VolumeChoice::clear() {
    rows_.clear();
    volumes_.clear();
    selected_ = -1;
}

void VolumeChoice::showListing() {
    rows_.clear();
    selected_ = -1;
    for (size_t i = 0; i < volumes_.size(); ++i) {
        volumes_[i].volumeNumber = std::to_string(i);
        rows_.push_back(rowFor(volumes_[i]));
    }
}

void VolumeChoice::addScannedRow(const volumes::VolumeRecord& record) {
    rows_.insert(rows_.begin(), rowFor(record));
    if (selected_ >= 0) ++selected_;
}

int VolumeChoice::findRow(const std::string& volume) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i].volume == volume) return static_cast<int>(i);
    return -1;
}

void VolumeChoice::filter() {
    rows_.clear();
    selected_ = -1;
    for (size_t i = 1; i < volumes_.size(); ++i) {
        if (volumes_[i].startSector != volumes_[i - 1].startSector + 1) continue;
        volumes_[i].volumeNumber = std::to_string(i);
        rows_.insert(rows_.begin(), rowFor(volumes_[i]));
    }
}

int VolumeChoice::addCustomVolume() {
    volumes::VolumeRecord custom;
    custom.volumeNumber = std::to_string(volumes_.size());
    custom.fileSystem = "CUSTOM ";
    custom.volumeSizeText = kZero;
    custom.startSector = 0;
    volumes_.push_back(custom);
    int row;
    if (mode_ == ScanMode::Advanced) {
        rows_.insert(rows_.begin(), rowFor(custom));
        row = 0;
    } else {
        rows_.push_back(rowFor(custom));
        row = static_cast<int>(rows_.size()) - 1;
    }
    customSettings = true;
    selectRow(row);
    startText = kZero;
    endText = kZero;
    return row;
}

bool VolumeChoice::selectRow(int row) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    selected_ = row;
    const Row& r = rows_[static_cast<size_t>(row)];
    int64_t start = leadingNumber(r.startSector);
    int64_t size = leadingNumber(r.volumeSize);
    startText = std::to_string(start);
    // The end shown is the last sector of the volume (0 when it has no size).
    int64_t product = size > 0 && size <= INT64_MAX / 2048 ? size * 2048 : 0;
    endText = product > 0 && start <= INT64_MAX - product ? std::to_string(start + product - 1) : kZero;
    return true;
}

bool VolumeChoice::clickRow(int row) {
    if (!selectRow(row)) return false;
    const std::string& fs = rows_[static_cast<size_t>(row)].fileSystem;
    for (const auto& entry : fileSystemEntries()) {
        if (startsWithNoCase(entry, fs)) {
            fileSystemEntry = entry;
            break;
        }
    }
    return true;
}

const std::vector<std::string>& VolumeChoice::fileSystemEntries() {
    static const std::vector<std::string> entries{"EXTX", "FAT16", "FAT32", "FAT64", "HFS+", "NTFS", "RAW"};
    return entries;
}

std::string VolumeChoice::entryNamed(const std::string& name) {
    for (const auto& entry : fileSystemEntries())
        if (lower(entry) == lower(name)) return entry;
    return {};
}

VolumeChoice::NextResult VolumeChoice::next() {
    if (selected_ < 0 || selected_ >= static_cast<int>(rows_.size()))
        return {Outcome::Stay, "please select a valid volume."};
    const Row& row = rows_[static_cast<size_t>(selected_)];
    volumes::VolumeRecord chosen = row.record;

    if (!customSettings && customApplied_) {
        // Back from a custom choice: the record as its row shows it.
        chosen.volumeNumber = row.volume;
        chosen.fileSystem = row.fileSystem;
        std::string size = row.volumeSize;
        for (size_t at; (at = size.find("MB")) != std::string::npos;) size.erase(at, 2);
        chosen.volumeSizeText = trimmed(size);
        chosen.startSector = leadingNumber(row.startSector);
    }

    bool raw = false;
    if (customSettings) {
        for (const auto& [label, text] : {std::pair{"Start Sector:", &startText}, std::pair{"End Sector :", &endText}})
            if (std::string refusal = notNumberText(label, *text); !refusal.empty()) return {Outcome::Stay, refusal};
        customApplied_ = true;
        int64_t start = leadingNumber(startText);
        int64_t end = leadingNumber(endText);
        chosen.startSector = start;
        if (end > start) {
            // (end - start + 1) / 2048 without overflow.
            uint64_t span = static_cast<uint64_t>(end) - static_cast<uint64_t>(start);
            chosen.volumeSizeText = std::to_string(span / 2048 + (span % 2048 + 1) / 2048);
        } else {
            chosen.volumeSizeText = kZero;
        }
        static const std::pair<const char*, const char*> names[] = {
            {"NTFS", "ntfs"}, {"FAT16", "fat16"}, {"FAT32", "fat32"},
            {"FAT64", "fat64"}, {"EXTX", "extX"}, {"HFS+", "HFS+"}};
        for (const auto& [entry, name] : names)
            if (lower(fileSystemEntry) == lower(entry)) chosen.fileSystem = name;
        raw = lower(fileSystemEntry) == "raw";
    }

    if (raw) {
        chosen.fileSystem = "RAW";
        selectedVolume_ = chosen;
        return {Outcome::RawRecovery, {}};
    }
    selectedVolume_ = chosen;
    if (lower(chosen.fileSystem) == "unknown") return {Outcome::Stay, "can not parse unknown volume"};
    return {Outcome::RecoveryMode, {}};
}

}  // namespace quenlow::recovery
