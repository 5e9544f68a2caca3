#include <exception>

#include "firebird/services.h"
#include "operations/data_module.h"
#include "operations/file_witness.h"
#include "platform/files.h"

namespace qm {

bool Tdm::BackupBase(const TFirebirdBase& base, const std::string& archive, ILogView* log) {
    AddLog("Архивация \"" + base.Description + "\" началась...", log);
    // Taken before the server is asked for anything: a failed run may delete
    // only an archive that it created or changed, never an older one that the
    // user agreed to overwrite and that the run did not reach.
    const TFileWitness witness(archive);
    bool ok = false;
    try {
        TFbBackupService& svc = *BackupService;
        // Lower case here, unlike the database connection's "SYSDBA".
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.DatabaseName = base.DBFile;
        svc.SetLibraryName(setting_.LibraryName);
        svc.BackupFile = {archive};
        AttachThroughRoute(svc);
        svc.StartServiceAction();
        while (!svc.OutputEnded()) {
            const std::string line = svc.ReadOutputLine();
            if (!line.empty()) AddLog(line, log);
        }
        AddLog("Создан архив: " + archive, log);
        AddLog("Ручная архивация успешна завершена.", log);
        ok = true;
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
        AddLog("Архивация прервана из-за ошибки.", log);
        if (witness.TouchedSinceStart() && platform::DeleteFile(archive))
            AddLog("Повреждённый архив был удалён: " + archive, log);
    }
    // The archive is complete once the output has ended, so a failing detach
    // is logged but does not turn a finished backup into a failed one; it
    // must not escape either, or the dialog would never hide its wait window.
    try {
        if (BackupService->Active()) BackupService->SetActive(false);
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
    }
    return ok;
}

}  // namespace qm
