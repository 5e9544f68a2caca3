#include "operations/ui/restore_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "operations/ui/file_name_edit.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm {

TfrmRestoreBase::TfrmRestoreBase(TFirebirdBase* base, Tdm& dm, QWidget* owner)
    : TOperationDialog(base, dm, owner, "frmRestoreBase", kCaption, "Восстановить") {
    QLabel* lbBackupFile = NamedLabel("lbBackupFile", "Файл архива :");
    edBackupFile = new TFileNameEdit(QStringLiteral("edBackupFile"), this);
    edBackupFile->OnBrowse = [this] { Guarded([this] { edBackupFileBrowse(); }); };
    QLabel* lblBaseFile = NamedLabel("lblBaseFile", "Создать базу данных :");
    edBaseFile = new TFileNameEdit(QStringLiteral("edBaseFile"), this);
    edBaseFile->OnBrowse = [this] { Guarded([this] { edBaseFileBrowse(); }); };

    auto* files = new QGridLayout;
    files->setColumnMinimumWidth(0, 120);
    files->setVerticalSpacing(8);
    files->addWidget(lbBackupFile, 0, 0);
    files->addWidget(edBackupFile, 0, 1);
    files->addWidget(lblBaseFile, 1, 0);
    files->addWidget(edBaseFile, 1, 1);
    files->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 16, 13, 17);
    layout->addLayout(files);
    layout->addSpacing(12);
    AddLogAndButtons(layout, NamedLabel("lblRestoreLog", "Журнал восстановления :"), 21);

    SetTabOrder({edBackupFile, edBaseFile});
}

void TfrmRestoreBase::FormShow() {
    if (Base != nullptr) initialDir_ = Base->ArcDir;
}

std::string TfrmRestoreBase::ProposedDatabaseName(const std::string& archive) {
    const std::string dir = platform::ExtractFilePath(archive);
    std::string name = platform::ExtractFileName(archive);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos) name.erase(dot);
    return dir + name + ".fdb";
}

void TfrmRestoreBase::edBackupFileAfterDialog(const std::string& chosen) {
    if (edBaseFile->Name().empty()) edBaseFile->SetName(ProposedDatabaseName(chosen));
}

void TfrmRestoreBase::edBackupFileBrowse() {
    if (auto chosen = AskFileName(*edBackupFile, FileDialogKind::Open, kOpenTitle, kArchiveFilter,
                                  initialDir_)) {
        edBackupFile->SetName(*chosen);
        edBackupFileAfterDialog(*chosen);
    }
}

void TfrmRestoreBase::edBaseFileBrowse() {
    if (auto chosen = AskFileName(*edBaseFile, FileDialogKind::Save, kSaveTitle, kDatabaseFilter,
                                  initialDir_))
        edBaseFile->SetName(*chosen);
}

void TfrmRestoreBase::btnOkClick() {
    const std::string archive = edBackupFile->Name();
    if (!platform::FileExists(archive)) {
        edBackupFile->setFocus();
        ShowError(Caption(), "Файл архива \"" + archive + "\" не существует.");
        return;
    }
    const std::string database = edBaseFile->Name();
    if (database.empty()) {
        edBaseFile->setFocus();
        ShowError(Caption(), "Файл базы данных не указан.");
        return;
    }
    const bool confirmed =
        platform::FileExists(database)
            ? AskQuestion(Caption(),
                          "Файл базы данных \"" + database +
                              "\" уже существует. Начать восстановление базы данных из архива "
                              "всё равно?",
                          MsgIcon::Warning)
            : AskQuestion(Caption(), "Начать восстановление базы данных из архива?",
                          MsgIcon::Question);
    if (!confirmed) return;

    const bool ok =
        RunOperation("Выполняется восстановление базы данных из архива...", [this](ILogView* log) {
            return dm_.RestoreBase(edBackupFile->Name(), edBaseFile->Name(), log);
        });
    ShowOutcome(ok, "Восстановление завершено.", "Восстановление прервано из-за ошибки.");
}

}  // namespace qm
