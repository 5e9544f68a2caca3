#include "operations/ui/validation_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "operations/interaction.h"
#include "operations/ui/wait_window.h"
#include "platform/files.h"

namespace qm {

namespace {

// Hides the wait window on every way out of the operation, before any box.
struct WaitShown {
    WaitShown(QWidget* form, const std::string& text) { ShowWait(form, text); }
    ~WaitShown() { HideWait(); }
    WaitShown(const WaitShown&) = delete;
    WaitShown& operator=(const WaitShown&) = delete;
};

}  // namespace

TfrmValidationBase::TfrmValidationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : QDialog(owner), Base(&base), dm_(dm) {
    setObjectName(QStringLiteral("frmValidationBase"));
    setWindowTitle(Q(kCaptionPrefix + base.Description));

    auto* Label_Warning = new QLabel(
        QStringLiteral("При проверке базы данных на наличие ошибок все приложения работающие с ней "
                       "должны быть закрыты!"),
        this);
    Label_Warning->setObjectName(QStringLiteral("Label_Warning"));
    Label_Warning->setWordWrap(true);
    auto* Bevel = new QFrame(this);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::HLine);
    Bevel->setFrameShadow(QFrame::Sunken);

    auto* lblValidationLog = new QLabel(QStringLiteral("Журнал проверки :"), this);
    lblValidationLog->setObjectName(QStringLiteral("lblValidationLog"));
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QStringLiteral("Проверить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(99, 25);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Enter in the dialog must not start a check unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(29);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 14, 13, 17);
    layout->addWidget(Label_Warning);
    layout->addWidget(Bevel);
    layout->addWidget(lblValidationLog);
    layout->addWidget(MemoLog, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    setTabOrder(MemoLog, btnOk);
    setTabOrder(btnOk, btnCancel);
    MemoLog->setFocus();

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    // Escape presses Cancel as well: QDialog rejects on Escape.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(734, 442);
}

std::string TfrmValidationBase::Caption() const { return S(windowTitle()); }

void TfrmValidationBase::btnOkClick() {
    if (!platform::FileExists(Base->DBFile)) {
        ShowError(Caption(), "Файл базы данных не найден.");
        return;
    }
    // Advice only: on Yes the check runs while others may hold the database.
    const bool confirmed =
        IsFileFree(Base->DBFile)
            ? AskQuestion(Caption(), "Начать проверку базы данны \"" + Base->Description + "\" ?",
                          MsgIcon::Question)
            : AskQuestion(Caption(),
                          "Возможно к базе данных подключены другие приложения. Начать проверку "
                          "базы данны \"" +
                              Base->Description + "\" всё равно?",
                          MsgIcon::Warning);
    if (!confirmed) return;

    bool ok = false;
    {
        WaitShown wait(this, "Выполняется проверка базы данных...");
        log_->Clear();
        ok = dm_.ValidationBase(*Base, log_.get());
    }
    if (ok)
        ShowInformation(Caption(), "Проверка завершена.");
    else
        // The "c" before "ошибками" is the Latin letter, as the text has it.
        ShowError(Caption(), "Проверка завершена c ошибками.");
}

}  // namespace qm
