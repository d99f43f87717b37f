// quenlow info: the array as assembled: level, layout, stripe, members, offsets and the
// virtual disk's size.

#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/SizeFormat.h"
#include "disk/FileReadSeekRaid.h"

namespace quenlow::cli {
namespace {

struct InfoOptions {
    bool json = false;
};

std::string layoutName(int layout) {
    switch (layout) {
        case 1: return "Rotating Parity 0 with Data Restart.";
        case 2: return "Rotating Parity N with Data Restart.";
        case 3: return "Rotating Parity N with Data Continuation.";
        case 4: return "Rotating Parity 0 with Data Continuation.";
        default: return "";
    }
}

// What a member lacks of the data area the disk maps to it, for the NOTE column.
std::string memberNote(const disk::FileReadSeekRaid& raid, size_t i) {
    if (disk::FileReadSeekRaid::isMissingName(raid.memberNames[i])) return "MISSING";
    if (i >= raid.memberData().size()) return "";
    const auto& d = raid.memberData()[i];
    if (d.heldSectors >= d.dataSectors) return "";
    return "holds " + std::to_string(d.heldSectors) + " of " + std::to_string(d.dataSectors) + " data sectors";
}

void run(CliContext& context, const InfoOptions& options) {
    if (!context.openArray()) return;
    const auto& raid = *context.recovery.raidDisk;
    uint64_t sectors = raid.totalSectors();
    if (options.json) {
        nlohmann::ordered_json members = nlohmann::ordered_json::array();
        for (size_t i = 0; i < raid.memberNames.size(); ++i) {
            const auto data = i < raid.memberData().size() ? raid.memberData()[i] : disk::FileReadSeekRaid::MemberData{};
            const bool missing = disk::FileReadSeekRaid::isMissingName(raid.memberNames[i]);
            members.push_back({{"member", i},
                               {"path", missing ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(raid.memberNames[i])},
                               {"missing", missing},
                               {"offset", i < raid.partitionOffsets.size() ? raid.partitionOffsets[i] : 0},
                               {"data_sectors", data.dataSectors},
                               {"held_sectors", data.heldSectors}});
        }
        nlohmann::ordered_json info = {{"level", raid.level},
                               {"layout", raid.level == 5 ? nlohmann::ordered_json(raid.parityLayout) : nlohmann::ordered_json(nullptr)},
                               {"layout_name", raid.level == 5 ? nlohmann::ordered_json(layoutName(raid.parityLayout)) : nlohmann::ordered_json(nullptr)},
                               {"stripe_sectors", raid.stripeSectors},
                               {"members", members},
                               {"total_sectors", sectors},
                               {"size_bytes", sectors * 512},
                               {"warnings", raid.warnings()}};
        printJson(info);
    } else {
        std::cout << "Level:          RAID-" << raid.level << '\n';
        if (raid.level == 5)
            std::cout << "Parity layout:  " << raid.parityLayout << " (" << layoutName(raid.parityLayout) << ")\n";
        std::cout << "Stripe unit:    " << raid.stripeSectors << " sectors ("
                  << humanSize(static_cast<uint64_t>(raid.stripeSectors) * 512) << ")\n";
        std::cout << "Virtual disk:   " << sectors << " sectors (" << humanSize(sectors * 512) << ")\n";
        std::vector<std::vector<std::string>> rows;
        bool notes = false;
        for (size_t i = 0; i < raid.memberNames.size(); ++i) {
            rows.push_back({std::to_string(i), raid.memberNames[i],
                            std::to_string(i < raid.partitionOffsets.size() ? raid.partitionOffsets[i] : 0)});
            if (std::string note = memberNote(raid, i); !note.empty()) {
                rows.back().push_back(note);
                notes = true;
            }
        }
        std::cout << '\n';
        if (notes) printTable({"MEMBER", "PATH", "OFFSET", "NOTE"}, rows);
        else printTable({"MEMBER", "PATH", "OFFSET"}, rows);
    }
    context.exitStatus = kExitOk;
}

Registration registration(30, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<InfoOptions>();
    auto* cmd = app.add_subcommand("info", "show the assembled array and the virtual disk's size");
    cmd->add_flag("--json", options->json, "print JSON");
    cmd->callback([&context, options] { run(context, *options); });
});

}  // namespace
}  // namespace quenlow::cli
