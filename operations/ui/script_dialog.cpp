#include "operations/ui/script_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QValidator>
#include <chrono>
#include <exception>

#include "firebird/database.h"
#include "operations/script_text.h"
#include "operations/ui/file_name_edit.h"
#include "platform/files.h"

namespace qm {

namespace {

// Letters typed into the character-set box become capitals.
class UpperCaseValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

// The log view of a script run. A script of many refused statements writes
// two lines for each, and a view that takes every line at once lays out and
// paints thousands of lines a second, which costs the run many times what the
// server does. Lines are handed on together, at most every 50 ms, so that
// the view paints what a person can follow; the rest goes at Flush.
class TBatchedLog final : public ILogView {
public:
    explicit TBatchedLog(ILogView* view) : view_(view) {}
    // Whatever way the run is left, its last lines reach the view before the
    // lines that follow it.
    ~TBatchedLog() override {
        try {
            Flush();
        } catch (...) {
        }
    }
    TBatchedLog(const TBatchedLog&) = delete;
    TBatchedLog& operator=(const TBatchedLog&) = delete;
    void Clear() override {
        pending_.clear();
        view_->Clear();
    }
    void AddLine(const std::string& line) override {
        if (!pending_.empty()) pending_ += '\n';
        pending_ += line;
        if (std::chrono::steady_clock::now() - lastFlush_ >= kInterval) Flush();
    }
    void Flush() {
        if (pending_.empty()) return;
        view_->AddLine(pending_);
        pending_.clear();
        lastFlush_ = std::chrono::steady_clock::now();
    }

private:
    static constexpr std::chrono::milliseconds kInterval{50};
    ILogView* view_;
    std::string pending_;
    std::chrono::steady_clock::time_point lastFlush_{};
};

const char* const kCharSets[] = {
    "ASCII",     "CYRL",        "DOS437", "DOS850",    "DOS852",    "DOS857",  "DOS860",  "DOS861",
    "DOS863",    "DOS865",      "DOS866", "EUCJ_0208", "ISO8859_1", "NEXT",    "NONE",    "OCTETS",
    "SJIS_0208", "UNICODE_FSS", "UTF8",   "WIN1250",   "WIN1251",   "WIN1252", "WIN1253", "WIN1254",
};

}  // namespace

TfrmScriptBase::TfrmScriptBase(TFirebirdBase& base, Tdm& dm, QWidget* owner)
    : TOperationDialog(&base, dm, owner, "frmScriptBase", kCaptionPrefix + base.Description,
                       "Выполнить") {
    QLabel* lbScriptFile = NamedLabel("lbScriptFile", "Файл скрипта :");
    edScriptFile = new TFileNameEdit(QStringLiteral("edScriptFile"), this);
    edScriptFile->OnBrowse = [this] { Guarded([this] { edScriptFileBrowse(); }); };

    QLabel* lblSQLDialect = NamedLabel("lblSQLDialect", "SQL Диалект :");
    seSQLDialect = new QSpinBox(this);
    seSQLDialect->setObjectName(QStringLiteral("seSQLDialect"));
    seSQLDialect->setRange(1, 3);
    seSQLDialect->setValue(3);
    seSQLDialect->setMinimumWidth(65);

    QLabel* lblCharSet = NamedLabel("lblCharSet", "Кодировка :");
    cbCharSet = new QComboBox(this);
    cbCharSet->setObjectName(QStringLiteral("cbCharSet"));
    cbCharSet->setEditable(true);
    cbCharSet->setInsertPolicy(QComboBox::NoInsert);
    for (const char* cs : kCharSets) cbCharSet->addItem(QString::fromLatin1(cs));
    cbCharSet->setCurrentIndex(cbCharSet->findText(QStringLiteral("WIN1251")));
    cbCharSet->lineEdit()->setValidator(new UpperCaseValidator(cbCharSet));
    cbCharSet->setMinimumWidth(121);

    QLabel* lblRole = NamedLabel("lblRole", "Роль :");
    edRole = new QLineEdit(this);
    edRole->setObjectName(QStringLiteral("edRole"));
    edRole->setMinimumWidth(161);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(lbScriptFile);
    fileRow->addWidget(edScriptFile, 1);
    auto* paramRow = new QHBoxLayout;
    paramRow->addWidget(lblSQLDialect);
    paramRow->addWidget(seSQLDialect);
    paramRow->addStretch(1);
    paramRow->addWidget(lblCharSet);
    paramRow->addWidget(cbCharSet);
    paramRow->addStretch(1);
    paramRow->addWidget(lblRole);
    paramRow->addWidget(edRole);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 20, 13, 17);
    layout->addLayout(fileRow);
    layout->addSpacing(12);
    layout->addLayout(paramRow);
    layout->addSpacing(12);
    AddLogAndButtons(layout, NamedLabel("lblScriptLog", "Журнал выполнения скрипта :"), 21);

    SetTabOrder({edScriptFile, seSQLDialect, cbCharSet, edRole});
}

void TfrmScriptBase::edScriptFileBrowse() {
    const std::optional<std::string> chosen =
        AskFileName(*edScriptFile, FileDialogKind::Open, kOpenTitle, kScriptFilter);
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
    MemoLog->setPlainText(Q(ScriptTextToUtf8(*text, S(cbCharSet->currentText()))));
}

void TfrmScriptBase::CloseConnection() {
    TFbDatabase& db = *dm_.DataBase;
    try {
        if (db.Connected()) db.Disconnect();
    } catch (const std::exception& e) {
        Tdm::AddLog(e.what(), Log());
        db.ForceDisconnect();
    }
}

void TfrmScriptBase::btnOkClick() {
    if (!platform::FileExists(edScriptFile->Name())) {
        edScriptFile->setFocus();
        ShowError(Caption(), "Файл скрипта не найден.");
        return;
    }
    if (!ConfirmRun("Начать выполнение скрипта?",
                    "Возможно к базе данных подключены другие приложения. Начать выполнение "
                    "скрипта всё равно?"))
        return;

    bool connectFailed = false;
    const bool ok = RunOperation("Выполняется скрипт над базы данных...", [&](ILogView* log) {
        try {
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
                return false;
            }
            Tdm::AddLog("Соединение установлено.", log);
            bool done = false;
            {
                TBatchedLog runLog(log);
                done = dm_.ScriptBase(edScriptFile->Name(), &runLog, S(cbCharSet->currentText()));
            }
            Tdm::AddLog("Отключение от базы данных.", log);
            CloseConnection();
            return done;
        } catch (const std::exception& e) {
            // Whatever escaped the steps above ends the run as failed; the
            // connection is not left open behind it.
            Tdm::AddLog(e.what(), log);
            CloseConnection();
            return false;
        }
    });
    if (connectFailed) {
        ShowError(Caption(), "Ошибка подключения к базе данных.");
        return;
    }
    // The "c" before "ошибками" is the Latin letter, as the text has it.
    ShowOutcome(ok, "Выполнение скрипта завершено успешно.",
                "Выполнение скрипта завершено c ошибками.");
}

}  // namespace qm
