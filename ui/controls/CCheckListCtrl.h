#pragma once
// A list whose rows carry check boxes, under a header whose first column's box checks or
// unchecks every row and follows the rows (the rules are CheckList's).

#include <QTreeWidget>

#include "recovery/CheckTree.h"
#include "ui/controls/CCheckHeadCtrl.h"

namespace quenlow::ui {

class CCheckListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CCheckListCtrl(QWidget* parent = nullptr);

    QTreeWidgetItem* addRow(const QStringList& texts);
    void removeAllRows();
    bool rowChecked(int row) const { return rows_.checked(static_cast<size_t>(row)); }
    void setRowChecked(int row, bool checked);
    CCheckHeadCtrl* checkHeader() const { return head_; }
    // What a click on the header of `column` does.
    void headerClicked(int column);

Q_SIGNALS:
    // The user clicked the box of `row`, which was `wasChecked` before.
    void rowCheckClicked(int row, bool wasChecked);

private:
    void drawRows();

    recovery::CheckList rows_;
    CCheckHeadCtrl* head_;
    bool drawing_ = false;
};

}  // namespace quenlow::ui
