#pragma once
// How later commands name a volume (VOL): a row number of the `volumes` listing (given with
// the same listing options), or a custom volume --at START --end END --fs NAME. Every
// command that takes a volume uses this one selection.

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "volumes/VolumeRecord.h"

namespace quenlow::cli {

struct CliContext;

struct VolumeSelectionOptions {
    std::string volume;          // the VOL argument: a row number; empty with --at
    bool gpt = false;            // --gpt
    bool scan = false;           // --scan
    bool noSkip = false;         // --no-skip
    int64_t scanStart = 0;       // --start
    int64_t scanEnd = 0;         // --end (of the scan)
    bool filter = false;         // --filter
    int64_t customStart = -1;    // --at
    int64_t customEnd = -1;      // --end with --at
    std::string customFs;        // --fs
};

// Adds VOL and the listing and custom-volume options to a command.
void addVolumeSelectionOptions(CLI::App& command, VolumeSelectionOptions& options);

// Opens the array, lists the volumes as `volumes` would and picks the one named, applying
// the custom-volume rules. On failure prints the reason, sets the exit status and returns
// false.
bool selectVolume(CliContext& context, const VolumeSelectionOptions& options,
                  volumes::VolumeRecord& selected);

}  // namespace quenlow::cli
