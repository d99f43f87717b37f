// quenlow ... carve VOL --out DIR [--signatures FILE] [--no-default] [--type EXT]... [--list]
// [--json]: raw recovery. The volume is searched for files by their signatures (the default
// set beside the program and/or a user's file); the finds are listed by category and saved
// into DIR, one folder per category.

#include <algorithm>
#include <iostream>

#include "cli/CliContext.h"
#include "cli/Command.h"
#include "cli/ParsedVolume.h"
#include "cli/TerminalText.h"
#include "recovery/RawRecovery.h"

namespace quenlow::cli {

namespace {

struct CarveOptions {
    VolumeSelectionOptions volume;
    std::string out;
    std::string signatures;
    bool noDefault = false;
    std::vector<std::string> types;
    bool list = false;
    bool json = false;
};

// The engine's feedback on the terminal: its closing "done.." is said by the listing.
class CarveFeedback : public Feedback {
public:
    explicit CarveFeedback(TerminalFeedback& to) : to_(to) {}
    void status(const std::string& t) override { to_.status(t); }
    void progressRange(int64_t l, int64_t h) override { to_.progressRange(l, h); }
    void progressPosition(int64_t p) override { to_.progressPosition(p); }
    void message(const std::string& t) override {
        if (t != raw::kCarveDoneText) to_.message(t);
    }

private:
    TerminalFeedback& to_;
};

void run(CliContext& context, CarveOptions& o) {
    if (!o.list && o.out.empty()) {
        context.error("carve: --out DIR is needed (or --list to list the finds only)");
        context.exitStatus = kExitUsage;
        return;
    }
    // A custom volume is carved as RAW unless --fs says otherwise.
    if (o.volume.customStart >= 0 && o.volume.customFs.empty()) o.volume.customFs = "RAW";
    volumes::VolumeRecord volume;
    if (!selectVolume(context, o.volume, volume)) return;
    if (!context.recovery.raidDisk) {
        context.error("the array is not open");
        context.exitStatus = kExitFailed;
        return;
    }
    // A custom volume's size is exact; a listed one's is its record's whole MiB.
    int64_t bytes = -1;
    if (o.volume.customStart >= 0 && o.volume.listing.end >= o.volume.customStart)
        bytes = (o.volume.listing.end - o.volume.customStart + 1) * 512;

    recovery::RawRecovery::ParseOptions parse;
    parse.loadDefault = !o.noDefault;
    parse.defaultPath = recovery::defaultSettingsPath();
    parse.userPath = o.signatures;
    parse.types = o.types;
    if (o.noDefault && o.signatures.empty()) {
        context.error("carve: --no-default needs --signatures FILE");
        context.exitStatus = kExitUsage;
        return;
    }
    recovery::RawRecovery raw;
    fs::MemoryTree tree;
    WorkControl control;
    CarveFeedback feedback(context.feedback);
    bool ok = false;
    runStoppable(control, [&] {
        ok = raw.parse(parse, *context.recovery.raidDisk, volume, bytes, tree, feedback, control);
    });
    context.feedback.finishProgress();
    if (!ok && raw.engine().found().empty()) {
        context.exitStatus = kExitFailed;  // the reason was printed
        return;
    }
    const bool stopped = raw.engine().stopped();
    if (stopped) context.error("stopped: the files found so far (and the starts still open) are listed");

    const auto& found = raw.engine().found();
    std::vector<recovery::RawRecovery::Saved> saved;
    bool saveFailed = false;
    if (!o.list && !found.empty()) {
        std::vector<size_t> all(found.size());
        for (size_t i = 0; i < all.size(); ++i) all[i] = i;
        WorkControl saveControl;
        std::string error;
        runStoppable(saveControl, [&] { saved = raw.save(all, o.out, saveControl, error); });
        if (!error.empty()) {
            context.error(error);
            context.exitStatus = kExitFailed;
            return;
        }
        for (const auto& s : saved) {
            if (s.ok && !s.damaged.empty())
                context.warn(o.out + "/" + s.path + ": " + std::to_string(s.damaged.size()) +
                             " byte range(s) could not be read and were saved as zeros");
            if (!s.ok) {
                saveFailed = true;
                context.error(found[s.find].name + ": not saved: " + s.error);
            }
        }
    }
    std::vector<const recovery::RawRecovery::Saved*> byFind(found.size(), nullptr);
    for (const auto& s : saved) byFind[s.find] = &s;

    if (o.json) {
        nlohmann::ordered_json all = nlohmann::ordered_json::array();
        for (size_t i = 0; i < found.size(); ++i) {
            const raw::Find& f = found[i];
            const raw::SignatureEntry& e = raw.engine().entries()[static_cast<size_t>(f.type)];
            const auto* s = byFind[i];
            nlohmann::ordered_json j;
            j["start"] = f.start;
            j["size"] = f.size;
            j["type"] = e.extension;
            j["category"] = e.category;
            j["name"] = f.name;
            j["path"] = s != nullptr && s->ok ? nlohmann::ordered_json(s->path) : nlohmann::ordered_json(nullptr);
            j["sha256"] = s != nullptr && s->ok ? nlohmann::ordered_json(s->sha256) : nlohmann::ordered_json(nullptr);
            if (s != nullptr && !s->ok) j["error"] = s->error;
            all.push_back(j);
        }
        printJson(all);
    } else {
        // By category, in the order the categories were made.
        std::vector<std::string> categories;
        for (const raw::SignatureEntry& e : raw.engine().entries())
            if (std::find(categories.begin(), categories.end(), e.category) == categories.end())
                categories.push_back(e.category);
        const auto& counts = raw.engine().categoryCounts();
        for (const std::string& c : categories) {
            auto it = counts.find(c);
            if (it == counts.end()) continue;
            std::cout << terminalText(c) << " (" << it->second << ")\n";
            std::vector<std::vector<std::string>> rows;
            for (size_t i = 0; i < found.size(); ++i) {
                const raw::Find& f = found[i];
                if (raw.engine().entries()[static_cast<size_t>(f.type)].category != c) continue;
                const auto* s = byFind[i];
                rows.push_back({"  " + f.name, std::to_string(f.start), std::to_string(f.size),
                                s == nullptr ? "" : s->ok ? s->path : "not saved"});
            }
            writeTable(std::cout, {"  Find", "Start", "Size", o.list ? "" : "Saved as"}, rows);
        }
        std::cout << found.size() << " file(s) found in " << raw.volumeBytes() << " bytes";
        if (raw.engine().unreadBytes() > 0)
            std::cout << "; " << raw.engine().unreadBytes() << " bytes could not be read (searched as zeros)";
        std::cout << "\n";
    }
    context.exitStatus = (stopped || saveFailed || !ok) ? kExitFailed : kExitOk;
}

Registration registration(58, [](CLI::App& app, CliContext& context) {
    auto o = std::make_shared<CarveOptions>();
    auto* cmd = app.add_subcommand("carve", "find files on a volume by their signatures (raw recovery) and save them");
    addVolumeSelectionOptions(*cmd, o->volume);
    cmd->add_option("--out", o->out, "the folder the finds are saved into, one folder per category");
    cmd->add_option("--signatures", o->signatures, "a signature file (made by `signatures add`) to use too");
    cmd->add_flag("--no-default", o->noDefault, "leave out the default signatures beside the program");
    cmd->add_option("--type", o->types, "carve only this extension (repeatable)");
    cmd->add_flag("--list", o->list, "list the finds without saving them");
    cmd->add_flag("--json", o->json, "one JSON object per find: start, size, type, category, name, path, sha256");
    cmd->footer("A custom volume (--at START --end END, --fs RAW unless given) covers any range of the disk,\n"
                "as in: carve --at 0 --end 71679 --out carved");
    cmd->callback([&context, o] { run(context, *o); });
});

}  // namespace

}  // namespace quenlow::cli
