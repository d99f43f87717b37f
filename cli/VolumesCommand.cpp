// quenlow ARRAY volumes: the volumes of the array, from its partition table or a sector scan.

#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/TerminalText.h"
#include "cli/VolumeSelection.h"

namespace quenlow::cli {

namespace {

struct VolumesOptions {
    ListingOptions listing;
    bool json = false;
};

void run(CliContext& context, const VolumesOptions& o) {
    recovery::VolumeChoice choice(o.listing.scan ? recovery::VolumeChoice::ScanMode::Advanced
                                                 : recovery::VolumeChoice::ScanMode::Standard);
    bool interrupted = false;
    if (!listVolumes(context, o.listing, choice, &interrupted)) return;
    if (interrupted) context.feedback.message("Scanned Partitions (stopped: the volumes found so far)");

    if (o.json) {
        // Keys in the order of the columns, then the same values as numbers (the size travels
        // in whole MiB, as the listing gives it).
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (size_t i = 0; i < choice.rows().size(); ++i) {
            const auto& row = choice.rows()[i];
            int64_t mib = recovery::VolumeChoice::leadingNumber(row.volumeSize);
            if (mib < 0 || mib > INT64_MAX / 1048576) mib = 0;
            list.push_back({{"volume", row.volume},
                            {"file_system", row.fileSystem},
                            {"volume_size", row.volumeSize},
                            {"start_sector", row.record.startSector},
                            {"row", i},
                            {"size_mib", mib},
                            {"size_sectors", mib * 2048},
                            {"size_bytes", mib * 1048576}});
        }
        std::cout << terminalJson(list.dump(2, ' ', false, nlohmann::json::error_handler_t::replace)) << '\n';
        return;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto& row : choice.rows()) rows.push_back({row.volume, row.fileSystem, row.volumeSize, row.startSector});
    printTable({"VOLUME", "FILE_SYSTEM", "VOLUME_SIZE", "START_SECTOR"}, rows);
}

const Registration registration{40, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<VolumesOptions>();
    CLI::App* command = app.add_subcommand(
        "volumes",
        "list the volumes of the array: its partition table (MBR with logical volumes, or --gpt), or --scan every "
        "sector for boot sectors");
    addListingOptions(*command, options->listing);
    command->add_flag("--json", options->json, "print a JSON list of {volume, file_system, volume_size, start_sector}");
    command->callback([options, &context] { run(context, *options); });
}};

}  // namespace

}  // namespace quenlow::cli
