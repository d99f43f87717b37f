#include "recovery/BrowseRules.h"

#include "output/OutputName.h"

namespace quenlow::recovery {

namespace {

std::string rangesText(const std::vector<disk::ByteRange>& ranges) {
    std::string text;
    for (const disk::ByteRange& r : ranges) {
        if (r.length == 0) continue;
        text += (text.empty() ? "bytes " : ", ") + std::to_string(r.offset) + "-" + std::to_string(r.end() - 1);
    }
    return text;
}

void listDamaged(std::string& text, const output::SaveReport& report) {
    for (const auto& d : report.damaged)
        text += "  " + d.path + ": " + rangesText(d.ranges) + " could not be read and were saved as zeros\n";
}

}  // namespace

std::optional<TreeCheck> mirrorListCheck(bool searchResultsShown, fs::TreeItem rowItem, bool wasChecked) {
    if (searchResultsShown || rowItem == fs::kNoItem) return std::nullopt;
    return TreeCheck{rowItem, !wasChecked};
}

std::string saveSummaryLine(const output::SaveReport& r) {
    std::string line = std::to_string(r.written) + " of " + std::to_string(r.counted) + " file(s) saved";
    if (!r.renamed.empty()) line += ", " + std::to_string(r.renamed.size()) + " under another name";
    if (!r.damaged.empty()) line += ", " + std::to_string(r.damaged.size()) + " damaged";
    if (r.failedFiles() > 0) line += ", " + std::to_string(r.failedFiles()) + " failed";
    if (r.skipped > 0) line += ", " + std::to_string(r.skipped) + " passed over";
    if (r.stopped) line += ", stopped";
    return line;
}

std::string saveSummaryText(const output::SaveReport& r, const std::string& outputFolder) {
    std::string text = "Saved into: " + output::FolderSaver::cleanOutputFolder(outputFolder) + "\n";
    text += "Files found: " + std::to_string(r.counted) + "\n";
    text += "Files saved: " + std::to_string(r.written) + "\n";
    if (r.skipped > 0) text += "Passed over ($BadClus, never written): " + std::to_string(r.skipped) + "\n";
    if (r.stopped)
        text += "Stopped after " + std::to_string(r.handled) + " of " + std::to_string(r.counted) + " file(s)\n";
    if (!r.renamed.empty()) {
        text += "Saved under another name: " + std::to_string(r.renamed.size()) + "\n";
        for (const auto& n : r.renamed) text += "  " + n.volumePath + " -> " + n.savedPath + "\n";
    }
    if (!r.damaged.empty()) {
        text += "Damaged (parts unreadable, saved as zeros): " + std::to_string(r.damaged.size()) + "\n";
        listDamaged(text, r);
    }
    if (!r.failures.empty()) {
        text += "Not saved: " + std::to_string(r.failedFiles()) + " file(s)";
        if (r.failures.size() > static_cast<size_t>(r.failedFiles()))
            text += ", " + std::to_string(r.failures.size() - static_cast<size_t>(r.failedFiles())) +
                    " folder(s) not made";
        text += "\n";
        for (const auto& f : r.failures) text += std::string("  ") + (f.folder ? "folder " : "") + f.path + ": " + f.error + "\n";
    }
    return text;
}

std::string singleFileText(const output::SaveReport& r, const std::string& outputFolder, const std::string& fileName) {
    if (r.outcome != output::SaveReport::Outcome::Saved) return {};
    if (!r.failures.empty()) return "file could not be saved: " + r.failures.front().path + ": " + r.failures.front().error;
    if (r.written == 0) return r.skipped > 0 ? "file passed over, never written: " + fileName : std::string();
    std::string path = r.renamed.empty()
                           ? output::FolderSaver::cleanOutputFolder(outputFolder) + "/" + output::safeName(fileName)
                           : r.renamed.front().savedPath;
    std::string text = "file is dumped in path  :  " + path + "   ";
    if (!r.damaged.empty())
        text += "\nparts of it could not be read and were saved as zeros: " + rangesText(r.damaged.front().ranges);
    return text;
}

}  // namespace quenlow::recovery
