#include "ui/controls/CXHtmlTree.h"

#include <QMouseEvent>

namespace quenlow::ui {

using recovery::CheckTree;

CXHtmlTree::CXHtmlTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    checks_.triState = true;
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (drawing_ || column != 0 || !ids_.contains(item)) return;
        // A click on the box: the opposite of the item's own flag, whatever Qt toggled to.
        const CheckTree::Item id = ids_.value(item);
        checkClicked_ = true;
        if (checks_.enabled(id) && !checks_.separator(id)) {
            setCheck(item, !checks_.flag(id));
            setCurrentItem(item);
        } else {
            draw(item);
        }
    });
}

QTreeWidgetItem* CXHtmlTree::insertItem(const QString& text, QTreeWidgetItem* parent, bool separator) {
    QTreeWidgetItem* item = newItem(text, parent, separator);
    if (item == nullptr) return nullptr;
    drawing_ = true;
    if (parent != nullptr) parent->addChild(item);
    else addTopLevelItem(item);
    drawing_ = false;
    drawLine(item);
    return item;
}

QTreeWidgetItem* CXHtmlTree::newItem(const QString& text, QTreeWidgetItem* parent, bool separator) {
    const CheckTree::Item parentId = parent != nullptr ? ids_.value(parent, CheckTree::kNone) : CheckTree::kNone;
    if (parent != nullptr && parentId == CheckTree::kNone) return nullptr;
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    ids_.insert(item, checks_.insert(parentId, separator));
    return item;
}

void CXHtmlTree::addItems(QTreeWidgetItem* parent, const QList<QTreeWidgetItem*>& items) {
    if (items.isEmpty()) return;
    drawing_ = true;
    if (parent != nullptr) parent->addChildren(items);
    else addTopLevelItems(items);
    drawing_ = false;
    // New items are unchecked: only the boxes above them may change.
    for (QTreeWidgetItem* a = parent; a != nullptr; a = a->parent()) draw(a);
}

void CXHtmlTree::forget(QTreeWidgetItem* item) {
    for (int i = 0; i < item->childCount(); ++i) forget(item->child(i));
    ids_.remove(item);
    colours_.remove(item);
}

void CXHtmlTree::deleteItem(QTreeWidgetItem* item) {
    if (item == nullptr || !ids_.contains(item)) return;
    QTreeWidgetItem* parent = item->parent();
    checks_.remove(ids_.value(item));
    forget(item);
    delete item;
    if (parent != nullptr) drawLine(parent);
}

void CXHtmlTree::deleteAllItems() {
    checks_.clear();
    ids_.clear();
    colours_.clear();
    clear();
}

int CXHtmlTree::getCheck(QTreeWidgetItem* item) const { return checks_.getCheck(ids_.value(item, CheckTree::kNone)); }

void CXHtmlTree::setCheck(QTreeWidgetItem* item, bool checked) {
    if (!ids_.contains(item)) return;
    checks_.setCheck(ids_.value(item), checked);
    drawLine(item);
    Q_EMIT checkboxClicked(item, checked);
}

void CXHtmlTree::setItemEnabled(QTreeWidgetItem* item, bool enabled) {
    if (!ids_.contains(item)) return;
    checks_.setEnabled(ids_.value(item), enabled);
    drawing_ = true;
    item->setDisabled(!enabled);
    drawing_ = false;
}

QColor CXHtmlTree::setItemTextColour(QTreeWidgetItem* item, const QColor& colour) {
    const QColor previous = colours_.value(item);
    if (!ids_.contains(item)) return previous;
    colours_.insert(item, colour);
    drawing_ = true;
    item->setForeground(0, colour.isValid() ? QBrush(colour) : QBrush());
    drawing_ = false;
    return previous;
}

void CXHtmlTree::draw(QTreeWidgetItem* item) {
    static const Qt::CheckState states[] = {Qt::Unchecked, Qt::Unchecked, Qt::Checked, Qt::PartiallyChecked};
    drawing_ = true;
    item->setCheckState(0, states[static_cast<int>(checks_.box(ids_.value(item)))]);
    drawing_ = false;
}

void CXHtmlTree::drawLine(QTreeWidgetItem* item) {
    std::vector<QTreeWidgetItem*> pending{item};
    while (!pending.empty()) {
        QTreeWidgetItem* i = pending.back();
        pending.pop_back();
        draw(i);
        for (int c = 0; c < i->childCount(); ++c) pending.push_back(i->child(c));
    }
    for (QTreeWidgetItem* a = item->parent(); a != nullptr; a = a->parent()) draw(a);
}

void CXHtmlTree::mouseReleaseEvent(QMouseEvent* event) {
    checkClicked_ = false;
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && item != nullptr && !checkClicked_ && ids_.contains(item)) {
        setCurrentItem(item);
        Q_EMIT labelClicked(item);
    }
}

}  // namespace quenlow::ui
