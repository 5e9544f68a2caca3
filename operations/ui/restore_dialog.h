#pragma once

#include <string>

#include "operations/ui/operation_dialog.h"

namespace qm {

class TFileNameEdit;

// The restore dialog (instance name frmRestoreBase): takes an archive and the
// database to create from it, proposes the database name from the archive,
// asks before it starts, runs the data module's restore under the wait window
// with the server's lines in MemoLog, and reports the outcome in one box. Its
// caption is "Восстановление базы из архива"; every box it shows carries the
// current caption as its title.
class TfrmRestoreBase : public TOperationDialog {
    Q_OBJECT
public:
    // base may be null (no database selected); it only presets the folder of
    // both file dialogs. base and dm must outlive the dialog, which owns
    // neither.
    TfrmRestoreBase(TFirebirdBase* base, Tdm& dm, QWidget* owner);

    static constexpr const char* kCaption = "Восстановление базы из архива";
    static constexpr const char* kOpenTitle = "Открыть архив...";
    static constexpr const char* kArchiveFilter = "Архив базы Firebird (*.fbk)|*.fbk|Все файл|*.*";
    static constexpr const char* kSaveTitle = "Восстановить базу как..";
    static constexpr const char* kDatabaseFilter = "База Firebird (*.fdb)|*.fdb|Все файлы|*.*";

    // Points both file dialogs at Base.ArcDir when there is a Base. Runs when
    // the dialog is first shown.
    void FormShow() override;
    // The browse button of edBackupFile: an open dialog; an accepted name goes
    // into edBackupFile and through edBackupFileAfterDialog.
    void edBackupFileBrowse();
    // The browse button of edBaseFile: a save dialog; an accepted name goes
    // into edBaseFile unchanged.
    void edBaseFileBrowse();
    // An accepted archive name proposes the database name when edBaseFile is
    // still empty.
    void edBackupFileAfterDialog(const std::string& chosen);
    // The archive's path with the extension of its file name (from its last
    // full stop) replaced by ".fdb"; a name without one just gets ".fdb".
    static std::string ProposedDatabaseName(const std::string& archive);
    // The restore button: checks both names, asks, runs the restore, reports.
    void btnOkClick() override;

    TFileNameEdit* edBackupFile;
    TFileNameEdit* edBaseFile;

    // The folder the file dialogs open in ("" for the toolkit's default).
    const std::string& InitialDir() const { return initialDir_; }

private:
    std::string initialDir_;
};

}  // namespace qm
