#include "operations/ui/restore_dialog.h"

#include <QGridLayout>
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

QLabel* NamedLabel(const char* name, const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    return label;
}

}  // namespace

TfrmRestoreBase::TfrmRestoreBase(TFirebirdBase* base, Tdm& dm, QWidget* owner)
    : QDialog(owner), Base(base), dm_(dm) {
    setObjectName(QStringLiteral("frmRestoreBase"));
    setWindowTitle(Q(kCaption));

    QLabel* lbBackupFile = NamedLabel("lbBackupFile", "Файл архива :", this);
    edBackupFile = new TFileNameEdit(QStringLiteral("edBackupFile"), this);
    edBackupFile->OnBrowse = [this] { Guarded([this] { edBackupFileBrowse(); }); };
    QLabel* lblBaseFile = NamedLabel("lblBaseFile", "Создать базу данных :", this);
    edBaseFile = new TFileNameEdit(QStringLiteral("edBaseFile"), this);
    edBaseFile->OnBrowse = [this] { Guarded([this] { edBaseFileBrowse(); }); };

    QLabel* lblRestoreLog = NamedLabel("lblRestoreLog", "Журнал восстановления :", this);
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QStringLiteral("Восстановить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(99, 25);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Enter in the dialog must not start a restore unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* files = new QGridLayout;
    files->setColumnMinimumWidth(0, 120);
    files->setVerticalSpacing(8);
    files->addWidget(lbBackupFile, 0, 0);
    files->addWidget(edBackupFile, 0, 1);
    files->addWidget(lblBaseFile, 1, 0);
    files->addWidget(edBaseFile, 1, 1);
    files->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(21);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 16, 13, 17);
    layout->addLayout(files);
    layout->addSpacing(12);
    layout->addWidget(lblRestoreLog);
    layout->addWidget(MemoLog, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    setTabOrder(edBackupFile, edBaseFile);
    setTabOrder(edBaseFile, MemoLog);
    setTabOrder(MemoLog, btnOk);
    setTabOrder(btnOk, btnCancel);

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    // Escape presses Cancel as well: QDialog rejects on Escape.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(734, 442);
}

std::string TfrmRestoreBase::Caption() const { return S(windowTitle()); }

void TfrmRestoreBase::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Guarded([this] { FormShow(); });
    edBackupFile->setFocus();
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
    FileDialogRequest r;
    r.kind = FileDialogKind::Open;
    r.title = kOpenTitle;
    r.filter = kArchiveFilter;
    r.initialDir = initialDir_;
    r.fileName = edBackupFile->Name();
    if (std::optional<std::string> chosen = FileDialogs().Run(r)) {
        edBackupFile->SetName(*chosen);
        edBackupFileAfterDialog(*chosen);
    }
}

void TfrmRestoreBase::edBaseFileBrowse() {
    FileDialogRequest r;
    r.kind = FileDialogKind::Save;
    r.title = kSaveTitle;
    r.filter = kDatabaseFilter;
    r.initialDir = initialDir_;
    r.fileName = edBaseFile->Name();
    if (std::optional<std::string> chosen = FileDialogs().Run(r)) edBaseFile->SetName(*chosen);
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

    bool ok = false;
    {
        WaitShown wait(this, "Выполняется восстановление базы данных из архива...");
        log_->Clear();
        ok = dm_.RestoreBase(edBackupFile->Name(), edBaseFile->Name(), log_.get());
    }
    if (ok)
        ShowInformation(Caption(), "Восстановление завершено.");
    else
        ShowError(Caption(), "Восстановление прервано из-за ошибки.");
}

}  // namespace qm
