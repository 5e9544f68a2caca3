#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "firebird/component.h"
#include "firebird/database.h"
#include "firebird/script_parser.h"
#include "firebird/transaction.h"

namespace qm {

class TFbQuery;
class TFbScripter;

// The error event: a statement that the server refused (an EFbError raised in
// one of the guarded steps). Statement is the failed statement's text, Msg the
// error's Message. On entry doRollBack holds the step's default (true for
// ordinary statements, false for CONNECT, CREATE DATABASE and COMMIT) and Stop
// is true; the handler sets Stop to false to go on with the next statement.
using TOnSQLScriptExecError = std::function<void(
    TFbScripter& Sender, int StatementNo, int Line, const TScriptLines& Statement, int SQLCode,
    const std::string& Msg, bool& doRollBack, bool& Stop)>;

// A statement event. Statement is null for BATCH EXECUTE.
using TOnStatementExecute =
    std::function<void(TFbScripter& Sender, int Line, int StatementNo, const TStatementDesc& Desc,
                       const TScriptLines* Statement)>;

// The executor's own refusals that end a run: a statement number beyond the
// map, an unsupported DESCRIBE, a script file that cannot be read, a blob file
// that cannot be opened. Deliberately not an EFbError: they never reach
// OnExecuteError.
class EFbScripterError : public std::runtime_error {
public:
    explicit EFbScripterError(const std::string& message) : std::runtime_error(message) {}
};

// Splits text into lines the way a text file is read: a line ends at LF, CR
// LF or a lone CR; a line break at the very end makes no extra empty line, and
// an empty text has no lines.
TScriptLines SplitTextLines(const std::string& text);

// Runs an SQL script statement by statement on a database.
//
// Statements that manage the connection and the transaction (CONNECT,
// DISCONNECT, RECONNECT, CREATE and DROP DATABASE, COMMIT, ROLLBACK, SET
// AUTODDL / SQL DIALECT / NAMES / CLIENTLIB / BLOBFILE, DESCRIBE, INPUT,
// BATCH START / EXECUTE) are carried out here; every other statement goes to
// the scripter's own query in the current transaction (Transaction when set,
// else an internal one). A server refusal in a guarded step goes to
// OnExecuteError when it is assigned and the handler decides; so do the
// scripter's own refusals of a statement with parameter markers the script
// gives no values for (only blob-file parameters get one) and of a batch that
// BATCH EXECUTE never ran (at the next BATCH START or the end of the run; it
// is closed all the same). Every other error (and a refusal without a
// handler) leaves the run after its clean-up. On a Firebird server BATCH
// EXECUTE runs the statements collected since BATCH START one by one.
// A run leaves what is still open in the transaction to the caller, except
// that a database the scripter created itself is committed and released.
//
// Everything runs on the caller's thread. Database and Transaction are not
// owned; when either is destroyed first the reference is cleared.
class TFbScripter : public TComponent, private IFbStatementUser {
public:
    explicit TFbScripter(TComponent* owner = nullptr, std::string name = {});
    ~TFbScripter() override;

    // --- published properties ---------------------------------------------
    const TScriptLines& Script() const { return script_; }
    // Replaces the script and discards its split. fileName names the file the
    // lines were read from, if any: an INPUT of that file is refused as one
    // that would run inside itself.
    void SetScript(TScriptLines lines, std::string fileName = {});

    TFbDatabase* Database() const { return database_; }
    // Commits the current transaction when active, frees a database component
    // the scripter created itself (unless db is that one) and binds the
    // internal transaction, Transaction and the query to db.
    void SetDatabase(TFbDatabase* db);
    TFbTransaction* Transaction() const { return transaction_; }
    // Binds tr to Database (when there is one) and the query to tr; null
    // returns to the internal transaction.
    void SetTransaction(TFbTransaction* tr);

    bool AutoDDL = true;
    TOnSQLScriptExecError OnExecuteError;
    // Turns a database name of a script statement (CONNECT, CREATE DATABASE)
    // into the connection string to use; unset, the name is used as it is.
    std::function<std::string(const std::string&)> DatabaseNameMapper;
    TOnStatementExecute BeforeStatementExecute;
    TOnStatementExecute AfterStatementExecute;

    // --- operations -------------------------------------------------------
    // Runs the statements from number first (1-based) to the last; splits the
    // script first when it is not split. Resets Dialect and NamesCharSet.
    void RunScript(int first = 1);
    // Runs a script file line by line with the terminator: after every line
    // read, the statements that line ended are run; several statements ended
    // by one line share one number. The statements and their texts are those
    // a run of the whole file gives; a statement without terminator at the
    // end of the file is not run. Raises EFbScripterError when the file cannot
    // be read, and when it is already being run by an INPUT around this run
    // (or is the file Script came from) or INPUTs nest deeper than
    // kMaxInputDepth files.
    void RunScriptFile(const std::string& fileName, const std::string& terminator);
    // Splits Script into the map (the last statement may lack its terminator)
    // and resets ClientLibrary.
    void ParseScript(const std::string& terminator);
    int StatementCount() const { return static_cast<int>(map_.size()); }
    // The statement number n (1-based): its text into lines and its
    // description. EFbScripterError "Statement №<n> don't exist" beyond the map.
    TStatementDesc GetStatement(int n, TScriptLines& lines) const;
    // The text of the script being run between the positions (the terminator
    // excluded); an end without column means the end of the last line.
    void GetStatementText(ScriptPos start, ScriptPos end, TScriptLines& lines) const;
    // Carries out one statement; index is 0-based, line is the line given to
    // the statement events (-1: the statement's first line, 1-based).
    void RunStatement(const TScriptLines& text, const TStatementDesc& d, int index, int line);

    // --- state ---------------------------------------------------------------
    bool Parsed() const { return parsed_; }
    const TScriptMap& Map() const { return map_; }
    // The transaction statements run in: Transaction, else the internal one.
    TFbTransaction& CurrentTransaction() const;
    TFbQuery& Query() const { return *query_; }
    bool OwnDatabase() const { return ownDatabase_ != nullptr && database_ == ownDatabase_.get(); }
    int Dialect() const { return dialect_; }
    const std::string& NamesCharSet() const { return namesCharSet_; }
    const std::string& ClientLibrary() const { return clientLibrary_; }
    const std::string& BlobFileName() const { return blobFileName_; }
    bool StopRequested() const { return stopRequested_; }
    // The number of the statement at which the last run stopped on a
    // handler's answer; 0 when it did not stop.
    int StoppedAtStatement() const { return stoppedAtStatement_; }
    // True while a database of this scripter's making runs without forced
    // writes, to be put back when the run leaves it or ends.
    bool ForceWriteChanged() const { return !forcedWritesOff_.empty(); }
    bool BatchMode() const { return batchMode_; }
    const std::vector<std::string>& BatchTexts() const { return batchTexts_; }
    int FileLineCount() const { return fileLineCount_; }

    // How many script files may run inside one another through INPUT.
    static constexpr std::size_t kMaxInputDepth = 32;

private:
    // A statement met between BATCH START and BATCH EXECUTE: its text, its
    // description with the positions moved onto that text, and the number
    // and lines it had where it stood.
    struct TBatchStatement {
        TScriptLines text;
        TStatementDesc desc;
        int index = 0;
        int eventLine = 0;
        int errorLine = 0;
    };
    // A database this scripter made and attached without forced writes, with
    // what it takes to attach to it again.
    struct TForcedWritesOff {
        std::string dbName;
        std::vector<std::string> params;
        std::string library;
        int dialect = 3;
    };

    void Notice(FbNotice notice, const TComponent* source, TTransactionAction action) override;

    // A server refusal raised by step goes to OnExecuteError with the
    // statement's text, number (index + 1) and errorLine; true when one was
    // reported, with the handler's doRollBack answer in rollBack.
    template <typename Step>
    bool Guard(const TScriptLines& text, int errorLine, int index, bool rollBackDefault,
               bool& rollBack, Step&& step);

    TFbDatabase& RequireDatabase();
    void EnsureDatabase();
    void StartTransactionIfNeeded();
    // The rollback a handler asks for after a refused ordinary statement.
    void RollBackRefused();
    void FireStatementEvent(const TOnStatementExecute& event, int line, int statementNo,
                            const TStatementDesc& d, const TScriptLines* text);

    // One statement of a run in the script's order: BATCH START and BATCH
    // EXECUTE, collection inside a batch, RunStatement otherwise.
    void RunScriptStatement(const TScriptLines& text, const TStatementDesc& d, int index,
                            int eventLine);
    void RunStatementAt(const TScriptLines& text, const TStatementDesc& d, int index, int eventLine,
                        int errorLine);
    void RunBatch(int line, int statementNo, const TStatementDesc& d);
    // Reports an open batch whose statements will never run through the
    // error event and closes it.
    void AbandonBatch();
    void ClearBatch();

    // Every database name that a statement of a script gives (CONNECT,
    // CREATE DATABASE) reaches the connection here.
    void SetScriptDatabaseName(TFbDatabase& db, const std::string& name);
    // Detaches db on a statement's behalf and gives it back its forced writes
    // when this scripter had turned them off.
    void LeaveDatabase(TFbDatabase& db);
    void RestoreForcedWrites(const TForcedWritesOff& entry, bool resetNoReserve);

    void DoConnect(const TStatementDesc& d);
    void DoCreateDatabase(const TScriptLines& text, const TStatementDesc& d, int index,
                          int errorLine);
    void DoSet(const TStatementDesc& d);
    void DoDescribe(const TStatementDesc& d);
    void DoInput(const TStatementDesc& d);
    void DoOrdinary(const TScriptLines& text, const TStatementDesc& d, int index, int line,
                    int errorLine);
    // Raises a client error naming every parameter marker of the query that
    // the script gives no value for (only blob-file parameters get one).
    void RefuseUnsuppliedParameters() const;
    void ApplyConnectParams(ScriptPos from, ScriptPos end);
    void LoadBlobParameters();
    void CloseBlobFile();
    // The clean-up after every run: an open batch dropped, forced writes put
    // back (with no_reserve=0 too after a file run), a database component of
    // the scripter's own committed and released, the blob file closed. Every
    // step runs; the first error is raised afterwards unless the run is
    // already leaving with one.
    void FinishRun(bool resetNoReserve, bool unwinding);

    ScriptPos Next(ScriptPos pos, ScriptPos limit) const;
    std::string Token(ScriptPos pos) const;
    bool IsWord(const char* keyword, ScriptPos pos) const;

    TScriptLines script_;
    // The lines the statements being run belong to: Script, or the chunk of
    // the script file being read.
    const TScriptLines* running_ = &script_;
    TFbScriptParser parser_;
    TScriptMap map_;
    bool parsed_ = false;

    std::unique_ptr<TFbDatabase> ownDatabase_;
    TFbDatabase* database_ = nullptr;
    TFbTransaction* transaction_ = nullptr;
    std::unique_ptr<TFbTransaction> internalTransaction_;
    std::unique_ptr<TFbQuery> query_;

    int dialect_ = 3;
    std::string namesCharSet_;
    std::string clientLibrary_;
    std::string blobFileName_;
    std::ifstream blobFile_;
    std::uint64_t blobFileSize_ = 0;

    bool stopRequested_ = false;
    int stoppedAtStatement_ = 0;
    std::vector<TForcedWritesOff> forcedWritesOff_;
    bool batchMode_ = false;
    std::vector<std::string> batchTexts_;
    std::vector<TBatchStatement> batch_;
    TBatchStatement batchStart_;
    // The file Script came from, and the files of the runs under way.
    std::string scriptFileName_;
    std::vector<std::string> inputFiles_;
    int fileLineCount_ = 0;
    int runDepth_ = 0;
    // The current transaction was started by this scripter and no statement
    // has succeeded in it since.
    bool nothingDone_ = false;
    bool starting_ = false;
};

}  // namespace qm
