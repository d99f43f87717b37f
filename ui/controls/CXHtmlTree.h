#pragma once
// A tree whose items carry tri-state check boxes: checking a folder checks everything below
// it, a partly checked folder shows the mixed box. The rules and counts are CheckTree's;
// this control draws them, colours entries (red: not in use) and tells its owner about
// check changes and label clicks.

#include <QHash>
#include <QTreeWidget>

#include "recovery/CheckTree.h"

namespace quenlow::ui {

class CXHtmlTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit CXHtmlTree(QWidget* parent = nullptr);

    // Inserts an unchecked, enabled item as the last child of `parent` (null: top level).
    QTreeWidgetItem* insertItem(const QString& text, QTreeWidgetItem* parent = nullptr, bool separator = false);
    // The same in two steps, for many items at once: newItem makes the item under `parent`
    // without showing it; addItems shows made items as the last children of `parent` in one
    // go (the tree lays itself out once, not once an item).
    QTreeWidgetItem* newItem(const QString& text, QTreeWidgetItem* parent = nullptr, bool separator = false);
    void addItems(QTreeWidgetItem* parent, const QList<QTreeWidgetItem*>& items);
    void deleteItem(QTreeWidgetItem* item);
    void deleteAllItems();

    int getCheck(QTreeWidgetItem* item) const;
    void setCheck(QTreeWidgetItem* item, bool checked);
    void setItemEnabled(QTreeWidgetItem* item, bool enabled);
    // Returns the previous colour (invalid: the tree's normal text colour).
    QColor setItemTextColour(QTreeWidgetItem* item, const QColor& colour);
    QColor itemTextColour(QTreeWidgetItem* item) const { return colours_.value(item); }

    const recovery::CheckTree& checks() const { return checks_; }
    recovery::CheckTree::Item checkItem(QTreeWidgetItem* item) const { return ids_.value(item, recovery::CheckTree::kNone); }

Q_SIGNALS:
    void checkboxClicked(QTreeWidgetItem* item, bool checked);
    // The item's label (not its check box) was clicked.
    void labelClicked(QTreeWidgetItem* item);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void draw(QTreeWidgetItem* item);
    void drawLine(QTreeWidgetItem* item);  // the item, its subtree and its ancestors
    void forget(QTreeWidgetItem* item);

    recovery::CheckTree checks_;
    QHash<QTreeWidgetItem*, recovery::CheckTree::Item> ids_;
    QHash<QTreeWidgetItem*, QColor> colours_;
    bool drawing_ = false;
    bool checkClicked_ = false;
};

}  // namespace quenlow::ui
