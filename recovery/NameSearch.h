#pragma once
// The search of a parsed volume's names: every file below each first-level folder (the
// folders whose children the tree has not shown yet included) whose name the pattern
// matches anywhere, and each first-level item without children tested by its own name.
//
// Patterns are regular expressions in the usual syntax (alternatives with '|', classes,
// repeats, anchors), matched without letter case on the names as Unicode text. Matching
// takes time linear in the name whatever the pattern, so no pattern can hang the search; the
// constructs that would need backtracking (back-references, look-around) are refused with a
// message that says so.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"

namespace re2 {
class RE2;
}

namespace quenlow::recovery {

inline constexpr const char* kSearchFinishedText = "Searching Finished";
inline constexpr const char* kBadPatternText =
    "such characters are not allowed for search.Try again with different pattern.";

// One compiled pattern.
class SearchPattern {
public:
    explicit SearchPattern(const std::string& pattern);
    ~SearchPattern();
    SearchPattern(const SearchPattern&) = delete;
    SearchPattern& operator=(const SearchPattern&) = delete;

    bool ok() const { return error_.empty(); }
    // Why the pattern does not compile; empty when it does.
    const std::string& error() const { return error_; }
    // The pattern uses a construct of the syntax that the search does not offer.
    bool unsupported() const { return unsupported_; }
    // What the user is told about a pattern that does not compile.
    std::string refusal() const;
    // Whether the pattern matches any part of `name` (UTF-8).
    bool matches(const std::string& name) const;

private:
    std::unique_ptr<re2::RE2> re_;
    std::string error_;
    bool unsupported_ = false;
};

struct SearchRow {
    std::vector<std::string> names;  // from the first level down to the entry itself
    fs::EntryRef entry = fs::kNoEntry;
    fs::EntryTexts texts;
    std::string sizeText;

    // The path as the file list shows it: the root label, then the names, joined by '\'.
    std::string shownPath(const std::string& rootLabel) const;
    // The path '/'-separated from the root.
    std::string volumePath() const;
};

class NameSearch {
public:
    enum class Outcome {
        Finished,     // "Searching Finished" was reported (also for an empty pattern)
        BadPattern,   // the pattern does not compile: reported, the search ended
        Ignored,      // another search of the same volume was running
    };

    NameSearch(fs::FolderTree& tree, fs::VolumeParser& parser, WorkControl& control)
        : tree_(tree), parser_(parser), control_(control) {}

    // Runs one search. Rows go to `onRow` as they are found, in the file list's order. A
    // stop request skips the rest of the first-level folder being searched; the search goes
    // on with the next one.
    Outcome run(const std::string& pattern, Feedback& feedback, const std::function<void(const SearchRow&)>& onRow);

    int64_t matches() const { return matches_; }

private:
    void searchFolder(fs::EntryRef folder, std::vector<std::string>& names, const SearchPattern& pattern,
                      Feedback& feedback, const std::function<void(const SearchRow&)>& onRow);
    void addRow(fs::EntryRef entry, const std::vector<std::string>& names, Feedback& feedback,
                const std::function<void(const SearchRow&)>& onRow);

    fs::FolderTree& tree_;
    fs::VolumeParser& parser_;
    WorkControl& control_;
    int64_t matches_ = 0;
};

}  // namespace quenlow::recovery
