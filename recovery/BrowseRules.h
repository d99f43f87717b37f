#pragma once
// The rules of the browse page that are not the tree's own, without widgets: what the page
// is busy with and what that leaves the user, the list's check boxes followed to the tree,
// and what the user reads after a save.

#include <optional>
#include <string>

#include "filesystems/FolderTree.h"
#include "output/FolderSaver.h"

namespace quenlow::recovery {

inline constexpr const char* kWaitText = "Please wait for other process to complete";
inline constexpr const char* kPausePressedText = "Pause button pressed";
inline constexpr const char* kResumePressedText = "Resume button pressed";
inline constexpr const char* kStopPressedText = "stop button pressed.Please wait for the process to be stopped.";
inline constexpr const char* kAllStoppedText = "All thread Stopped";

// One piece of work runs at a time. The parser's table and the tree are complete only when
// the parse has ended, and a search or a save reads them through the same parser: until the
// page is ready again, the tree, Search, Save and Back are all held.
class BrowseState {
public:
    enum class Work { None, Parse, Search, Save };

    void start(Work work) { work_ = work; }
    // The running work ended; the end of a parse makes the volume browsable.
    void finish() {
        if (work_ == Work::Parse) parsed_ = true;
        work_ = Work::None;
    }
    // The page could not start a parse (the volume cannot be read as any file system here,
    // or there is no virtual disk: then even Back stays held, the program must restart).
    void failedToStart(bool noDisk) { noDisk_ = noDisk; }

    Work work() const { return work_; }
    bool busy() const { return work_ != Work::None; }
    bool backEnabled() const { return work_ == Work::None && !noDisk_; }
    // The tree's expand, label click and double click, Search and Save.
    bool browsable() const { return work_ == Work::None && parsed_; }
    // What Save says instead of saving: while anything runs, or before a parse has ended.
    std::string saveRefusal() const { return browsable() ? std::string() : kWaitText; }

private:
    Work work_ = Work::None;
    bool parsed_ = false;
    bool noDisk_ = false;
};

// A click on a list row's check box, the row having been `wasChecked` before it: the tree
// item the row stands for takes the row's new state. Rows of search results, and rows that
// stand for no tree item, leave the tree alone.
struct TreeCheck {
    fs::TreeItem item = fs::kNoItem;
    bool checked = false;
};
std::optional<TreeCheck> mirrorListCheck(bool searchResultsShown, fs::TreeItem rowItem, bool wasChecked);

// One line for the status line after a folder save: "12 of 12 file(s) saved", and the
// renamed, damaged and failed counts when there are any.
std::string saveSummaryLine(const output::SaveReport& report);
// The whole account of a folder save: the counts, then every renamed file (old and new
// name), every damaged file with its unreadable byte ranges and every failure with its
// reason, so that nothing changed or lost on the way goes unseen.
std::string saveSummaryText(const output::SaveReport& report, const std::string& outputFolder);
// What a save of one file did ("file is dumped in path  :  ..." only when it was written);
// empty when the saver has said all there is (no output folder, nothing to save).
std::string singleFileText(const output::SaveReport& report, const std::string& outputFolder,
                           const std::string& fileName);

}  // namespace quenlow::recovery
