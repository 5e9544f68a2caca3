#include "operations/ui/optimization_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "operations/interaction.h"
#include "operations/optimization.h"
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

TfrmOptimizationBase::TfrmOptimizationBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : QDialog(owner), Base(&base), dm_(dm) {
    setObjectName(QStringLiteral("frmOptimizationBase"));
    setWindowTitle(Q(kCaptionPrefix + base.Description));

    auto* Label_Warning = new QLabel(
        QStringLiteral(
            "Оптимизация базы данных - тест базы данных на наличие ошибок; архивирование "
            "и последующее восстановление базы данных; улучшение производительности "
            "индексов. Оптимизация уменьшает размер базы данных, повышает скорость "
            "работы с ней.\nПри ремонте базы данных все приложения работающие с ней "
            "должны быть закрыты!"),
        this);
    Label_Warning->setObjectName(QStringLiteral("Label_Warning"));
    Label_Warning->setWordWrap(true);
    auto* Bevel = new QFrame(this);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::HLine);
    Bevel->setFrameShadow(QFrame::Sunken);

    auto* lblOptimizationLog = new QLabel(QStringLiteral("Журнал оптимизации :"), this);
    lblOptimizationLog->setObjectName(QStringLiteral("lblOptimizationLog"));
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QStringLiteral("Оптимизировать"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(99, 25);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Enter in the dialog must not start an optimization unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(29);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 13, 17);
    layout->addWidget(Label_Warning);
    layout->addSpacing(10);
    layout->addWidget(Bevel);
    layout->addWidget(lblOptimizationLog);
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

std::string TfrmOptimizationBase::Caption() const { return S(windowTitle()); }

void TfrmOptimizationBase::btnOkClick() {
    if (!platform::FileExists(Base->DBFile)) {
        ShowError(Caption(), "Файл базы данных не найден.");
        return;
    }
    const bool confirmed =
        IsFileFree(Base->DBFile)
            ? AskQuestion(Caption(),
                          "Начать оптимизацию базы данны \"" + Base->Description + "\" ?",
                          MsgIcon::Question)
            : AskQuestion(Caption(),
                          "Возможно к базе данных подключены другие приложения. Начать "
                          "оптимизацию базы данны \"" +
                              Base->Description + "\" всё равно?",
                          MsgIcon::Warning);
    if (!confirmed) return;

    bool ok = false;
    {
        WaitShown wait(this, "Выполняется оптимизация базы данных...");
        log_->Clear();
        lastArchive_ = OptimizationArchiveName(*Base);
        ok = OptimizeBase(dm_, *Base, lastArchive_, log_.get());
    }
    if (ok)
        ShowInformation(Caption(), "Оптимизация завершена.");
    else
        ShowError(Caption(), "Оптимизация прервана из-за ошибки.");
}

}  // namespace qm
