#pragma once
// A folder tree held in memory that tells an observer about every change as it is made.
// A worker fills it on its own thread while the observer replays each change on a view of
// its own (the wizard's check-box tree, on the UI thread), so the two never share one tree.

#include <functional>
#include <string>

#include "filesystems/MemoryTree.h"

namespace quenlow::recovery {

struct TreeChange {
    enum class Kind { Insert, SetText, Delete, Clear, Red, Expand };
    Kind kind = Kind::Insert;
    fs::TreeItem item = fs::kNoItem;
    fs::TreeItem parent = fs::kNoItem;  // Insert: the parent as the tree holds it
    std::string text;                   // Insert, SetText
    bool folder = false;                // Insert
    uint64_t data = 0;                  // Insert
};

class RelayTree : public fs::FolderTree {
public:
    // Called after each change, on the thread that made it.
    std::function<void(const TreeChange&)> onChange;

    void clear() override;
    fs::TreeItem insertItem(fs::TreeItem parent, const std::string& text, bool folder, uint64_t data) override;
    void deleteItem(fs::TreeItem item) override;
    void setText(fs::TreeItem item, const std::string& text) override;
    void setRed(fs::TreeItem item) override;
    void expand(fs::TreeItem item) override;

    fs::TreeItem root() const override { return tree_.root(); }
    fs::TreeItem firstChild(fs::TreeItem item) const override { return tree_.firstChild(item); }
    fs::TreeItem nextSibling(fs::TreeItem item) const override { return tree_.nextSibling(item); }
    std::string text(fs::TreeItem item) const override { return tree_.text(item); }
    uint64_t data(fs::TreeItem item) const override { return tree_.data(item); }
    bool isFolderItem(fs::TreeItem item) const override { return tree_.isFolderItem(item); }
    bool isRed(fs::TreeItem item) const override { return tree_.isRed(item); }

    const fs::MemoryTree& memory() const { return tree_; }

private:
    void tell(const TreeChange& change) {
        if (onChange) onChange(change);
    }
    fs::MemoryTree tree_;
};

}  // namespace quenlow::recovery
