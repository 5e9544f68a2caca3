#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firebird/binding.h"
#include "firebird/component.h"
#include "firebird/param_block.h"
#include "firebird/timer.h"
#include "platform/platform.h"

namespace qm {

class TFbDatabase;
class TFbBasicTransaction;

// How a transaction ends: explicitly, at its idle timeout, or when one of its
// databases disconnects.
enum TTransactionAction : int {
    TARollback = 0,
    TARollbackRetaining = 1,
    TACommit = 2,
    TACommitRetaining = 3,
};

// What a database or a transaction tells the statement objects that use it.
enum class FbNotice {
    ConnectBegin,
    ConnectDone,
    DisconnectBegin,  // the attachment is still there: release server-side handles now
    DisconnectDone,   // the attachment is gone: forget handles without calls
    StartBegin,
    StartDone,
    EndBegin,  // the transaction is still there; `action` says how it ends
    EndDone,
    Destroyed,  // the component is going away: drop every reference to it
};

// A statement object (TFbQuery) registered with its database and transaction.
class IFbStatementUser {
public:
    virtual ~IFbStatementUser() = default;
    // `source` is the database or transaction that sends the notice. Must not
    // raise for DisconnectDone, EndDone and Destroyed.
    virtual void Notice(FbNotice notice, const TComponent* source, TTransactionAction action) = 0;
};

// The four lines of DBParams that the connection's ConnectParams stand for.
// Reading returns the text after the first "=" of the first line that has the
// item name, in any ASCII case, at its first character or its ninth (after an
// "isc_dpb_" prefix); "" when there is none. Writing a non-empty value replaces
// that line by "<item>=<value>" (or appends one); writing "" deletes the line.
// A write is a change of DBParams (refused while connected).
class TFbConnectParams {
public:
    explicit TFbConnectParams(TFbDatabase& db) : db_(db) {}

    std::string UserName() const { return Get("user_name"); }
    void SetUserName(const std::string& v) { Set("user_name", v); }
    std::string Password() const { return Get("password"); }
    void SetPassword(const std::string& v) { Set("password", v); }
    std::string RoleName() const { return Get("sql_role_name"); }
    void SetRoleName(const std::string& v) { Set("sql_role_name", v); }
    std::string CharSet() const { return Get("lc_ctype"); }
    // ASCII letters of the value are upper-cased.
    void SetCharSet(const std::string& v);

private:
    std::string Get(const std::string& item) const;
    void Set(const std::string& item, const std::string& value);

    TFbDatabase& db_;
};

// The answer to one database information question.
struct FbInfoValue {
    std::int64_t value = 0;
    bool answered = false;
};

// One attachment of the client to one database.
//
// Every failure is raised: EFbClientError for refusals of the component,
// EFbEngineError (origin this component) for refusals of the server, the
// binding failures of AcquireClientLibrary when the client library is
// missing or incomplete. The destructor never raises.
class TFbDatabase : public TComponent {
public:
    explicit TFbDatabase(TComponent* owner = nullptr, std::string name = {});
    ~TFbDatabase() override;

    // --- properties -----------------------------------------------------
    const std::string& DBName() const { return dbName_; }
    // A different name while connected raises client error 13.
    void SetDBName(const std::string& name);

    // Ordered name=value lines, the source of the DPB. Any change while
    // connected raises client error 13. Building the DPB writes each line back
    // stripped of leading and trailing blanks and control characters.
    const std::vector<std::string>& DBParams() const { return dbParams_; }
    void SetDBParams(std::vector<std::string> lines);
    TFbConnectParams& ConnectParams() { return connectParams_; }

    std::int32_t SQLDialect() const { return sqlDialect_; }
    // Below 1, or above StoredSQLDialect while connected: client error 61.
    void SetSQLDialect(std::int32_t dialect);

    const std::string& LibraryName() const { return libraryName_; }
    // Client error 13 while connected (even for the same name); a new name
    // drops this component's binding so that the next use acquires anew.
    void SetLibraryName(const std::string& name);

    bool Connected() const { return handle_ != 0; }
    void SetConnected(bool value);

    // Idle time in milliseconds after which the connection closes itself
    // (ForceDisconnect, then OnTimeout); 0 = never.
    std::uint32_t Timeout() const { return timeout_; }
    void SetTimeout(std::uint32_t ms);

    bool SynchronizeTime = true;
    bool UseLoginPrompt = false;  // kept for completeness; no prompt is ever shown
    bool AutoReconnect = false;

    std::function<void()> OnConnect;
    std::function<void()> BeforeDisconnect;
    std::function<void()> AfterDisconnect;
    std::function<void()> OnTimeout;

    // --- operations -----------------------------------------------------
    // Attaches. Already connected: nothing. An empty DBName raises client
    // error 14 before the library is loaded. With raiseOnFailure false a
    // refused attach leaves the component disconnected and raises nothing.
    // After the attach: dialect adjustment, the server-time query (when
    // SynchronizeTime; its error propagates and the attachment stays), the
    // server facts, OnConnect.
    void Connect(bool raiseOnFailure = true);
    // Detaches when connected: active linked transactions are ended first
    // with their TimeoutAction (forced; retaining actions count as plain).
    // A detach error is raised, but the component is disconnected all the same.
    void Disconnect();
    // Detaches without raising on server errors.
    void ForceDisconnect();
    // Runs CREATE DATABASE '<DBName>' <DBParams lines>; leaves the new
    // database connected. Client error 13 when connected.
    void CreateDatabase();
    // Drops the connected database; client error 12 when not connected.
    void DropDatabase();

    // One isc_database_info question with a 512-byte answer buffer. An answer
    // whose length does not fit the buffer raises client error 70.
    FbInfoValue DatabaseInfoValue(std::uint8_t item);

    // The connection's own transaction (read committed, no wait; commits on
    // timeout and at disconnect), for queries that have no transaction.
    TFbBasicTransaction& InternalTransaction() { return *internalTransaction_; }

    // --- facts learned at connect -------------------------------------------
    std::int32_t AttachmentId() const { return attachmentId_; }
    std::int32_t StoredSQLDialect() const { return storedSQLDialect_; }
    bool ServerIsFirebird() const { return serverIsFirebird_; }
    bool ServerIsInterBase8() const { return serverIsInterBase8_; }
    std::int32_t ServerVersionMajor() const { return serverVersionMajor_; }
    std::int32_t ServerVersionMinor() const { return serverVersionMinor_; }
    const std::string& ServerVersionText() const { return serverVersionText_; }
    std::int32_t OdsMajor() const { return odsMajor_; }
    std::int32_t OdsMinor() const { return odsMinor_; }
    std::int32_t AttachmentCharSet() const { return attachmentCharSet_; }
    // Character set ids counted as Unicode for the current state.
    std::vector<int> UnicodeCharSets() const;
    bool UnicodeConnection() const { return unicodeConnection_; }
    bool NoneConnection() const { return noneConnection_; }
    bool UnicodeOrNoneConnection() const { return unicodeConnection_ || noneConnection_; }
    bool FullUnicodeSupport() const { return fullUnicodeSupport_; }
    // Local time minus the server's time at connect, in days.
    double TimeDifference() const { return timeDifference_; }

    // --- for the other components of the layer -------------------------------
    // The binding for LibraryName, acquired at the first call.
    const TFbClientLibrary& Library();
    bool HasLibrary() const { return library_ != nullptr; }
    FbHandle Handle() const { return handle_; }
    FbHandle* HandleAddress() { return &handle_; }
    // Restores the FPU control word, restarts the idle timer and, when raise
    // is set and the status is above 0, raises the engine error (origin this
    // component). Returns the status.
    FbStatus CheckResult(FbStatus status, bool raise);

    const std::vector<TFbBasicTransaction*>& Transactions() const { return transactions_; }
    void AddStatementUser(IFbStatementUser* user);
    void RemoveStatementUser(IFbStatementUser* user);

    // The DPB of the last attach (empty before the first).
    const Bytes& DPB() const { return dpb_; }

    // Builds a DPB from parameter lines, writing each line back stripped.
    // Raises client error 8 for a refused item, 9 for an unknown one, the
    // integer reader's error for a bad number, and a client error for a text
    // value over 255 bytes or a buffer over 32767 bytes.
    static Bytes BuildDPB(std::vector<std::string>& lines);

    // The major, minor, release and build numbers of a server version text,
    // read from its fifth character on (its last character is never read).
    static std::vector<std::int32_t> ParseVersionText(const std::string& text);

private:
    friend class TFbBasicTransaction;
    friend class TFbConnectParams;

    void DBParamsChanging();
    void Close(bool force);
    void LearnServerFacts();
    void LearnCharSetFacts();
    void ReadServerVersion();
    // Asks the server for one database information item; the answer fills
    // the buffer (a buffer of at most 32767 bytes).
    void AskDatabaseInfo(std::uint8_t item, char* answer, std::size_t size);
    std::string DatabaseInfoText(std::uint8_t item);
    void RunTimeQuery();
    void NotifyStatements(FbNotice notice);
    void ResetFacts();
    void IdleTick();
    void RestartIdleTimer();

    std::string dbName_;
    std::vector<std::string> dbParams_;
    TFbConnectParams connectParams_{*this};
    std::int32_t sqlDialect_ = 1;
    std::string libraryName_ = platform::kDefaultClientLibrary;
    std::uint32_t timeout_ = 0;

    IFbClientLibrary library_;
    FbHandle handle_ = 0;
    Bytes dpb_;
    bool dpbStale_ = true;

    std::vector<TFbBasicTransaction*> transactions_;
    std::vector<IFbStatementUser*> statements_;
    std::unique_ptr<TFbBasicTransaction> internalTransaction_;
    std::unique_ptr<ITimer> idleTimer_;

    std::int32_t attachmentId_ = -1;
    std::int32_t storedSQLDialect_ = 1;
    bool serverIsFirebird_ = false;
    bool serverIsInterBase8_ = false;
    std::int32_t serverVersionMajor_ = -1;
    std::int32_t serverVersionMinor_ = -1;
    std::string serverVersionText_;
    std::int32_t odsMajor_ = 0;
    std::int32_t odsMinor_ = 0;
    std::int32_t attachmentCharSet_ = -1;
    bool unicodeConnection_ = false;
    bool noneConnection_ = false;
    bool fullUnicodeSupport_ = false;
    double timeDifference_ = 0;
};

}  // namespace qm
