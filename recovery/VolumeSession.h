#pragma once
// One parsed volume: the parser the registry gives for the volume's file system, the folder
// tree it fills, and its parse worker (run by the caller, on whatever thread it likes).

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "disk/readWriteInterface.h"
#include "filesystems/FolderTree.h"
#include "filesystems/ParserRegistry.h"
#include "filesystems/VolumeParser.h"
#include "recovery/NameSearch.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::disk {
struct RecoveryContext;
}

namespace quenlow::recovery {

inline constexpr const char* kNotValidDriveText = "not a valid drive.";
inline constexpr const char* kNotValidDriveStatus = "Not a valid Drive .Go back";

class VolumeSession {
public:
    struct Options {
        fs::Mode mode = fs::Mode::Standard;
        std::string rootLabel = "ROOT";
        disk::RecoveryContext* context = nullptr;
    };

    // Picks and creates the parser for `volume` on `reader`. Returns null, with `error` set
    // and the message given to `feedback`, when the file system is not one this build reads:
    // "not a valid drive." for an unknown name, a "not supported yet" text for a file system
    // or a recovery mode still to come.
    static std::unique_ptr<VolumeSession> open(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume,
                                               fs::FolderTree& tree, Feedback& feedback, const Options& options,
                                               std::string& error);

    // The parse worker: the status the file system shows first, the parse, and (unless the
    // parse ended at its boot-sector check) the completion sequence, which restores the
    // Recycle Bin's names where the file system's completion does and `restoreRecycleNames`
    // is set.
    fs::ParseOutcome parse(bool restoreRecycleNames = true);

    // A search of the names (NameSearch), on any thread: one asked for while the parse runs
    // waits for its end; one asked for while another runs is ignored. Stop and pause act on
    // it through control().
    NameSearch::Outcome search(const std::string& pattern, Feedback& feedback,
                               const std::function<void(const SearchRow&)>& onRow);
    // The Recycle Bin names restored by the parse.
    int restoredNames() const { return restoredNames_; }

    fs::VolumeParser& parser() { return *parser_; }
    const fs::ParserInfo& info() const { return info_; }
    // Stop and pause requests for the parse (and for later work on the volume).
    WorkControl& control() { return control_; }
    fs::Mode mode() const { return mode_; }
    // Where the parse reports from now on (a page that goes on with a session another page
    // opened gives its own; it gives the first one back when it goes).
    void setFeedback(Feedback& feedback) { feedback_ = &feedback; }
    Feedback& feedback() const { return *feedback_; }

private:
    VolumeSession(const fs::ParserInfo& info, std::unique_ptr<fs::VolumeParser> parser, fs::FolderTree& tree,
                  Feedback& feedback, fs::Mode mode)
        : info_(info), parser_(std::move(parser)), tree_(tree), feedback_(&feedback), mode_(mode) {}

    const fs::ParserInfo& info_;
    std::unique_ptr<fs::VolumeParser> parser_;
    fs::FolderTree& tree_;
    Feedback* feedback_;
    fs::Mode mode_;
    WorkControl control_;
    int restoredNames_ = 0;
    std::mutex mutex_;
    std::condition_variable parseEnded_;
    bool parsing_ = false;
    bool searching_ = false;
};

}  // namespace quenlow::recovery
