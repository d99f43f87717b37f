#include "cli/ParsedVolume.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "cli/CliContext.h"
#include "disk/FileReadSeekRaid.h"
#include "output/FolderSaver.h"
#include "platform/CaseFold.h"
#include "recovery/ParseCompletion.h"

namespace quenlow::cli {

namespace {

// The parse's feedback on the command line: everything goes to the terminal except the
// wizard's closing prompt to press its Save button.
class ParseFeedback : public Feedback {
public:
    explicit ParseFeedback(Feedback& to) : to_(to) {}
    void status(const std::string& t) override { to_.status(t); }
    void detail(const std::string& t) override { to_.detail(t); }
    void progressRange(int64_t l, int64_t h) override { to_.progressRange(l, h); }
    void progressPosition(int64_t p) override { to_.progressPosition(p); }
    void message(const std::string& t) override {
        if (t != recovery::kParseDoneText) to_.message(t);
    }
    bool ask(const std::string& q) override { return to_.ask(q); }

private:
    Feedback& to_;
};

// A volume given as RAW is for raw recovery: `carve` searches it for files by their signatures; the session
// would only give the wizard's "not a valid drive.".
bool refuseRaw(CliContext& context, const VolumeSelectionOptions& options, const volumes::VolumeRecord& volume) {
    if (volume.fileSystem != "RAW") return false;
    std::string which = options.volume.empty() ? "the volume at sector " + std::to_string(volume.startSector)
                                               : "volume " + options.volume;
    context.error(which + " is to be carved, not listed: use `carve` (raw recovery)");
    context.exitStatus = kExitFailed;
    return true;
}

}  // namespace

void addFormattedOption(CLI::App& command, bool& formatted) {
    command.add_flag("--formatted", formatted,
                     "the drive was formatted: FAT files are read as contiguous clusters from their first one");
}

void addRecycleNamesOption(CLI::App& command, bool& raw) {
    command.add_flag("--no-recycle-names", raw,
                     "show and save files of the Recycle Bin under their $R names, not the names they had");
}

void addModeOption(CLI::App& command, fs::Mode& mode) {
    const std::map<std::string, fs::Mode> modes{{"standard", fs::Mode::Standard}, {"deep", fs::Mode::Deep}};
    command.add_option("--mode", mode, "recovery mode: standard (default) or deep (HFS+: a scan of the volume for catalog nodes)")
        ->transform(CLI::CheckedTransformer(modes, CLI::ignore_case));
}

bool takePathFromVolume(CliContext& context, VolumeSelectionOptions& options, std::string& path,
                        bool pathGiven) {
    if (options.customStart < 0 || options.volume.empty()) return true;
    if (pathGiven) {
        context.error("'" + path + "': with --at there is no VOL, so '" + options.volume +
                      "' is the PATH and '" + path + "' is one argument too many");
        context.exitStatus = kExitUsage;
        return false;
    }
    path = options.volume;
    options.volume.clear();
    return true;
}

void runStoppable(WorkControl& control, const std::function<void()>& work) {
    installInterruptHandler();
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    // The watcher looks for Ctrl-C every 50 ms and ends as soon as the work does.
    std::thread watcher([&] {
        std::unique_lock<std::mutex> lock(mutex);
        while (!done) {
            if (interruptRequested()) control.requestStop();
            wake.wait_for(lock, std::chrono::milliseconds(50));
        }
    });
    auto finish = [&] {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        wake.notify_all();
        watcher.join();
    };
    try {
        work();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

bool ParsedVolume::open(CliContext& context, const VolumeSelectionOptions& options, fs::Mode mode) {
    if (!selectVolume(context, options, volume_) || refuseRaw(context, options, volume_)) return false;
    if (const fs::ParserInfo* info = fs::findParser(volume_.fileSystem); info != nullptr && !info->offers(mode)) {
        std::string which = volume_.volumeNumber.empty() ? "the volume" : "volume " + volume_.volumeNumber;
        context.error("--mode deep: " + which + " holds " + info->name + ", which has no deep mode (standard only)");
        context.exitStatus = kExitUsage;
        return false;
    }
    if (!context.recovery.raidDisk) {
        context.error("the array is not open");
        context.exitStatus = kExitFailed;
        return false;
    }
    parseFeedback_ = std::make_unique<ParseFeedback>(context.feedback);
    std::string error;
    recovery::VolumeSession::Options sessionOptions;
    sessionOptions.rootLabel = context.recovery.rootLabel;
    sessionOptions.context = &context.recovery;
    sessionOptions.mode = mode;
    session_ = recovery::VolumeSession::open(*context.recovery.raidDisk, volume_, tree_, *parseFeedback_,
                                             sessionOptions, error);
    if (!session_) {
        context.exitStatus = kExitFailed;
        return false;
    }
    fs::ParseOutcome outcome;
    runStoppable(session_->control(), [&] { outcome = session_->parse(restoreRecycleNames); });
    context.feedback.finishProgress();
    if (interruptRequested()) {
        context.error("stopped");
        context.exitStatus = kExitFailed;
        return false;
    }
    if (!outcome.status.ok()) {
        context.error("volume " + volume_.volumeNumber + ": " + outcome.status.reason());
        context.exitStatus = kExitFailed;
        return false;
    }
    return true;
}

std::vector<fs::EntryRef> ParsedVolume::childrenOf(const Target& target) {
    if (target.root) return parser().firstLevel();
    return output::FolderSaver::childrenOf(parser(), target.entry);
}

bool ParsedVolume::openAt(CliContext& context, const VolumeSelectionOptions& options,
                          const std::string& path, Target& target, fs::Mode mode) {
    if (!open(context, options, mode)) return false;
    std::string error;
    if (!resolve(path, target, error)) {
        context.error(error);
        context.exitStatus = kExitFailed;
        return false;
    }
    return true;
}

bool ParsedVolume::resolve(const std::string& path, Target& target, std::string& error) {
    target = Target{};
    size_t at = 0;
    while (at <= path.size()) {
        size_t slash = path.find('/', at);
        std::string part = path.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? path.size() + 1 : slash + 1;
        if (part.empty()) continue;
        if (!target.root && !parser().isFolder(target.entry)) {
            error = "'" + target.path + "' is a file, not a folder";
            return false;
        }
        // The name as given first; on a file system whose names ignore letter case, then
        // the name in any case. A live entry wins over a deleted one.
        std::vector<fs::EntryRef> children = childrenOf(target);
        auto pick = [&](auto same) {
            fs::EntryRef found = fs::kNoEntry;
            for (fs::EntryRef c : children) {
                if (!same(parser().name(c))) continue;
                if (found == fs::kNoEntry || (parser().isDeleted(found) && !parser().isDeleted(c))) found = c;
                if (!parser().isDeleted(found)) break;
            }
            return found;
        };
        fs::EntryRef found = pick([&](const std::string& n) { return n == part; });
        if (found == fs::kNoEntry && session_->info().caseInsensitiveNames) {
            std::string folded = platform::foldCase(part);
            found = pick([&](const std::string& n) { return platform::foldCase(n) == folded; });
        }
        std::string next = target.path.empty() ? part : target.path + "/" + part;
        if (found == fs::kNoEntry) {
            error = "no entry '" + next + "' on the volume";
            return false;
        }
        target.root = false;
        target.entry = found;
        // The path goes on with the name as the volume spells it.
        target.path = target.path.empty() ? parser().name(found) : target.path + "/" + parser().name(found);
    }
    return true;
}

}  // namespace quenlow::cli
