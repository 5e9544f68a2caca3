#include "firebird/transaction.h"

#include <algorithm>
#include <array>

#include "firebird/client_api.h"
#include "firebird/errors.h"
#include "firebird/fpu.h"

namespace qm {

namespace {

// The TPB item names; the position (1-based) is the tag.
const std::array<const char*, 21> kTpbNames = {"consistency",      "concurrency",  "shared",
                                               "protected",        "exclusive",    "wait",
                                               "nowait",           "read",         "write",
                                               "lock_read",        "lock_write",   "verb_time",
                                               "commit_time",      "ignore_limbo", "read_committed",
                                               "autocommit",       "rec_version",  "no_rec_version",
                                               "restart_requests", "no_auto_undo", "no_savepoint"};

int TpbTag(const std::string& name) {
    for (std::size_t i = 0; i < kTpbNames.size(); ++i) {
        if (name == kTpbNames[i]) return static_cast<int>(i) + 1;
    }
    return 0;
}

constexpr std::size_t kMaxTpbLength = 65535;

// One entry of the client API's transaction existence block, as the client
// library reads it.
struct FbTeb {
    isc_db_handle* database;
    int tpbLength;
    const ISC_SCHAR* tpb;
};

TTransactionAction PlainAction(TTransactionAction action) {
    if (action == TACommitRetaining) return TACommit;
    if (action == TARollbackRetaining) return TARollback;
    return action;
}

}  // namespace

TFbBasicTransaction::TFbBasicTransaction(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)) {}

TFbBasicTransaction::~TFbBasicTransaction() {
    idleTimer_.reset();
    if (Active()) {
        try {
            DoEndTransaction(PlainAction(TimeoutAction), true);
        } catch (...) {
            handle_ = 0;
        }
    }
    for (IFbStatementUser* s : std::vector<IFbStatementUser*>(statements_)) {
        s->Notice(FbNotice::Destroyed, this, TARollback);
    }
    for (TFbDatabase* db : std::vector<TFbDatabase*>(databases_)) Unlink(db);
}

void TFbBasicTransaction::SetActive(bool value) {
    if (value) {
        if (!Active()) StartTransaction();
    } else if (Active()) {
        RollBack();
    }
}

void TFbBasicTransaction::Link(TFbDatabase* db, TFbDatabase* replacing) {
    if (std::find(databases_.begin(), databases_.end(), db) != databases_.end()) return;
    // The databases that stay linked all use one client library.
    for (TFbDatabase* other : databases_) {
        if (other == replacing) continue;
        if (other->LibraryName() != db->LibraryName()) {
            throw EFbLibraryError(OriginName() +
                                  ".\r\nTransaction can't work with different client library.");
        }
        break;
    }
    databases_.push_back(db);
    db->transactions_.push_back(this);
}

void TFbBasicTransaction::Unlink(TFbDatabase* db) {
    databases_.erase(std::remove(databases_.begin(), databases_.end(), db), databases_.end());
    auto& list = db->transactions_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (defaultDatabase_ == db) defaultDatabase_ = nullptr;
}

void TFbBasicTransaction::SetDefaultDatabase(TFbDatabase* db) {
    if (db == defaultDatabase_) return;
    if (Active()) RaiseClientError(ceInTransaction, {OriginName()});
    TFbDatabase* previous = defaultDatabase_;
    if (db != nullptr) Link(db, previous);
    if (previous != nullptr) Unlink(previous);
    defaultDatabase_ = db;
}

void TFbBasicTransaction::AddDatabase(TFbDatabase* db) {
    if (db == nullptr) return;
    if (Active()) RaiseClientError(ceInTransaction, {OriginName()});
    Link(db, nullptr);
    if (defaultDatabase_ == nullptr) defaultDatabase_ = db;
}

void TFbBasicTransaction::RemoveDatabase(TFbDatabase* db) {
    if (db == nullptr) return;
    if (Active()) RaiseClientError(ceInTransaction, {OriginName()});
    Unlink(db);
}

void TFbBasicTransaction::SetTRParams(std::vector<std::string> lines) {
    if (Active()) RaiseClientError(ceInTransaction, {OriginName()});
    trParams_ = std::move(lines);
    tpbStale_ = true;
}

void TFbBasicTransaction::EnsureTimer() {
    if (!idleTimer_) idleTimer_ = TimerFactory().CreateTimer([this] { IdleTick(); });
}

void TFbBasicTransaction::SetTimeout(std::uint32_t ms) {
    timeout_ = ms;
    if (ms == 0) {
        idleTimer_.reset();
        return;
    }
    EnsureTimer();
    if (Active()) {
        idle_ = false;
        idleTimer_->Start(ms);
    }
}

void TFbBasicTransaction::IdleTick() {
    if (!Active()) return;
    if (!idle_) {
        idle_ = true;
        return;
    }
    EndTransaction(TimeoutAction, true);
    if (OnTimeout) OnTimeout();
}

const TFbClientLibrary& TFbBasicTransaction::Library() {
    if (databases_.empty()) RaiseClientError(ceNoDatabasesInTransaction, {OriginName()});
    return databases_.front()->Library();
}

FbStatus TFbBasicTransaction::CheckResult(FbStatus status, bool raise) {
    idle_ = false;
    // Each linked database's check restores the floating-point control word.
    if (databases_.empty()) RestoreDefaultFpuControl();
    for (TFbDatabase* db : databases_) db->CheckResult(status, false);
    if (raise && status > 0) RaiseEngineError(Library(), this);
    return status;
}

void TFbBasicTransaction::AddStatementUser(IFbStatementUser* user) {
    if (std::find(statements_.begin(), statements_.end(), user) == statements_.end()) {
        statements_.push_back(user);
    }
}

void TFbBasicTransaction::RemoveStatementUser(IFbStatementUser* user) {
    statements_.erase(std::remove(statements_.begin(), statements_.end(), user), statements_.end());
}

void TFbBasicTransaction::NotifyStatements(FbNotice notice, TTransactionAction action) {
    for (IFbStatementUser* s : std::vector<IFbStatementUser*>(statements_)) {
        s->Notice(notice, this, action);
    }
}

Bytes TFbBasicTransaction::BuildTPB(std::vector<std::string>& lines) {
    if (lines.empty()) return {};
    ParamBlockWriter w;
    w.Byte(isc_tpb_version3);
    for (std::string& line : lines) {
        line = StripControl(line);
        if (line.empty()) continue;
        const ParamLine p = SplitParamLine(line);
        const std::string name = ParamItemName(p.name, "isc_tpb_");
        const int tag = TpbTag(name);
        if (tag == 0) RaiseClientError(ceTpbConstantUnknown, {name});
        if (tag == 12 || tag == 13 || tag == 16 || tag == 19) {
            RaiseClientError(ceTpbConstantUnsupported, {name});
        }
        w.Byte(static_cast<std::uint8_t>(tag));
        if (tag == 10 || tag == 11) {
            w.ByteCountedText(p.value, ceTpbConstantUnsupported, "isc_tpb_" + name);
        }
    }
    if (w.Data().size() > kMaxTpbLength) {
        RaiseClientErrorText(ceTpbConstantUnsupported,
                             "The transaction parameter buffer is longer than " +
                                 std::to_string(kMaxTpbLength) + " bytes.");
    }
    return w.Take();
}

void TFbBasicTransaction::StartTransaction() { DoStartTransaction(); }

void TFbBasicTransaction::DoStartTransaction() {
    if (Active()) RaiseClientError(ceInTransaction, {OriginName()});
    if (databases_.empty()) RaiseClientError(ceNoDatabasesInTransaction, {OriginName()});
    if (tpbStale_) {
        // Cleared only once the buffer is built, so that a refused line is
        // refused again at the next start instead of the old buffer being sent.
        tpb_ = BuildTPB(trParams_);
        tpbStale_ = false;
    }
    std::vector<FbTeb> teb;
    for (TFbDatabase* db : databases_) {
        if (!db->Connected()) {
            if (!db->AutoReconnect) RaiseClientError(ceDatabaseClosed, {db->OriginName()});
            db->Connect(true);
        }
        teb.push_back(
            FbTeb{db->HandleAddress(), static_cast<int>(tpb_.size()),
                  tpb_.empty() ? nullptr : reinterpret_cast<const ISC_SCHAR*>(tpb_.data())});
    }
    const TFbClientLibrary& lib = Library();
    NotifyStatements(FbNotice::StartBegin);
    const FbStatus status = lib.Api().isc_start_multiple(
        StatusVector(), &handle_, static_cast<short>(teb.size()), teb.data());
    CheckResult(status, false);
    if (status > 0) {
        handle_ = 0;
        RaiseEngineError(lib, this);
    }
    NotifyStatements(FbNotice::StartDone);
    idle_ = false;
    if (idleTimer_ && timeout_ > 0) idleTimer_->Start(timeout_);
}

void TFbBasicTransaction::EndTransaction(TTransactionAction action, bool force) {
    DoEndTransaction(action, force);
}

void TFbBasicTransaction::DoEndTransaction(TTransactionAction action, bool force) {
    if (!Active()) {
        const bool reconnecting =
            !databases_.empty() && std::all_of(databases_.begin(), databases_.end(),
                                               [](TFbDatabase* db) { return db->AutoReconnect; });
        if (!reconnecting) RaiseClientError(ceNotInTransaction, {OriginName()});
        StartTransaction();
    }
    const TFbClientLibrary& lib = Library();
    const FbClientApi& api = lib.Api();
    switch (action) {
        case TARollbackRetaining:
            NotifyStatements(FbNotice::EndBegin, action);
            CheckResult(api.isc_rollback_retaining(StatusVector(), &handle_), true);
            NotifyStatements(FbNotice::EndDone, action);
            break;
        case TACommitRetaining:
            NotifyStatements(FbNotice::EndBegin, action);
            CheckResult(api.isc_commit_retaining(StatusVector(), &handle_), true);
            NotifyStatements(FbNotice::EndDone, action);
            break;
        case TACommit:
        case TARollback: {
            NotifyStatements(FbNotice::EndBegin, action);
            FbStatus status = action == TACommit
                                  ? api.isc_commit_transaction(StatusVector(), &handle_)
                                  : api.isc_rollback_transaction(StatusVector(), &handle_);
            CheckResult(status, false);
            if (force && status > 0) {
                status = api.isc_rollback_transaction(StatusVector(), &handle_);
                CheckResult(status, false);
            }
            if (force) {
                handle_ = 0;
            } else if (status > 0) {
                RaiseEngineError(lib, this);
            }
            NotifyStatements(FbNotice::EndDone, action);
            break;
        }
    }
    if (!Active() && idleTimer_) idleTimer_->Stop();
}

void TFbBasicTransaction::EndForced() { EndTransaction(PlainAction(TimeoutAction), true); }

void TFbBasicTransaction::Abandon() {
    handle_ = 0;
    if (idleTimer_) idleTimer_->Stop();
    NotifyStatements(FbNotice::EndDone, TARollback);
}

void TFbTransaction::StartTransaction() {
    if (Active()) return;
    if (TPBMode == tpbReadCommitted) {
        SetTRParams({"write", "isc_tpb_nowait", "read_committed", "rec_version"});
    } else if (TPBMode == tpbRepeatableRead) {
        SetTRParams({"write", "isc_tpb_nowait", "concurrency"});
    }
    if (BeforeStart) BeforeStart();
    DoStartTransaction();
    if (AfterStart) AfterStart();
}

void TFbTransaction::EndTransaction(TTransactionAction action, bool force) {
    if (BeforeEnd) BeforeEnd();
    DoEndTransaction(action, force);
    if (AfterEnd) AfterEnd();
}

}  // namespace qm
