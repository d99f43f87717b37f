// quenlow ... candidates VOL [--max N] [--json]: advanced mode's search of a volume whose
// boot sector or tables cannot be trusted: the numbered candidates (MFT records, FAT starts,
// exFAT heap starts) with their positions, and the sectors-per-cluster offers. `ls`, `save`
// and `search` with --mode advanced take the choice by these numbers.

#include <iostream>

#include <nlohmann/json.hpp>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/ParsedVolume.h"
#include "cli/TerminalText.h"

namespace quenlow::cli {

namespace {

struct CandidatesOptions {
    VolumeSelectionOptions volume;
    int64_t maximum = 3;
    bool json = false;
};

using Items = std::vector<recovery::AdvancedInput::Item>;

nlohmann::ordered_json positions(const Items& items) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (size_t i = 0; i < items.size(); ++i)
        list.push_back({{"number", i}, {"text", items[i].text}, {"offset", items[i].value},
                        {"sector", items[i].value / 512}});
    return list;
}

void printPositions(const char* title, const Items& items) {
    std::cout << title << ": " << items.size() << "\n";
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < items.size(); ++i)
        rows.push_back({std::to_string(i), items[i].text, std::to_string(items[i].value),
                        std::to_string(items[i].value / 512)});
    if (!rows.empty()) writeTable(std::cout, {"NUMBER", "ENTRY", "BYTE OFFSET", "SECTOR"}, rows);
}

void run(CliContext& context, const CandidatesOptions& options) {
    ParsedVolume volume;
    if (!volume.openSession(context, options.volume, fs::Mode::Advanced)) return;
    if (!volume.runCandidateSearch(context, options.maximum)) return;
    const recovery::AdvancedInput& input = volume.candidates();
    const recovery::AdvancedInput::Lists& lists = input.lists();
    bool exfat = input.kind() == recovery::AdvancedInput::Kind::ExFat;
    if (options.json) {
        nlohmann::ordered_json sectors = nlohmann::ordered_json::array();
        for (const auto& item : lists.sectorsPerCluster) sectors.push_back(item.value);
        nlohmann::ordered_json out = {{"volume", volume.volume().volumeNumber},
                                      {"file_system", volume.volume().fileSystem},
                                      {"boot_valid", input.search().bootValid},
                                      {"entries", positions(lists.entries)}};
        if (exfat) out["heaps"] = positions(lists.heaps);
        out["sectors_per_cluster"] = sectors;
        std::cout << out.dump(2) << "\n";
    } else {
        printPositions(input.kind() == recovery::AdvancedInput::Kind::Ntfs ? "$MFT candidates" : "FAT candidates",
                       lists.entries);
        if (exfat) printPositions("cluster heap candidates", lists.heaps);
        std::cout << "sectors per cluster offers:";
        for (const auto& item : lists.sectorsPerCluster) std::cout << " " << item.value;
        std::cout << "\n";
    }
    context.exitStatus = lists.entries.empty() ? kExitFailed : kExitOk;
}

Registration registration(52, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<CandidatesOptions>();
    auto* cmd = app.add_subcommand("candidates", "search a damaged volume for the starts of its tables (advanced "
                                                 "mode): numbered candidates for ls/save/search --mode advanced");
    addVolumeSelectionOptions(*cmd, options->volume);
    addMaximumOption(*cmd, options->maximum);
    cmd->add_flag("--json", options->json, "print JSON");
    cmd->footer("Then: ls VOL --mode advanced --candidate N [--sectors-per-cluster S] [--heap H]");
    cmd->callback([&context, options] { run(context, *options); });
});

}  // namespace
}  // namespace quenlow::cli
