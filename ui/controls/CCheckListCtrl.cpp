#include "ui/controls/CCheckListCtrl.h"

namespace quenlow::ui {

CCheckListCtrl::CCheckListCtrl(QWidget* parent) : QTreeWidget(parent), head_(new CCheckHeadCtrl(this)) {
    setHeader(head_);
    setRootIsDecorated(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    connect(head_, &QHeaderView::sectionClicked, this, [this](int column) { headerClicked(column); });
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
        if (drawing_ || column != 0) return;
        const int row = indexOfTopLevelItem(item);
        const bool wasChecked = rowChecked(row);
        setRowChecked(row, item->checkState(0) == Qt::Checked);
        if (rowChecked(row) != wasChecked) Q_EMIT rowCheckClicked(row, wasChecked);
    });
}

QTreeWidgetItem* CCheckListCtrl::addRow(const QStringList& texts) {
    auto* item = new QTreeWidgetItem(texts);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    drawing_ = true;
    item->setCheckState(0, Qt::Unchecked);
    addTopLevelItem(item);
    drawing_ = false;
    // A new row is unchecked; the rows already there keep their boxes.
    std::vector<bool> kept;
    for (size_t r = 0; r + 1 < static_cast<size_t>(topLevelItemCount()); ++r) kept.push_back(rows_.checked(r));
    rows_.setRowCount(static_cast<size_t>(topLevelItemCount()));
    for (size_t r = 0; r < kept.size(); ++r)
        if (kept[r]) rows_.setChecked(r, true);
    head_->setChecked(rows_.headerChecked());
    return item;
}

void CCheckListCtrl::removeAllRows() {
    clear();
    rows_.setRowCount(0);
    head_->setChecked(rows_.headerChecked());
}

void CCheckListCtrl::setRowChecked(int row, bool checked) {
    if (row < 0 || row >= topLevelItemCount()) return;
    rows_.setChecked(static_cast<size_t>(row), checked);
    drawRows();
}

void CCheckListCtrl::headerClicked(int column) {
    rows_.clickHeader(column);
    drawRows();
}

void CCheckListCtrl::drawRows() {
    drawing_ = true;
    for (int r = 0; r < topLevelItemCount(); ++r)
        topLevelItem(r)->setCheckState(0, rows_.checked(static_cast<size_t>(r)) ? Qt::Checked : Qt::Unchecked);
    drawing_ = false;
    head_->setChecked(rows_.headerChecked());
}

}  // namespace quenlow::ui
