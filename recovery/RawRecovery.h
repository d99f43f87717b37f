#pragma once
// The raw recovery step without widgets: Parse loads the signature files (the default one
// beside the program and/or the user's) and carves the chosen volume; Save writes chosen
// finds (the `size` bytes from `start` of the volume) into the destination folder, one
// sub-folder per category, through the output code: names made safe, never replacing a file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "disk/Feedback.h"
#include "disk/WorkControl.h"
#include "disk/readWriteInterface.h"
#include "filesystems/FolderTree.h"
#include "raw/myJpg.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::recovery {

inline constexpr const char* kEnterInfoFileText = "enter the info file first..";
inline constexpr const char* kZeroSizeVolumeText = "zero size volume..";

// The default settings file: FileSetting.txt in the program's own folder (from
// /proc/self/exe); empty when that folder cannot be known.
std::string defaultSettingsPath();

class RawRecovery {
public:
    struct ParseOptions {
        bool loadDefault = true;          // "Load Default Items"
        std::string defaultPath;          // the default file's path; empty: not known
        std::string userPath;             // the user's file; empty: none
        std::vector<std::string> types;   // extensions to keep (any letter case); empty: all
        size_t chunkBytes = raw::myJpg::kDefaultChunkBytes;
    };
    // Loads the definitions and carves `volumeBytes` bytes (-1: the size the record gives)
    // of `volume` on `disk`. False when a settings file was refused, no default path is
    // known, the volume is empty, or the engine could not run; the reason went to `feedback`.
    bool parse(const ParseOptions& options, disk::readWriteInterface& disk, const volumes::VolumeRecord& volume,
               int64_t volumeBytes, fs::FolderTree& tree, Feedback& feedback, WorkControl& control);

    const raw::myJpg& engine() const { return *engine_; }
    int64_t volumeBytes() const { return volumeBytes_; }

    struct Saved {
        size_t find = 0;               // index in engine().found()
        bool ok = false;
        bool stopped = false;
        std::string path;              // relative to the destination: category/name
        std::string error;
        std::string sha256;            // of the bytes written
        std::vector<disk::ByteRange> damaged;  // bytes that could not be read (saved as zeros)
    };
    // Saves the finds `which` (indices into engine().found()) into `destination`, created
    // when missing. Stops between files and inside a file when `control` says so.
    std::vector<Saved> save(const std::vector<size_t>& which, const std::string& destination, WorkControl& control,
                            std::string& error);

private:
    std::unique_ptr<raw::myJpg> engine_ = std::make_unique<raw::myJpg>();
    disk::readWriteInterface* disk_ = nullptr;
    int64_t volumeStart_ = 0;
    int64_t volumeBytes_ = 0;
};

}  // namespace quenlow::recovery
