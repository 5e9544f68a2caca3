#include "operations/ui/backup_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "operations/ui/file_name_edit.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm {

namespace {

bool HasExtension(const std::string& path) {
    return platform::ExtractFileName(path).find('.') != std::string::npos;
}

}  // namespace

TfrmBackupBase::TfrmBackupBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : TOperationDialog(&base, dm, owner, "frmBackupBase", kCaptionPrefix + base.Description,
                       "Архивировать") {
    QLabel* lbBackupFile = NamedLabel("lbBackupFile", "Создать архив :");
    edBackupFile = new TFileNameEdit(QStringLiteral("edBackupFile"), this);
    edBackupFile->OnBrowse = [this] { Guarded([this] { edBackupFileBrowse(); }); };

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(lbBackupFile);
    fileRow->addWidget(edBackupFile, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 16, 13, 17);
    layout->addLayout(fileRow);
    layout->addSpacing(12);
    AddLogAndButtons(layout, NamedLabel("lblBackupLog", "Журнал архивации :"), 21);

    SetTabOrder({edBackupFile});
}

void TfrmBackupBase::FormShow() {
    initialDir_ = Base->ArcDir;
    edBackupFile->SetName(TFirebirdBaseList::GetArchiveFileName(*Base));
}

std::optional<std::string> TfrmBackupBase::edBackupFileAfterDialog(
    std::optional<std::string> chosen) {
    if (chosen && !HasExtension(*chosen)) *chosen += ".fbk";
    return chosen;
}

void TfrmBackupBase::edBackupFileBrowse() {
    // With the default extension the toolkit's dialog asks about overwriting
    // the name that will really be used.
    if (auto chosen = edBackupFileAfterDialog(AskFileName(
            *edBackupFile, FileDialogKind::Save, kSaveTitle, kArchiveFilter, initialDir_, "fbk")))
        edBackupFile->SetName(*chosen);
}

void TfrmBackupBase::btnOkClick() {
    const std::string name = edBackupFile->Name();
    if (name.empty()) {
        edBackupFile->setFocus();
        ShowError(Caption(), "Файл архива не указан.");
        return;
    }
    const bool confirmed =
        platform::FileExists(name)
            ? AskQuestion(
                  Caption(),
                  "Файл архива \"" + name + "\" уже существует. Начать архивацию всё равно?",
                  MsgIcon::Warning)
            : AskQuestion(Caption(), "Начать архивацию \"" + Base->Description + "\"?",
                          MsgIcon::Question);
    if (!confirmed) return;

    const bool ok = RunOperation("Выполняется архивация базы данных...", [this](ILogView* log) {
        return dm_.BackupBase(*Base, edBackupFile->Name(), log);
    });
    ShowOutcome(ok, "Архивация завершена.", "Архивация прервана из-за ошибки.");
}

}  // namespace qm
