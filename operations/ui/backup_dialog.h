#pragma once

#include <QDialog>
#include <memory>
#include <optional>
#include <string>

#include "config/firebird_base.h"
#include "operations/data_module.h"
#include "operations/ui/qt_interaction.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qm {

class TFileNameEdit;

// The manual backup dialog (instance name frmBackupBase): proposes an archive
// name for the record, asks before it starts, runs the data module's backup
// under the wait window with the server's lines in MemoLog, and reports the
// outcome in one box. Its caption is "Ручная архивация: " and the record's
// Description; every box it shows carries the current caption as its title.
class TfrmBackupBase : public QDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmBackupBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Ручная архивация: ";
    static constexpr const char* kSaveTitle = "Сохранить архив как..";
    static constexpr const char* kArchiveFilter = "Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*";

    TFirebirdBase* Base;

    // Puts the proposed archive name (GetArchiveFileName of Base) into
    // edBackupFile and points the file dialog at Base.ArcDir. Runs when the
    // dialog is first shown.
    void FormShow();
    // The browse button: a save dialog; the accepted name goes through
    // edBackupFileAfterDialog into edBackupFile.
    void edBackupFileBrowse();
    // ".fbk" appended to an accepted name whose file name has no extension;
    // nothing returned for a cancelled dialog.
    static std::optional<std::string> edBackupFileAfterDialog(std::optional<std::string> chosen);
    // The backup button: checks the name, asks, runs the backup, reports.
    void btnOkClick();

    TFileNameEdit* edBackupFile;
    QPlainTextEdit* MemoLog;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::string Caption() const;

    Tdm& dm_;
    std::unique_ptr<QtLogView> log_;
    std::string initialDir_;
    bool shown_ = false;
};

}  // namespace qm
