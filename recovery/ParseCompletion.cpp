#include "recovery/ParseCompletion.h"

namespace quenlow::recovery {

void addPlaceholderChildren(fs::FolderTree& tree, const fs::VolumeParser& parser) {
    fs::TreeItem root = tree.root();
    if (root == fs::kNoItem) return;
    for (fs::TreeItem item = tree.firstChild(root); item != fs::kNoItem; item = tree.nextSibling(item)) {
        uint64_t entry = tree.data(item);
        // Only a folder is ever populated: a placeholder under anything else would stay.
        if (entry == fs::kNoEntry || !parser.isFolder(entry) || !parser.hasChildren(entry)) continue;
        fs::TreeItem placeholder = tree.insertItem(item, kPlaceholderText, false, 0);
        (void)placeholder;
    }
}

}  // namespace quenlow::recovery
