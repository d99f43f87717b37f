#pragma once
// The raw recovery page's rules without widgets: every Parse is a run of its own, kept for
// the page's life, so the items of an earlier run still save their own bytes after a later
// Parse; Save's refusals; saving chosen finds of any runs one at a time with progress, and
// the report of what was saved, renamed, damaged or lost.

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "recovery/RawRecovery.h"
#include "recovery/RelayTree.h"

namespace quenlow::recovery {

inline constexpr const char* kRawBusyText = "Please wait for other process to complete";
inline constexpr const char* kRawNothingCheckedText = "Please Select item from tree to save";
inline constexpr const char* kChooseFolderText = "Please choose a folder.";
inline constexpr const char* kSettingsNotCreatedText = "file can not be created";
inline constexpr const char* kPauseText = "Pause button pressed";
inline constexpr const char* kResumeText = "Resume button pressed";
inline constexpr const char* kStopText = "Stop button pressed.Please wait for the process to stop";

// Save's answer before anything is written; empty when it may go on.
std::string rawSaveRefusal(bool busy, size_t checkedFinds);

// Opens the settings file at `path` for appending, creating it when missing; its records
// stay. False with the reason (kSettingsNotCreatedText first) when it cannot be.
bool openSettingsFile(const std::string& path, std::string& error);

// One find of one run.
struct FindRef {
    size_t run = 0;
    size_t find = 0;  // index in that run's engine().found()
    bool operator==(const FindRef&) const = default;
};

struct RawSaveReport {
    struct Line {
        std::string find;  // the item text
        std::string what;  // where it went, why it failed, what could not be read
    };
    size_t saved = 0;
    std::vector<Line> renamed;   // saved under another name: the name wanted was taken
    std::vector<Line> damaged;   // saved, with byte ranges that could not be read (zeros)
    std::vector<Line> failed;
    size_t notSaved = 0;         // left when the save was stopped
    std::string error;           // the destination could not be used: nothing was saved

    bool complete() const { return error.empty() && failed.empty() && notSaved == 0; }
    // A readable summary; each list shows its first `listed` lines.
    std::string text(const std::string& destination, size_t listed = 10) const;
};

class RawRuns {
public:
    struct Run {
        RawRecovery raw;
        RelayTree tree;        // the engine's items; an item's data is its find's index + 1
        bool settingsRefused = false;
    };

    // A fresh run, kept until the page goes. Its address does not change.
    Run& add();
    size_t size() const { return runs_.size(); }
    Run& operator[](size_t i) { return runs_[i]; }
    const Run& operator[](size_t i) const { return runs_[i]; }

    // Parse of `run`: RawRecovery::parse with the page's options. The default file named in
    // the path field too is loaded once. Notes in run.settingsRefused whether the user's
    // file was refused (the page then empties its path field).
    static bool parse(Run& run, RawRecovery::ParseOptions options, disk::readWriteInterface& disk,
                      const volumes::VolumeRecord& volume, Feedback& feedback, WorkControl& control);

    // Saves `which` into `destination`, one find at a time: the status names each, the
    // progress counts them. Never replaces a file; a clash takes the next free name.
    RawSaveReport save(const std::vector<FindRef>& which, const std::string& destination, Feedback& feedback,
                       WorkControl& control);

private:
    std::deque<Run> runs_;
};

}  // namespace quenlow::recovery
