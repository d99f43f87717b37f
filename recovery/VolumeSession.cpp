#include "recovery/VolumeSession.h"

#if __has_include("filesystems/ntfs/ntfs.h")
#include "filesystems/ntfs/ntfs.h"
#define QUENLOW_HAVE_NTFS 1
#endif
#include "recovery/NtfsStandardWorker.h"

namespace quenlow::recovery {

namespace {

#ifdef QUENLOW_HAVE_NTFS
class NtfsSession : public VolumeSession {
public:
    NtfsSession(disk::readWriteInterface& reader, const volumes::VolumeRecord& volume,
                fs::FolderTree& tree, const std::string& rootLabel, Feedback& feedback, int mode)
        : VolumeSession(ParserKind::Ntfs), parser_(reader, volume, tree, rootLabel), tree_(tree),
          feedback_(feedback), mode_(mode) {
        parser_.feedback = &feedback;
    }
    void parse() override { runNtfsStandardWorker(parser_, tree_, feedback_, mode_); }
    fs::VolumeParser& parser() override { return parser_; }

private:
    fs::ntfs parser_;
    fs::FolderTree& tree_;
    Feedback& feedback_;
    int mode_;
};
#endif

}  // namespace

std::unique_ptr<VolumeSession> VolumeSession::open(disk::readWriteInterface& reader,
                                                   const volumes::VolumeRecord& volume,
                                                   fs::FolderTree& tree, const std::string& rootLabel,
                                                   Feedback& feedback, int recoveryMode,
                                                   std::string& error) {
    ParserKind kind = parserKindFor(volume.fileSystem);
    if (kind == ParserKind::None) {
        error = kNotValidDriveText;
        feedback.message(kNotValidDriveText);
        feedback.status(kNotValidDriveStatus);
        return nullptr;
    }
    if (kind == ParserKind::Ntfs && recoveryMode != kStandardMode) {
        error = "this recovery mode of NTFS is not supported yet";
        feedback.message(error);
        return nullptr;
    }
#ifdef QUENLOW_HAVE_NTFS
    if (kind == ParserKind::Ntfs) {
        feedback.status("ntfs partition selected....");
        return std::make_unique<NtfsSession>(reader, volume, tree, rootLabel, feedback, recoveryMode);
    }
#else
    (void)reader;
    (void)tree;
    (void)rootLabel;
#endif
    error = "volume " + volume.volumeNumber + " holds " + parserKindName(kind) +
            " (\"" + volume.fileSystem + "\"): reading this file system is not supported yet";
    feedback.message(error);
    return nullptr;
}

}  // namespace quenlow::recovery
