#include "recovery/AdvancedInput.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace quenlow::recovery {

namespace {

bool powerOfTwo(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }

int shiftOf(int64_t n) {
    int shift = 0;
    while (n > 1) {
        n >>= 1;
        ++shift;
    }
    return shift;
}

std::string numbered(const char* prefix, size_t i) { return prefix + std::to_string(i); }

std::string formatCount(const char* format, long long n) {
    char text[256];
    std::snprintf(text, sizeof text, format, n);
    return text;
}

}  // namespace

AdvancedInput::Kind AdvancedInput::kindOf(const std::string& fileSystem) {
    auto is = [&](const char* name) { return ::strcasecmp(fileSystem.c_str(), name) == 0; };
    if (is("ntfs")) return Kind::Ntfs;
    if (is("fat32")) return Kind::Fat32;
    if (is("fat16") || is("fat")) return Kind::Fat16;
    if (is("fat64") || is("exFat")) return Kind::ExFat;
    return Kind::None;
}

int64_t AdvancedInput::maximumFrom(const std::string& boxText) {
    size_t i = 0;
    while (i < boxText.size() && std::isspace(static_cast<unsigned char>(boxText[i]))) ++i;
    bool negative = false;
    if (i < boxText.size() && (boxText[i] == '+' || boxText[i] == '-')) negative = boxText[i++] == '-';
    int64_t value = 0;
    for (; i < boxText.size() && std::isdigit(static_cast<unsigned char>(boxText[i])); ++i) {
        if (value > (INT64_MAX - 9) / 10) break;  // the box's number is bounded, not wrapped
        value = value * 10 + (boxText[i] - '0');
    }
    if (negative) value = -value;
    return value < 1 ? 3 : value;
}

AdvancedInput::AdvancedInput(const std::string& fileSystem) : kind_(kindOf(fileSystem)) {
    switch (kind_) {
        case Kind::Fat16: lists_.entryLabel = "Total fat16 Entries Found:"; break;
        case Kind::ExFat: lists_.entryLabel = "Total fat64 Entries Found:"; break;
        default: lists_.entryLabel = "TFS :"; break;
    }
    lists_.showsSectorsPerCluster = kind_ != Kind::None;
    lists_.showsHeaps = kind_ == Kind::ExFat;
}

std::string AdvancedInput::openingStatus() const { return kind_ == Kind::Ntfs ? "ntfs partition selected...." : ""; }

int64_t AdvancedInput::largestSectorsPerCluster() const {
    switch (kind_) {
        case Kind::Ntfs: return 4096;    // 2 MiB clusters
        case Kind::ExFat: return 65536;  // 32 MiB clusters
        default: return 128;             // the boot sector's byte
    }
}

void AdvancedInput::abort(WorkControl& control) {
    aborted_ = true;
    control.requestStop();
}

const AdvancedInput::Lists& AdvancedInput::run(fs::VolumeParser& parser, WorkControl& control, Feedback& feedback,
                                               int64_t maximum) {
    if (kind_ == Kind::None) return lists_;
    if (maximum < 1) maximum = 3;
    if (kind_ == Kind::Fat16) feedback.status("Finding Fat entries....");
    if (kind_ == Kind::ExFat) feedback.status("Finding Fat64 entries....");
    fs::Result<fs::CandidateSearch> found = parser.findCandidates(control, feedback, maximum);
    if (!found) {
        feedback.message(found.reason());
        return lists_;
    }
    if (kind_ == Kind::ExFat && aborted_) return lists_;
    search_ = std::move(found.value());

    const char* prefix = kind_ == Kind::Ntfs    ? "MFT_ENTRY:"
                         : kind_ == Kind::Fat32 ? "FAT32_ENTRY:"
                         : kind_ == Kind::Fat16 ? "FAT_ENTRY:"
                                                : "FAT64_ENTRY:";
    for (size_t i = 0; i < search_.entries.size(); ++i) lists_.entries.push_back({numbered(prefix, i), search_.entries[i]});
    if (kind_ == Kind::ExFat)
        for (size_t i = 0; i < search_.heaps.size(); ++i)
            lists_.heaps.push_back({numbered("HEAP_OFFSET_ENTRY:", i), search_.heaps[i]});
    fillSectorOffers();
    lists_.searched = true;

    const auto n = static_cast<long long>(search_.entries.size());
    switch (kind_) {
        case Kind::Ntfs:
            feedback.message(formatCount("Number of MFT-ENTRY found = %lld . Please select the choice from combo box and "
                                         "click Next button to proceed.", n));
            feedback.status("Parsing done.Click next to continue.");
            break;
        case Kind::Fat16:
            feedback.message(formatCount("Number of FAT-ENTRY found = %lld . Please select the choice from combo box and "
                                         "click Next button to proceed.", n));
            feedback.status("Parsing done.Click Next to continue.");
            break;
        case Kind::Fat32:
            if (n > 0) {
                feedback.message(formatCount("Number of FAT32-ENTRY found = %lld . Please select the choice from combo "
                                             "box and click Next button to proceed.", n));
                feedback.status("Parsing done.Click Next to continue.");
            } else {
                feedback.message("NO FAT  FAT32-ENTRY found ..");
            }
            break;
        case Kind::ExFat: {
            char text[320];
            std::snprintf(text, sizeof text,
                          "Number of FAT64-ENTRY found = %lld and Number of HeapOffset-ENTRY found =  %lld  . Please "
                          "select the choice from ( Entry and Heap ) Combobox and click Parse button to proceed.",
                          n, static_cast<long long>(search_.heaps.size()));
            feedback.message(text);
            feedback.status("Parsing done.Click Next to continue.");
            break;
        }
        case Kind::None: break;
    }
    return lists_;
}

// The offers of each file system in their order, the boot sector's value first where it is
// read; then every power of two from 1 to 128 sectors the list still lacks, so that small
// volumes (one sector per cluster) and large clusters can be recovered too.
void AdvancedInput::fillSectorOffers() {
    std::vector<int64_t> counts;
    int64_t boot = search_.bootValid ? search_.bootSectorsPerCluster : search_.foundSectorsPerCluster;
    bool bootOffered = powerOfTwo(boot) && boot <= largestSectorsPerCluster();
    switch (kind_) {
        case Kind::Ntfs: counts = {8, 4, 2, 16, 32, 64}; break;
        case Kind::Fat16: counts = {4, 8, 16, 2, 32, 64, 128}; break;
        case Kind::Fat32: counts = {2, 4, 16, 32, 64, 8}; break;
        case Kind::ExFat: counts = {256, 512, 1024, 2048}; break;
        case Kind::None: return;
    }
    if (bootOffered && kind_ != Kind::Ntfs) counts.insert(counts.begin(), boot);
    for (int64_t n = 1; n <= 128; n *= 2) counts.push_back(n);
    for (int64_t n : counts) {
        bool listed = std::any_of(lists_.sectorsPerCluster.begin(), lists_.sectorsPerCluster.end(),
                                  [&](const Item& item) { return item.value == n; });
        if (listed) continue;
        std::string text = std::to_string(kind_ == Kind::ExFat ? shiftOf(n) : n);
        lists_.sectorsPerCluster.push_back({text, n});
    }
}

bool AdvancedInput::choose(size_t entry, size_t sectorsItem, std::optional<size_t> heap, fs::CandidateChoice& choice,
                           std::string& error) const {
    if (sectorsItem >= lists_.sectorsPerCluster.size()) {
        error = "no sectors-per-cluster offer " + std::to_string(sectorsItem);
        return false;
    }
    return chooseSectors(entry, lists_.sectorsPerCluster[sectorsItem].value, heap, choice, error);
}

bool AdvancedInput::chooseSectors(size_t entry, int64_t sectorsPerCluster, std::optional<size_t> heap,
                                  fs::CandidateChoice& choice, std::string& error) const {
    if (lists_.entries.empty()) {
        error = kNoEntrySelectedText;
        return false;
    }
    if (entry >= lists_.entries.size()) {
        error = "there is no candidate " + std::to_string(entry) + " (the search found " +
                std::to_string(lists_.entries.size()) + ": 0 to " + std::to_string(lists_.entries.size() - 1) + ")";
        return false;
    }
    if (!powerOfTwo(sectorsPerCluster) || sectorsPerCluster > largestSectorsPerCluster()) {
        error = "sectors per cluster must be a power of two from 1 to " + std::to_string(largestSectorsPerCluster()) +
                " (not " + std::to_string(sectorsPerCluster) + ")";
        return false;
    }
    if (kind_ == Kind::ExFat) {
        size_t h = heap.value_or(entry);
        if (h >= lists_.heaps.size()) {
            error = lists_.heaps.empty() ? std::string("the search found no cluster heap start")
                                         : "there is no heap candidate " + std::to_string(h) + " (the search found " +
                                               std::to_string(lists_.heaps.size()) + ": 0 to " +
                                               std::to_string(lists_.heaps.size() - 1) + ")";
            return false;
        }
        choice.heap = h;
    } else if (heap) {
        error = "heap candidates are chosen on exFAT volumes only";
        return false;
    }
    choice.entry = entry;
    choice.sectorsPerCluster = sectorsPerCluster;
    return true;
}

}  // namespace quenlow::recovery
