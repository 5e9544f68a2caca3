#include "operations/ui/operation_dialog.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

#include "operations/ui/file_name_edit.h"
#include "operations/ui/wait_window.h"
#include "operations/ui/window_size.h"
#include "platform/files.h"

namespace qm {

namespace {

int g_running = 0;

}  // namespace

bool OperationRunning() { return g_running > 0; }

TOperationDialog::TOperationDialog(TFirebirdBase* base, Tdm& dm, QWidget* owner,
                                   const char* objectName, const std::string& caption,
                                   const char* okText)
    : QDialog(owner), Base(base), dm_(dm) {
    setObjectName(QString::fromUtf8(objectName));
    setWindowTitle(Q(caption));

    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QString::fromUtf8(okText), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    // The designed sizes, or more where the text needs it.
    btnOk->setMinimumSize(99, 25);
    btnCancel = new QPushButton(QString::fromUtf8(kCancelText), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setMinimumSize(75, 25);
    // Enter in the dialog must not start an operation unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    // Escape presses Cancel as well: QDialog rejects on Escape.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(kWidth, kHeight);
}

std::string TOperationDialog::Caption() const { return S(windowTitle()); }

QLabel* TOperationDialog::NamedLabel(const char* name, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), this);
    label->setObjectName(QString::fromUtf8(name));
    return label;
}

void TOperationDialog::AddLogAndButtons(QVBoxLayout* layout, QLabel* logLabel, int buttonGap) {
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(buttonGap);
    buttons->addWidget(btnCancel);
    layout->addWidget(logLabel);
    layout->addWidget(MemoLog, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);
}

void TOperationDialog::AddWarning(QVBoxLayout* layout, const char* text, int gap) {
    QLabel* Label_Warning = NamedLabel("Label_Warning", text);
    Label_Warning->setWordWrap(true);
    auto* Bevel = new QFrame(this);
    Bevel->setObjectName(QStringLiteral("Bevel"));
    Bevel->setFrameShape(QFrame::HLine);
    Bevel->setFrameShadow(QFrame::Sunken);
    layout->addWidget(Label_Warning);
    // A spacer of no height would still add the layout's spacing.
    if (gap > 0) layout->addSpacing(gap);
    layout->addWidget(Bevel);
}

void TOperationDialog::SetTabOrder(std::initializer_list<QWidget*> leading) {
    std::vector<QWidget*> chain(leading);
    chain.insert(chain.end(), {MemoLog, btnOk, btnCancel});
    for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
    firstFocus_ = chain.front();
}

void TOperationDialog::setVisible(bool visible) {
    // The layout is complete once the dialog is shown; it is sized before
    // QDialog centres it.
    if (visible && !sized_) {
        sized_ = true;
        FixWindowSize(this, kWidth, kHeight);
    }
    QDialog::setVisible(visible);
}

void TOperationDialog::done(int result) {
    if (running_) return;
    QDialog::done(result);
}

void TOperationDialog::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TOperationDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (shown_) return;
    shown_ = true;
    Guarded([this] { FormShow(); });
    if (firstFocus_ != nullptr) firstFocus_->setFocus();
}

bool TOperationDialog::DatabaseFileFound() const {
    if (platform::FileExists(Base->DBFile)) return true;
    ShowError(Caption(), "Файл базы данных не найден.");
    return false;
}

bool TOperationDialog::ConfirmRun(const std::string& question,
                                  const std::string& inUseQuestion) const {
    return IsFileFree(Base->DBFile) ? AskQuestion(Caption(), question, MsgIcon::Question)
                                    : AskQuestion(Caption(), inUseQuestion, MsgIcon::Warning);
}

bool TOperationDialog::RunOperation(const std::string& waitText,
                                    const std::function<bool(ILogView*)>& operation) {
    struct Running {
        explicit Running(bool& flag) : flag_(flag) {
            flag_ = true;
            ++g_running;
        }
        ~Running() {
            flag_ = false;
            --g_running;
        }
        bool& flag_;
    } running(running_);
    TWaitShown wait(this, waitText);
    log_->Clear();
    return operation(log_.get());
}

void TOperationDialog::ShowOutcome(bool ok, const std::string& doneText,
                                   const std::string& failedText) const {
    if (ok)
        ShowInformation(Caption(), doneText);
    else
        ShowError(Caption(), failedText);
}

std::optional<std::string> AskFileName(const TFileNameEdit& edit, FileDialogKind kind,
                                       const std::string& title, const std::string& filter,
                                       const std::string& initialDir,
                                       const std::string& defaultExt) {
    FileDialogRequest r;
    r.kind = kind;
    r.title = title;
    r.filter = filter;
    r.defaultExt = defaultExt;
    r.initialDir = initialDir;
    r.fileName = edit.Name();
    return FileDialogs().Run(r);
}

}  // namespace qm
