#include <exception>
#include <string>
#include <utility>

#include "firebird/scripter.h"
#include "firebird/transaction.h"
#include "operations/data_module.h"
#include "operations/script_text.h"
#include "platform/files.h"

namespace qm {

namespace {

// Points the error event at the run's log view and character set for the
// length of one run.
class ScriptLogScope {
public:
    ScriptLogScope(ILogView*& slot, ILogView* log, std::string& charSetSlot, std::string charSet)
        : slot_(slot), previous_(slot), charSetSlot_(charSetSlot), previousCharSet_(charSetSlot) {
        slot_ = log;
        charSetSlot_ = std::move(charSet);
    }
    ~ScriptLogScope() {
        slot_ = previous_;
        charSetSlot_ = std::move(previousCharSet_);
    }
    ScriptLogScope(const ScriptLogScope&) = delete;
    ScriptLogScope& operator=(const ScriptLogScope&) = delete;

private:
    ILogView*& slot_;
    ILogView* previous_;
    std::string& charSetSlot_;
    std::string previousCharSet_;
};

}  // namespace

bool Tdm::ScriptBase(const std::string& scriptFile, ILogView* log, const std::string& charSet) {
    // The databases the script names are asked for once per run.
    const RoutePin pin(*this);
    const std::optional<std::string> text = platform::ReadWholeFile(scriptFile);
    if (!text) {
        AddLog("Не могу открыть файл скрипта для базы данных: " + scriptFile, log);
        return false;
    }
    Script->SetScript(SplitTextLines(*text), scriptFile);
    if (Script->Script().empty()) {
        AddLog("Скрипт действий для базы данных пустой.", log);
        return false;
    }

    ScriptLogScope scope(scriptLog_, log, scriptCharSet_, charSet);
    ScriptFailed = false;
    AddLog("Выполнение скрипта...", log);
    bool ok = false;
    try {
        Script->RunScript(1);
        // Committed before the outcome is written: a commit that is refused
        // (a check the server defers to it) makes the run a failed one.
        TFbTransaction& tr = Script->CurrentTransaction();
        if (tr.Active()) tr.Commit();
        if (ScriptFailed) {
            AddLog("Скрипт выполнен некорректно.", log);
        } else {
            ok = true;
            AddLog("Скрипт выполнен успешно.", log);
        }
    } catch (const std::exception& e) {
        // An error that left the run instead of coming back through
        // ScriptExecuteError: the run ended at that statement, and what it
        // left uncommitted goes as the work of a failed statement does.
        AddLog(ScriptTextToUtf8(e.what(), charSet), log);
        AddLog("Скрипт выполнен некорректно.", log);
        ok = false;
        try {
            TFbTransaction& tr = Script->CurrentTransaction();
            if (tr.Active()) tr.RollBack();
        } catch (const std::exception& rollbackError) {
            AddLog(ScriptTextToUtf8(rollbackError.what(), charSet), log);
        }
    }
    return ok;
}

void Tdm::ScriptExecuteError(TFbScripter&, int, int Line, const std::vector<std::string>&, int,
                             const std::string& Msg, bool& doRollBack, bool& Stop) {
    ScriptFailed = true;
    AddLog("\r\nОшибка в строке номер: " + std::to_string(Line), scriptLog_);
    AddLog(ScriptTextToUtf8(Msg, scriptCharSet_), scriptLog_);
    doRollBack = true;
    Stop = false;
}

}  // namespace qm
