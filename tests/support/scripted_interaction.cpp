#include "tests/support/scripted_interaction.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace qm::test {

ScriptedMessageBoxes::ScriptedMessageBoxes() { InstallMessageBoxes(this); }
ScriptedMessageBoxes::~ScriptedMessageBoxes() { InstallMessageBoxes(nullptr); }

MsgButton ScriptedMessageBoxes::Show(const MessageRequest& request) {
    bool wait = false;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (t->isVisible() && t->objectName() == QLatin1String("WaitForm")) wait = true;
    shown.push_back({request, FocusedObjectName(), wait});
    if (!answers_.empty()) {
        MsgButton b = answers_.front();
        answers_.pop_front();
        return b;
    }
    if (request.defaultButton != mbNone) return request.defaultButton;
    return mbOK;
}

std::vector<bool> ScriptedMessageBoxes::WaitWindowShown() const {
    std::vector<bool> out;
    for (const ShownBox& b : shown) out.push_back(b.waitWindowShown);
    return out;
}

ScriptedFileDialogs::ScriptedFileDialogs() { InstallFileDialogs(this); }
ScriptedFileDialogs::~ScriptedFileDialogs() { InstallFileDialogs(nullptr); }

std::optional<std::string> ScriptedFileDialogs::Run(const FileDialogRequest& request) {
    requests.push_back(request);
    if (answers_.empty()) return std::nullopt;
    auto a = answers_.front();
    answers_.pop_front();
    return a;
}

std::string FocusedObjectName() {
    QWidget* w = QApplication::focusWidget();
    if (w == nullptr) {
        QWidget* top = QApplication::activeModalWidget();
        if (top == nullptr) top = QApplication::activeWindow();
        if (top == nullptr) {
            for (QWidget* t : QApplication::topLevelWidgets())
                if (t->isVisible()) top = t;
        }
        if (top != nullptr) w = top->focusWidget();
    }
    return w ? w->objectName().toStdString() : std::string();
}

void WhenModal(std::function<void(QWidget*)> fn) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, fn]() {
        QWidget* m = QApplication::activeModalWidget();
        if (m == nullptr || !m->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        fn(m);
    });
    timer->start();
}

std::vector<std::string> VisibleTopLevels() {
    std::vector<std::string> names;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (t->isVisible()) names.push_back(t->objectName().toStdString());
    return names;
}

}  // namespace qm::test
