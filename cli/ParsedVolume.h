#pragma once
// What `ls` and `save` share: the volume chosen on the command line, parsed into an
// in-memory tree, and paths on it ('/'-separated from the root; "/" or "" is the root).

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/VolumeSelection.h"
#include "filesystems/MemoryTree.h"
#include "filesystems/VolumeParser.h"
#include "recovery/AdvancedInput.h"
#include "recovery/VolumeSession.h"

namespace quenlow::cli {

struct CliContext;

// The recovery mode of the command line and, for advanced mode, the user's choice among the
// candidates the search finds (by their numbers in `candidates`).
struct ModeOptions {
    fs::Mode mode = fs::Mode::Standard;
    int64_t maximum = 3;               // --max: candidates to look for
    int64_t candidate = 0;             // --candidate
    int64_t sectorsPerCluster = 0;     // --sectors-per-cluster; 0 takes the first offer
    std::optional<int64_t> heap;       // --heap (exFAT)
    bool candidateGiven = false;
};

class ParsedVolume {
public:
    // Selects the volume, opens the array and parses the volume, with a progress line on a
    // terminal; Ctrl-C stops the parse. On failure prints why, sets the exit status and
    // returns false.
    // `modes` gives the recovery mode (--mode); a file system that has no such mode is
    // refused with the modes it has. In advanced mode the candidate search runs first and the
    // parse starts from the chosen candidate.
    bool open(CliContext& context, const VolumeSelectionOptions& options, const ModeOptions& modes = {});
    // Selects the volume and makes its parser without parsing (the candidate search's start).
    bool openSession(CliContext& context, const VolumeSelectionOptions& options, fs::Mode mode);

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
                const std::string& path, Target& target, const ModeOptions& modes = {});

    // The entries inside a folder (or the first level for the root), each at most once.
    std::vector<fs::EntryRef> childrenOf(const Target& target);

    // Advanced mode's candidate search on the open session (progress and messages on the
    // terminal; Ctrl-C stops it). False with the reason printed.
    bool runCandidateSearch(CliContext& context, int64_t maximum);
    const recovery::AdvancedInput& candidates() const { return *input_; }

private:
    bool chooseCandidate(CliContext& context, const ModeOptions& modes);

    volumes::VolumeRecord volume_;
    std::unique_ptr<recovery::AdvancedInput> input_;
    std::unique_ptr<Feedback> parseFeedback_;
    fs::MemoryTree tree_;
    std::unique_ptr<recovery::VolumeSession> session_;
};

// "standard", "advanced" or "deep".
std::string modeName(fs::Mode mode);

// Adds --formatted ("Is Drive Formated..?"): FAT files are then read as contiguous runs.
void addFormattedOption(CLI::App& command, bool& formatted);

// Adds --no-recycle-names: files in the Recycle Bin keep their "$R..." names.
void addRecycleNamesOption(CLI::App& command, bool& raw);

// Adds --mode standard|advanced|deep and advanced mode's --max, --candidate,
// --sectors-per-cluster and --heap.
void addModeOptions(CLI::App& command, ModeOptions& modes);
// Adds --max N (the number of candidates to look for).
void addMaximumOption(CLI::App& command, int64_t& maximum);

// With a custom volume (--at) there is no VOL: the first word is the PATH, and a second
// one is an error (printed, with the exit status set; returns false).
bool takePathFromVolume(CliContext& context, VolumeSelectionOptions& options, std::string& path,
                        bool pathGiven);

// Runs `work` while a watcher turns Ctrl-C into a stop request on `control`.
void runStoppable(WorkControl& control, const std::function<void()>& work);

}  // namespace quenlow::cli
