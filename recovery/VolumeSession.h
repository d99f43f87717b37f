#pragma once
// One parsed volume: the parser chosen for the volume's file system, the folder tree it
// fills, and its parse worker (run by the caller, on whatever thread it likes).

#include <memory>
#include <string>

#include "disk/Feedback.h"
#include "disk/readWriteInterface.h"
#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "recovery/ParserChoice.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::recovery {

inline constexpr const char* kNotValidDriveText = "not a valid drive.";
inline constexpr const char* kNotValidDriveStatus = "Not a valid Drive .Go back";

class VolumeSession {
public:
    // Recovery modes: 1 standard, 2 advanced, 3 deep.
    static constexpr int kStandardMode = 1;

    // Picks and creates the parser for `volume`. Returns null, with `error` set and the
    // message given to `feedback`, when the file system is not one this build reads:
    // "not a valid drive." for an unknown name, a "not supported yet" text for a file
    // system whose parser is still to come.
    static std::unique_ptr<VolumeSession> open(disk::readWriteInterface& reader,
                                               const volumes::VolumeRecord& volume,
                                               fs::FolderTree& tree, const std::string& rootLabel,
                                               Feedback& feedback, int recoveryMode,
                                               std::string& error);
    virtual ~VolumeSession() = default;

    // The parse worker: the parser's steps and the completion sequence.
    virtual void parse() = 0;
    virtual fs::VolumeParser& parser() = 0;
    ParserKind kind() const { return kind_; }

protected:
    explicit VolumeSession(ParserKind kind) : kind_(kind) {}

private:
    ParserKind kind_;
};

}  // namespace quenlow::recovery
