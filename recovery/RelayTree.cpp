#include "recovery/RelayTree.h"

namespace quenlow::recovery {

using Kind = TreeChange::Kind;

void RelayTree::clear() {
    tree_.clear();
    tell({Kind::Clear, fs::kNoItem, fs::kNoItem, {}, false, 0});
}

fs::TreeItem RelayTree::insertItem(fs::TreeItem parent, const std::string& text, bool folder, uint64_t data) {
    const fs::TreeItem item = tree_.insertItem(parent, text, folder, data);
    // The parent the memory tree took: an unknown one makes a top-level item there.
    tell({Kind::Insert, item, tree_.parent(item), text, folder, data});
    return item;
}

void RelayTree::deleteItem(fs::TreeItem item) {
    tree_.deleteItem(item);
    tell({Kind::Delete, item, fs::kNoItem, {}, false, 0});
}

void RelayTree::setText(fs::TreeItem item, const std::string& text) {
    tree_.setText(item, text);
    tell({Kind::SetText, item, fs::kNoItem, text, false, 0});
}

void RelayTree::setRed(fs::TreeItem item) {
    tree_.setRed(item);
    tell({Kind::Red, item, fs::kNoItem, {}, false, 0});
}

void RelayTree::expand(fs::TreeItem item) {
    tree_.expand(item);
    tell({Kind::Expand, item, fs::kNoItem, {}, false, 0});
}

}  // namespace quenlow::recovery
