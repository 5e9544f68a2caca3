#include "ui/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <exception>

#include "operations/interaction.h"
#include "operations/ui/qt_interaction.h"

namespace qm {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QString::fromUtf8(kAppTitle));
    LoadToolkitTranslations(*this);
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

bool LoadToolkitTranslations(QCoreApplication& app) {
    // The user interface is Russian whatever the system's language is.
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    QLocale::setDefault(russian);
    auto* translator = new QTranslator(&app);
    for (const QString& dir :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (translator->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(translator);
            return true;
        }
    }
    delete translator;
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
