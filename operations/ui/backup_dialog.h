#pragma once

#include <optional>
#include <string>

#include "operations/ui/operation_dialog.h"

namespace qm {

class TFileNameEdit;

// The manual backup dialog (instance name frmBackupBase): proposes an archive
// name for the record, asks before it starts, runs the data module's backup
// under the wait window with the server's lines in MemoLog, and reports the
// outcome in one box. Its caption is "Ручная архивация: " and the record's
// Description; every box it shows carries the current caption as its title.
class TfrmBackupBase : public TOperationDialog {
    Q_OBJECT
public:
    // base and dm must outlive the dialog; the dialog owns neither.
    TfrmBackupBase(TFirebirdBase& base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaptionPrefix = "Ручная архивация: ";
    static constexpr const char* kSaveTitle = "Сохранить архив как..";
    static constexpr const char* kArchiveFilter = "Архив базы Firebird (*.fbk)|*.fbk|Все файлы|*.*";

    // Puts the proposed archive name (GetArchiveFileName of Base) into
    // edBackupFile and points the file dialog at Base.ArcDir. Runs when the
    // dialog is first shown.
    void FormShow() override;
    // The browse button: a save dialog; the accepted name goes through
    // edBackupFileAfterDialog into edBackupFile.
    void edBackupFileBrowse();
    // ".fbk" appended to an accepted name whose file name has no extension;
    // nothing returned for a cancelled dialog.
    static std::optional<std::string> edBackupFileAfterDialog(std::optional<std::string> chosen);
    // The backup button: checks the name, asks, runs the backup, reports.
    void btnOkClick() override;

    TFileNameEdit* edBackupFile;

private:
    std::string initialDir_;
};

}  // namespace qm
