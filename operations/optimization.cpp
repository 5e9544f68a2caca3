#include "operations/optimization.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <system_error>
#include <thread>

#include "firebird/services.h"
#include "operations/file_witness.h"
#include "operations/sibling_name.h"
#include "platform/files.h"
#include "platform/local_time.h"

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
    return OptimizationArchiveName(base, platform::LocalTime(now));
}

namespace {

// Keeps every other client away from the database for the whole run, so that
// nothing committed after the backup began can be lost with the old file: the
// database is shut down (every attachment broken off; the engine lets go of
// the file, whatever its LINGER says) and put under a name of its own, where
// only this run reaches it, and brought online there. The run then backs it
// up, restores the archive under the database's own name, and lets the old
// file go; a run that fails gives it back under its own name, online.
class TDatabaseLockout {
public:
    TDatabaseLockout(Tdm& dm, std::string target, ILogView* log)
        : dm_(dm), target_(std::move(target)), log_(log) {}

    // False when the database could not be taken away; it is then as it was
    // and the log says why.
    bool Begin() {
        const std::string server = EffectiveServerSetting(dm_.Setting().Server);
        if (!IsLocalServerSetting(server)) {
            Tdm::AddLog(NotThisMachine(TServerRoute::Server(server)), log_);
            return false;
        }
        try {
            dm_.SetDatabaseState(target_, TShutdownMode::Full);
        } catch (const std::exception& e) {
            Tdm::AddLog(e.what(), log_);
            return false;
        }
        Tdm::AddLog("Подключения к базе данных " + Quoted(target_) +
                        " закрыты: на время оптимизации база данных выключена.",
                    log_);
        aside_ = FreshSiblingName(target_, kOptimizingKind);
        std::string failure;
        // The engine lets go of the file a moment after it has answered.
        for (int waited = 0;; waited += 50) {
            const platform::ExclusiveFileLock lock(target_);
            if (lock.Held()) {
                if (const std::error_code e = platform::RenameNoReplace(target_, aside_))
                    failure = e.message();
                break;
            }
            if (waited >= 3000) {
                failure = "файл занят другим приложением";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!failure.empty()) {
            Tdm::AddLog("Невозможно переименовать файл базы данных " + Quoted(target_) + ": " +
                            failure,
                        log_);
            aside_.clear();
            BringOnline(target_);
            return false;
        }
        if (!BringOnline(aside_)) {
            GiveBack(false);
            return false;
        }
        return true;
    }

    // Where the database is during the run.
    const std::string& Aside() const { return aside_; }

    // The run failed: the database goes back under its own name, and online
    // when it is not yet.
    void GiveBack(bool online = true) {
        if (const std::error_code e = platform::RenameNoReplace(aside_, target_)) {
            Tdm::AddLog("Невозможно вернуть базе данных имя " + Quoted(target_) + ": " +
                            e.message() + ". Прежняя база данных сохранена как " +
                            Quoted(aside_) + ".",
                        log_);
            return;
        }
        if (online || BringOnline(target_))
            Tdm::AddLog("База данных " + Quoted(target_) + " снова доступна без изменений.", log_);
    }

    // The run has put the rebuilt database in place: the old file goes, once
    // the engine has let go of it.
    void Discard() {
        try {
            dm_.SetDatabaseState(aside_, TShutdownMode::Full);
        } catch (const std::exception&) {
        }
        if (!platform::DeleteFile(aside_))
            Tdm::AddLog("Невозможно удалить прежний файл базы данных " + Quoted(aside_), log_);
    }

private:
    bool BringOnline(const std::string& file) {
        try {
            dm_.SetDatabaseState(file, TShutdownMode::Normal);
            return true;
        } catch (const std::exception& e) {
            Tdm::AddLog(e.what(), log_);
            return false;
        }
    }

    Tdm& dm_;
    std::string target_;
    ILogView* log_;
    std::string aside_;
};

}  // namespace

bool OptimizeBase(Tdm& dm, const TFirebirdBase& base, const std::string& tempArchive,
                  ILogView* log) {
    // Every step reaches the same server.
    const Tdm::RoutePin pin(dm);
    // A file that already stood under the temporary name is not this run's to
    // delete.
    const TFileWitness witness(tempArchive);
    const std::string target = platform::ResolveSymbolicLinks(base.DBFile);

    TDatabaseLockout lockout(dm, target, log);
    if (!lockout.Begin()) {
        Tdm::AddLog("Оптимизация прервана из-за ошибки.", log);
        return false;
    }

    TFirebirdBase aside = base;
    aside.DBFile = lockout.Aside();
    if (!dm.BackupBase(aside, tempArchive, log)) {
        if (witness.TouchedSinceStart() && platform::DeleteFile(tempArchive))
            LogDeleted(tempArchive, log);
        lockout.GiveBack();
        return false;
    }

    // The database keeps its own page size.
    if (!dm.RestoreBase(tempArchive, target, log, true)) {
        // The archive the backup has just completed is a sound copy, beside
        // the database given back.
        if (platform::FileExists(tempArchive)) {
            Tdm::AddLog(
                "Временный архив " + Quoted(tempArchive) + " сохранён как копия базы данных.", log);
        }
        lockout.GiveBack();
        return false;
    }
    lockout.Discard();

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
