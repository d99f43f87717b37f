#include "ui/controls/CCheckHeadCtrl.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace quenlow::ui {

CCheckHeadCtrl::CCheckHeadCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) { setSectionsClickable(true); }

void CCheckHeadCtrl::setChecked(bool checked) {
    if (checked_ == checked) return;
    checked_ = checked;
    viewport()->update();
}

void CCheckHeadCtrl::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    painter->save();
    QHeaderView::paintSection(painter, rect, logicalIndex);
    painter->restore();
    if (logicalIndex != 0) return;
    QStyleOptionButton box;
    const int side = style()->pixelMetric(QStyle::PM_IndicatorWidth);
    box.rect = QRect(rect.left() + 3, rect.center().y() - side / 2, side, side);
    box.state = QStyle::State_Enabled | (checked_ ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter);
}

}  // namespace quenlow::ui
