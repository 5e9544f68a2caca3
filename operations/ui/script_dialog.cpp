#include "operations/ui/script_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValidator>
#include <exception>

#include "firebird/database.h"
#include "operations/interaction.h"
#include "operations/ui/file_name_edit.h"
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

// Letters typed into the character-set box become capitals.
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

const char* const kCharSets[] = {
    "ASCII",     "CYRL",        "DOS437", "DOS850",    "DOS852",    "DOS857",  "DOS860",  "DOS861",
    "DOS863",    "DOS865",      "DOS866", "EUCJ_0208", "ISO8859_1", "NEXT",    "NONE",    "OCTETS",
    "SJIS_0208", "UNICODE_FSS", "UTF8",   "WIN1250",   "WIN1251",   "WIN1252", "WIN1253", "WIN1254",
};

QLabel* MakeLabel(const char* name, const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    return label;
}

}  // namespace

TfrmScriptBase::TfrmScriptBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : QDialog(owner), Base(&base), dm_(dm) {
    setObjectName(QStringLiteral("frmScriptBase"));
    setWindowTitle(Q(kCaptionPrefix + base.Description));

    auto* lbScriptFile = MakeLabel("lbScriptFile", "Файл скрипта :", this);
    edScriptFile = new TFileNameEdit(QStringLiteral("edScriptFile"), this);
    edScriptFile->setFixedWidth(601);
    edScriptFile->OnBrowse = [this] { Guarded([this] { edScriptFileBrowse(); }); };

    auto* lblSQLDialect = MakeLabel("lblSQLDialect", "SQL Диалект :", this);
    seSQLDialect = new QSpinBox(this);
    seSQLDialect->setObjectName(QStringLiteral("seSQLDialect"));
    seSQLDialect->setRange(1, 3);
    seSQLDialect->setValue(3);
    seSQLDialect->setFixedWidth(65);

    auto* lblCharSet = MakeLabel("lblCharSet", "Кодировка :", this);
    cbCharSet = new QComboBox(this);
    cbCharSet->setObjectName(QStringLiteral("cbCharSet"));
    cbCharSet->setEditable(true);
    cbCharSet->setInsertPolicy(QComboBox::NoInsert);
    for (const char* cs : kCharSets) cbCharSet->addItem(QString::fromLatin1(cs));
    cbCharSet->setCurrentIndex(cbCharSet->findText(QStringLiteral("WIN1251")));
    cbCharSet->lineEdit()->setValidator(new UpperCaseValidator(cbCharSet));
    cbCharSet->setFixedWidth(121);

    auto* lblRole = MakeLabel("lblRole", "Роль :", this);
    edRole = new QLineEdit(this);
    edRole->setObjectName(QStringLiteral("edRole"));
    edRole->setFixedWidth(161);

    auto* lblScriptLog = MakeLabel("lblScriptLog", "Журнал выполнения скрипта :", this);
    MemoLog = new QPlainTextEdit(this);
    MemoLog->setObjectName(QStringLiteral("MemoLog"));
    MemoLog->setReadOnly(true);
    MemoLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = MemoLog->palette();
    pal.setColor(QPalette::Base, palette().color(QPalette::Window));
    MemoLog->setPalette(pal);
    log_ = std::make_unique<QtLogView>(MemoLog);

    btnOk = new QPushButton(QStringLiteral("Выполнить"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setFixedSize(99, 25);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setFixedSize(75, 25);
    // Enter in the dialog must not start a run unasked.
    btnOk->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(lbScriptFile);
    fileRow->addStretch(1);
    fileRow->addWidget(edScriptFile);
    auto* paramRow = new QHBoxLayout;
    paramRow->addWidget(lblSQLDialect);
    paramRow->addWidget(seSQLDialect);
    paramRow->addStretch(1);
    paramRow->addWidget(lblCharSet);
    paramRow->addWidget(cbCharSet);
    paramRow->addStretch(1);
    paramRow->addWidget(lblRole);
    paramRow->addWidget(edRole);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addSpacing(21);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 20, 13, 17);
    layout->addLayout(fileRow);
    layout->addSpacing(12);
    layout->addLayout(paramRow);
    layout->addSpacing(12);
    layout->addWidget(lblScriptLog);
    layout->addWidget(MemoLog, 1);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    setTabOrder(edScriptFile, seSQLDialect);
    setTabOrder(seSQLDialect, cbCharSet);
    setTabOrder(cbCharSet, edRole);
    setTabOrder(edRole, MemoLog);
    setTabOrder(MemoLog, btnOk);
    setTabOrder(btnOk, btnCancel);
    edScriptFile->setFocus();

    connect(btnOk, &QPushButton::clicked, this, [this] { Guarded([this] { btnOkClick(); }); });
    // Escape presses Cancel as well: QDialog rejects on Escape.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(734, 442);
}

std::string TfrmScriptBase::Caption() const { return S(windowTitle()); }

void TfrmScriptBase::edScriptFileBrowse() {
    FileDialogRequest r;
    r.kind = FileDialogKind::Open;
    r.title = kOpenTitle;
    r.filter = kScriptFilter;
    r.fileName = edScriptFile->Name();
    const std::optional<std::string> chosen = FileDialogs().Run(r);
    if (chosen) edScriptFile->SetName(*chosen);
    edScriptFileAfterDialog(chosen.value_or(std::string()), chosen.has_value());
}

void TfrmScriptBase::edScriptFileAfterDialog(const std::string& name, bool confirmed) {
    if (!confirmed) return;
    MemoLog->clear();
    const std::optional<std::string> text = platform::ReadWholeFile(name);
    if (!text) {
        ShowError(Caption(), "Ошибка загрузки скрипта из файла.");
        return;
    }
    MemoLog->setPlainText(Q(*text));
}

void TfrmScriptBase::CloseConnection() {
    TFbDatabase& db = *dm_.DataBase;
    try {
        if (db.Connected()) db.Disconnect();
    } catch (const std::exception& e) {
        Tdm::AddLog(e.what(), log_.get());
        db.ForceDisconnect();
    }
}

void TfrmScriptBase::btnOkClick() {
    if (!platform::FileExists(edScriptFile->Name())) {
        edScriptFile->setFocus();
        ShowError(Caption(), "Файл скрипта не найден.");
        return;
    }
    const bool confirmed =
        IsFileFree(Base->DBFile)
            ? AskQuestion(Caption(), "Начать выполнение скрипта?", MsgIcon::Question)
            : AskQuestion(Caption(),
                          "Возможно к базе данных подключены другие приложения. Начать выполнение "
                          "скрипта всё равно?",
                          MsgIcon::Warning);
    if (!confirmed) return;

    ILogView* log = log_.get();
    bool connectFailed = false;
    bool ok = false;
    {
        WaitShown wait(this, "Выполняется скрипт над базы данных...");
        try {
            log->Clear();
            dm_.SetConnectParams(Base->DBFile, S(cbCharSet->currentText()), S(edRole->text()),
                                 seSQLDialect->value());
            Tdm::AddLog("Подключение к базе данных: " + Base->DBFile + "...", log);
            try {
                dm_.DataBase->Connect();
            } catch (const std::exception& e) {
                Tdm::AddLog(std::string("Ошибка подключения к базе данных: ") + e.what(), log);
                connectFailed = true;
                // A failure after the attach (the server-time query) leaves it open.
                dm_.DataBase->ForceDisconnect();
            }
            if (!connectFailed) {
                Tdm::AddLog("Соединение установлено.", log);
                ok = dm_.ScriptBase(edScriptFile->Name(), log);
                Tdm::AddLog("Отключение от базы данных.", log);
                CloseConnection();
            }
        } catch (const std::exception& e) {
            // Whatever escaped the steps above ends the run as failed; the
            // connection is not left open behind it.
            Tdm::AddLog(e.what(), log);
            ok = false;
            CloseConnection();
        }
    }
    if (connectFailed) {
        ShowError(Caption(), "Ошибка подключения к базе данных.");
        return;
    }
    if (ok) {
        ShowInformation(Caption(), "Выполнение скрипта завершено успешно.");
    } else {
        // The "c" before "ошибками" is the Latin letter, as the text has it.
        ShowError(Caption(), "Выполнение скрипта завершено c ошибками.");
    }
}

}  // namespace qm
