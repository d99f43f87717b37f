#pragma once
// The folder tree held in memory, for the command line and the tests.

#include <vector>

#include "filesystems/FolderTree.h"

namespace quenlow::fs {

class MemoryTree : public FolderTree {
public:
    void clear() override;
    TreeItem insertItem(TreeItem parent, const std::string& text, bool folder,
                        uint64_t data) override;
    void deleteItem(TreeItem item) override;
    void setText(TreeItem item, const std::string& text) override;
    void setRed(TreeItem item) override;
    void expand(TreeItem item) override;

    TreeItem root() const override;
    TreeItem firstChild(TreeItem item) const override;
    TreeItem nextSibling(TreeItem item) const override;
    std::string text(TreeItem item) const override;
    uint64_t data(TreeItem item) const override;
    bool isFolderItem(TreeItem item) const override;
    bool isRed(TreeItem item) const override;

    bool isExpanded(TreeItem item) const;
    TreeItem parent(TreeItem item) const;
    // Children of `item` (kNoItem: the top level) in order.
    std::vector<TreeItem> children(TreeItem item) const;
    size_t liveCount() const;

private:
    struct Node {
        std::string text;
        uint64_t data = 0;
        TreeItem parent = kNoItem;
        std::vector<TreeItem> children;
        bool folder = false;
        bool red = false;
        bool expanded = false;
        bool alive = true;
    };
    const Node* node(TreeItem item) const;
    Node* node(TreeItem item);
    TreeItem siblingAfter(TreeItem item) const;

    std::vector<Node> nodes_;         // item i is nodes_[i - 1]
    std::vector<TreeItem> topLevel_;
};

}  // namespace quenlow::fs
