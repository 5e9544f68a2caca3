#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "operations/interaction.h"

namespace qm {

class TFbDatabase;
class TFbTransaction;
class TFbBackupService;
class TFbRestoreService;
class TFbValidationService;
class TFbScripter;

// The data module: the one place that holds the program's Firebird components
// and runs the maintenance operations on them. It reads the SYSDBA password
// and the client library from the settings at the moment of each operation.
// Operations never raise and never show a box themselves: they log what
// happened to the log view they are given and return whether they succeeded.
class Tdm : public TComponent {
public:
    // owner: the main window's component ("Moorquill"), so that an error's
    // origin reads "Moorquill.dm.BackupService".
    Tdm(TComponent* owner, const TSetting& setting);
    ~Tdm() override;

    std::unique_ptr<TFbDatabase> DataBase;
    std::unique_ptr<TFbTransaction> Transaction;
    std::unique_ptr<TFbBackupService> BackupService;
    std::unique_ptr<TFbRestoreService> RestoreService;
    std::unique_ptr<TFbValidationService> ValidationService;
    // The script executor: Database = DataBase, Transaction = Transaction,
    // OnExecuteError = ScriptExecuteError.
    std::unique_ptr<TFbScripter> Script;

    // Set when a statement of the running script failed.
    bool ScriptFailed = false;

    // Puts the database path, character set, role and dialect into DataBase,
    // with the SYSDBA user, the settings' password and client library.
    void SetConnectParams(const std::string& dbFile, const std::string& charSet,
                          const std::string& role, int dialect);
    // Opens and closes DataBase once; on failure shows the error's message in
    // a box titled "Ошибка тестового подключения" and returns false.
    bool TestConnect();

    // Appends "dd.mm.yyyy HH:nn:ss > " and the text as a new line of the log
    // view (nothing without a view), then processes pending events once.
    static void AddLog(const std::string& text, ILogView* log);
    // The time-stamp prefix of AddLog for a local time.
    static std::string LogPrefix(const std::tm& localTime);

    // Backs the registered database up to the archive path.
    bool BackupBase(const TFirebirdBase& base, const std::string& archive, ILogView* log);
    // Restores the archive to the database path (replacing an existing file).
    // The database is built under a fresh name beside the target and moved
    // over it only once it is complete and the target is not in use, so a
    // failed run leaves an existing target exactly as it was.
    bool RestoreBase(const std::string& archive, const std::string& dbFile, ILogView* log);
    // Validates the registered database; true when the server found nothing.
    bool ValidationBase(const TFirebirdBase& base, ILogView* log);
    // Runs the script file over the connection SetConnectParams prepared; true
    // when it was read, no statement failed and what it left open was
    // committed. charSet is the connection character set the script is
    // written in: the server's messages go to the log converted from it.
    bool ScriptBase(const std::string& scriptFile, ILogView* log, const std::string& charSet = {});
    // The error event of Script: marks the run as failed, writes the line
    // number and the message to the log view of the running ScriptBase and
    // answers roll back and go on.
    void ScriptExecuteError(TFbScripter& Sender, int StatementNo, int Line,
                            const std::vector<std::string>& Statement, int SQLCode,
                            const std::string& Msg, bool& doRollBack, bool& Stop);

    const TSetting& Setting() const { return setting_; }

private:
    const TSetting& setting_;
    ILogView* scriptLog_ = nullptr;
    std::string scriptCharSet_;
};

// True when the existing file can be opened for reading and writing with no
// other process holding it (a database the Firebird server has open is not).
bool IsFileFree(const std::string& path);

// The allocation unit of the file system that holds the path's directory, in
// bytes; 0 when it cannot be read (the server then chooses the page size).
std::uint32_t GetClusterSize(const std::string& path);

// The page size a restore asks for on a volume with this allocation unit: the
// unit itself where the server takes it (it rounds a size below 4096 or between
// two page sizes up), 0 where it would refuse the restore (above 32768, or no
// unit known), which leaves the archive's own page size.
std::int32_t RestorePageSize(std::uint32_t clusterSize);

}  // namespace qm
