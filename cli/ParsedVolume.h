#pragma once
// What `ls` and `save` share: the volume chosen on the command line, parsed into an
// in-memory tree, and paths on it ('/'-separated from the root; "/" or "" is the root).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/VolumeSelection.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/VolumeParser.h"
#include "recovery/VolumeSession.h"

namespace quenlow::cli {

struct CliContext;

class ParsedVolume {
public:
    // Selects the volume, opens the array and parses the volume, with a progress line on a
    // terminal; Ctrl-C stops the parse. On failure prints why, sets the exit status and
    // returns false.
    // `mode` is the recovery mode (--mode); a file system that has no such mode is refused.
    bool open(CliContext& context, const VolumeSelectionOptions& options, fs::Mode mode = fs::Mode::Standard);

    // Whether the parse restores the Recycle Bin's names (--no-recycle-names clears it).
    bool restoreRecycleNames = true;

    fs::VolumeParser& parser() { return session_->parser(); }
    recovery::VolumeSession& session() { return *session_; }
    const volumes::VolumeRecord& volume() const { return volume_; }

    // A path resolved on the volume: the root (the first-level entries), or one entry.
    struct Target {
        bool root = true;
        fs::EntryRef entry = fs::kNoEntry;
        std::string path;  // '/'-separated from the root, without a leading '/'
    };
    // Resolves `path` one name after another; at each step a live entry of that name wins
    // over a deleted one. On failure `error` says which part was not found.
    bool resolve(const std::string& path, Target& target, std::string& error);

    // Opens the volume and resolves `path` on it; on failure prints why, sets the exit
    // status and returns false.
    bool openAt(CliContext& context, const VolumeSelectionOptions& options,
                const std::string& path, Target& target, fs::Mode mode = fs::Mode::Standard);

    // The entries inside a folder (or the first level for the root), each at most once.
    std::vector<fs::EntryRef> childrenOf(const Target& target);

private:
    volumes::VolumeRecord volume_;
    std::unique_ptr<Feedback> parseFeedback_;
    fs::MemoryTree tree_;
    std::unique_ptr<recovery::VolumeSession> session_;
};

// Adds --formatted ("Is Drive Formated..?"): FAT files are then read as contiguous runs.
void addFormattedOption(CLI::App& command, bool& formatted);

// Adds --no-recycle-names: files in the Recycle Bin keep their "$R..." names.
void addRecycleNamesOption(CLI::App& command, bool& raw);

// Adds --mode standard|deep: the recovery mode (deep: HFS+ scans the volume for its catalog).
void addModeOption(CLI::App& command, fs::Mode& mode);

// With a custom volume (--at) there is no VOL: the first word is the PATH, and a second
// one is an error (printed, with the exit status set; returns false).
bool takePathFromVolume(CliContext& context, VolumeSelectionOptions& options, std::string& path,
                        bool pathGiven);

// Runs `work` while a watcher turns Ctrl-C into a stop request on `control`.
void runStoppable(WorkControl& control, const std::function<void()>& work);

}  // namespace quenlow::cli
