#include "operations/optimization.h"

#include <cstdio>

#include "operations/file_witness.h"
#include "platform/files.h"

namespace qm {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

void LogDeleted(const std::string& archive, ILogView* log) {
    Tdm::AddLog("Временный архив " + Quoted(archive) + " был удалён.", log);
}

}  // namespace

std::string OptimizationArchiveName(const TFirebirdBase& base, const std::tm& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "_%04d%02d%02d%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return TFirebirdBaseList::GetArchiveBaseName(base) + stamp + ".tmp";
}

std::string OptimizationArchiveName(const TFirebirdBase& base) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return OptimizationArchiveName(base, local);
}

bool OptimizeBase(Tdm& dm, const TFirebirdBase& base, const std::string& tempArchive,
                  ILogView* log) {
    // A file that already stood under the temporary name is not this run's to
    // delete.
    const TFileWitness witness(tempArchive);

    if (!dm.BackupBase(base, tempArchive, log)) {
        if (witness.TouchedSinceStart() && platform::DeleteFile(tempArchive))
            LogDeleted(tempArchive, log);
        return false;
    }

    if (!dm.RestoreBase(tempArchive, base.DBFile, log)) {
        // The restore has left the database file as it was, but the archive
        // the backup has just completed is the one copy known to be sound.
        if (platform::FileExists(tempArchive)) {
            Tdm::AddLog(
                "Временный архив " + Quoted(tempArchive) + " сохранён как копия базы данных.", log);
        }
        return false;
    }

    if (witness.TouchedSinceStart() && platform::DeleteFile(tempArchive))
        LogDeleted(tempArchive, log);
    else
        Tdm::AddLog("Невозможно  удалить временный архив " + Quoted(tempArchive), log);

    if (dm.ValidationBase(base, log)) {
        Tdm::AddLog("Оптимизация завершена.", log);
        return true;
    }
    Tdm::AddLog("Оптимизация прервана из-за ошибки.", log);
    return false;
}

}  // namespace qm
