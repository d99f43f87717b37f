// quenlow probe: each member with its proposed start offset (from an LDM private header in
// its first megabyte), its size, and the md superblocks it carries.

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/MdDescription.h"
#include "cli/SizeFormat.h"
#include "disk/FileReadSeek.h"
#include "disk/FileReadSeekRaid.h"
#include "disk/FileReadSeekVHD.h"

namespace quenlow::cli {
namespace {

struct ProbeOptions {
    bool json = false;
};

void run(CliContext& context, const ProbeOptions& options) {
    if (context.array.members.empty()) {
        context.error("--member: no members given; name each member with -m PATH (MISSING for one that is gone)");
        context.exitStatus = kExitUsage;
        return;
    }
    if (context.array.stripe <= 0) {
        context.error("--stripe: the stripe unit must be at least 1 sector");
        context.exitStatus = kExitUsage;
        return;
    }
    // Quiet: a member that cannot be read is reported once, from its own reader below.
    disk::FileReadSeekRaid prober(nullptr);
    prober.stripeSectors = context.array.stripe;
    prober.level = context.array.level;
    prober.memberNames.resize(context.array.members.size());
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows;
    bool failed = false;
    for (size_t i = 0; i < context.array.members.size(); ++i) {
        std::string name = memberName(context.array.members[i]);
        bool missing = disk::FileReadSeekRaid::isMissingName(name);
        int64_t sizeBytes = -1;
        std::string problem;
        detect::MemberReport examined;
        if (!missing) {
            // A reader of its own tells the member's size and whether it opens at all.
            std::unique_ptr<disk::readWriteInterface> reader;
            if (context.array.vhd)
                reader = std::make_unique<disk::FileReadSeekVHD>();
            else
                reader = std::make_unique<disk::FileReadSeek>();
            if (reader->open(name)) {
                sizeBytes = reader->sizeBytes();
                detect::examineMd(*reader, examined);
            } else
                problem = reader->lastError();
        }
        int64_t before = prober.memberDataSize;
        prober.memberDataSize = 0;
        int64_t offset = context.array.vhd ? prober.probeVhdMember(name) : prober.probeMember(name);
        bool ldm = prober.memberDataSize != 0;
        int64_t ldmSize = prober.memberDataSize;
        if (!ldm) prober.memberDataSize = before;
        if (!problem.empty()) {
            context.error(problem);
            failed = true;
        }
        nlohmann::ordered_json item = {{"member", i}, {"path", missing ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(name)}, {"missing", missing},
                               {"proposed_offset", offset}, {"ldm_header", ldm}};
        item["size_sectors"] = sizeBytes >= 0 ? nlohmann::ordered_json(sizeBytes / 512) : nlohmann::ordered_json(nullptr);
        item["ldm_data_sectors"] = ldm ? nlohmann::ordered_json(ldmSize) : nlohmann::ordered_json(nullptr);
        nlohmann::ordered_json md = nlohmann::ordered_json::array();
        for (const auto& f : examined.md) md.push_back(mdJson(f));
        item["md"] = md;
        if (!problem.empty()) item["error"] = problem;
        list.push_back(item);
        std::string note = ldm ? "LDM data " + std::to_string(ldmSize) + " sectors"
                               : (missing ? "missing" : (problem.empty() ? "" : "cannot be read"));
        for (const auto& f : examined.md) note += (note.empty() ? "" : "; ") + mdLine(f);
        rows.push_back({std::to_string(i), name, std::to_string(offset),
                        sizeBytes >= 0 ? std::to_string(sizeBytes / 512) : "-",
                        sizeBytes >= 0 ? humanSize(static_cast<uint64_t>(sizeBytes)) : "-", note});
    }
    if (options.json)
        printJson(list);
    else
        printTable({"MEMBER", "PATH", "PROPOSED_OFFSET", "SECTORS", "SIZE", "NOTE"}, rows);
    context.exitStatus = failed ? kExitFailed : kExitOk;
}

Registration registration(20, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<ProbeOptions>();
    auto* cmd = app.add_subcommand("probe", "show each member with its proposed start offset and size");
    cmd->add_flag("--json", options->json, "print JSON");
    cmd->callback([&context, options] { run(context, *options); });
});

}  // namespace
}  // namespace quenlow::cli
