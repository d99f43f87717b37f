#pragma once
// The folder tree the parsers fill and the browse step grows: the GUI's check-box tree and
// the in-memory tree of the command line and the tests both implement it.

#include <cstdint>
#include <string>

namespace quenlow::fs {

using TreeItem = int64_t;             // 0 means no item
inline constexpr TreeItem kNoItem = 0;

class FolderTree {
public:
    virtual ~FolderTree() = default;
    virtual void clear() = 0;
    // Inserts an item as the last child of `parent` (kNoItem: a top-level item). `folder`
    // chooses the folder icon; `data` is the parser's reference to the entry (0: none).
    virtual TreeItem insertItem(TreeItem parent, const std::string& text, bool folder,
                                uint64_t data) = 0;
    virtual void deleteItem(TreeItem item) = 0;
    // Changes an item's text (a category's count after each find of raw recovery).
    virtual void setText(TreeItem item, const std::string& text) = 0;
    virtual void setRed(TreeItem item) = 0;
    virtual void expand(TreeItem item) = 0;

    virtual TreeItem root() const = 0;  // the first top-level item
    virtual TreeItem firstChild(TreeItem item) const = 0;
    virtual TreeItem nextSibling(TreeItem item) const = 0;
    virtual std::string text(TreeItem item) const = 0;
    virtual uint64_t data(TreeItem item) const = 0;
    virtual bool isFolderItem(TreeItem item) const = 0;
    virtual bool isRed(TreeItem item) const = 0;
};

}  // namespace quenlow::fs
