// quenlow ... save VOL PATH --out DIR [--yes]: saves a folder's files (its children go into
// DIR), one file, or with PATH "/" every first-level entry, with their times.

#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/ParsedVolume.h"
#include "cli/TerminalText.h"
#include "output/FolderSaver.h"

namespace quenlow::cli {

namespace {

struct SaveOptions {
    VolumeSelectionOptions volume;
    std::string path;
    std::string out;
    bool yes = false;
    bool json = false;
    bool formatted = false;
    bool rawRecycleNames = false;
    ModeOptions modes;
};

// The report for scripts: the counts, then every rename, failure and damaged file.
void printJsonReport(const output::SaveReport& r, const std::string& out) {
    nlohmann::ordered_json j;
    j["output"] = out;
    j["counted"] = r.counted;
    j["saved"] = r.written;
    j["passed_over"] = r.skipped;
    j["failed"] = r.failedFiles();
    j["stopped"] = r.stopped;
    j["renamed"] = nlohmann::ordered_json::array();
    for (const auto& n : r.renamed) j["renamed"].push_back({{"path", n.volumePath}, {"saved_as", n.savedPath}});
    j["failures"] = nlohmann::ordered_json::array();
    for (const auto& f : r.failures)
        j["failures"].push_back({{"path", f.path}, {"folder", f.folder}, {"error", f.error}});
    j["damaged"] = nlohmann::ordered_json::array();
    for (const auto& d : r.damaged) {
        nlohmann::ordered_json ranges = nlohmann::ordered_json::array();
        for (const auto& range : d.ranges) ranges.push_back({{"offset", range.offset}, {"length", range.length}});
        j["damaged"].push_back({{"path", d.path}, {"ranges", ranges}});
    }
    printJson(j);
}

int report(CliContext& context, const output::SaveReport& r, const std::string& out, bool json) {
    using Outcome = output::SaveReport::Outcome;
    switch (r.outcome) {
        case Outcome::NoOutputFolder:
            return kExitUsage;  // "select output folder" was printed
        case Outcome::NotQualifying:
            context.error("nothing to save there");
            return kExitFailed;
        case Outcome::Declined:
            context.error("nothing saved");
            return kExitFailed;
        case Outcome::OutputFolderFailed:
            return kExitFailed;  // the reason was printed
        case Outcome::Saved:
            break;
    }
    if (json) {
        printJsonReport(r, out);
        return r.ok() ? kExitOk : kExitFailed;
    }
    // Paths hold names from the disk: escaped.
    for (const auto& n : r.renamed)
        std::cerr << "saved under another name: " << terminalText(n.volumePath) << " -> " << terminalText(n.savedPath) << '\n';
    for (const auto& f : r.failures)
        std::cerr << (f.folder ? "folder not made: " : "not saved: ") << terminalText(f.path) << ": "
                  << terminalText(f.error) << '\n';
    for (const auto& d : r.damaged) {
        std::cerr << "damaged: " << terminalText(d.path) << ": bytes";
        for (size_t i = 0; i < d.ranges.size(); ++i)
            std::cerr << (i == 0 ? " " : ", ") << d.ranges[i].offset << "-" << d.ranges[i].end() - 1;
        std::cerr << " could not be read from the source (saved as zeros)\n";
    }
    std::cout << r.written << " of " << r.counted << " file(s) saved into " << terminalText(out);
    if (r.skipped > 0) std::cout << ", " << r.skipped << " passed over ($BadClus)";
    if (!r.renamed.empty()) std::cout << ", " << r.renamed.size() << " under another name";
    if (!r.damaged.empty()) std::cout << ", " << r.damaged.size() << " damaged";
    if (r.failedFiles() > 0) std::cout << ", " << r.failedFiles() << " failed";
    if (r.stopped) std::cout << ", stopped";
    std::cout << '\n';
    return r.ok() ? kExitOk : kExitFailed;
}

Registration save(60, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<SaveOptions>();
    auto* cmd = app.add_subcommand("save", "save a folder's files, one file, or (PATH /) everything into DIR");
    addVolumeSelectionOptions(*cmd, options->volume);
    auto* pathOption = cmd->add_option(
        "PATH", options->path,
        "folder or file, '/'-separated from the root; / for every first-level entry; with --at, the first argument");
    cmd->add_option("--out", options->out, "the output folder (made when missing)")->required();
    cmd->add_flag("--json", options->json, "the save report as JSON: counts, renames, failures, damaged byte ranges");
    cmd->add_flag("-y,--yes", options->yes, "answer the question about the number of files with yes");
    cmd->footer("With a custom volume (--at START --end END --fs NAME) there is no VOL: the first argument is the PATH,\n"
                "as in: save --at 2048 --end 34815 --fs NTFS / --out DIR");
    addFormattedOption(*cmd, options->formatted);
    addRecycleNamesOption(*cmd, options->rawRecycleNames);
    addModeOptions(*cmd, options->modes);
    cmd->callback([options, pathOption, &context] {
        if (!takePathFromVolume(context, options->volume, options->path, pathOption->count() > 0)) return;
        if (options->path.empty()) {
            context.error("save: PATH is required (/ for everything)");
            context.exitStatus = kExitUsage;
            return;
        }
        if (output::FolderSaver::cleanOutputFolder(options->out).empty()) {
            context.error("--out: select output folder");
            context.exitStatus = kExitUsage;
            return;
        }
        context.yes = context.yes || options->yes;
        context.feedback.setAssumeYes(context.yes);
        context.feedback.setOutputFolder(output::FolderSaver::cleanOutputFolder(options->out));
        ParsedVolume volume;
        volume.restoreRecycleNames = !options->rawRecycleNames;
        ParsedVolume::Target target;
        context.recovery.driveFormatted = options->formatted;
        if (!volume.openAt(context, options->volume, options->path, target, options->modes)) return;
        WorkControl& control = volume.session().control();
        output::FolderSaver saver(volume.parser(), context.feedback, control);
        output::SaveReport result;
        runStoppable(control, [&] {
            if (target.root)
                result = saver.saveEntries(volume.parser().firstLevel(), options->out);
            else if (volume.parser().qualifiesAsSaveFolder(target.entry))
                result = saver.saveFolder(target.entry, options->out);
            else if (volume.parser().isFolder(target.entry))  // the orphan folder has no record
                result = saver.saveEntries(volume.childrenOf(target), options->out);
            else
                result = saver.saveFile(target.entry, options->out);
        });
        context.feedback.finishProgress();
        context.exitStatus = report(context, result, output::FolderSaver::cleanOutputFolder(options->out), options->json);
    });
});

}  // namespace

}  // namespace quenlow::cli
