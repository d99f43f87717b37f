#include "cli/VolumeSelection.h"

#include <algorithm>

#include "cli/CliContext.h"
#include "filesystems/ParserRegistry.h"
#include "disk/WorkControl.h"
#include "volumes/Partition.h"

namespace quenlow::cli {

namespace {

// Passes everything on to the terminal and turns Ctrl-C into a stop request, looked at
// whenever the scan reports (after every chunk).
class InterruptibleFeedback : public Feedback {
public:
    InterruptibleFeedback(Feedback& inner, WorkControl& control) : inner_(inner), control_(control) {}
    void status(const std::string& text) override { inner_.status(text); check(); }
    void detail(const std::string& text) override { inner_.detail(text); }
    void progressRange(int64_t low, int64_t high) override { inner_.progressRange(low, high); }
    void progressPosition(int64_t position) override { inner_.progressPosition(position); check(); }
    void message(const std::string& text) override { inner_.message(text); }
    bool ask(const std::string& question) override { return inner_.ask(question); }

private:
    void check() {
        if (interruptRequested()) control_.requestStop();
    }
    Feedback& inner_;
    WorkControl& control_;
};

bool usage(CliContext& context, const std::string& text) {
    context.error(text);
    context.exitStatus = kExitUsage;
    return false;
}

std::string fileSystemNames() {
    std::string names;
    for (const auto& e : recovery::VolumeChoice::fileSystemEntries()) names += (names.empty() ? "" : ", ") + e;
    return names;
}

// Sector numbers: CLI11's NonNegativeNumber would name its bound, the largest double.
const CLI::Validator kSectorNumber(
    [](const std::string& text) {
        const size_t first = text.find_first_not_of(" \t");
        return first != std::string::npos && text[first] == '-' ? "must be 0 or more (got " + text + ")" : std::string();
    },
    "SECTOR");

}  // namespace

void addListingOptions(CLI::App& command, ListingOptions& o) {
    command.add_flag("--gpt", o.gpt, "read the partition table as GPT");
    command.add_flag("--scan", o.scan, "scan every sector for boot sectors instead of reading the partition table");
    command.add_flag("--no-skip", o.noSkip, "scan: do not skip the sectors of a volume found (finds backup boot sectors too)");
    command.add_option("--start", o.start, "scan: first sector to scan")->check(kSectorNumber);
    command.add_option("--end", o.end, "scan: no 1 MiB chunk starting beyond this sector is scanned")
        ->check(kSectorNumber);
    command.add_flag("--filter", o.filter, "keep only volumes starting one sector after the volume before them");
}

void addVolumeSelectionOptions(CLI::App& command, VolumeSelectionOptions& o) {
    command.add_option("VOL", o.volume, "the volume: its VOLUME number in the listing made with the same options");
    addListingOptions(command, o.listing);
    command.get_option("--end")->description(
        "scan: no 1 MiB chunk starting beyond this sector is scanned; with --at: the custom volume's last sector");
    command.add_option("--scan-end", o.scanEnd, "scan: the scan's end, when --end gives a custom volume's end")
        ->check(kSectorNumber);
    command.add_option("--at", o.customStart, "a custom volume's first sector (there is no VOL then: the first argument is the PATH)")
        ->check(kSectorNumber);
    command.add_option("--fs", o.customFs, "with --at: treat the volume as this file system: " + fileSystemNames());
}

bool listVolumes(CliContext& context, const ListingOptions& o, recovery::VolumeChoice& choice, bool* interrupted) {
    if (!o.scan && (o.noSkip || o.start >= 0 || o.end >= 0))
        return usage(context, "--no-skip, --start and --end belong to --scan");
    if (o.start >= 0 && o.end >= 0 && o.end < o.start)
        return usage(context, "--end: the scan's end (sector " + std::to_string(o.end) + ") lies before its start (--start " +
                                  std::to_string(o.start) + ")");
    if (!context.recovery.raidDisk && !context.openArray()) return false;
    disk::FileReadSeekRaid& disk = *context.recovery.raidDisk;
    if (o.start >= 0 && static_cast<uint64_t>(o.start) >= disk.totalSectors())
        return usage(context, "--start: sector " + std::to_string(o.start) + " lies at or beyond the virtual disk's end (" +
                                  std::to_string(disk.totalSectors()) + " sectors)");

    choice.clear();
    WorkControl control;
    if (!o.scan) {
        volumes::Partition finder(disk, choice.volumes(), context.feedback, &control);
        finder.gptFormat = o.gpt ? 1 : 0;
        finder.listPartitions();
        for (const auto& w : finder.warnings()) context.warn(w);
        if (finder.protectiveMbr && !o.gpt)
            context.warn("the MBR holds a protective entry (type 0xEE): this disk is partitioned with GPT; list it "
                         "with --gpt");
        choice.showListing();
    } else {
        installInterruptHandler();
        InterruptibleFeedback feedback(context.feedback, control);
        volumes::Partition finder(disk, choice.volumes(), feedback, &control);
        finder.skipVolumeSize = o.noSkip ? 0 : 1;
        finder.customStartSector = std::max<int64_t>(0, o.start);
        finder.customEndSector = std::max<int64_t>(0, o.end);
        finder.totalSectors = disk.totalSectors();
        finder.onScanRecord = [&](const volumes::VolumeRecord& r) { choice.addScannedRow(r); };
        finder.scanVolumes();
        context.feedback.finishProgress();
        for (const auto& w : finder.warnings()) context.warn(w);
        if (interrupted != nullptr) *interrupted = control.stopRequested();
    }
    if (o.filter) choice.filter();
    return true;
}

bool selectVolume(CliContext& context, const VolumeSelectionOptions& o, volumes::VolumeRecord& selected) {
    const bool custom = o.customStart >= 0;
    ListingOptions listing = o.listing;
    int64_t customEnd = -1;
    if (custom) {
        customEnd = listing.end;
        listing.end = o.scanEnd;
    } else if (o.scanEnd >= 0) {
        if (listing.end >= 0) return usage(context, "--end and --scan-end both give the scan's end");
        listing.end = o.scanEnd;
    }
    if (o.volume.empty() && !custom)
        return usage(context, "please select a valid volume. (name VOL as listed by `volumes`, or a custom volume with --at START --end END --fs NAME)");
    if (o.volume.empty() && (customEnd < 0 || o.customFs.empty()))
        return usage(context, "a custom volume needs --at START --end END --fs NAME");
    if (custom && customEnd >= 0 && customEnd < o.customStart)
        return usage(context, "--end: the custom volume's last sector (" + std::to_string(customEnd) +
                                  ") lies before its first (--at " + std::to_string(o.customStart) + ")");
    std::string entry;
    const fs::ParserInfo* registered = nullptr;  // a parser known by a name the list lacks
    if (!o.customFs.empty()) {
        entry = recovery::VolumeChoice::entryNamed(o.customFs);
        if (entry.empty()) registered = fs::findParser(o.customFs);
        if (entry.empty() && registered == nullptr)
            return usage(context, "--fs: '" + o.customFs + "' is not one of " + fileSystemNames());
    }

    recovery::VolumeChoice choice(listing.scan ? recovery::VolumeChoice::ScanMode::Advanced
                                               : recovery::VolumeChoice::ScanMode::Standard);
    bool interrupted = false;
    if (!listVolumes(context, listing, choice, &interrupted)) return false;
    if (interrupted) {
        context.error("scan stopped: no volume chosen");
        context.exitStatus = kExitFailed;
        return false;
    }

    if (!o.volume.empty()) {
        int row = choice.findRow(o.volume);
        if (row < 0) {
            context.error("please select a valid volume. (no volume " + o.volume + " in the listing; see `volumes` with the same options)");
            context.exitStatus = kExitUsage;
            return false;
        }
        choice.clickRow(row);
        if (custom || !entry.empty()) choice.customSettings = true;
    } else {
        choice.addCustomVolume();
    }
    if (custom) choice.startText = std::to_string(o.customStart);
    if (customEnd >= 0) choice.endText = std::to_string(customEnd);
    if (!entry.empty()) choice.fileSystemEntry = entry;

    auto result = choice.next();
    if (result.outcome == recovery::VolumeChoice::Outcome::Stay) {
        context.error(result.message);
        context.exitStatus = kExitFailed;
        return false;
    }
    selected = *choice.selectedVolume();
    if (registered != nullptr) selected.fileSystem = o.customFs;
    return true;
}

}  // namespace quenlow::cli
