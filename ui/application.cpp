#include "ui/application.h"

#include <exception>

#include "operations/interaction.h"
#include "operations/ui/qt_interaction.h"

namespace qm {

namespace {
const char* const kAppTitle = "Архиватор Firebird";
}

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

std::string TopLevelErrorText(const std::string& message) {
    std::string text = message;
    // Compared as bytes: every byte of a multi-byte UTF-8 character is above
    // the full stop, exactly as the character itself is.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
    return text;
}

void ShowTopLevelError(const std::string& message) {
    ShowError(kAppTitle, TopLevelErrorText(message));
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
