#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <system_error>

#include "firebird/database.h"
#include "firebird/query.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "operations/data_module.h"
#include "operations/file_witness.h"
#include "operations/sibling_name.h"
#include "platform/files.h"
#include "platform/process.h"

namespace qm {

namespace {

// The largest page size the server restores to; it refuses a larger request
// outright ("expected page size") instead of rounding it down.
constexpr std::uint32_t kLargestPageSize = 32768;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// An exclusive lock on an existing target, held while it is replaced. The
// Firebird engine locks every database file it has open, so the lock is
// refused while any attachment, in this process or another, uses the
// database; an engine that opens the file while the lock is held fails in
// turn. No lock is needed, nor taken, when there is no file at the path.
class TargetLock {
public:
    // A server lets go of a database it has just shut down a moment after it
    // has answered; waitMs is how long a file in use is asked again.
    explicit TargetLock(const std::string& target, int waitMs = 0)
        : target_(target), lock_(std::make_unique<platform::ExclusiveFileLock>(target)) {
        for (int waited = 0; InUse() && waited < waitMs; waited += 50) {
            lock_.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            lock_ = std::make_unique<platform::ExclusiveFileLock>(target);
        }
    }
    bool Held() const { return lock_->Held(); }
    bool InUse() const { return lock_->GetStatus() == platform::ExclusiveFileLock::Status::InUse; }
    // Raises the reason why the target cannot be replaced, if there is one.
    void Check() const {
        using Status = platform::ExclusiveFileLock::Status;
        switch (lock_->GetStatus()) {
            case Status::Held:
            case Status::Missing:
                return;
            case Status::Failed:
                throw std::runtime_error("Невозможно открыть файл базы данных " + Quoted(target_) +
                                         ": " + lock_->Error().message());
            case Status::NotAFile:
                throw std::runtime_error("Невозможно заменить " + Quoted(target_) +
                                         ": это не файл базы данных.");
            case Status::InUse:
                throw std::runtime_error("Файл базы данных " + Quoted(target_) +
                                         " открыт другим приложением, заменить его невозможно.");
        }
    }

private:
    std::string target_;
    std::unique_ptr<platform::ExclusiveFileLock> lock_;
};

// The server ends a restore whose archive breaks off (a truncated file) with
// its output as after a success, leaving a database it never brought online.
// Such a database is refused here, before it can replace anything.
void CheckRestoredDatabase(TComponent* owner, const TServerRoute& route, const std::string& file,
                           const std::string& archive, const TSetting& setting) {
    TFbDatabase db(owner, "RestoredDataBase");
    db.SetDBName(route.DatabaseString(file));
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
    const TargetLock lock(target, 3000);
    lock.Check();
    std::string aside;
    if (lock.Held()) {
        aside = FreshSiblingName(target, kReplacedKind);
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

std::string NotThisMachine(const TServerRoute& route) {
    return "Сервер Firebird " + route.ServerName() +
           " работает на другом компьютере: базу данных заменяют только на компьютере её "
           "сервера.";
}

std::int32_t RestorePageSize(std::uint32_t clusterSize, std::uint32_t archivePageSize) {
    if (archivePageSize > kLargestPageSize) archivePageSize = 0;
    if (clusterSize == 0 || clusterSize > kLargestPageSize)
        return static_cast<std::int32_t>(archivePageSize);
    return static_cast<std::int32_t>(std::max(clusterSize, archivePageSize));
}

std::uint32_t ArchivePageSize(const std::string& archive) {
    // An archive begins with records of attributes: a record type byte, then
    // attributes of a tag byte, a length byte and the value, up to the tag 0.
    // The first record describes the archive itself, the second the database,
    // whose attribute 5 is its page size in four bytes, least significant
    // first.
    constexpr unsigned char kArchiveRecord = 0, kDatabaseRecord = 14, kPageSizeTag = 5;
    std::ifstream in(archive, std::ios::binary);
    char raw[4096];
    in.read(raw, sizeof raw);
    const std::size_t size = static_cast<std::size_t>(in.gcount());
    const auto* b = reinterpret_cast<const unsigned char*>(raw);
    std::size_t at = 0;
    const auto skipAttributes = [&](bool wantPageSize) -> std::uint32_t {
        while (at + 2 <= size && b[at] != 0) {
            const unsigned char tag = b[at];
            const std::size_t length = b[at + 1];
            if (at + 2 + length > size) return 0;
            if (wantPageSize && tag == kPageSizeTag && length == 4) {
                const std::uint32_t v = b[at + 2] | b[at + 3] << 8 | b[at + 4] << 16 |
                                        static_cast<std::uint32_t>(b[at + 5]) << 24;
                // Page sizes are powers of two from 1 KB to the largest.
                if (v >= 1024 && v <= kLargestPageSize && (v & (v - 1)) == 0) return v;
                return 0;
            }
            at += 2 + length;
        }
        ++at;  // the end of the record
        return 0;
    };
    if (size < 2 || b[at++] != kArchiveRecord) return 0;
    skipAttributes(false);
    if (at >= size || b[at++] != kDatabaseRecord) return 0;
    return skipAttributes(true);
}

// Puts the restored database in the target's place. Through a server, an
// existing target is shut down first, so that its clients are disconnected
// and the server lets go of the file; should the replacement fail, it is
// brought back online. In the embedded engine a lingering database of this
// very process is let go; a database that another program holds stays in use
// and is not replaced.
void Tdm::ReplaceTarget(const TServerRoute& route, const std::string& restored,
                        const std::string& target, const std::string& shownName, ILogView* log) {
    if (!platform::FileExists(target)) {
        MoveIntoPlace(restored, target);
        return;
    }
    bool shutDown = false;
    std::string refusal;
    try {
        if (route.IsEmbedded()) {
            ReleaseLinger(target);
        } else {
            SetDatabaseState(target, TShutdownMode::Full);
            shutDown = true;
            AddLog("Подключения к базе данных " + Quoted(shownName) +
                       " закрыты: база данных выключена на время замены.",
                   log);
        }
    } catch (const std::exception& e) {
        // A file that is no database cannot be shut down, and is replaced all
        // the same; whether the file is free decides. The engine of this
        // process cannot even open a database another program holds: that
        // says nothing the lock does not say better.
        if (!route.IsEmbedded()) refusal = e.what();
    }
    try {
        MoveIntoPlace(restored, target);
    } catch (...) {
        if (!refusal.empty()) AddLog(refusal, log);
        if (shutDown) {
            try {
                SetDatabaseState(target, TShutdownMode::Normal);
                AddLog("База данных " + Quoted(shownName) + " снова доступна.", log);
            } catch (const std::exception& e) {
                AddLog(e.what(), log);
            }
        }
        throw;
    }
}

bool Tdm::RestoreBase(const std::string& archive, const std::string& dbFile, ILogView* log,
                      bool keepArchivePageSize) {
    // Every step reaches the server the restore itself reaches.
    const RoutePin pin(*this);
    AddLog("Восстановление базы данных " + Quoted(dbFile) + " началось...", log);
    // The file to replace: an existing path is followed through its symbolic
    // links, so that the database file itself is replaced and not the link.
    const std::string target = platform::ResolveSymbolicLinks(dbFile);
    // The server builds the database under a name of its own, so a restore
    // that fails half-way never touches the target; only the database this
    // run has built may be deleted then.
    const std::string work = FreshSiblingName(target, kRestoringKind);
    const TFileWitness witness(work);
    bool ok = false;
    try {
        if (dbFile.empty()) throw std::runtime_error("Файл базы данных не указан.");
        TFbRestoreService& svc = *RestoreService;
        svc.DatabaseName.clear();
        svc.BackupFile.clear();
        // Lower case here, unlike the database connection's "SYSDBA".
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.SetLibraryName(setting_.LibraryName);
        const TServerRoute route = AttachThroughRoute(svc);
        if (!route.IsLocal()) throw std::runtime_error(NotThisMachine(route));
        if (route.IsEmbedded()) {
            // A database that another program holds is refused before the
            // long restore, not after it. The engine of this process may only
            // be keeping it for its LINGER time: that does not count as use.
            const bool inUse = TargetLock(target).InUse();
            if (inUse) {
                try {
                    ReleaseLinger(target);
                } catch (const std::exception&) {
                }
                TargetLock(target).Check();
            }
        }

        svc.PageSize = keepArchivePageSize
                           ? 0
                           : RestorePageSize(GetClusterSize(target), ArchivePageSize(archive));
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

        CheckRestoredDatabase(this, route, work, archive, setting_);
        ReplaceTarget(route, work, target, dbFile, log);
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
