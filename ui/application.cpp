#include "ui/application.h"

#include <exception>

#include "operations/interaction.h"
#include "operations/ui/qt_interaction.h"

namespace qm {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppTitle));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowTopLevelError(e.what());
    } catch (...) {
        ShowTopLevelError("Unknown error");
    }
    return false;
}

void InstallQtInteraction() {
    static QtMessageBoxes boxes;
    static QtFileDialogs dialogs;
    static QtEventPump pump;
    InstallMessageBoxes(&boxes);
    InstallFileDialogs(&dialogs);
    InstallEventPump(&pump);
}

}  // namespace qm
