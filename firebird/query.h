#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firebird/component.h"
#include "firebird/database.h"
#include "firebird/sql_text.h"
#include "firebird/sql_values.h"
#include "firebird/transaction.h"

namespace qm {

// Statement types the server reports after a prepare (its own codes).
enum TFbSQLTypes : int {
    SQLUnknown = 0,
    SQLSelect = 1,
    SQLInsert = 2,
    SQLUpdate = 3,
    SQLDelete = 4,
    SQLDDL = 5,
    SQLGetSegment = 6,
    SQLPutSegment = 7,
    SQLExecProcedure = 8,
    SQLStartTransaction = 9,
    SQLCommit = 10,
    SQLRollback = 11,
    SQLSelectForUpdate = 12,
    SQLSetGenerator = 13,
    SQLSavePointOperation = 14,
};

enum TFbQueryOption : unsigned {
    qoStartTransaction = 1u << 0,  // ExecuteTextBatch starts the transaction itself
    qoAutoCommit = 1u << 1,
    qoTrimCharFields = 1u << 2,  // CHAR values read without their trailing blanks
    qoNoForceIsNull = 1u << 3,
    qoFreeHandleAfterExecute = 1u << 4,
};

struct SqlDa;

// One SQL statement on a database inside a transaction.
//
// The caller starts the transaction; ExecuteQuery does not. Refusals of the
// server raise EFbEngineError with the query as origin; refusals of the query
// itself (no database or transaction, closed database, inactive transaction,
// a parameter index out of range, a value that cannot be converted to its
// parameter's type, a text whose comment or string is still open at its end)
// raise EFbClientError. The destructor releases the statement and never raises.
class TFbQuery : public TComponent, private IFbStatementUser {
public:
    explicit TFbQuery(TComponent* owner = nullptr, std::string name = {});
    ~TFbQuery() override;

    TFbDatabase* Database() const { return database_; }
    void SetDatabase(TFbDatabase* db);
    // When none is set, the database's InternalTransaction is used.
    TFbBasicTransaction* Transaction() const { return transaction_; }
    void SetTransaction(TFbBasicTransaction* tr);

    bool GoToFirstRecordOnExecute = true;
    // Parameter markers are recognised; a change applies at the next SetSqlText.
    bool ParamCheck = true;
    unsigned Options = 0;  // TFbQueryOption bits

    // --- the text -----------------------------------------------------------
    const std::vector<std::string>& SQL() const { return sql_; }
    // Replaces the text (lines joined by line breaks), releases the prepared
    // statement and rebuilds SqlKind and the parameter list. All parameters
    // start as NULL.
    void SetSqlText(std::vector<std::string> lines);
    int SqlKind() const { return sqlKind_; }
    // The text the server gets: the lines joined, markers replaced by "?".
    const std::string& ProcessedSQL() const { return processed_.text; }

    // --- parameters (0-based, in the order of their markers) ---------------------
    int ParameterCount() const { return static_cast<int>(params_.size()); }
    // The name written after the marker ("" for a bare "?"). Client error 32
    // for an index out of range.
    const std::string& ParameterName(int index) const;
    // The value is converted to the parameter's SQL type at execution.
    void SetParameterText(int index, std::string text);
    // A blob parameter gets the stream's whole content (a text parameter the
    // bytes as its text).
    void SetParameterStream(int index, std::istream& stream);
    void SetParameterBytes(int index, std::string bytes);
    void SetParameterNull(int index);
    bool ParameterIsNull(int index) const;

    // --- execution ----------------------------------------------------------
    // Runs the statement. Schema statements (SqlKind 6) go once through
    // execute-immediate; everything else is prepared once (until the text
    // changes), then: a select opens its cursor and, with
    // GoToFirstRecordOnExecute, fetches the first row; EXECUTE PROCEDURE keeps
    // its output values as the one row; COMMIT and ROLLBACK end the query's
    // transaction through the component; others are executed.
    void ExecuteQuery();
    // Executes the texts texts[0..lastIndex] in one request on a server that
    // is not Firebird and reports a major version above 7; on any other server
    // nothing is executed and nothing raised.
    void ExecuteTextBatch(const std::vector<std::string>& texts, int lastIndex);
    // True when the query's database is on a server where ExecuteTextBatch
    // executes its texts.
    bool ExecutesTextBatch() const;

    // Prepares without executing (the transaction must be active).
    void Prepare();
    bool Prepared() const { return prepared_; }
    // Releases the prepared statement.
    void Unprepare();
    TFbSQLTypes StatementType() const { return statementType_; }

    // --- the current row ------------------------------------------------------
    // True when there is no current row (before execution, after the last row
    // of a cursor, after a statement that returns none).
    bool Eof() const { return !hasRow_; }
    // Fetches the next row of an open cursor.
    void Next();
    // Closes an open cursor.
    void Close();

    int FieldCount() const;
    std::string FieldName(int index) const;
    bool FieldIsNull(int index) const;
    // The value as text: numbers in C notation, dates as yyyy-mm-dd, times as
    // hh:mm:ss.ffff, blobs and strings as their bytes; "" for NULL.
    std::string FieldAsText(int index);
    // Client error 33 when the field is not a number.
    std::int64_t FieldAsInt64(int index) const;
    // Client error 33 when the field is not a date, time or timestamp.
    FbDateTime FieldAsDateTime(int index) const;

private:
    void Notice(FbNotice notice, const TComponent* source, TTransactionAction action) override;

    TFbDatabase& RequireDatabase() const;
    TFbBasicTransaction& RequireTransaction() const;
    const TFbClientLibrary& Library() const;
    // Passes the status through the transaction's result test and raises the
    // engine error with this query as origin.
    void Check(FbStatus status);
    void CheckIndex(int index) const;
    void FillInput();
    void WriteBlob(void* blobId, const std::string& bytes);
    std::string ReadBlob(const void* blobId);
    void Fetch();
    void FreeStatement(unsigned short option, bool quiet);
    void ForgetStatement();
    void CloseCursorQuietly();
    const void* FieldVar(int index) const;

    struct Param {
        std::string name;
        enum class Kind { Null, Text, Bytes } kind = Kind::Null;
        std::string value;
    };

    TFbDatabase* database_ = nullptr;
    TFbBasicTransaction* transaction_ = nullptr;
    std::vector<std::string> sql_;
    int sqlKind_ = 0;
    ParameterizedSql processed_;
    std::vector<Param> params_;

    FbHandle stmt_ = 0;

    // The statement handle outlives a change of text: a new text is prepared on

    // the same handle, which saves two client calls per statement.

    bool prepared_ = false;
    TFbSQLTypes statementType_ = SQLUnknown;
    std::unique_ptr<SqlDa> in_;
    std::unique_ptr<SqlDa> out_;
    bool cursorOpen_ = false;
    bool hasRow_ = false;
};

}  // namespace qm
