#pragma once

#include <QApplication>

namespace qm {

// The program's application object: an error that escapes an event handler
// is shown in a box titled "Архиватор Firebird" and the program goes on. The
// toolkit's own texts (buttons of message boxes, file dialogs, context menus
// of edit fields) are Russian, as the program's are.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Makes the toolkit's own texts Russian: installs Qt's Russian translation
// (qtbase_ru.qm from Qt's translations folder, or from "translations" beside
// the executable) and makes Russian the default locale. False when no
// translation file was found; the toolkit's texts then stay English.
bool LoadToolkitTranslations(QCoreApplication& app);

// Installs the Qt message boxes, file dialogs and event pump for the program.
void InstallQtInteraction();

}  // namespace qm
