#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "operations/data_module.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QToolButton;

namespace qm {

class TFileNameEdit;
class TMoorquill;
class TTypingLimit;

// The database editor (instance name frmBase): registers a database or edits
// a registration. The controls hold the working copy; the record changes only
// through a successful save, which checks the inputs, makes one test
// connection, shows the record in the main window's list and writes its
// section of the list file. The main window sets the caption, Base and IsEdit
// (and calls BaseToControls when editing) before it shows the dialog. Every
// box the dialog shows carries its current caption as the title.
class TfrmBase : public QDialog {
    Q_OBJECT
public:
    // moorquill, dm and setting must outlive the dialog.
    TfrmBase(TMoorquill& Moorquill, Tdm& dm, TSetting& setting, QWidget* owner);

    static constexpr const char* kBaseFileTitle = "Открыть базу данных";
    static constexpr const char* kBaseFileFilter = "База Firebird (*.fdb)|*.fdb|Все файлы|*.*";
    static constexpr const char* kBackupDirTitle = "Выбор папки для хранения архивов";
    static constexpr int kDescriptionLength = 32;

    // The record worked on; not owned.
    TFirebirdBase* Base = nullptr;
    // true: an existing registration is edited; false: a new one is made.
    bool IsEdit = false;

    void BaseToControls();
    void ControlsToBase();

    // The save. Ends the dialog with Accepted only when everything succeeded;
    // a failed write of the list file raises (the caller's Guarded reports it)
    // and leaves the dialog open.
    void btnOkClick();
    void sbtnAddTimeClick();
    void sbtnDelTimeClick();
    void btnSettingClick();
    // The browse button of edBaseFile: an open dialog whose answer goes
    // through edBaseFileAfterDialog.
    void edBaseFileBrowse();
    // An accepted absolute local path goes into edBaseFile, and its directory
    // (with the trailing '/') into an empty edBackupDir; any other accepted
    // name empties edBaseFile; a cancelled dialog changes nothing.
    void edBaseFileAfterDialog(const std::optional<std::string>& chosen);
    // The browse button of edBackupDir: a folder dialog.
    void edBackupDirBrowse();

    QLineEdit* edDiscription;
    TFileNameEdit* edBaseFile;
    QCheckBox* cbActive;
    TFileNameEdit* edBackupDir;
    QCheckBox* cbDoZIP;
    QSpinBox* seBackupFileCount;
    QCheckBox* cbMon;
    QCheckBox* cbTue;
    QCheckBox* cbWed;
    QCheckBox* cbThu;
    QCheckBox* cbFri;
    QCheckBox* cbSat;
    QCheckBox* cbSun;
    QListWidget* lbTime;
    QToolButton* sbtnAddTime;
    QToolButton* sbtnDelTime;
    QTimeEdit* dtpBackupTime;
    QPushButton* btnSetting;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // The texts of lbTime in list order.
    std::vector<std::string> Times() const;

private:
    std::string Caption() const;
    // Puts a text into edDiscription, however long.
    void SetDescription(const QString& text);
    // Inserts a time after every item that does not sort after it, so the list
    // stays ascending and equal texts keep their order.
    void InsertTime(const std::string& time);
    // The number the main window's list gives a new record: its item count.
    int NextNumber() const;

    TMoorquill& moorquill_;
    Tdm& dm_;
    TSetting& setting_;
    TTypingLimit* descriptionLimit_;
};

}  // namespace qm
