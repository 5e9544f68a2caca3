#include <cerrno>
#include <cstdio>
#include <exception>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "operations/data_module.h"
#include "operations/file_witness.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qm {

namespace {

// The largest page size the server restores to; it refuses a larger request
// outright ("expected page size") instead of rounding it down.
constexpr std::uint32_t kLargestPageSize = 32768;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// A name beside the target that nothing uses yet: the target's name, the kind
// and eight random hexadecimal digits.
std::string FreshSiblingName(const std::string& target, const char* kind) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (;;) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        std::string name = target + kind + suffix;
        if (!platform::PathExists(name)) return name;
    }
}

// An exclusive lock on an existing target, held while it is replaced. The
// Firebird engine locks every database file it has open, so the lock is
// refused while any attachment, in this process or another, uses the
// database; an engine that opens the file while the lock is held fails in
// turn. No lock is needed, nor taken, when there is no file at the path.
class TargetLock {
public:
    explicit TargetLock(const std::string& target) : lock_(target) {
        using Status = platform::ExclusiveFileLock::Status;
        switch (lock_.GetStatus()) {
            case Status::Held:
            case Status::Missing:
                return;
            case Status::Failed:
                throw std::runtime_error("Невозможно открыть файл базы данных " + Quoted(target) +
                                         ": " + lock_.Error().message());
            case Status::NotAFile:
                throw std::runtime_error("Невозможно заменить " + Quoted(target) +
                                         ": это не файл базы данных.");
            case Status::InUse:
                throw std::runtime_error("Файл базы данных " + Quoted(target) +
                                         " открыт другим приложением, заменить его невозможно.");
        }
    }
    bool Held() const { return lock_.Held(); }

private:
    platform::ExclusiveFileLock lock_;
};

// The server ends a restore whose archive breaks off (a truncated file) with
// its output as after a success, leaving a database it never brought online.
// Such a database is refused here, before it can replace anything.
void CheckRestoredDatabase(TComponent* owner, const std::string& file, const std::string& archive,
                           const TSetting& setting) {
    TFbDatabase db(owner, "RestoredDataBase");
    db.SetDBName(file);
    db.SetDBParams({"user_name=SYSDBA", "password=" + setting.SYSDBAPassword});
    db.SetSQLDialect(3);
    db.SetLibraryName(setting.LibraryName);
    db.Connect();
    std::int64_t mode = -1;
    {
        TFbQuery query(&db, "ShutdownMode");
        query.SetDatabase(&db);
        db.InternalTransaction().StartTransaction();
        query.SetSqlText({"SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE"});
        query.ExecuteQuery();
        if (!query.Eof()) mode = query.FieldAsInt64(0);
        query.Close();
    }
    db.Disconnect();
    if (mode != 0) {
        throw std::runtime_error("Архив " + Quoted(archive) +
                                 " неполный или повреждён: сервер не завершил восстановление "
                                 "базы данных.");
    }
}

// Puts the complete database in the target's place, so that at every moment
// the old database or the new one exists, and the new one is at the path once
// this returns. The old one steps aside under a name of its own before the
// new one takes the path: renaming over it would make some file systems (ext4)
// push the whole new file to disk on the spot, a tenth of the restore's time.
// The server wrote the new file under its own write policy, as it writes a
// database it restores in place.
void MoveIntoPlace(const std::string& restored, const std::string& target) {
    const TargetLock lock(target);
    std::string aside;
    if (lock.Held()) {
        aside = FreshSiblingName(target, ".replaced-");
        if (std::rename(target.c_str(), aside.c_str()) != 0) {
            const int code = errno;
            throw std::runtime_error("Невозможно заменить файл базы данных " + Quoted(target) +
                                     ": " + std::generic_category().message(code));
        }
    }
    // A file that appears at the path meanwhile was put there by someone else
    // and is not replaced unasked.
    if (const std::error_code error = platform::RenameNoReplace(restored, target)) {
        std::string text =
            "Невозможно заменить файл базы данных " + Quoted(target) + ": " + error.message();
        if (!aside.empty() && platform::RenameNoReplace(aside, target))
            text += ". Прежняя база данных сохранена как " + Quoted(aside) + ".";
        throw std::runtime_error(text);
    }
    if (!aside.empty()) platform::DeleteFile(aside);
}

}  // namespace

std::int32_t RestorePageSize(std::uint32_t clusterSize) {
    if (clusterSize == 0 || clusterSize > kLargestPageSize) return 0;
    return static_cast<std::int32_t>(clusterSize);
}

bool Tdm::RestoreBase(const std::string& archive, const std::string& dbFile, ILogView* log) {
    AddLog("Восстановление базы данных " + Quoted(dbFile) + " началось...", log);
    // The file to replace: an existing path is followed through its symbolic
    // links, so that the database file itself is replaced and not the link.
    const std::string target = platform::ResolveSymbolicLinks(dbFile);
    // The server builds the database under a name of its own, so a restore
    // that fails half-way never touches the target; only the database this
    // run has built may be deleted then.
    const std::string work = FreshSiblingName(target, ".restore-");
    const TFileWitness witness(work);
    bool ok = false;
    try {
        if (dbFile.empty()) throw std::runtime_error("Файл базы данных не указан.");
        // A database in use is refused before the long restore, not after it.
        { const TargetLock probe(target); }

        TFbRestoreService& svc = *RestoreService;
        svc.DatabaseName.clear();
        svc.BackupFile.clear();
        // Lower case here, unlike the database connection's "SYSDBA".
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.SetLibraryName(setting_.LibraryName);
        svc.SetActive(true);
        svc.PageSize = RestorePageSize(GetClusterSize(target));
        svc.DatabaseName = {work};
        svc.BackupFile = {archive};
        {
            // The engine asks for the next volume of an archive that breaks off
            // on the process's own standard input and waits there for an
            // answer; started from a terminal, the program would wait for ever.
            const platform::StandardInputFromNull detached;
            svc.StartServiceAction();
            while (!svc.OutputEnded()) {
                const std::string line = svc.ReadOutputLine();
                if (!line.empty()) AddLog(line, log);
            }
        }
        // The output has ended, so the server is done with the new database;
        // a failing detach is logged but changes nothing about it.
        try {
            svc.SetActive(false);
        } catch (const std::exception& e) {
            AddLog(e.what(), log);
        }

        CheckRestoredDatabase(this, work, archive, setting_);
        MoveIntoPlace(work, target);
        AddLog("Создана база данных: " + dbFile, log);
        AddLog("Восстановление успешно завершено.", log);
        ok = true;
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
        AddLog("Восстановление прервано из-за ошибки.", log);
        if (witness.TouchedSinceStart() && platform::DeleteFile(work))
            AddLog("Повреждённая база данных была удалена: " + work, log);
    }
    // Must not escape either, or the dialog would never hide its wait window.
    try {
        if (RestoreService->Active()) RestoreService->SetActive(false);
    } catch (const std::exception& e) {
        AddLog(e.what(), log);
    }
    return ok;
}

}  // namespace qm
