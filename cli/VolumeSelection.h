#pragma once
// How commands list the volumes of the array and how later commands name one (VOL): a row
// number of the `volumes` listing (given with the same listing options), or a custom volume
// --at START --end END --fs NAME. Every command that takes a volume uses this one selection.

#include <cstdint>
#include <string>

#include <CLI/CLI.hpp>

#include "recovery/VolumeChoice.h"
#include "volumes/VolumeRecord.h"

namespace quenlow::cli {

struct CliContext;

// The options of a listing: the partition tables (--gpt), or the sector scan.
struct ListingOptions {
    bool gpt = false;        // --gpt
    bool scan = false;       // --scan
    bool noSkip = false;     // --no-skip
    int64_t start = -1;      // --start: first sector scanned (-1: not given)
    int64_t end = -1;        // --end: no chunk starts beyond it (-1: not given)
    bool filter = false;     // --filter
};

struct VolumeSelectionOptions {
    std::string volume;          // the VOL argument: a row number; empty for a custom volume
    ListingOptions listing;      // --end here is the custom volume's end when --at is given
    int64_t scanEnd = -1;        // --scan-end: the scan's end when --end names the custom end
    int64_t customStart = -1;    // --at
    std::string customFs;        // --fs
};

// Adds --gpt, --scan, --no-skip, --start, --end and --filter.
void addListingOptions(CLI::App& command, ListingOptions& options);
// Adds VOL, the listing options, --scan-end, --at and --fs to a command.
void addVolumeSelectionOptions(CLI::App& command, VolumeSelectionOptions& options);

// Opens the array (unless it is open) and lists its volumes into `choice` as the volume
// list does: the partition tables, or the sector scan with its progress on a terminal
// (Ctrl-C stops it like Stop; `interrupted` then says so). Applies --filter. On failure
// prints the reason, sets the exit status and returns false.
bool listVolumes(CliContext& context, const ListingOptions& options, recovery::VolumeChoice& choice,
                 bool* interrupted = nullptr);

// Lists the volumes as `volumes` would and picks the one named, applying the custom-volume
// rules: VOL with --at and/or --fs gets them as its custom settings (the end, unless --end
// gives it, is the one its size gives); --at without VOL is a custom volume. On failure prints
// the reason, sets the exit status and returns false. A custom volume with --fs RAW gives
// the file system "RAW".
bool selectVolume(CliContext& context, const VolumeSelectionOptions& options,
                  volumes::VolumeRecord& selected);

}  // namespace quenlow::cli
