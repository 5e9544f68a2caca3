#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "config/firebird_base.h"
#include "config/setting.h"
#include "firebird/component.h"
#include "firebird/server_route.h"
#include "operations/interaction.h"

namespace qm {

class TFbDatabase;
class TFbTransaction;
class TFbBackupService;
class TFbRestoreService;
class TFbValidationService;
class TFbOnlineValidationService;
class TFbPropertiesService;
class TFbScripter;
class TFbCustomService;
class TFbControlAndQueryService;
enum class TShutdownMode : int;

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
    // The check of a database that other clients keep attached, which the
    // full validation refuses.
    std::unique_ptr<TFbOnlineValidationService> OnlineValidationService;
    // Shuts a database down and brings it back online around a replacement.
    std::unique_ptr<TFbPropertiesService> PropertiesService;
    // The script executor: Database = DataBase, Transaction = Transaction,
    // OnExecuteError = ScriptExecuteError.
    std::unique_ptr<TFbScripter> Script;

    // Set when a statement of the running script failed.
    bool ScriptFailed = false;

    // Where the next operation's requests go: the route a RoutePin holds, or
    // the one the configured server gives now (ProbeRoute).
    TServerRoute CurrentRoute();
    // Asks the configured server (Setting's "Server", or the environment's
    // override) whether it answers, and with askVersion its version; never
    // raises.
    TServerProbe ProbeRoute(bool askVersion = false) const;

    // Attaches the service component through the route a RoutePin holds, or
    // the configured server's (AttachService); the route it is attached
    // through. Raises what the attach raises.
    TServerRoute AttachThroughRoute(TFbCustomService& service);

    // Keeps the route the first request of its life finds for the rest of
    // its life, so that the steps of one operation all reach the same server.
    // Pins nest; the outermost one holds.
    class RoutePin {
    public:
        explicit RoutePin(Tdm& dm);
        ~RoutePin();
        RoutePin(const RoutePin&) = delete;
        RoutePin& operator=(const RoutePin&) = delete;

    private:
        friend class Tdm;
        Tdm& dm_;
        std::optional<TServerRoute> route_;
        bool outermost_;
    };

    // Shuts the database down to the mode (every attachment is broken off at
    // once) or, with TShutdownMode::Normal, brings it back online, through the
    // current route's service manager. Raises the services' errors.
    void SetDatabaseState(const std::string& dbFile, TShutdownMode mode);
    // Lets the engine close the database as soon as its last attachment ends,
    // whatever its LINGER says. Raises the services' errors.
    void ReleaseLinger(const std::string& dbFile);

    // Puts the database path, character set, role and dialect into DataBase,
    // with the SYSDBA user, the settings' password and client library; the
    // path goes to the current route.
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
    // over it only once it is complete; the clients of an existing target are
    // then disconnected (it is shut down) and the target replaced, so a failed
    // run leaves an existing target exactly as it was and back online. The
    // page size asked for is the larger of the volume's allocation unit and
    // the archive's own, or, with keepArchivePageSize, the archive's own.
    bool RestoreBase(const std::string& archive, const std::string& dbFile, ILogView* log,
                     bool keepArchivePageSize = false);
    // Validates the registered database; true when the server found nothing.
    // A database that other clients keep attached, which the full check
    // refuses, gets the online check instead, and the log says so.
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
    // Sends one request of PropertiesService (action: its TAction) and reads
    // it to its end.
    void RunProperties(const std::string& dbFile, int action, TShutdownMode mode);
    // The last step of RestoreBase: the restored file takes the target's place.
    void ReplaceTarget(const TServerRoute& route, const std::string& restored,
                       const std::string& target, const std::string& shownName, ILogView* log);
    // Runs the component's start request through the current route with the
    // SYSDBA parameters, passing every line of its output, and detaches.
    // Raises the services' errors (detached all the same).
    void RunServiceAction(TFbControlAndQueryService& service,
                          const std::function<void(const std::string&)>& onLine);
    // The online check of ValidationBase: the number of its findings.
    int OnlineValidation(const std::string& dbFile, ILogView* log);

    const TSetting& setting_;
    RoutePin* pin_ = nullptr;
    ILogView* scriptLog_ = nullptr;
    std::string scriptCharSet_;
};

// True when the existing file can be opened for reading and writing with no
// other process holding it (a database the Firebird server has open is not).
bool IsFileFree(const std::string& path);

// The allocation unit of the file system that holds the path's directory, in
// bytes; 0 when it cannot be read (the server then chooses the page size).
std::uint32_t GetClusterSize(const std::string& path);

// Why a restore or an optimization, which build and replace database files
// on this machine, refuses a server of another machine.
std::string NotThisMachine(const TServerRoute& route);

// The page size a restore asks for on a volume with this allocation unit, for
// an archive of databases with this page size (0 when unknown): the larger of
// the two where the server takes it (it rounds a size below 4096 or between
// two page sizes up), the archive's own (0, or the archive's size) where the
// unit would be refused (above 32768, or no unit known).
std::int32_t RestorePageSize(std::uint32_t clusterSize, std::uint32_t archivePageSize = 0);

// The page size of the database an archive was made of, read from the
// archive's first records; 0 when the file cannot be read or is not an
// archive of a known form.
std::uint32_t ArchivePageSize(const std::string& archive);

}  // namespace qm
