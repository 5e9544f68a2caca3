#include "operations/ui/window_size.h"

#include <QLayout>
#include <QWidget>
#include <algorithm>

namespace qm {

void FixWindowSize(QWidget* window, int width, int height) {
    // The style may change fonts and margins when it polishes the widgets.
    window->ensurePolished();
    QSize need(width, height);
    if (QLayout* layout = window->layout()) {
        layout->activate();
        need = need.expandedTo(layout->totalMinimumSize());
        // A word-wrapped text needs more lines when the window is narrow.
        if (layout->hasHeightForWidth())
            need.setHeight(std::max(need.height(), layout->totalHeightForWidth(need.width())));
    }
    window->setFixedSize(need);
}

}  // namespace qm
