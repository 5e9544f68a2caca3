#include "operations/ui/file_name_edit.h"

#include <QAction>
#include <QStyle>

#include "operations/ui/qt_interaction.h"

namespace qm {

TFileNameEdit::TFileNameEdit(const QString& objectName, QWidget* parent) : QLineEdit(parent) {
    setObjectName(objectName);
    // Read-only refuses typing, pasting and cutting and leaves copy in the
    // context menu; the browse button stays usable.
    setReadOnly(true);
    browse_ = addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    browse_->setObjectName(QStringLiteral("browse"));
    connect(browse_, &QAction::triggered, this, [this] {
        if (OnBrowse) OnBrowse();
    });
}

std::string TFileNameEdit::Name() const { return S(text()); }

void TFileNameEdit::SetName(const std::string& name) { setText(Q(name)); }

}  // namespace qm
