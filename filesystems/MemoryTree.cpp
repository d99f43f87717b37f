#include "filesystems/MemoryTree.h"

#include <algorithm>

namespace quenlow::fs {

void MemoryTree::clear() {
    nodes_.clear();
    topLevel_.clear();
}

const MemoryTree::Node* MemoryTree::node(TreeItem item) const {
    if (item <= 0 || static_cast<size_t>(item) > nodes_.size()) return nullptr;
    const Node& n = nodes_[static_cast<size_t>(item) - 1];
    return n.alive ? &n : nullptr;
}

MemoryTree::Node* MemoryTree::node(TreeItem item) {
    return const_cast<Node*>(static_cast<const MemoryTree*>(this)->node(item));
}

TreeItem MemoryTree::insertItem(TreeItem parent, const std::string& text, bool folder,
                                uint64_t data) {
    Node n;
    n.text = text;
    n.data = data;
    n.folder = folder;
    Node* p = node(parent);
    n.parent = p ? parent : kNoItem;
    nodes_.push_back(std::move(n));
    TreeItem id = static_cast<TreeItem>(nodes_.size());
    if (Node* pp = node(parent))
        pp->children.push_back(id);
    else
        topLevel_.push_back(id);
    return id;
}

void MemoryTree::setText(TreeItem item, const std::string& text) {
    if (Node* n = node(item)) n->text = text;
}

void MemoryTree::deleteItem(TreeItem item) {
    Node* n = node(item);
    if (n == nullptr) return;
    // Children go with their parent.
    std::vector<TreeItem> pending = n->children;
    while (!pending.empty()) {
        TreeItem c = pending.back();
        pending.pop_back();
        if (Node* cn = node(c)) {
            pending.insert(pending.end(), cn->children.begin(), cn->children.end());
            cn->alive = false;
        }
    }
    auto& siblings = node(n->parent) ? node(n->parent)->children : topLevel_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
    n->alive = false;
}

void MemoryTree::setRed(TreeItem item) {
    if (Node* n = node(item)) n->red = true;
}

void MemoryTree::expand(TreeItem item) {
    if (Node* n = node(item)) n->expanded = true;
}

TreeItem MemoryTree::root() const { return topLevel_.empty() ? kNoItem : topLevel_.front(); }

TreeItem MemoryTree::firstChild(TreeItem item) const {
    const Node* n = node(item);
    return (n && !n->children.empty()) ? n->children.front() : kNoItem;
}

TreeItem MemoryTree::siblingAfter(TreeItem item) const {
    const Node* n = node(item);
    if (n == nullptr) return kNoItem;
    const auto& siblings = node(n->parent) ? node(n->parent)->children : topLevel_;
    auto it = std::find(siblings.begin(), siblings.end(), item);
    if (it == siblings.end() || ++it == siblings.end()) return kNoItem;
    return *it;
}

TreeItem MemoryTree::nextSibling(TreeItem item) const { return siblingAfter(item); }

std::string MemoryTree::text(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->text : std::string();
}

uint64_t MemoryTree::data(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->data : 0;
}

bool MemoryTree::isFolderItem(TreeItem item) const {
    const Node* n = node(item);
    return n && n->folder;
}

bool MemoryTree::isRed(TreeItem item) const {
    const Node* n = node(item);
    return n && n->red;
}

bool MemoryTree::isExpanded(TreeItem item) const {
    const Node* n = node(item);
    return n && n->expanded;
}

TreeItem MemoryTree::parent(TreeItem item) const {
    const Node* n = node(item);
    return n ? n->parent : kNoItem;
}

std::vector<TreeItem> MemoryTree::children(TreeItem item) const {
    if (item == kNoItem) return topLevel_;
    const Node* n = node(item);
    return n ? n->children : std::vector<TreeItem>{};
}

size_t MemoryTree::liveCount() const {
    return static_cast<size_t>(std::count_if(nodes_.begin(), nodes_.end(),
                                             [](const Node& n) { return n.alive; }));
}

}  // namespace quenlow::fs
