#include "operations/ui/link_label.h"

#include <QMouseEvent>

namespace qm {

TLinkLabel::TLinkLabel(const QString& objectName, const QString& text, const QString& hint,
                       QWidget* parent)
    : QLabel(text, parent) {
    setObjectName(objectName);
    setToolTip(hint);
    QFont f = font();
    f.setBold(true);
    f.setUnderline(true);
    setFont(f);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

}  // namespace qm
