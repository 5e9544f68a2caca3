#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firebird/component.h"
#include "firebird/database.h"
#include "firebird/param_block.h"
#include "firebird/timer.h"

namespace qm {

// One Firebird transaction over the databases linked to it.
//
// Refusals of the component raise EFbClientError, refusals of the server
// EFbEngineError (origin this transaction). The destructor ends an active
// transaction with its TimeoutAction (forced; retaining counts as plain) and
// never raises.
class TFbBasicTransaction : public TComponent {
public:
    explicit TFbBasicTransaction(TComponent* owner = nullptr, std::string name = {});
    ~TFbBasicTransaction() override;

    bool Active() const { return handle_ != 0; }
    // true: StartTransaction when not active; false: RollBack when active.
    void SetActive(bool value);

    TFbDatabase* DefaultDatabase() const { return defaultDatabase_; }
    // Links the database (and unlinks the previous default one). Client error
    // 16 while active; a plain EFbLibraryError "<path>.\r\nTransaction can't
    // work with different client library." when the database's LibraryName
    // differs from that of the databases that stay linked.
    void SetDefaultDatabase(TFbDatabase* db);
    // Links one more database (the same library rule); nothing when linked.
    void AddDatabase(TFbDatabase* db);
    // Unlinks a database (the default one too); client error 16 while active.
    void RemoveDatabase(TFbDatabase* db);
    const std::vector<TFbDatabase*>& Databases() const { return databases_; }

    TTransactionAction TimeoutAction = TARollback;
    std::function<void()> OnTimeout;

    // Idle time in milliseconds after which the transaction ends itself with
    // TimeoutAction (between one and two intervals after its last client
    // call); 0 = never.
    std::uint32_t Timeout() const { return timeout_; }
    void SetTimeout(std::uint32_t ms);

    // The source of the TPB; changing it while active raises client error 16.
    // Building the TPB writes each line back stripped.
    const std::vector<std::string>& TRParams() const { return trParams_; }
    void SetTRParams(std::vector<std::string> lines);

    // Starts over all linked databases. Client error 16 when active, 18 with
    // no database, 12 when a database is not connected, 10/11 for a refused
    // TPB line; the engine error when the server refuses (handle 0 then).
    virtual void StartTransaction();
    void Commit() { EndTransaction(TACommit, false); }
    void CommitRetaining() { EndTransaction(TACommitRetaining, false); }
    void RollBack() { EndTransaction(TARollback, false); }
    void RollBackRetaining() { EndTransaction(TARollbackRetaining, false); }
    // Client error 15 when not active. A refused plain end raises and leaves
    // the transaction active unless forced: forced, a failed commit is
    // followed by a rollback and the transaction counts as ended. Refused
    // retaining ends raise, forced or not.
    virtual void EndTransaction(TTransactionAction action, bool force);

    // --- for the other components of the layer -------------------------------
    FbHandle Handle() const { return handle_; }
    FbHandle* HandleAddress() { return &handle_; }
    // Restores the FPU control word, clears the idle flag, passes the status
    // to every linked database's CheckResult (without raising) and, when raise
    // is set and the status is above 0, raises the engine error with the
    // binding of the first database and this transaction as origin.
    FbStatus CheckResult(FbStatus status, bool raise);
    // The binding of the first linked database (acquired when needed).
    const TFbClientLibrary& Library();
    void AddStatementUser(IFbStatementUser* user);
    void RemoveStatementUser(IFbStatementUser* user);

    // The TPB of the last start.
    const Bytes& TPB() const { return tpb_; }

    // Builds a TPB from parameter lines, writing each line back stripped: empty
    // for no lines, else 3 and one item per non-empty line. Raises client
    // error 10 for a refused item, 11 for an unknown one, a client error for a
    // table name over 255 bytes.
    static Bytes BuildTPB(std::vector<std::string>& lines);

protected:
    // The start and end without the events of TFbTransaction.
    void DoStartTransaction();
    void DoEndTransaction(TTransactionAction action, bool force);

private:
    friend class TFbDatabase;

    void Link(TFbDatabase* db, TFbDatabase* replacing);
    void Unlink(TFbDatabase* db);
    // The end a disconnecting database (or the destructor) asks for.
    void EndForced();
    // The server ended the transaction by itself (its database was dropped):
    // forget the handle without a call.
    void Abandon();
    void NotifyStatements(FbNotice notice, TTransactionAction action = TARollback);
    void IdleTick();
    void EnsureTimer();

    FbHandle handle_ = 0;
    TFbDatabase* defaultDatabase_ = nullptr;
    std::vector<TFbDatabase*> databases_;
    std::vector<IFbStatementUser*> statements_;
    std::vector<std::string> trParams_;
    Bytes tpb_;
    bool tpbStale_ = true;
    std::uint32_t timeout_ = 0;
    std::unique_ptr<ITimer> idleTimer_;
    bool idle_ = false;
};

// Which lines a TFbTransaction gives TRParams at each start.
enum TTPBMode : int {
    tpbDefault = 0,         // TRParams as they are
    tpbReadCommitted = 1,   // write, isc_tpb_nowait, read_committed, rec_version
    tpbRepeatableRead = 2,  // write, isc_tpb_nowait, concurrency
};

// The transaction the program's components use: a start while active does
// nothing, and TPBMode decides the transaction's parameters.
class TFbTransaction : public TFbBasicTransaction {
public:
    using TFbBasicTransaction::TFbBasicTransaction;

    TTPBMode TPBMode = tpbReadCommitted;

    std::function<void()> BeforeStart;
    std::function<void()> AfterStart;
    std::function<void()> BeforeEnd;
    std::function<void()> AfterEnd;

    void StartTransaction() override;
    void EndTransaction(TTransactionAction action, bool force) override;
};

}  // namespace qm
