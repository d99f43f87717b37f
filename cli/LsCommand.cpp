// quenlow ... ls VOL [PATH] [-R] [--json]: the entries of a folder of a parsed volume, with
// the file list's columns; -R walks the whole tree below it.

#include <iostream>
#include <unordered_set>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/EntryJson.h"
#include "cli/ParsedVolume.h"
#include "cli/TerminalText.h"

namespace quenlow::cli {

namespace {

struct LsOptions {
    VolumeSelectionOptions volume;
    std::string path;
    bool recursive = false;
    bool json = false;
    bool formatted = false;
    bool rawRecycleNames = false;
    ModeOptions modes;
};

constexpr int kMaxDepth = 1000;
// The name column is padded to its longest name up to this many columns; longer names run
// over into the rest of their row.
constexpr size_t kNameColumns = 40;

class Lister {
public:
    Lister(ParsedVolume& volume, const LsOptions& options) : volume_(volume), options_(options) {}

    void list(const ParsedVolume::Target& target) {
        if (options_.json) out_ = "[";
        if (!target.root && !volume_.parser().isFolder(target.entry)) {
            emit(target.entry, target.path);
        } else {
            if (!target.root) seen_.insert(target.entry);
            walk(volume_.childrenOf(target), target.path, 0);
        }
        // After a failed write nothing more is written; main reports it.
        if (!std::cout) return;
        if (options_.json) {
            out_ += first_ ? "]\n" : "\n]\n";
            flush();
        } else {
            writeTable(std::cout,
                       {"File(s) List", "Creation Time", "Access Time", "Modification Time", "Size", "Attribute"},
                       rows_, {kNameColumns});
        }
    }

private:
    void walk(const std::vector<fs::EntryRef>& entries, const std::string& base, int depth) {
        auto& p = volume_.parser();
        for (fs::EntryRef e : entries) {
            if (!std::cout) return;  // standard output failed: stop the walk
            if (!seen_.insert(e).second) continue;  // a child list that loops back
            std::string path = base.empty() ? p.name(e) : base + "/" + p.name(e);
            emit(e, path);
            if (options_.recursive && p.isFolder(e) && depth < kMaxDepth) {
                fs::EntryRef saved = e;
                ParsedVolume::Target t;
                t.root = false;
                t.entry = saved;
                walk(volume_.childrenOf(t), path, depth + 1);
            }
        }
    }

    void emit(fs::EntryRef e, const std::string& path) {
        auto& p = volume_.parser();
        fs::EntryTexts texts = p.entryTexts(e);
        bool folder = p.isFolder(e);
        bool deleted = p.isDeleted(e);
        if (options_.json) {
            fs::EntryTimes times = p.times(e);
            std::string name = p.name(e);
            out_ += first_ ? "\n" : ",\n";
            appendEntryJson(out_, {path, name, folder, deleted, p.dataSize(e), &texts, &times});
            if (out_.size() >= kFlushBytes) flush();
            first_ = false;
            return;
        }
        std::string shown = options_.recursive ? path : p.name(e);
        if (folder) shown += "/";
        if (deleted) shown += "  (deleted)";
        rows_.push_back({shown, texts.created, texts.accessed, texts.modified, p.sizeText(e), texts.attributes});
    }

    void flush() {
        std::cout.write(out_.data(), static_cast<std::streamsize>(out_.size()));
        out_.clear();
    }

    static constexpr size_t kFlushBytes = 1 << 20;
    ParsedVolume& volume_;
    const LsOptions& options_;
    std::string out_;  // JSON waiting to be written
    std::unordered_set<fs::EntryRef> seen_;
    std::vector<std::vector<std::string>> rows_;
    bool first_ = true;
};

Registration ls(50, [](CLI::App& app, CliContext& context) {
    auto options = std::make_shared<LsOptions>();
    auto* cmd = app.add_subcommand("ls", "list the entries of a folder of a volume (deleted ones marked)");
    addVolumeSelectionOptions(*cmd, options->volume);
    auto* pathOption = cmd->add_option(
        "PATH", options->path, "folder or file, '/'-separated from the root (default: the root); with --at, the first argument");
    cmd->add_flag("-R,--recursive", options->recursive, "walk the whole tree below PATH, the orphan folder included");
    cmd->add_flag("--json", options->json, "one JSON object per entry");
    cmd->footer("With a custom volume (--at START --end END --fs NAME) there is no VOL: the first argument is the PATH,\n"
                "as in: ls --at 2048 --end 34815 --fs NTFS Documents");
    addFormattedOption(*cmd, options->formatted);
    addRecycleNamesOption(*cmd, options->rawRecycleNames);
    addModeOptions(*cmd, options->modes);
    cmd->callback([options, pathOption, &context] {
        if (!takePathFromVolume(context, options->volume, options->path, pathOption->count() > 0)) return;
        ParsedVolume volume;
        volume.restoreRecycleNames = !options->rawRecycleNames;
        ParsedVolume::Target target;
        context.recovery.driveFormatted = options->formatted;
        if (!volume.openAt(context, options->volume, options->path, target, options->modes)) return;
        Lister(volume, *options).list(target);
        context.exitStatus = kExitOk;
    });
});

}  // namespace

}  // namespace quenlow::cli
