#include "output/FolderSaver.h"

#include <cstdio>

#include "output/DataWriter.h"
#include "output/OutputName.h"
#include "platform/OutputFolder.h"

namespace quenlow::output {

namespace {

// Bounds of every walk: no child list is followed further than this many entries, and no
// tree deeper than this many folders (child lists from a damaged disk may loop or nest
// without end).
constexpr size_t kMaxListLength = 50'000'000;
constexpr int kMaxDepth = 1000;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string joinVolume(const std::string& base, const std::string& name) {
    return base.empty() ? name : base + "/" + name;
}

}  // namespace

struct FolderSaver::Walk {
    SaveReport* report = nullptr;
    std::unordered_set<fs::EntryRef> seen;  // every entry is handled at most once per save
};

FolderSaver::FolderSaver(fs::VolumeParser& parser, Feedback& feedback, WorkControl& control)
    : parser_(parser), feedback_(feedback), control_(control) {}

int64_t SaveReport::failedFiles() const {
    int64_t n = 0;
    for (const Failure& f : failures)
        if (!f.folder) ++n;
    return n;
}

std::string FolderSaver::cleanOutputFolder(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && isSpace(text[b])) ++b;
    while (e > b && isSpace(text[e - 1])) --e;
    return text.substr(b, e - b);
}

std::vector<fs::EntryRef> FolderSaver::childrenOf(const fs::VolumeParser& parser, fs::EntryRef folder) {
    std::vector<fs::EntryRef> out;
    std::unordered_set<fs::EntryRef> inList;
    for (fs::EntryRef c = parser.firstChild(folder); c != fs::kNoEntry && out.size() < kMaxListLength;
         c = parser.nextSibling(c)) {
        if (!inList.insert(c).second) break;  // the list loops back on itself
        out.push_back(c);
    }
    return out;
}

int64_t FolderSaver::countList(const std::vector<fs::EntryRef>& entries,
                               std::unordered_set<fs::EntryRef>& seen, int depth) {
    int64_t count = 0;
    for (fs::EntryRef e : entries) {
        if (!seen.insert(e).second) continue;
        if (parser_.isFolder(e)) {
            if (parser_.name(e) == "." || depth >= kMaxDepth) continue;
            count += countList(children(e), seen, depth + 1);
        } else if (parser_.isFile(e)) {
            ++count;
        }
    }
    return count;
}

int64_t FolderSaver::countFiles(fs::EntryRef folder) {
    std::unordered_set<fs::EntryRef> seen{folder};
    return countList(children(folder), seen, 1);
}

int64_t FolderSaver::countFiles(const std::vector<fs::EntryRef>& entries) {
    std::unordered_set<fs::EntryRef> seen;
    return countList(entries, seen, 0);
}

bool FolderSaver::openOutput(const std::string& outputFolder, platform::OutputFolder& root,
                             SaveReport& report) {
    if (!root.openRoot(outputFolder)) {
        report.outcome = SaveReport::Outcome::OutputFolderFailed;
        report.error = root.error();
        feedback_.message(root.error());
        return false;
    }
    return true;
}

SaveReport FolderSaver::saveFolder(fs::EntryRef folder, const std::string& outputFolder) {
    SaveReport report;
    if (cleanOutputFolder(outputFolder).empty()) {
        feedback_.message("select output folder");
        report.outcome = SaveReport::Outcome::NoOutputFolder;
        return report;
    }
    if (folder == fs::kNoEntry || !parser_.qualifiesAsSaveFolder(folder)) return report;
    std::vector<fs::EntryRef> list = children(folder);
    return saveList(list, outputFolder, folder);
}

SaveReport FolderSaver::saveEntries(const std::vector<fs::EntryRef>& entries,
                                    const std::string& outputFolder) {
    SaveReport report;
    if (cleanOutputFolder(outputFolder).empty()) {
        feedback_.message("select output folder");
        report.outcome = SaveReport::Outcome::NoOutputFolder;
        return report;
    }
    return saveList(entries, outputFolder, fs::kNoEntry);
}

SaveReport FolderSaver::saveList(const std::vector<fs::EntryRef>& entries,
                                 const std::string& outputFolder, fs::EntryRef self) {
    SaveReport report;
    std::string out = cleanOutputFolder(outputFolder);

    // The selected folder is never walked again from inside itself.
    std::unordered_set<fs::EntryRef> counted;
    if (self != fs::kNoEntry) counted.insert(self);
    report.counted = countList(entries, counted, 0);
    feedback_.progressRange(0, static_cast<int64_t>(static_cast<uint32_t>(report.counted)));
    char question[160];
    std::snprintf(question, sizeof question,
                  "number of files found inside this folder = %lld .do u want to continue dumping these files..?",
                  static_cast<long long>(report.counted));
    if (!feedback_.ask(question)) {
        report.outcome = SaveReport::Outcome::Declined;
        return report;
    }

    // A stop left over from the parse or an earlier search must not empty this save; a
    // stop requested from now on ends it.
    control_.clearStop();

    platform::OutputFolder root;
    if (!openOutput(out, root, report)) return report;
    report.outcome = SaveReport::Outcome::Saved;
    Walk walk;
    walk.report = &report;
    if (self != fs::kNoEntry) walk.seen.insert(self);
    walkList(entries, &root, "", out, walk, 0);

    feedback_.progressPosition(static_cast<int64_t>(static_cast<uint32_t>(report.counted)));
    if (!report.damaged.empty() || report.stopped || !report.failures.empty() || !report.renamed.empty()) {
        std::string summary;
        if (!report.damaged.empty())
            summary = std::to_string(report.damaged.size()) + " file(s) saved with parts that could not be read";
        if (report.stopped)
            summary += std::string(summary.empty() ? "" : "; ") + "save stopped: " + std::to_string(report.handled) + " of " +
                      std::to_string(report.counted) + " files reached";
        if (report.failedFiles() > 0)
            summary += (summary.empty() ? "" : "; ") + std::to_string(report.failedFiles()) +
                       " file(s) could not be saved";
        if (report.failures.size() > static_cast<size_t>(report.failedFiles()))
            summary += (summary.empty() ? "" : "; ") +
                       std::to_string(report.failures.size() - static_cast<size_t>(report.failedFiles())) +
                       " folder(s) could not be made";
        if (!report.renamed.empty())
            summary += (summary.empty() ? "" : "; ") + std::to_string(report.renamed.size()) +
                       " saved under another name";
        feedback_.message(summary);
    }
    feedback_.message("work done");
    return report;
}

void FolderSaver::walkList(const std::vector<fs::EntryRef>& entries, platform::OutputFolder* folder,
                           const std::string& volumePath, const std::string& displayPath, Walk& walk,
                           int depth) {
    SaveReport& report = *walk.report;

    // Names first: live entries claim theirs in list order, then the deleted ones, so the
    // live entry of a clash always keeps its own name.
    struct Item {
        fs::EntryRef entry;
        bool folder;
        std::string rawName;
        std::string name;  // the name in the output folder
    };
    std::vector<Item> items;
    items.reserve(entries.size());
    for (fs::EntryRef e : entries) {
        if (!walk.seen.insert(e).second) continue;
        bool isFolder = parser_.isFolder(e);
        if (!isFolder && !parser_.isFile(e)) continue;
        std::string raw = parser_.name(e);
        if (isFolder && raw == ".") continue;  // the root's entry for itself
        items.push_back({e, isFolder, raw, std::string()});
    }
    NameClaims claims;
    auto existsFor = [&](const Item& it) {
        return [&, folderItem = it.folder](const std::string& n) {
            if (folder == nullptr) return false;
            auto kind = folder->kind(n);
            // An existing folder is reused by a folder; anything else in the way is kept.
            return folderItem ? kind == platform::OutputFolder::Kind::Other
                              : kind != platform::OutputFolder::Kind::None;
        };
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (Item& it : items) {
            bool deleted = parser_.isDeleted(it.entry);
            if (deleted != (pass == 1)) continue;
            if (!it.folder && parser_.skipWhenSaving(it.entry)) continue;  // never written
            it.name = claims.claim(safeName(it.rawName), deleted, existsFor(it));
        }
    }

    for (const Item& it : items) {
        if (control_.poll()) {
            report.stopped = true;
            return;
        }
        feedback_.progressPosition(static_cast<int64_t>(static_cast<uint32_t>(report.handled)));
        std::string childVolumePath = joinVolume(volumePath, it.rawName);
        if (it.folder) {
            std::string childDisplay = displayPath + "/" + it.name;
            if (depth + 1 >= kMaxDepth) {
                report.failures.push_back({childDisplay, "folder nested too deep; not walked"});
                continue;
            }
            platform::OutputFolder child;
            platform::OutputFolder* childFolder = nullptr;
            bool created = false;
            if (folder != nullptr) {
                std::string error;
                if (folder->openChild(it.name, child, created, error)) {
                    childFolder = &child;
                    if (created) ++report.foldersCreated;
                    if (it.name != it.rawName) report.renamed.push_back({childVolumePath, childDisplay});
                } else {
                    report.failures.push_back({childDisplay, error, true});
                }
            }
            // The files below a folder that could not be made are still counted and each
            // reported as not saved.
            walkList(children(it.entry), childFolder, childVolumePath, childDisplay, walk, depth + 1);
            if (report.stopped) return;
            // Its times once everything inside is written (writing changes them); a folder
            // that was there before keeps its own.
            if (childFolder != nullptr && created) setFolderTimes(it.entry, *folder, it.name);
        } else {
            saveOne(it.entry, it.name, folder, childVolumePath, displayPath, walk);
        }
    }
}

void FolderSaver::saveOne(fs::EntryRef file, const std::string& name, platform::OutputFolder* folder,
                          const std::string& volumePath, const std::string& displayPath, Walk& walk) {
    SaveReport& report = *walk.report;
    ++report.handled;
    std::string shownName = name.empty() ? safeName(parser_.name(file)) : name;
    std::string display = displayPath + "/" + shownName;
    feedback_.status("saving File  " + display);
    char size[64];
    std::snprintf(size, sizeof size, "File size: %ld kb", static_cast<long>(parser_.sizeField(file) / 1024));
    feedback_.detail(size);
    if (parser_.skipWhenSaving(file)) {
        ++report.skipped;
    } else if (folder == nullptr) {
        report.failures.push_back({display, "its folder could not be created"});
    } else {
        writeOne(file, name, *folder, volumePath, display, walk);
    }
    feedback_.detail("");
}

void FolderSaver::writeOne(fs::EntryRef file, const std::string& name, platform::OutputFolder& folder,
                           const std::string& volumePath, const std::string& display, Walk& walk) {
    SaveReport& report = *walk.report;
    fs::Result<fs::EntryData> data = parser_.openData(file, feedback_);
    if (!data) {
        report.failures.push_back({display, data.reason()});
        return;
    }
    WriteOutcome written = writeData(data.value(), folder, name, control_);
    if (!written.ok) {
        if (written.stopped) {
            report.stopped = true;
        } else {
            parser_.reportSaveFailure(written.error, feedback_);
        }
        report.failures.push_back({display, written.error});
        return;
    }
    ++report.written;
    if (name != parser_.name(file)) report.renamed.push_back({volumePath, display});
    if (!written.damaged.empty()) report.damaged.push_back({display, std::move(written.damaged)});
}

void FolderSaver::setFolderTimes(fs::EntryRef entry, const platform::OutputFolder& parent, const std::string& name) {
    fs::EntryTimes t = parser_.times(entry);
    if (!t.accessed && !t.modified) return;
    std::string error;
    parent.setChildTimes(name, t.accessed ? *t.accessed : *t.modified, t.modified ? *t.modified : *t.accessed, error);
}

SaveReport FolderSaver::saveFile(fs::EntryRef file, const std::string& outputFolder) {
    SaveReport report;
    std::string out = cleanOutputFolder(outputFolder);
    if (out.empty()) {
        feedback_.message("select output folder");
        report.outcome = SaveReport::Outcome::NoOutputFolder;
        return report;
    }
    if (file == fs::kNoEntry || parser_.isFolder(file) || !parser_.isFile(file)) return report;
    control_.clearStop();
    platform::OutputFolder root;
    if (!openOutput(out, root, report)) return report;
    report.outcome = SaveReport::Outcome::Saved;
    report.counted = 1;
    Walk walk;
    walk.report = &report;
    std::string raw = parser_.name(file);
    NameClaims claims;
    std::string name = parser_.skipWhenSaving(file)
                           ? safeName(raw)
                           : claims.claim(safeName(raw), parser_.isDeleted(file),
                                          [&](const std::string& n) { return root.has(n); });
    saveOne(file, name, &root, raw, out, walk);
    return report;
}

}  // namespace quenlow::output
