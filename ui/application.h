#pragma once

#include <QApplication>
#include <string>

namespace qm {

// The program's application object: an error that escapes an event handler
// is shown in a box titled "Архиватор Firebird" and the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The text of the top-level error box: the message with a full stop appended
// when the code of its last character is above that of the full stop.
std::string TopLevelErrorText(const std::string& message);

// Shows an escaped error's message the way the top-level handler does.
void ShowTopLevelError(const std::string& message);

// Installs the Qt message boxes, file dialogs and event pump for the program.
void InstallQtInteraction();

}  // namespace qm
