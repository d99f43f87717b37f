#pragma once
// A list header with a check box in its first column.

#include <QHeaderView>

namespace quenlow::ui {

class CCheckHeadCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CCheckHeadCtrl(QWidget* parent = nullptr);
    void setChecked(bool checked);
    bool checked() const { return checked_; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    bool checked_ = false;
};

}  // namespace quenlow::ui
