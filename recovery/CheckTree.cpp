#include "recovery/CheckTree.h"

#include <algorithm>

namespace quenlow::recovery {

const CheckTree::Node* CheckTree::node(Item item) const {
    if (item < 0 || static_cast<size_t>(item) >= nodes_.size() || !nodes_[item].alive) return nullptr;
    return &nodes_[item];
}

bool CheckTree::exists(Item item) const { return node(item) != nullptr; }

CheckTree::Item CheckTree::insert(Item parent, bool separator) {
    if (parent != kNone && !exists(parent)) return kNone;
    const Item item = static_cast<Item>(nodes_.size());
    Node n;
    n.parent = parent;
    n.separator = separator;
    nodes_.push_back(n);
    (parent == kNone ? top_ : nodes_[parent].children).push_back(item);
    for (Item a = parent; a != kNone; a = nodes_[a].parent) {
        nodes_[a].descendants += 1;
        if (separator) nodes_[a].separatorDescendants += 1;
    }
    // An unchecked item under a full folder leaves it (and its full ancestors) mixed.
    carry(parent, 0);
    return item;
}

void CheckTree::carry(Item first, int delta) {
    if (!triState) return;
    for (Item a = first; a != kNone; a = nodes_[a].parent) {
        Node& n = nodes_[a];
        n.checkedDescendants = std::max(0, n.checkedDescendants + delta);
        // A folder left without descendants keeps its own flag.
        const bool now = n.descendants > 0 ? full(n) : n.checked;
        if (now != n.checked) delta += now ? 1 : -1;
        n.checked = now;
    }
}

void CheckTree::remove(Item item) {
    if (!exists(item)) return;
    Node& gone = nodes_[item];
    const int count = 1 + gone.descendants;
    const int checked = (gone.checked && !gone.separator ? 1 : 0) + gone.checkedDescendants;
    const int separators = (gone.separator ? 1 : 0) + gone.separatorDescendants;
    const Item parent = gone.parent;
    auto& siblings = parent == kNone ? top_ : nodes_[parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), item));
    for (Item a = parent; a != kNone; a = nodes_[a].parent) {
        nodes_[a].descendants -= count;
        nodes_[a].separatorDescendants -= separators;
    }
    // Mark the subtree dead, depth first.
    std::vector<Item> pending{item};
    while (!pending.empty()) {
        Item i = pending.back();
        pending.pop_back();
        nodes_[i].alive = false;
        pending.insert(pending.end(), nodes_[i].children.begin(), nodes_[i].children.end());
    }
    carry(parent, -checked);
}

void CheckTree::clear() {
    nodes_.clear();
    top_.clear();
}

int CheckTree::getCheck(Item item) const {
    const Node* n = node(item);
    if (!checkBoxes || n == nullptr) return 0;
    if (n->descendants == 0) return n->checked ? 1 : 0;
    if (n->checkedDescendants == 0) return 0;
    return full(*n) ? 1 : 0;
}

void CheckTree::setSubtree(Item item, bool checked) {
    for (Item c : nodes_[item].children) {
        Node& d = nodes_[c];
        if (!d.separator) d.checked = checked;
        d.checkedDescendants = checked ? d.descendants - d.separatorDescendants : 0;
        setSubtree(c, checked);
    }
}

void CheckTree::setCheck(Item item, bool checked) {
    const Node* found = node(item);
    if (found == nullptr || !found->enabled || found->separator) return;
    Node& n = nodes_[item];
    const bool old = n.checked;
    n.checked = checked;
    if (triState && checked != old) {
        const int below = n.descendants - n.separatorDescendants;
        const int delta = checked ? below - n.checkedDescendants + 1 : -(n.checkedDescendants + 1);
        n.checkedDescendants = checked ? below : 0;
        setSubtree(item, checked);
        carry(n.parent, delta);
    }
    if (onCheck) onCheck(item, checked);
}

CheckTree::Box CheckTree::box(Item item) const {
    const Node* n = node(item);
    if (n == nullptr) return Box::Unchecked;
    if (n->descendants == 0 || !triState) return n->checked ? Box::Checked : Box::Unchecked;
    if (n->checkedDescendants == 0) return Box::Unchecked;
    return full(*n) ? Box::Checked : Box::Mixed;
}

int CheckTree::stateImage(Item item, bool hot) const {
    return static_cast<int>(box(item)) + (enabled(item) ? 0 : 4) + (hot ? 8 : 0);
}

void CheckTree::setEnabled(Item item, bool enabled) {
    if (exists(item)) nodes_[item].enabled = enabled;
}

bool CheckTree::enabled(Item item) const {
    const Node* n = node(item);
    return n != nullptr && n->enabled;
}

bool CheckTree::separator(Item item) const {
    const Node* n = node(item);
    return n != nullptr && n->separator;
}

bool CheckTree::flag(Item item) const {
    const Node* n = node(item);
    return n != nullptr && n->checked;
}

CheckTree::Item CheckTree::parent(Item item) const {
    const Node* n = node(item);
    return n == nullptr ? kNone : n->parent;
}

const std::vector<CheckTree::Item>& CheckTree::children(Item item) const {
    static const std::vector<Item> none;
    const Node* n = node(item);
    return n == nullptr ? none : n->children;
}

int CheckTree::descendants(Item item) const {
    const Node* n = node(item);
    return n == nullptr ? 0 : n->descendants;
}

int CheckTree::checkedDescendants(Item item) const {
    const Node* n = node(item);
    return n == nullptr ? 0 : n->checkedDescendants;
}

int CheckTree::separatorDescendants(Item item) const {
    const Node* n = node(item);
    return n == nullptr ? 0 : n->separatorDescendants;
}

void CheckList::setRowCount(size_t rows) {
    rows_.assign(rows, false);
    if (rows > 0) follow();
}

void CheckList::setChecked(size_t row, bool checked) {
    if (row >= rows_.size()) return;
    rows_[row] = checked;
    follow();
}

void CheckList::clickHeader(int column) {
    if (column != 0) return;
    header_ = !header_;
    std::fill(rows_.begin(), rows_.end(), header_);
}

void CheckList::follow() { header_ = std::find(rows_.begin(), rows_.end(), false) == rows_.end(); }

}  // namespace quenlow::recovery
