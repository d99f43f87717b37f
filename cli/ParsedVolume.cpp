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
#include "recovery/AdvancedInput.h"
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

std::string modeName(fs::Mode mode) {
    switch (mode) {
        case fs::Mode::Standard: return "standard";
        case fs::Mode::Advanced: return "advanced";
        case fs::Mode::Deep: return "deep";
    }
    return "unknown";
}

bool ParsedVolume::runCandidateSearch(CliContext& context, int64_t maximum) {
    input_ = std::make_unique<recovery::AdvancedInput>(volume_.fileSystem);
    if (input_->kind() == recovery::AdvancedInput::Kind::None) {
        context.error("volume " + volume_.volumeNumber + " (" + volume_.fileSystem + "): no candidate search for this file system");
        context.exitStatus = kExitFailed;
        return false;
    }
    if (std::string opening = input_->openingStatus(); !opening.empty()) parseFeedback_->status(opening);
    runStoppable(session_->control(), [&] {
        input_->run(session_->parser(), session_->control(), *parseFeedback_, maximum);
    });
    context.feedback.finishProgress();
    session_->control().clearStop();
    if (interruptRequested()) {
        context.error("stopped");
        context.exitStatus = kExitFailed;
        return false;
    }
    return true;
}

bool ParsedVolume::chooseCandidate(CliContext& context, const ModeOptions& modes) {
    if (!runCandidateSearch(context, modes.maximum)) return false;
    auto refuse = [&](const std::string& why) {
        context.error("--mode advanced: " + why);
        context.exitStatus = kExitUsage;
        return false;
    };
    if (modes.candidate < 0) return refuse("--candidate must be 0 or more");
    if (modes.heap && *modes.heap < 0) return refuse("--heap must be 0 or more");
    const recovery::AdvancedInput::Lists& lists = input_->lists();
    int64_t sectors = modes.sectorsPerCluster;
    if (sectors == 0 && !lists.sectorsPerCluster.empty()) sectors = lists.sectorsPerCluster.front().value;
    fs::CandidateChoice choice;
    std::string error;
    std::optional<size_t> heap;
    if (modes.heap) heap = static_cast<size_t>(*modes.heap);
    if (!input_->chooseSectors(static_cast<size_t>(modes.candidate), sectors, heap, choice, error)) return refuse(error);
    if (!session_->parser().chooseCandidate(choice, error)) return refuse(error);
    return true;
}

void addFormattedOption(CLI::App& command, bool& formatted) {
    command.add_flag("--formatted", formatted,
                     "the drive was formatted: FAT files are read as contiguous clusters from their first one");
}

void addRecycleNamesOption(CLI::App& command, bool& raw) {
    command.add_flag("--no-recycle-names", raw,
                     "show and save files of the Recycle Bin under their $R names, not the names they had");
}

void addMaximumOption(CLI::App& command, int64_t& maximum) {
    command.add_option("--max", maximum, "advanced mode: the number of candidates to look for (default 3; below 1: 3)");
}

void addModeOptions(CLI::App& command, ModeOptions& modes) {
    const std::map<std::string, fs::Mode> names{
        {"standard", fs::Mode::Standard}, {"advanced", fs::Mode::Advanced}, {"deep", fs::Mode::Deep}};
    command
        .add_option("--mode", modes.mode,
                    "recovery mode: standard (default); advanced (NTFS, FAT, exFAT: parse from a candidate of "
                    "`candidates` instead of the boot sector); deep (NTFS: every MFT record found on the volume; "
                    "HFS+: a scan for catalog nodes)")
        ->transform(CLI::CheckedTransformer(names, CLI::ignore_case));
    addMaximumOption(command, modes.maximum);
    command
        .add_option_function<int64_t>(
            "--candidate",
            [&modes](int64_t i) {
                modes.candidate = i;
                modes.candidateGiven = true;
            },
            "advanced mode: the number of the candidate (MFT or FAT entry) as `candidates` lists it (default 0)");
    command.add_option("--sectors-per-cluster", modes.sectorsPerCluster,
                       "advanced mode: 512-byte sectors per cluster, a power of two (default: the first offer of "
                       "`candidates`)");
    command.add_option_function<int64_t>(
        "--heap", [&modes](int64_t i) { modes.heap = i; },
        "advanced mode on exFAT: the number of the cluster heap candidate (default: the --candidate number)");
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

bool ParsedVolume::openSession(CliContext& context, const VolumeSelectionOptions& options, fs::Mode mode) {
    if (!selectVolume(context, options, volume_) || refuseRaw(context, options, volume_)) return false;
    if (const fs::ParserInfo* info = fs::findParser(volume_.fileSystem); info != nullptr && !info->offers(mode)) {
        std::string which = volume_.volumeNumber.empty() ? "the volume" : "volume " + volume_.volumeNumber;
        std::string offered;
        for (size_t i = 0; i < info->modes.size(); ++i)
            offered += (i == 0 ? "" : i + 1 == info->modes.size() ? " and " : ", ") + modeName(info->modes[i]);
        context.error("--mode " + modeName(mode) + ": " + which + " holds " + info->name + ", which has no " +
                      modeName(mode) + " mode (it offers " + offered + ")");
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
    return true;
}

bool ParsedVolume::open(CliContext& context, const VolumeSelectionOptions& options, const ModeOptions& modes) {
    if (modes.mode != fs::Mode::Advanced && (modes.candidateGiven || modes.heap || modes.sectorsPerCluster != 0)) {
        context.error("--candidate, --sectors-per-cluster and --heap choose among the candidates of --mode advanced");
        context.exitStatus = kExitUsage;
        return false;
    }
    if (!openSession(context, options, modes.mode)) return false;
    if (modes.mode == fs::Mode::Advanced && !chooseCandidate(context, modes)) return false;
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
                          const std::string& path, Target& target, const ModeOptions& modes) {
    if (!open(context, options, modes)) return false;
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
