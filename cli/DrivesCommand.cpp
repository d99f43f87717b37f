// quenlow drives: the machine's whole-disk block devices with their sizes.

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/SizeFormat.h"
#include "platform/BlockDevices.h"

namespace quenlow::cli {
namespace {

struct DrivesOptions {
    bool json = false;
};

void run(CliContext& context, const DrivesOptions& options) {
    auto drives = platform::listWholeDisks();
    if (options.json) {
        nlohmann::json list = nlohmann::json::array();
        for (const auto& d : drives)
            list.push_back({{"name", d.name}, {"path", d.path}, {"size_bytes", d.sizeBytes},
                            {"sectors", d.sizeBytes / 512}, {"model", d.model}});
        printJson(list);
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const auto& d : drives)
            rows.push_back({d.path, std::to_string(d.sizeBytes / 512), humanSize(d.sizeBytes), d.model});
        printTable({"DEVICE", "SECTORS", "SIZE", "MODEL"}, rows);
    }
    context.exitStatus = kExitOk;
}

Registration registration(10, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<DrivesOptions>();
    auto* cmd = app.add_subcommand("drives", "list the whole-disk block devices with their sizes");
    cmd->add_flag("--json", options->json, "print JSON");
    cmd->callback([&context, options] { run(context, *options); });
});

}  // namespace
}  // namespace quenlow::cli
