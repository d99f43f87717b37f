#include "recovery/TreeModel.h"

namespace quenlow::recovery {

using fs::kNoItem;
using fs::TreeItem;

const TreeModel::Node* TreeModel::node(TreeItem item) const {
    if (item <= base_ || item - base_ > static_cast<TreeItem>(nodes_.size())) return nullptr;
    const Node& n = nodes_[static_cast<size_t>(item - base_ - 1)];
    return n.alive ? &n : nullptr;
}

void TreeModel::clear() {
    base_ += static_cast<TreeItem>(nodes_.size());
    nodes_.clear();
    firstTop_ = lastTop_ = kNoItem;
}

TreeItem TreeModel::insertItem(TreeItem parent, const std::string& text, bool folder, uint64_t data) {
    Node n;
    n.text = text;
    n.data = data;
    n.folder = folder;
    // A parent that is gone makes a top-level item, as a missing one does.
    n.parent = node(parent) != nullptr ? parent : kNoItem;
    const TreeItem id = base_ + static_cast<TreeItem>(nodes_.size()) + 1;
    Node* p = node(n.parent);
    TreeItem& last = p != nullptr ? p->last : lastTop_;
    n.prev = last;
    if (Node* before = node(last)) before->next = id;
    else if (p != nullptr) p->first = id;
    else firstTop_ = id;
    last = id;
    nodes_.push_back(std::move(n));
    return id;
}

std::vector<TreeItem> TreeModel::subtree(TreeItem item) const {
    std::vector<TreeItem> out;
    std::vector<TreeItem> pending;
    if (item == kNoItem) {
        for (TreeItem t = lastTop_; t != kNoItem; t = node(t)->prev) pending.push_back(t);
    } else if (node(item) != nullptr) {
        pending.push_back(item);
    }
    while (!pending.empty()) {
        TreeItem at = pending.back();
        pending.pop_back();
        out.push_back(at);
        for (TreeItem c = node(at)->last; c != kNoItem; c = node(c)->prev) pending.push_back(c);
    }
    return out;
}

void TreeModel::deleteItem(TreeItem item) {
    Node* n = node(item);
    if (n == nullptr) return;
    Node* p = node(n->parent);
    TreeItem& first = p != nullptr ? p->first : firstTop_;
    TreeItem& last = p != nullptr ? p->last : lastTop_;
    if (Node* before = node(n->prev)) before->next = n->next;
    else first = n->next;
    if (Node* after = node(n->next)) after->prev = n->prev;
    else last = n->prev;
    for (TreeItem gone : subtree(item)) {
        Node* g = node(gone);
        g->alive = false;
        g->text = std::string();
    }
}

void TreeModel::setText(TreeItem item, const std::string& text) {
    if (Node* n = node(item)) n->text = text;
}
void TreeModel::setRed(TreeItem item) {
    if (Node* n = node(item)) n->red = true;
}
void TreeModel::expand(TreeItem item) {
    if (Node* n = node(item)) n->expanded = true;
}

TreeItem TreeModel::firstChild(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr ? n->first : kNoItem;
}
TreeItem TreeModel::nextSibling(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr ? n->next : kNoItem;
}
std::string TreeModel::text(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr ? n->text : std::string();
}
uint64_t TreeModel::data(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr ? n->data : 0;
}
bool TreeModel::isFolderItem(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr && n->folder;
}
bool TreeModel::isRed(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr && n->red;
}
bool TreeModel::isExpanded(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr && n->expanded;
}
TreeItem TreeModel::parent(TreeItem item) const {
    const Node* n = node(item);
    return n != nullptr ? n->parent : kNoItem;
}

}  // namespace quenlow::recovery
