#include <exception>

#include "firebird/scripter.h"
#include "firebird/transaction.h"
#include "operations/data_module.h"
#include "platform/files.h"

namespace qm {

namespace {

// Points the error event at the run's log view for the length of one run.
class ScriptLogScope {
public:
    ScriptLogScope(ILogView*& slot, ILogView* log) : slot_(slot), previous_(slot) { slot_ = log; }
    ~ScriptLogScope() { slot_ = previous_; }
    ScriptLogScope(const ScriptLogScope&) = delete;
    ScriptLogScope& operator=(const ScriptLogScope&) = delete;

private:
    ILogView*& slot_;
    ILogView* previous_;
};

}  // namespace

bool Tdm::ScriptBase(const std::string& scriptFile, ILogView* log) {
    const std::optional<std::string> text = platform::ReadWholeFile(scriptFile);
    if (!text) {
        AddLog("Не могу открыть файл скрипта для базы данных: " + scriptFile, log);
        return false;
    }
    Script->SetScript(SplitTextLines(*text));
    if (Script->Script().empty()) {
        AddLog("Скрипт действий для базы данных пустой.", log);
        return false;
    }

    ScriptLogScope scope(scriptLog_, log);
    ScriptFailed = false;
    AddLog("Выполнение скрипта...", log);
    bool ok = false;
    try {
        Script->RunScript(1);
        if (ScriptFailed) {
            AddLog("Скрипт выполнен некорректно.", log);
        } else {
            ok = true;
            AddLog("Скрипт выполнен успешно.", log);
        }
        TFbTransaction& tr = Script->CurrentTransaction();
        if (tr.Active()) tr.Commit();
    } catch (const std::exception& e) {
        // An error that left the run instead of coming back through
        // ScriptExecuteError: the run ended at that statement, and what it
        // left uncommitted goes as the work of a failed statement does.
        AddLog(e.what(), log);
        AddLog("Скрипт выполнен некорректно.", log);
        ok = false;
        try {
            TFbTransaction& tr = Script->CurrentTransaction();
            if (tr.Active()) tr.RollBack();
        } catch (const std::exception& rollbackError) {
            AddLog(rollbackError.what(), log);
        }
    }
    return ok;
}

void Tdm::ScriptExecuteError(TFbScripter&, int, int Line, const std::vector<std::string>&, int,
                             const std::string& Msg, bool& doRollBack, bool& Stop) {
    ScriptFailed = true;
    AddLog("\r\nОшибка в строке номер: " + std::to_string(Line), scriptLog_);
    AddLog(Msg, scriptLog_);
    doRollBack = true;
    Stop = false;
}

}  // namespace qm
