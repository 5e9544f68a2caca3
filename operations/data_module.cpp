#include "operations/data_module.h"

#include <cstdio>
#include <exception>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "firebird/scripter.h"
#include "firebird/services.h"
#include "firebird/transaction.h"
#include "platform/files.h"
#include "platform/local_time.h"

namespace qm {

Tdm::Tdm(TComponent* owner, const TSetting& setting)
    : TComponent(owner, "dm"), setting_(setting) {
    DataBase = std::make_unique<TFbDatabase>(this, "DataBase");
    // Never used for a connection: SetConnectParams replaces it first.
    DataBase->SetDBParams({"user_name=SYSDBA", "lc_ctype=WIN1251", "password=plumstone"});
    DataBase->SetSQLDialect(3);
    DataBase->SetTimeout(0);

    Transaction = std::make_unique<TFbTransaction>(this, "Transaction");
    Transaction->SetDefaultDatabase(DataBase.get());
    Transaction->TimeoutAction = TARollback;

    BackupService = std::make_unique<TFbBackupService>(this, "BackupService");
    BackupService->LoginPrompt = false;
    BackupService->BlockingFactor = 0;
    BackupService->Options = {};

    RestoreService = std::make_unique<TFbRestoreService>(this, "RestoreService");
    RestoreService->LoginPrompt = false;
    RestoreService->PageSize = 0;
    RestoreService->PageBuffers = 0;
    RestoreService->Options = {TRestoreOption::Replace};

    ValidationService = std::make_unique<TFbValidationService>(this, "ValidationService");
    ValidationService->LoginPrompt = false;
    ValidationService->Options = {TValidateOption::CheckDB, TValidateOption::KillShadows,
                                  TValidateOption::ValidateDB, TValidateOption::ValidateFull};
    ValidationService->GlobalAction = TTransactionGlobalAction::CommitGlobal;

    OnlineValidationService =
        std::make_unique<TFbOnlineValidationService>(this, "OnlineValidationService");
    OnlineValidationService->LoginPrompt = false;
    PropertiesService = std::make_unique<TFbPropertiesService>(this, "PropertiesService");
    PropertiesService->LoginPrompt = false;

    Script = std::make_unique<TFbScripter>(this, "Script");
    Script->SetDatabase(DataBase.get());
    Script->SetTransaction(Transaction.get());
    Script->OnExecuteError = [this](TFbScripter& sender, int statementNo, int line,
                                    const std::vector<std::string>& statement, int sqlCode,
                                    const std::string& msg, bool& doRollBack, bool& stop) {
        ScriptExecuteError(sender, statementNo, line, statement, sqlCode, msg, doRollBack, stop);
    };
    // A database a script names is reached as the program reaches every one.
    Script->DatabaseNameMapper = [this](const std::string& name) {
        return CurrentRoute().DatabaseString(name);
    };
}

Tdm::~Tdm() {
    // The script executor goes before the transaction and the database it
    // uses, and the transaction before the database it is linked to.
    Script.reset();
    Transaction.reset();
    DataBase.reset();
}

TServerProbe Tdm::ProbeRoute(bool askVersion) const {
    return ProbeServerRoute(setting_.Server, setting_.LibraryName, setting_.SYSDBAPassword,
                            askVersion);
}

TServerRoute Tdm::CurrentRoute() {
    if (pin_ != nullptr && pin_->route_) return *pin_->route_;
    const TServerRoute route = ProbeRoute().Route;
    if (pin_ != nullptr) pin_->route_ = route;
    return route;
}

TServerRoute Tdm::AttachThroughRoute(TFbCustomService& service) {
    if (pin_ != nullptr && pin_->route_) {
        pin_->route_->ApplyTo(service);
        service.SetActive(true);
        return *pin_->route_;
    }
    const TServerRoute route = AttachService(service, setting_.Server);
    if (pin_ != nullptr) pin_->route_ = route;
    return route;
}

Tdm::RoutePin::RoutePin(Tdm& dm) : dm_(dm), outermost_(dm.pin_ == nullptr) {
    if (outermost_) dm_.pin_ = this;
}

Tdm::RoutePin::~RoutePin() {
    if (outermost_) dm_.pin_ = nullptr;
}

void Tdm::SetDatabaseState(const std::string& dbFile, TShutdownMode mode) {
    using A = TFbPropertiesService::TAction;
    RunProperties(dbFile, static_cast<int>(mode == TShutdownMode::Normal ? A::Online : A::Shutdown),
                  mode);
}

void Tdm::ReleaseLinger(const std::string& dbFile) {
    RunProperties(dbFile, static_cast<int>(TFbPropertiesService::TAction::NoLinger),
                  TShutdownMode::Normal);
}

void Tdm::RunProperties(const std::string& dbFile, int action, TShutdownMode mode) {
    TFbPropertiesService& svc = *PropertiesService;
    svc.DatabaseName = dbFile;
    svc.Action = static_cast<TFbPropertiesService::TAction>(action);
    svc.Mode = mode;
    svc.ForceAfter = 0;
    RunServiceAction(svc, {});
}

void Tdm::RunServiceAction(TFbControlAndQueryService& svc,
                           const std::function<void(const std::string&)>& onLine) {
    try {
        svc.SetParams({"user_name=sysdba", "password=" + setting_.SYSDBAPassword});
        svc.SetLibraryName(setting_.LibraryName);
        AttachThroughRoute(svc);
        svc.StartServiceAction();
        ReadOutputToEnd(svc, onLine);
        svc.SetActive(false);
    } catch (...) {
        try {
            if (svc.Active()) svc.SetActive(false);
        } catch (const std::exception&) {
        }
        throw;
    }
}

void Tdm::SetConnectParams(const std::string& dbFile, const std::string& charSet,
                           const std::string& role, int dialect) {
    if (DataBase->Connected()) DataBase->Disconnect();
    DataBase->SetDBName(CurrentRoute().DatabaseString(dbFile));
    std::vector<std::string> params{"user_name=SYSDBA"};
    if (!charSet.empty() && charSet != "NONE") params.push_back("lc_ctype=" + charSet);
    if (!role.empty()) params.push_back("sql_role_name=" + role);
    params.push_back("password=" + setting_.SYSDBAPassword);
    DataBase->SetDBParams(std::move(params));
    DataBase->SetSQLDialect(dialect);
    DataBase->SetLibraryName(setting_.LibraryName);
}

bool Tdm::TestConnect() {
    bool ok = true;
    try {
        DataBase->Connect();
    } catch (const std::exception& e) {
        ShowError("Ошибка тестового подключения", e.what());
        ok = false;
    }
    try {
        if (DataBase->Connected()) DataBase->Disconnect();
    } catch (const std::exception&) {
        DataBase->ForceDisconnect();
    }
    return ok;
}

std::string Tdm::LogPrefix(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d > ", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

void Tdm::AddLog(const std::string& text, ILogView* log) {
    if (log == nullptr) return;
    std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    log->AddLine(LogPrefix(local) + text);
    EventPump().ProcessEvents();
}

bool IsFileFree(const std::string& path) { return platform::TryExclusiveOpen(path); }

std::uint32_t GetClusterSize(const std::string& path) { return platform::VolumeBlockSize(path); }

}  // namespace qm
