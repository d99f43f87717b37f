// quenlow detect: what metadata each member carries, and the array options proposed from
// md superblocks or from the data, as a ready command line with a confidence and the
// runner-up candidates.

#include <iostream>
#include <sstream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/MdDescription.h"
#include "cli/TerminalText.h"
#include "detect/ArrayDetect.h"

namespace quenlow::cli {
namespace {

struct DetectOptions {
    bool json = false;
    bool deep = false;
    bool stripeGiven = false;  // -s was on the command line (its default is not a hint)
};

// The search limits the user gave with -l, --layout and -s; false (status 2) for a bad one.
bool searchLimits(CliContext& context, const DetectOptions& options, detect::DetectOptions& settings) {
    const ArrayOptions& a = context.array;
    auto usage = [&](const std::string& text) {
        context.error(text);
        context.exitStatus = kExitUsage;
        return false;
    };
    if (a.level != -1 && a.level != 0 && a.level != 5) return usage("--level: give 0 or 5");
    if (a.layout != kLayoutNotGiven) {
        if (a.level == 0) return usage("--layout: RAID-0 has no parity layout; --layout goes with -l 5");
        if (a.layout < 1 || a.layout > 4) return usage("--layout: give 1, 2, 3 or 4");
        settings.layout = a.layout;
    }
    settings.level = a.layout != kLayoutNotGiven ? 5 : a.level;
    if (options.stripeGiven) {
        if (a.stripe <= 0) return usage("--stripe: the stripe unit must be at least 1 sector");
        settings.stripeSectors = a.stripe;
    }
    return true;
}

nlohmann::ordered_json candidateJson(const detect::Candidate& c, const detect::DetectReport& report, bool vhd) {
    nlohmann::ordered_json members = nlohmann::ordered_json::array();
    for (int i : c.parameters.order)
        members.push_back(i < 0 || report.members[static_cast<size_t>(i)].missing
                              ? nlohmann::ordered_json("MISSING")
                              : nlohmann::ordered_json(report.members[static_cast<size_t>(i)].name));
    return {{"level", c.parameters.level},
            {"layout", c.parameters.level == 5 ? nlohmann::ordered_json(c.parameters.layout) : nlohmann::ordered_json(nullptr)},
            {"stripe_sectors", c.parameters.stripeSectors},
            {"members", members},
            {"offsets", c.parameters.offsets},
            {"member_data_sectors", c.parameters.dataSectors > 0 ? nlohmann::ordered_json(c.parameters.dataSectors)
                                                                  : nlohmann::ordered_json(nullptr)},
            {"command", detect::commandLine(c, report.members, vhd)},
            {"score", c.score},
            {"confidence", c.confidence},
            {"evidence", c.evidence}};
}

void run(CliContext& context, const DetectOptions& options) {
    if (context.array.members.empty()) {
        context.error("--member: no members given; name each member with -m PATH (MISSING for one that is gone)");
        context.exitStatus = kExitUsage;
        return;
    }
    detect::DetectOptions settings;
    settings.deep = options.deep;
    settings.vhd = context.array.vhd;
    if (!context.array.offsets.empty() && !context.parseOffsets(settings.offsets)) return;
    if (!searchLimits(context, options, settings)) return;
    std::vector<std::string> names;
    for (const auto& m : context.array.members) names.push_back(memberName(m));
    const detect::DetectReport report = detect::detectArray(names, settings);
    const bool vhd = context.array.vhd;

    if (options.json) {
        nlohmann::ordered_json members = nlohmann::ordered_json::array();
        for (size_t i = 0; i < report.members.size(); ++i) {
            const auto& m = report.members[i];
            nlohmann::ordered_json md = nlohmann::ordered_json::array();
            for (const auto& f : m.md) md.push_back(mdJson(f));
            members.push_back({{"member", i},
                               {"path", m.missing ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(m.name)},
                               {"missing", m.missing},
                               {"size_sectors", m.sizeSectors},
                               {"metadata", m.missing ? "missing" : m.metadata()},
                               {"md", md},
                               {"ldm_offset", m.ldm ? nlohmann::ordered_json(m.ldmOffset) : nlohmann::ordered_json(nullptr)},
                               {"error", m.error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(m.error)}});
        }
        nlohmann::ordered_json candidates = nlohmann::ordered_json::array();
        for (const auto& c : report.candidates) candidates.push_back(candidateJson(c, report, vhd));
        const char* source = report.source == detect::DetectReport::Source::Md     ? "md"
                             : report.source == detect::DetectReport::Source::Data ? "data"
                                                                                   : nullptr;
        nlohmann::ordered_json out = {
            {"members", members},
            {"decided", report.decided},
            {"source", source ? nlohmann::ordered_json(source) : nlohmann::ordered_json(nullptr)},
            {"verdict", report.verdict},
            {"confidence", report.confidence.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(report.confidence)},
            {"searched", {{"level", settings.level >= 0 ? nlohmann::ordered_json(settings.level) : nlohmann::ordered_json(nullptr)},
                          {"layout", settings.layout > 0 ? nlohmann::ordered_json(settings.layout) : nlohmann::ordered_json(nullptr)},
                          {"stripe_sectors", settings.stripeSectors > 0 ? nlohmann::ordered_json(settings.stripeSectors)
                                                                        : nlohmann::ordered_json(nullptr)}}},
            {"proposal", report.decided ? candidates.front() : nlohmann::ordered_json(nullptr)},
            {"candidates", candidates},
            {"notes", report.notes},
            {"bytes_read", report.bytesRead}};
        printJson(out);
    } else {
        std::vector<std::vector<std::string>> rows;
        for (size_t i = 0; i < report.members.size(); ++i) {
            const auto& m = report.members[i];
            std::string what = m.missing ? "missing" : (!m.error.empty() ? "cannot be read" : m.metadata());
            if (m.trustedMd >= 0)
                what = mdLine(m.md[static_cast<size_t>(m.trustedMd)]);
            else if (m.ldm)
                what = "LDM, data from sector " + std::to_string(m.ldmOffset);
            rows.push_back({std::to_string(i), m.missing ? "MISSING" : m.name,
                            m.missing ? "-" : std::to_string(m.sizeSectors), what});
        }
        printTable({"MEMBER", "PATH", "SECTORS", "METADATA"}, rows);
        std::cout << '\n';
        for (const auto& n : report.notes) std::cout << "note: " << terminalText(n) << '\n';
        std::cout << terminalText(report.verdict) << '\n';
        if (report.decided) {
            const auto& best = report.candidates.front();
            std::cout << "proposed (" << report.confidence << " confidence";
            if (report.source == detect::DetectReport::Source::Data) std::cout << ", score " << best.score;
            std::cout << "):\n  quenlow " << terminalText(detect::commandLine(best, report.members, vhd)) << " info\n";
            for (const auto& e : best.evidence) std::cout << "    " << terminalText(e) << '\n';
            if (best.parameters.dataSectors > 0)
                std::cout << "    each member's data area: " << best.parameters.dataSectors << " sectors\n";
            if (report.candidates.size() > 1) std::cout << "runners-up:\n";
            for (size_t i = 1; i < report.candidates.size(); ++i)
                std::cout << "  score " << report.candidates[i].score << " (" << report.candidates[i].confidence << "): "
                          << terminalText(detect::commandLine(report.candidates[i], report.members, vhd)) << '\n';
        }
    }
    context.exitStatus = report.decided ? kExitOk : kExitFailed;
}

Registration registration(35, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<DetectOptions>();
    auto* cmd = app.add_subcommand("detect", "find the array's level, layout, stripe, member order and offsets");
    cmd->add_flag("--json", options->json, "print JSON");
    cmd->add_flag("--deep", options->deep, "sample more of the members");
    cmd->callback([&app, &context, options] {
        options->stripeGiven = app.get_option("--stripe")->count() > 0;
        run(context, *options);
    });
});

}  // namespace
}  // namespace quenlow::cli
