#include "recovery/FolderView.h"

#include "recovery/ParseCompletion.h"

namespace quenlow::recovery {

FolderView::FolderView(fs::VolumeParser& parser, fs::FolderTree& tree) : parser_(parser), tree_(tree) {}

void FolderView::clearRows() {
    rows_.clear();
    ++rowsRevision_;
}

bool FolderView::isFolderEntry(uint64_t entry) const {
    return entry != fs::kNoEntry && parser_.isFolder(entry);
}

bool FolderView::populate(fs::TreeItem item, bool forLabelClick) {
    uint64_t entry = tree_.data(item);
    if (!isFolderEntry(entry)) return false;
    fs::TreeItem first = tree_.firstChild(item);
    if (first != fs::kNoItem) {
        if (tree_.text(first) != kPlaceholderText || tree_.data(first) != 0) return false;
        tree_.deleteItem(first);
    }
    for (fs::EntryRef child : output::FolderSaver::childrenOf(parser_, entry)) {
        bool folder = parser_.isFolder(child);
        fs::TreeItem added = tree_.insertItem(item, parser_.name(child), folder, child);
        if (folder && parser_.hasChildren(child)) tree_.insertItem(added, kPlaceholderText, false, 0);
        if (forLabelClick && parser_.isDeleted(child)) tree_.setRed(added);
    }
    return true;
}

void FolderView::expanding(fs::TreeItem item) {
    populate(item, false);
    if (expandingClearsList_ && tree_.firstChild(item) != fs::kNoItem) clearRows();
}

ListRow FolderView::rowFor(fs::TreeItem item, bool textsToo) {
    ListRow row;
    row.name = tree_.text(item);
    row.item = item;
    if (textsToo) {
        uint64_t entry = tree_.data(item);
        row.texts = parser_.entryTexts(entry);
        row.size = parser_.sizeText(entry);
    }
    return row;
}

void FolderView::labelClick(fs::TreeItem item) {
    uint64_t entry = tree_.data(item);
    if (entry == fs::kNoEntry) return;
    if (parser_.isFolder(entry)) {
        populate(item, true);
        if (tree_.firstChild(item) == fs::kNoItem) return;
        clearRows();
        searchResultsShown_ = false;
        for (fs::TreeItem c = tree_.firstChild(item); c != fs::kNoItem; c = tree_.nextSibling(c)) {
            uint64_t childEntry = tree_.data(c);
            if (childEntry != fs::kNoEntry && !parser_.isFolder(childEntry) && parser_.isFile(childEntry))
                rows_.push_back(rowFor(c, true));
        }
    } else if (parser_.isFile(entry)) {
        clearRows();
        searchResultsShown_ = false;
        rows_.push_back(rowFor(item, true));
    }
}

output::SaveReport FolderView::doubleClick(fs::TreeItem item, const std::string& outputFolder, Feedback& feedback,
                                           WorkControl& control) {
    uint64_t entry = tree_.data(item);
    if (entry == fs::kNoEntry) return {};
    if (parser_.isFolder(entry)) {
        populate(item, false);
        if (tree_.firstChild(item) != fs::kNoItem) {
            clearRows();
            for (fs::TreeItem c = tree_.firstChild(item); c != fs::kNoItem; c = tree_.nextSibling(c))
                if (!tree_.isFolderItem(c)) rows_.push_back(rowFor(c, false));
        }
        return {};
    }
    output::FolderSaver saver(parser_, feedback, control);
    return saver.saveFile(entry, outputFolder);
}

}  // namespace quenlow::recovery
