#pragma once
// The browse rules of a parsed volume, without widgets: the folder tree grows on demand
// from the parser's child lists (a placeholder "..DUMY.." stands for children not inserted
// yet), and the file list shows a folder's files or one file. The wizard shows what this
// class holds; the tests drive it directly.

#include <cstdint>
#include <string>
#include <vector>

#include "filesystems/FolderTree.h"
#include "filesystems/VolumeParser.h"
#include "output/FolderSaver.h"

namespace quenlow::recovery {

// One row of the file list: the columns "File(s) List", "Creation Time", "Access Time",
// "Modification Time", "Size", "Attribute", and the tree item it stands for.
struct ListRow {
    std::string name;
    fs::EntryTexts texts;
    std::string size;
    fs::TreeItem item = fs::kNoItem;
};

class FolderView {
public:
    FolderView(fs::VolumeParser& parser, fs::FolderTree& tree);

    // Inserts the children of the folder item `item` once: replaces its placeholder, then
    // appends one item per child in child-list order, a placeholder under each child folder
    // that has children, and, when `forLabelClick`, deleted children in red. Returns whether
    // children were inserted now (false: not a folder, or populated already).
    bool populate(fs::TreeItem item, bool forLabelClick);

    // The tree is about to expand `item`.
    void expanding(fs::TreeItem item);
    // The label of `item` was clicked: a folder lists its files, a file lists itself.
    void labelClick(fs::TreeItem item);
    // `item` was double-clicked: a folder lists the names of its files; a file is saved into
    // `outputFolder` (the report says what happened; nothing is saved for a folder).
    output::SaveReport doubleClick(fs::TreeItem item, const std::string& outputFolder, Feedback& feedback,
                                   WorkControl& control);

    const std::vector<ListRow>& rows() const { return rows_; }
    // Counts the times the rows were replaced (a list showing them redraws when it moves).
    int rowsRevision() const { return rowsRevision_; }
    bool searchResultsShown() const { return searchResultsShown_; }
    void setSearchResultsShown(bool shown) { searchResultsShown_ = shown; }
    // File systems whose expanding empties the list (FAT, exFAT, HFS+); NTFS and ext leave it.
    void setExpandingClearsList(bool clears) { expandingClearsList_ = clears; }

private:
    bool isFolderEntry(uint64_t entry) const;
    void clearRows();
    ListRow rowFor(fs::TreeItem item, bool textsToo);

    fs::VolumeParser& parser_;
    fs::FolderTree& tree_;
    std::vector<ListRow> rows_;
    bool searchResultsShown_ = false;
    bool expandingClearsList_ = false;
    int rowsRevision_ = 0;
};

}  // namespace quenlow::recovery
