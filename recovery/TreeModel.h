#pragma once
// A folder tree held in memory for a front end that shows it elsewhere: every step along a
// child list is constant time (a first level of many thousands of items is walked in one
// pass), and an item number is never given out twice, not even after clear(), so a number
// kept from a deleted item can never name another one.

#include <vector>

#include "filesystems/FolderTree.h"

namespace quenlow::recovery {

class TreeModel : public fs::FolderTree {
public:
    void clear() override;
    fs::TreeItem insertItem(fs::TreeItem parent, const std::string& text, bool folder, uint64_t data) override;
    void deleteItem(fs::TreeItem item) override;
    void setText(fs::TreeItem item, const std::string& text) override;
    void setRed(fs::TreeItem item) override;
    void expand(fs::TreeItem item) override;

    fs::TreeItem root() const override { return firstTop_; }
    fs::TreeItem firstChild(fs::TreeItem item) const override;
    fs::TreeItem nextSibling(fs::TreeItem item) const override;
    std::string text(fs::TreeItem item) const override;
    uint64_t data(fs::TreeItem item) const override;
    bool isFolderItem(fs::TreeItem item) const override;
    bool isRed(fs::TreeItem item) const override;

    bool exists(fs::TreeItem item) const { return node(item) != nullptr; }
    bool isExpanded(fs::TreeItem item) const;
    fs::TreeItem parent(fs::TreeItem item) const;
    // Every live item below `item` (kNoItem: the whole tree), parents before children.
    std::vector<fs::TreeItem> subtree(fs::TreeItem item) const;

private:
    struct Node {
        std::string text;
        uint64_t data = 0;
        fs::TreeItem parent = fs::kNoItem, first = fs::kNoItem, last = fs::kNoItem;
        fs::TreeItem prev = fs::kNoItem, next = fs::kNoItem;
        bool folder = false, red = false, expanded = false, alive = true;
    };
    const Node* node(fs::TreeItem item) const;
    Node* node(fs::TreeItem item) { return const_cast<Node*>(static_cast<const TreeModel*>(this)->node(item)); }

    std::vector<Node> nodes_;   // item base_ + i + 1 is nodes_[i]
    fs::TreeItem base_ = 0;     // items given out before the last clear()
    fs::TreeItem firstTop_ = fs::kNoItem, lastTop_ = fs::kNoItem;
};

}  // namespace quenlow::recovery
