#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "operations/data_module.h"
#include "operations/interaction.h"

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace qm {

class TServiceArea;
class TLinkLabel;

// The main window: the register of databases with their check boxes, the
// commands on the selected database, the server settings command, the
// service area and the status bar. It owns the settings and the register for
// the whole run.
class TMoorquill : public QMainWindow {
    Q_OBJECT
public:
    explicit TMoorquill(QWidget* parent = nullptr);
    ~TMoorquill() override;

    static constexpr const char* kCaption = kAppTitle;
    // Shown in status panel 1 and opened by a click on the status bar.
    static constexpr const char* kMakerAddress = " https://quillmoor.example.org";

    Tdm& dm() { return *dm_; }
    TSetting& Setting() { return *Setting_; }
    TFirebirdBaseList& BaseList() { return *BaseList_; }

    // Shows the record in the list: a new item at the end (the record's
    // Number becomes its position) or the selected item refreshed.
    void ShowBaseInList(TFirebirdBase* base, bool isNew, bool select);
    void FillBaseList();
    void DeleteBase(QTreeWidgetItem* item);
    void RefreshServiceStatus();
    // Asks, away from the user-interface thread, which server serves the
    // program now, and shows the answer in status panel 2 when it comes.
    void RefreshServerStatus();
    // The text of status panel 2 for an answer; its tool tip in *tip.
    static std::string ServerStatusText(const TServerProbe& probe, std::string* tip);
    // " версия : " is put before it by the window; "0.0.0.0" when unreadable.
    static std::string GetVersionText(const std::string& exePath);

    // The record of the selected item, or nullptr.
    TFirebirdBase* SelectedBase() const;
    // Takes a record registered through the editor into the window's care.
    void AdoptBase(std::unique_ptr<TFirebirdBase> base);

    void lvBaseClick();
    void pmAddBaseClick();
    void pmEditBaseClick();
    void pmDelBaseClick();
    void pmBackupBaseClick();
    void pmRestoreBaseClick();
    void pmValidationBaseClick();
    void pmOptimizationBaseClick();
    void pmScriptBaseClick();
    void pmSettingClick();
    void mmExitClick();
    // Closes as mmExitClick does, but without the close query: for the end of
    // the session. Like every close, refused while an operation runs or a
    // dialog is open.
    void CloseWithoutQuery();
    void StatusBarClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    // The warning box of a command that needs a selected database.
    TFirebirdBase* RequireSelection(const char* warning);
    void FormClose();
    void ShowServerStatus(const TServerProbe& probe);
    // Gives back the databases an interrupted run left away from their names
    // and offers to remove the other files it left, saying what was done.
    void CleanLeftovers();

    // The window's place in the access layer's naming: errors of the data
    // module's components read "Moorquill.dm.<component>".
    TComponent component_{nullptr, "Moorquill"};
    std::unique_ptr<Tdm> dm_;
    std::unique_ptr<TSetting> Setting_;
    std::unique_ptr<TFirebirdBaseList> BaseList_;
    // Records registered through the editor until the register is reloaded.
    std::vector<std::unique_ptr<TFirebirdBase>> adopted_;

    TLinkLabel* lblAddBase = nullptr;
    QTreeWidget* lvBase = nullptr;
    QMenu* ppmBase = nullptr;
    TServiceArea* serviceArea_ = nullptr;
    QLabel* statusVersion_ = nullptr;
    QLabel* statusAddress_ = nullptr;
    QLabel* statusServer_ = nullptr;
    // The question of RefreshServerStatus; the window waits for it at its end.
    std::thread serverProbe_;
    // Answers that arrive after the window is gone find this expired.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool probing_ = false;
    bool probeAgain_ = false;
    bool shown_ = false;
    bool filling_ = false;
    bool withoutQuery_ = false;
};

}  // namespace qm
