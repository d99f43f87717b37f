#include "recovery/RecycleBinRestorer.h"

#include <map>
#include <vector>

#include "output/FolderSaver.h"
#include "recovery/RecycleInfoRecord.h"

namespace quenlow::recovery {

namespace {

bool isRecycleBinName(const std::string& text) { return text == "$RECYCLE.BIN" || text == "$RECYCLEBIN"; }

// The data entry's name for an info entry's: every "$I" becomes "$R".
std::string dataNameOf(std::string name) {
    for (size_t at = name.find("$I"); at != std::string::npos; at = name.find("$I", at + 2)) name[at + 1] = 'R';
    return name;
}

std::string withoutTrailingBlanks(std::string name) {
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    return name;
}

}  // namespace

int RecycleBinRestorer::restore(Feedback& feedback) {
    fs::TreeItem root = tree_.root();
    if (root == fs::kNoItem) return 0;
    int renamed = 0;
    for (fs::TreeItem item = tree_.firstChild(root); item != fs::kNoItem; item = tree_.nextSibling(item)) {
        if (!tree_.isFolderItem(item) || !isRecycleBinName(tree_.text(item))) continue;
        fs::EntryRef bin = tree_.data(item);
        if (bin == fs::kNoEntry) continue;
        if (!info_.recycleBinUserFolders) {
            renamed += restoreIn(bin, feedback);
            continue;
        }
        for (fs::EntryRef user : output::FolderSaver::childrenOf(parser_, bin))
            if (parser_.isFolder(user)) renamed += restoreIn(user, feedback);
    }
    return renamed;
}

int RecycleBinRestorer::restoreIn(fs::EntryRef folder, Feedback& feedback) {
    const std::vector<fs::EntryRef> children = output::FolderSaver::childrenOf(parser_, folder);
    std::map<std::string, std::string> formerNames;  // info entry's name -> former name
    for (fs::EntryRef child : children) {
        std::string name = parser_.name(child);
        std::string former;
        if (name.compare(0, 2, "$I") == 0 && readInfo(child, feedback, former)) formerNames[name] = former;
    }
    int renamed = 0;
    for (const auto& [infoName, former] : formerNames) {
        std::string dataName = dataNameOf(infoName);
        if (!info_.recycleBinUserFolders) dataName = withoutTrailingBlanks(dataName);
        for (fs::EntryRef child : children) {
            std::string name = parser_.name(child);
            // FAT-family names are compared without the blanks that pad them.
            if (!info_.recycleBinUserFolders) name = withoutTrailingBlanks(name);
            if (name == dataName && parser_.setName(child, former)) ++renamed;
        }
    }
    return renamed;
}

bool RecycleBinRestorer::readInfo(fs::EntryRef entry, Feedback& feedback, std::string& formerName) {
    if (!parser_.isFile(entry)) return false;
    fs::Result<fs::EntryData> data = parser_.openData(entry, feedback);
    if (!data || !data->stream || data->size >= kRecycleInfoLimit) return false;
    std::vector<uint8_t> bytes(static_cast<size_t>(data->size));
    if (data->stream->read(0, bytes.data(), bytes.size()) != bytes.size() || !data->stream->damaged().empty())
        return false;
    std::optional<RecycleInfoRecord> record = RecycleInfoRecord::decode(bytes.data(), bytes.size());
    if (!record) return false;
    formerName = record->formerName();
    // An empty former name (an empty path, or one ending in '\') would leave the entry with
    // no name to show or save it under: its "$R" name is kept.
    return !formerName.empty();
}

}  // namespace quenlow::recovery
