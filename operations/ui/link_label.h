#pragma once

#include <QLabel>

namespace qm {

// A label shown as a link: bold, underlined, with a hand cursor, that reports
// a click with the left button.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    TLinkLabel(const QString& objectName, const QString& text, const QString& hint,
               QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

}  // namespace qm
