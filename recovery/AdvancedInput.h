#pragma once
// The advanced input page's logic, without widgets: the candidate search of the volume's
// parser (its status texts, messages and final status), the three lists it offers (the
// candidates, the sectors per cluster, exFAT's heap starts) and the user's choice turned
// into the parser's CandidateChoice. The page and the command line show what it gives.

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "filesystems/VolumeParser.h"

namespace quenlow::recovery {

inline constexpr const char* kNoEntrySelectedText = "No File system Entry Found.Process cannot be continue...";
inline constexpr const char* kRestartText = "Please Restart the program to re begin necessary initialization...";

class AdvancedInput {
public:
    // The file systems with an advanced search, by the volume's file-system text (compared
    // whole, letter case ignored): "ntfs"; "fat32"; "fat16" or "fat"; "fat64" or "exFat".
    enum class Kind { None, Ntfs, Fat32, Fat16, ExFat };
    static Kind kindOf(const std::string& fileSystem);

    // The maximum box read as a 64-bit integer; below 1 (or no number) means 3.
    static int64_t maximumFrom(const std::string& boxText);

    // One line of a list: its text, and the value it stands for (an offset in bytes, or a
    // count of 512-byte sectors).
    struct Item {
        std::string text;
        int64_t value = 0;
    };
    struct Lists {
        std::string entryLabel;             // "TFS :", "Total fat16 Entries Found:", ...
        std::vector<Item> entries;          // "MFT_ENTRY:0", ... (value: the byte offset)
        std::vector<Item> sectorsPerCluster;  // (value: sectors; exFAT's texts are shifts)
        std::vector<Item> heaps;            // exFAT: "HEAP_OFFSET_ENTRY:0", ...
        bool showsSectorsPerCluster = false;
        bool showsHeaps = false;
        bool searched = false;              // a search ran to its end (not aborted)
    };

    explicit AdvancedInput(const std::string& fileSystem);
    Kind kind() const { return kind_; }
    // The status shown when the page opens ("ntfs partition selected...." on NTFS), or "".
    std::string openingStatus() const;

    // The page's worker: runs `parser`'s candidate search with `maximum` (below 1: 3) and
    // fills the lists; the found counts go to `feedback` as the page's message, then the
    // final status. A volume of no searchable kind searches nothing.
    const Lists& run(fs::VolumeParser& parser, WorkControl& control, Feedback& feedback, int64_t maximum);
    // Back while the search runs: the exFAT search then ends without lists.
    void abort(WorkControl& control);
    const Lists& lists() const { return lists_; }
    const fs::CandidateSearch& search() const { return search_; }

    // The user's choice, by positions in the lists (heap: none takes the entry's position).
    // False with `error` (the page's message where it has one) when a position is outside
    // its list.
    bool choose(size_t entry, size_t sectorsItem, std::optional<size_t> heap, fs::CandidateChoice& choice,
                std::string& error) const;
    // The same, with a count of sectors per cluster instead of a list position (the command
    // line): any power of two up to the file system's largest cluster is taken.
    bool chooseSectors(size_t entry, int64_t sectorsPerCluster, std::optional<size_t> heap,
                       fs::CandidateChoice& choice, std::string& error) const;
    // The largest cluster the file system allows, in 512-byte sectors.
    int64_t largestSectorsPerCluster() const;

private:
    void fillSectorOffers();

    Kind kind_;
    Lists lists_;
    fs::CandidateSearch search_;
    std::atomic<bool> aborted_{false};
};

}  // namespace quenlow::recovery
