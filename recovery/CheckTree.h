#pragma once
// The check-box rules of the folder tree and of the file list, without widgets.
//
// CheckTree: items with tri-state check boxes. Checking a folder checks everything below
// it; a folder whose descendants are partly checked shows the mixed box and reads as
// unchecked. Each item counts its descendants, its checked descendants and its separator
// descendants; the counts stay exact through inserts, deletes and checks at any depth.
//
// CheckList: rows with check boxes under a header box that checks or unchecks them all
// and shows checked when no row is unchecked.

#include <cstdint>
#include <functional>
#include <vector>

namespace quenlow::recovery {

class CheckTree {
public:
    using Item = int;
    static constexpr Item kNone = -1;
    enum class Box { Unchecked = 1, Checked = 2, Mixed = 3 };

    bool checkBoxes = true;
    bool triState = true;

    // Inserts an unchecked, enabled item as the last child of `parent` (kNone: top level).
    Item insert(Item parent, bool separator = false);
    // Deletes the item and everything below it.
    void remove(Item item);
    void clear();
    bool exists(Item item) const;

    // 0 or 1; a mixed folder reads as 0.
    int getCheck(Item item) const;
    // Ignored for disabled and separator items. Calls onCheck afterwards.
    void setCheck(Item item, bool checked);
    // The box drawn: by the counts for an item with descendants, by its flag otherwise.
    Box box(Item item) const;
    // The state image: the box, + 4 when disabled, + 8 while hot.
    int stateImage(Item item, bool hot) const;

    void setEnabled(Item item, bool enabled);
    bool enabled(Item item) const;
    bool separator(Item item) const;
    bool flag(Item item) const;

    Item parent(Item item) const;
    const std::vector<Item>& children(Item item) const;
    const std::vector<Item>& topLevel() const { return top_; }
    int descendants(Item item) const;
    int checkedDescendants(Item item) const;
    int separatorDescendants(Item item) const;

    // Called after every setCheck with the item and its new flag.
    std::function<void(Item, bool)> onCheck;

private:
    struct Node {
        Item parent = kNone;
        std::vector<Item> children;
        bool checked = false;
        bool enabled = true;
        bool separator = false;
        bool alive = true;
        int descendants = 0;
        int checkedDescendants = 0;
        int separatorDescendants = 0;
    };
    const Node* node(Item item) const;
    // Whether every non-separator descendant of `n` is checked.
    static bool full(const Node& n) { return n.checkedDescendants == n.descendants - n.separatorDescendants; }
    // Adds `delta` checked items to `first` and its ancestors, nearest first, turning each
    // one's flag to whether its subtree is full and carrying that change upward.
    void carry(Item first, int delta);
    void setSubtree(Item item, bool checked);

    std::vector<Node> nodes_;
    std::vector<Item> top_;
};

class CheckList {
public:
    void setRowCount(size_t rows);
    size_t rowCount() const { return rows_.size(); }
    bool checked(size_t row) const { return row < rows_.size() && rows_[row]; }
    void setChecked(size_t row, bool checked);
    // A click on the header of `column`: the first column's box toggles and all rows follow.
    void clickHeader(int column);
    // The header box: unchecked at first; once rows change, checked when none is unchecked.
    bool headerChecked() const { return header_; }

private:
    void follow();
    std::vector<bool> rows_;
    bool header_ = false;
};

}  // namespace quenlow::recovery
