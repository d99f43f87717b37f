// quenlow ... search VOL PATTERN [--json]: the files of a parsed volume whose names the
// pattern matches anywhere, without letter case, with the file list's columns.

#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/EntryJson.h"
#include "cli/ParsedVolume.h"
#include "cli/TerminalText.h"
#include "recovery/NameSearch.h"

namespace quenlow::cli {

namespace {

struct SearchOptions {
    VolumeSelectionOptions volume;
    std::string pattern;
    bool json = false;
    bool formatted = false;
    bool rawRecycleNames = false;
    ModeOptions modes;
};

constexpr size_t kNameColumns = 40;

Registration search(55, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<SearchOptions>();
    auto* cmd = app.add_subcommand("search", "find the files whose names match a pattern (a regular expression, "
                                             "any letter case, matching anywhere in the name)");
    addVolumeSelectionOptions(*cmd, options->volume);
    auto* patternOption = cmd->add_option("PATTERN", options->pattern,
                                          "alternatives with |, as in 'jpg|png'; with --at, the first argument");
    cmd->add_flag("--json", options->json, "one JSON object per match, with the keys of ls --json");
    cmd->footer("With a custom volume (--at START --end END --fs NAME) there is no VOL: the first argument is the\n"
                "PATTERN, as in: search --at 2048 --end 34815 --fs NTFS 'report|budget'");
    addFormattedOption(*cmd, options->formatted);
    addRecycleNamesOption(*cmd, options->rawRecycleNames);
    addModeOptions(*cmd, options->modes);
    cmd->callback([options, patternOption, &context] {
        if (!takePathFromVolume(context, options->volume, options->pattern, patternOption->count() > 0)) return;
        // A pattern that cannot be compiled is refused before the volume is read.
        recovery::SearchPattern check(options->pattern);
        if (!options->pattern.empty() && !check.ok()) {
            context.error("'" + options->pattern + "': " + check.refusal() +
                          (check.unsupported() ? "" : " (" + check.error() + ")"));
            context.exitStatus = kExitUsage;
            return;
        }
        context.recovery.driveFormatted = options->formatted;
        ParsedVolume volume;
        volume.restoreRecycleNames = !options->rawRecycleNames;
        if (!volume.open(context, options->volume, options->modes)) return;
        fs::VolumeParser& parser = volume.parser();
        std::vector<std::vector<std::string>> rows;
        std::string out = options->json ? "[" : "";
        bool first = true;
        recovery::NameSearch::Outcome outcome = recovery::NameSearch::Outcome::Finished;
        runStoppable(volume.session().control(), [&] {
            outcome = volume.session().search(options->pattern, context.feedback, [&](const recovery::SearchRow& row) {
                std::string path = row.volumePath();
                if (!options->json) {
                    rows.push_back({path, row.texts.created, row.texts.accessed, row.texts.modified, row.sizeText,
                                    row.texts.attributes});
                    return;
                }
                fs::EntryTimes times = parser.times(row.entry);
                out += first ? "\n" : ",\n";
                first = false;
                appendEntryJson(out, {path, row.names.back(), parser.isFolder(row.entry), parser.isDeleted(row.entry),
                                      parser.dataSize(row.entry), &row.texts, &times});
                if (out.size() >= (1 << 20)) {
                    std::cout << out;
                    out.clear();
                }
            });
        });
        context.feedback.finishProgress();
        if (options->json) {
            std::cout << out << (first ? "]\n" : "\n]\n");
        } else {
            writeTable(std::cout,
                       {"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute"},
                       rows, {kNameColumns});
        }
        if (interruptRequested()) {
            context.error("stopped: the matches found so far are listed");
            context.exitStatus = kExitFailed;
            return;
        }
        if (outcome == recovery::NameSearch::Outcome::BadPattern) {
            context.exitStatus = kExitUsage;  // the reason was printed
            return;
        }
        context.exitStatus = kExitOk;
    });
});

}  // namespace

}  // namespace quenlow::cli
