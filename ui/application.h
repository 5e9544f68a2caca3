#pragma once

#include <QApplication>

namespace qm {

// The program's application object: an error that escapes an event handler
// is shown in a box titled "Архиватор Firebird" and the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Installs the Qt message boxes, file dialogs and event pump for the program.
void InstallQtInteraction();

}  // namespace qm
