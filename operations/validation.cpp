#include <cstdint>
#include <exception>
#include <string>

#include "firebird/errors.h"
#include "firebird/param_block.h"
#include "firebird/services.h"
#include "operations/data_module.h"

namespace qm {

namespace {

// The server does not always send its findings as output lines: a check that
// found errors may end with this error ("Summary of validation errors"), whose
// lines are the findings. The check has then run to its end; it was not
// interrupted.
constexpr std::int32_t kValidationSummary = 335740952;

// "secondary server attachments cannot validate databases": the full check
// needs the database to itself.
constexpr std::int32_t kOtherAttachments = 335544461;  // isc_cant_validate

bool ContainsError(const std::string& line) {
    std::string lower = line;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower.find("error") != std::string::npos;
}

// Logs each non-empty line of the summary; the number of lines logged.
int LogSummary(const std::string& text, ILogView* log) {
    int lines = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            Tdm::AddLog(line, log);
            ++lines;
        }
        start = end + 1;
    }
    return lines;
}

}  // namespace

bool Tdm::ValidationBase(const TFirebirdBase& base, ILogView* log) {
    // The online check, when it comes to one, reaches the same server.
    const RoutePin pin(*this);
    AddLog("Проверка \"" + base.Description + "\" началась...", log);
    bool ok = false;
    try {
        TFbValidationService& svc = *ValidationService;
        // Lower case here, unlike the database connection's "SYSDBA".
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.DatabaseName = base.DBFile;
        svc.SetLibraryName(setting_.LibraryName);
        AttachThroughRoute(svc);
        // The server says nothing about a sound database: every line it sends
        // is a finding, whatever its wording.
        int findings = 0;
        try {
            svc.StartServiceAction();
            while (!svc.OutputEnded()) {
                const std::string line = svc.ReadOutputLine();
                if (line.empty()) continue;
                AddLog(line, log);
                ++findings;
            }
        } catch (const EFbEngineError& e) {
            if (findings == 0 && e.HasEngineErrorCode(kOtherAttachments)) {
                findings = OnlineValidation(base.DBFile, log);
            } else {
                if (e.EngineErrorCode() != kValidationSummary) throw;
                const int lines = LogSummary(e.EngineErrorText(), log);
                if (lines == 0) throw;
                findings += lines;
            }
        }
        if (findings > 0) {
            AddLog("Проверка выявила ошибки.", log);
        } else {
            AddLog("Ошибок не обнаружено.", log);
            ok = true;
        }
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
        AddLog("Проверка прервана из-за ошибки.", log);
    }
    // The check is over once the output has ended; a failing detach is logged
    // but must not escape, or the dialog would never hide its wait window.
    try {
        if (ValidationService->Active()) ValidationService->SetActive(false);
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
    }
    return ok;
}

int Tdm::OnlineValidation(const std::string& dbFile, ILogView* log) {
    AddLog("К базе данных подключены другие приложения: выполняется проверка без их отключения "
           "(проверка страниц базы данных не выполняется).",
           log);
    OnlineValidationService->DatabaseName = dbFile;
    int findings = 0;
    // This check reports its progress too; only what it says of errors counts
    // as a finding.
    RunServiceAction(*OnlineValidationService, [&](const std::string& line) {
        if (StripControl(line).empty()) return;
        AddLog(line, log);
        if (ContainsError(line)) ++findings;
    });
    return findings;
}

}  // namespace qm
