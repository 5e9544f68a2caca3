#pragma once

#include <QObject>
#include <cstdint>
#include <string>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QWidget;

namespace qm {

// The service area of the main window: the auto-archiving service's event log
// and state, and the commands that install, remove, start and stop the
// service. The widgets are created with the window as their parent; the
// window lays them out. Every message box carries the window's caption.
class TServiceArea : public QObject {
    Q_OBJECT
public:
    explicit TServiceArea(QWidget* window);

    QLabel* lblServiceInfo;    // a link: a click refreshes
    QLabel* lblServiceStatus;  // the state text and colour
    QPlainTextEdit* MemoLog;   // the event log; its context menu is ppmService
    QMenu* ppmService;

    QAction* pmInstallService;
    QAction* pmUninstallService;
    QAction* pmStartService;
    QAction* pmStopService;
    QAction* pmRefreshService;

    // Set by FillServiceMenu; null until then.
    QAction* mmInstallService = nullptr;
    QAction* mmUninstallService = nullptr;
    QAction* mmStartService = nullptr;
    QAction* mmStopService = nullptr;
    QAction* mmRefreshService = nullptr;

    // Adds the service commands to the main menu's "Служба" entry; each runs
    // the handler of its context-menu twin and follows its enabled state.
    void FillServiceMenu(QMenu* mmService);

    // Reloads the event log from its file (left empty, silently, when the file
    // is missing or locked by the service), then shows the service's state and
    // enables the commands that fit it.
    void RefreshServiceStatus();

    void pmInstallServiceClick();
    void pmUninstallServiceClick();
    void pmStartServiceClick();
    void pmStopServiceClick();
    void pmRefreshServiceClick();

    // Asks whether the program may end (more insistently when the service is
    // not running); true when the window may close.
    bool FormCloseQuery();

    // The text of lblServiceStatus for a state of an installed service.
    static std::string StateText(std::uint32_t state);

private:
    std::string Caption() const;
    void ReloadLog();
    // Shows the outcome of a command and refreshes the view.
    void Report(bool ok, const char* success, const char* failure);

    QWidget* window_;
};

}  // namespace qm
