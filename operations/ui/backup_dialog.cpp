#include "operations/ui/backup_dialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"
#include "platform/paths.h"

namespace qm {

namespace {

// Hides the wait window on every way out of the operation, before any box.
struct WaitShown {
    WaitShown(QWidget* form, const std::string& text) { ShowWait(form, text); }
    ~WaitShown() { HideWait(); }
    WaitShown(const WaitShown&) = delete;
    WaitShown& operator=(const WaitShown&) = delete;
};

bool HasExtension(const std::string& path) {
    return platform::ExtractFileName(path).find('.') != std::string::npos;
}

}  // namespace

TfrmBackupBase::TfrmBackupBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : QDialog(owner), Base(&base), dm_(dm) {
    setObjectName(QStringLiteral("frmBackupBase"));
    setWindowTitle(Q(kCaptionPrefix + base.Description));

    auto* lbBackupFile = new QLabel(QStringLiteral("Создать архив :"), this);
    lbBackupFile->setObjectName(QStringLiteral("lbBackupFile"));
    edBackupFile = new TFileNameEdit(QStringLiteral("edBackupFile"), this);
    edBackupFile->OnBrowse = [this] { Guarded([this] { edBackupFileBrowse(); }); };

    auto* lblBackupLog = new QLabel(QStringLiteral("Журнал архивации :"), this);
    lblBackupLog->setObjectName(QStringLiteral("lblBackupLog"));
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QStringLiteral("Архивировать"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(99, 25);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Enter in the dialog must not start a backup unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(lbBackupFile);
    fileRow->addWidget(edBackupFile, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(21);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 16, 13, 17);
    layout->addLayout(fileRow);
    layout->addSpacing(12);
    layout->addWidget(lblBackupLog);
    layout->addWidget(MemoLog, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    setTabOrder(edBackupFile, MemoLog);
    setTabOrder(MemoLog, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    // Escape presses Cancel as well: QDialog rejects on Escape.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(734, 442);
}

std::string TfrmBackupBase::Caption() const { return S(windowTitle()); }

void TfrmBackupBase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Guarded([this] { FormShow(); });
    edBackupFile->setFocus();
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
    FileDialogRequest r;
    r.kind = FileDialogKind::Save;
    r.title = kSaveTitle;
    r.filter = kArchiveFilter;
    // The toolkit's dialog then asks about overwriting the name that will
    // really be used.
    r.defaultExt = "fbk";
    r.initialDir = initialDir_;
    r.fileName = edBackupFile->Name();
    if (auto chosen = edBackupFileAfterDialog(FileDialogs().Run(r))) edBackupFile->SetName(*chosen);
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

    bool ok = false;
    {
        WaitShown wait(this, "Выполняется архивация базы данных...");
        log_->Clear();
        ok = dm_.BackupBase(*Base, edBackupFile->Name(), log_.get());
    }
    if (ok)
        ShowInformation(Caption(), "Архивация завершена.");
    else
        ShowError(Caption(), "Архивация прервана из-за ошибки.");
}

}  // namespace qm
