#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
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

namespace qm {

namespace {

// The largest page size the server restores to; it refuses a larger request
// outright ("expected page size") instead of rounding it down.
constexpr std::uint32_t kLargestPageSize = 32768;

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

std::string SystemText(int code) { return std::generic_category().message(code); }

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool PathExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The file a restore over `path` must replace: an existing path is followed
// through its symbolic links, so that the database file itself is replaced and
// not the link to it.
std::string ResolveTarget(const std::string& path) {
    if (!PathExists(path)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

// A name beside the target that nothing uses yet: the target's name, the kind
// and eight random hexadecimal digits.
std::string FreshSiblingName(const std::string& target, const char* kind) {
    std::random_device seed;
    std::mt19937 random(seed());
    for (;;) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", static_cast<unsigned>(random()));
        std::string name = target + kind + suffix;
        if (!PathExists(name)) return name;
    }
}

// The embedded engine's restore asks for the next volume of an archive that
// breaks off on the process's own standard input, and waits there for an
// answer; started from a terminal, the program would wait for ever. While the
// restore runs, standard input reads from /dev/null, so the engine meets its
// end at once and gives up on the archive.
class StandardInputDetached {
public:
    StandardInputDetached() : saved_(::fcntl(0, F_DUPFD_CLOEXEC, 3)) {
        const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (null < 0) return;
        if (null != 0) {
            ::dup2(null, 0);
            ::close(null);
        }
    }
    ~StandardInputDetached() {
        if (saved_ >= 0) {
            ::dup2(saved_, 0);
            ::close(saved_);
        } else {
            ::close(0);
        }
    }
    StandardInputDetached(const StandardInputDetached&) = delete;
    StandardInputDetached& operator=(const StandardInputDetached&) = delete;

private:
    int saved_;  // -1: standard input was closed
};

// An exclusive lock on an existing target, held while it is replaced. The
// Firebird engine locks every database file it has open, so the lock is
// refused while any attachment, in this process or another, uses the
// database; an engine that opens the file while the lock is held fails in
// turn. No lock is needed, nor taken, when there is no file at the path.
class TargetLock {
public:
    explicit TargetLock(const std::string& target)
        : fd_(::open(target.c_str(), O_RDONLY | O_CLOEXEC)) {
        if (fd_.get() < 0) {
            const int code = errno;
            if (code == ENOENT) return;
            throw std::runtime_error("Невозможно открыть файл базы данных " + Quoted(target) +
                                     ": " + SystemText(code));
        }
        struct stat st;
        if (::fstat(fd_.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
            throw std::runtime_error("Невозможно заменить " + Quoted(target) +
                                     ": это не файл базы данных.");
        }
        if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
            throw std::runtime_error("Файл базы данных " + Quoted(target) +
                                     " открыт другим приложением, заменить его невозможно.");
        }
        held_ = true;
    }
    bool Held() const { return held_; }

private:
    FileDescriptor fd_;
    bool held_ = false;
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

// Renames without replacing: a file that stands at `to` stays, and the call
// fails with EEXIST.
int RenameNoReplace(const std::string& from, const std::string& to) {
    int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: a link fails just as well when the
        // name is taken.
        rc = ::link(from.c_str(), to.c_str());
        if (rc == 0) ::unlink(from.c_str());
    }
    return rc;
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
                                     ": " + SystemText(code));
        }
    }
    // A file that appears at the path meanwhile was put there by someone else
    // and is not replaced unasked.
    if (RenameNoReplace(restored, target) != 0) {
        const int code = errno;
        std::string text =
            "Невозможно заменить файл базы данных " + Quoted(target) + ": " + SystemText(code);
        if (!aside.empty() && RenameNoReplace(aside, target) != 0)
            text += ". Прежняя база данных сохранена как " + Quoted(aside) + ".";
        throw std::runtime_error(text);
    }
    if (!aside.empty()) ::unlink(aside.c_str());
}

}  // namespace

std::int32_t RestorePageSize(std::uint32_t clusterSize) {
    if (clusterSize == 0 || clusterSize > kLargestPageSize) return 0;
    return static_cast<std::int32_t>(clusterSize);
}

bool Tdm::RestoreBase(const std::string& archive, const std::string& dbFile, ILogView* log) {
    AddLog("Восстановление базы данных " + Quoted(dbFile) + " началось...", log);
    const std::string target = ResolveTarget(dbFile);
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
            const StandardInputDetached detached;
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
