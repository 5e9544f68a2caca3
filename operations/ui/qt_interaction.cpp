#include "operations/ui/qt_interaction.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QListView>
#include <QSplitter>
#include <QStyle>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStringList>
#include <algorithm>

namespace qm {

namespace {

QMessageBox::StandardButton ToQt(MsgButton b) {
    switch (b) {
        case mbOK: return QMessageBox::Ok;
        case mbYes: return QMessageBox::Yes;
        case mbNo: return QMessageBox::No;
        case mbCancel: return QMessageBox::Cancel;
        default: return QMessageBox::NoButton;
    }
}

MsgButton FromQt(int b) {
    switch (b) {
        case QMessageBox::Ok: return mbOK;
        case QMessageBox::Yes: return mbYes;
        case QMessageBox::No: return mbNo;
        default: return mbCancel;
    }
}

QMessageBox::Icon ToQt(MsgIcon i) {
    switch (i) {
        case MsgIcon::Information: return QMessageBox::Information;
        case MsgIcon::Warning: return QMessageBox::Warning;
        case MsgIcon::Error: return QMessageBox::Critical;
        case MsgIcon::Question: return QMessageBox::Question;
        default: return QMessageBox::NoIcon;
    }
}

// The places at the left of Qt's own file dialog ("Компьютер" and the home
// folder) get the width their names need at the fonts in use; the splitter
// otherwise keeps a width made for the English names.
void WidenSidebar(QFileDialog& dialog) {
    auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"));
    auto* sidebar = dialog.findChild<QListView*>(QStringLiteral("sidebar"));
    if (splitter == nullptr || sidebar == nullptr || sidebar->model() == nullptr) return;
    int need = 0;
    for (int row = 0; row < sidebar->model()->rowCount(); ++row) {
        const QModelIndex index = sidebar->model()->index(row, 0);
        need = std::max(need, sidebar->sizeHintForIndex(index).width());
    }
    need += 2 * sidebar->frameWidth() + sidebar->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    QList<int> sizes = splitter->sizes();
    if (sizes.size() != 2 || sizes[0] >= need) return;
    const int total = sizes[0] + sizes[1];
    dialog.resize(dialog.width() + need - sizes[0], dialog.height());
    splitter->setSizes({need, std::max(total - sizes[0], sizes[1])});
}

}  // namespace

MsgButton QtMessageBoxes::Show(const MessageRequest& r) {
    QWidget* parent = QApplication::activeModalWidget();
    if (parent == nullptr) parent = QApplication::activeWindow();
    QMessageBox box(ToQt(r.icon), Q(r.title), Q(r.text), QMessageBox::NoButton, parent);
    QMessageBox::StandardButtons buttons;
    for (MsgButton b : {mbOK, mbYes, mbNo, mbCancel})
        if (r.buttons & b) buttons |= ToQt(b);
    box.setStandardButtons(buttons);
    if (r.defaultButton != mbNone) box.setDefaultButton(ToQt(r.defaultButton));
    // Qt's Russian translation leaves the Latin "OK"; the system's boxes say "ОК".
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setText(QStringLiteral("ОК"));
    int res = box.exec();
    // Closing a box with Escape or the title bar gives its escape button.
    if (res == QMessageBox::NoButton) return (r.buttons & mbNo) ? mbNo : mbCancel;
    return FromQt(res);
}

QString ToQtFilter(const std::string& filter) {
    QStringList parts = Q(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i];
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
#ifndef _WIN32
        // "*.*" means every file only on Windows; here it would hide the
        // names without an extension.
        for (QString& p : patterns)
            if (p == QLatin1String("*.*")) p = QStringLiteral("*");
#endif
        // Qt reads the patterns from the last parentheses of the shown text,
        // so the shown words keep their blanks and get the real patterns.
        qsizetype open = desc.lastIndexOf('(');
        if (open >= 0 && desc.trimmed().endsWith(')'))
            desc = desc.left(open);
        else
            desc += ' ';
        out << desc + '(' + patterns.join(' ') + ')';
    }
    return out.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFileDialogs::Run(const FileDialogRequest& r) {
    QFileDialog dlg(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                      : QApplication::activeWindow(),
                    Q(r.title), Q(r.initialDir));
    switch (r.kind) {
        case FileDialogKind::Open:
            dlg.setAcceptMode(QFileDialog::AcceptOpen);
            dlg.setFileMode(QFileDialog::ExistingFile);
            break;
        case FileDialogKind::Save:
            dlg.setAcceptMode(QFileDialog::AcceptSave);
            dlg.setFileMode(QFileDialog::AnyFile);
            break;
        case FileDialogKind::Folder:
            dlg.setFileMode(QFileDialog::Directory);
            dlg.setOption(QFileDialog::ShowDirsOnly);
            break;
    }
    // The list of names alone: the columns of the detailed view (type, size,
    // date) follow the system's locale, not the program's language.
    dlg.setViewMode(QFileDialog::List);
    if (!r.filter.empty()) dlg.setNameFilter(ToQtFilter(r.filter));
    if (!r.defaultExt.empty()) dlg.setDefaultSuffix(Q(r.defaultExt));
    if (!r.fileName.empty()) dlg.selectFile(Q(r.fileName));
    WidenSidebar(dlg);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return S(dlg.selectedFiles().front());
}

void QtEventPump::ProcessEvents() { QApplication::processEvents(); }

void QtLogView::Clear() { view_->clear(); }

void QtLogView::AddLine(const std::string& line) {
    view_->appendPlainText(Q(line));
    view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->maximum());
}

}  // namespace qm
