#include "recovery/VolumeSession.h"

#include <strings.h>

#include "recovery/ParseCompletion.h"
#include "recovery/RecycleBinRestorer.h"

namespace quenlow::recovery {

namespace {

// The file-system texts a volume record may carry and the file system each names: those
// this build has no parser for yet are refused with a clear word rather than "not a valid
// drive.".
struct KnownName {
    const char* typeName;
    const char* fileSystem;
};
constexpr KnownName kKnownNames[] = {{"ntfs", "NTFS"},   {"fat32", "FAT32"}, {"fat16", "FAT16"},
                                     {"fat", "FAT16"},   {"extX", "ext2/3/4"}, {"fat64", "exFAT"},
                                     {"exFat", "exFAT"}, {"HFS+", "HFS+"}};

const char* modeName(fs::Mode mode) {
    switch (mode) {
        case fs::Mode::Standard: return "standard";
        case fs::Mode::Advanced: return "advanced";
        case fs::Mode::Deep: return "deep";
    }
    return "unknown";
}

// Sets a flag under the session's lock for as long as it lives (also when the work throws).
class FlagWhile {
public:
    FlagWhile(std::mutex& mutex, bool& flag, std::condition_variable* ended = nullptr)
        : mutex_(mutex), flag_(flag), ended_(ended) {}
    ~FlagWhile() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            flag_ = false;
        }
        if (ended_ != nullptr) ended_->notify_all();
    }

private:
    std::mutex& mutex_;
    bool& flag_;
    std::condition_variable* ended_;
};

int64_t startByte(const volumes::VolumeRecord& volume) {
    int64_t start;
    if (volume.startSector < 0 || __builtin_mul_overflow(volume.startSector, int64_t{512}, &start)) return -1;
    return start;
}

}  // namespace

std::unique_ptr<VolumeSession> VolumeSession::open(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume,
                                                   fs::FolderTree& tree, Feedback& feedback, const Options& options,
                                                   std::string& error) {
    const fs::ParserInfo* info = fs::findParser(volume.fileSystem);
    if (info == nullptr) {
        for (const KnownName& known : kKnownNames) {
            if (::strcasecmp(known.typeName, volume.fileSystem.c_str()) != 0) continue;
            error = "volume " + volume.volumeNumber + " holds " + known.fileSystem + " (\"" + volume.fileSystem +
                    "\"): reading this file system is not supported yet";
            feedback.message(error);
            return nullptr;
        }
        error = kNotValidDriveText;
        feedback.message(kNotValidDriveText);
        feedback.status(kNotValidDriveStatus);
        return nullptr;
    }
    if (!info->offers(options.mode)) {
        error = std::string("the ") + modeName(options.mode) + " recovery mode of " + info->name +
                " is not supported yet";
        feedback.message(error);
        return nullptr;
    }
    int64_t start = startByte(volume);
    if (start < 0) {
        error = "volume " + volume.volumeNumber + " starts at a sector that cannot be read";
        feedback.message(error);
        return nullptr;
    }
    fs::ParserSetup setup;
    setup.view = disk::VolumeView(reader, start);
    setup.volume = volume;
    setup.tree = &tree;
    setup.rootLabel = options.rootLabel;
    setup.context = options.context;
    std::unique_ptr<fs::VolumeParser> parser = info->create(setup);
    if (!parser) {
        error = "the " + info->name + " parser could not be made";
        feedback.message(error);
        return nullptr;
    }
    if (!info->selectedStatus.empty()) feedback.status(info->selectedStatus);
    return std::unique_ptr<VolumeSession>(new VolumeSession(*info, std::move(parser), tree, feedback, options.mode));
}

fs::ParseOutcome VolumeSession::parse(bool restoreRecycleNames) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        parsing_ = true;
    }
    FlagWhile parsing(mutex_, parsing_, &parseEnded_);
    fs::ParseOutcome outcome = parser_->parse(control_, *feedback_, mode_);
    if (outcome.complete) {
        completeParse(tree_, *parser_, *feedback_, [&] {
            if (info_.restoresRecycleBin && restoreRecycleNames)
                restoredNames_ = RecycleBinRestorer(tree_, *parser_, info_).restore(*feedback_);
        });
    }
    return outcome;
}

NameSearch::Outcome VolumeSession::search(const std::string& pattern, Feedback& feedback,
                                          const std::function<void(const SearchRow&)>& onRow) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        parseEnded_.wait(lock, [&] { return !parsing_; });
        if (searching_) return NameSearch::Outcome::Ignored;
        searching_ = true;
    }
    FlagWhile searching(mutex_, searching_);
    return NameSearch(tree_, *parser_, control_).run(pattern, feedback, onRow);
}

}  // namespace quenlow::recovery
