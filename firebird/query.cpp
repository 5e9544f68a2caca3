#include "firebird/query.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>

#include "firebird/client_api.h"
#include "firebird/errors.h"
#include "firebird/sqlda.h"

namespace qm {

namespace {

// isc_put_segment takes at most 65535 bytes at a time.
constexpr std::size_t kSegmentSize = 32768;
constexpr int kInitialColumns = 16;

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) text += '\n';
        text += lines[i];
    }
    return text;
}

bool IsAllBlank(const std::string& s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

std::string TypeName(int type) {
    switch (type) {
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64:
            return "number";
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return "floating-point number";
        case SQL_TIMESTAMP:
            return "timestamp";
        case SQL_TYPE_DATE:
            return "date";
        case SQL_TYPE_TIME:
            return "time";
        case SQL_BOOLEAN:
            return "boolean";
        case SQL_ARRAY:
            return "array";
        default:
            return "value";
    }
}

template <class T>
void Store(char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

template <class T>
T Load(const char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

TFbQuery::TFbQuery(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {}

TFbQuery::~TFbQuery() {
    FreeStatement(DSQL_drop, true);
    if (database_ != nullptr) database_->RemoveStatementUser(this);
    if (transaction_ != nullptr) transaction_->RemoveStatementUser(this);
    if (database_ != nullptr && transaction_ == nullptr) {
        database_->InternalTransaction().RemoveStatementUser(this);
    }
}

void TFbQuery::SetDatabase(TFbDatabase* db) {
    if (db == database_) return;
    FreeStatement(DSQL_drop, true);
    if (database_ != nullptr) {
        database_->RemoveStatementUser(this);
        if (transaction_ == nullptr) database_->InternalTransaction().RemoveStatementUser(this);
    }
    database_ = db;
    if (database_ != nullptr) {
        database_->AddStatementUser(this);
        if (transaction_ == nullptr) database_->InternalTransaction().AddStatementUser(this);
    }
}

void TFbQuery::SetTransaction(TFbBasicTransaction* tr) {
    if (tr == transaction_) return;
    CloseCursorQuietly();
    if (transaction_ != nullptr) {
        transaction_->RemoveStatementUser(this);
    } else if (database_ != nullptr) {
        database_->InternalTransaction().RemoveStatementUser(this);
    }
    transaction_ = tr;
    if (transaction_ != nullptr) {
        transaction_->AddStatementUser(this);
    } else if (database_ != nullptr) {
        database_->InternalTransaction().AddStatementUser(this);
    }
}

void TFbQuery::SetSqlText(std::vector<std::string> lines) {
    CloseCursorQuietly();
    prepared_ = false;
    statementType_ = SQLUnknown;
    in_.reset();
    out_.reset();
    sql_ = std::move(lines);
    const std::string text = JoinLines(sql_);
    sqlKind_ = ClassifySql(text);
    processed_ = ReplaceParameterMarkers(text, sqlKind_, ParamCheck);
    params_.clear();
    for (const std::string& name : processed_.names)
        params_.push_back(Param{name, Param::Kind::Null, {}});
}

void TFbQuery::CheckIndex(int index) const {
    if (index < 0 || index >= ParameterCount()) RaiseClientError(ceInvalidParamColumnIndex);
}

const std::string& TFbQuery::ParameterName(int index) const {
    CheckIndex(index);
    return params_[static_cast<std::size_t>(index)].name;
}

void TFbQuery::SetParameterText(int index, std::string text) {
    CheckIndex(index);
    params_[static_cast<std::size_t>(index)].kind = Param::Kind::Text;
    params_[static_cast<std::size_t>(index)].value = std::move(text);
}

void TFbQuery::SetParameterBytes(int index, std::string bytes) {
    CheckIndex(index);
    params_[static_cast<std::size_t>(index)].kind = Param::Kind::Bytes;
    params_[static_cast<std::size_t>(index)].value = std::move(bytes);
}

void TFbQuery::SetParameterStream(int index, std::istream& stream) {
    CheckIndex(index);
    std::string bytes((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    if (stream.bad()) RaiseClientError(ceBlobCannotBeRead);
    SetParameterBytes(index, std::move(bytes));
}

void TFbQuery::SetParameterNull(int index) {
    CheckIndex(index);
    params_[static_cast<std::size_t>(index)].kind = Param::Kind::Null;
    params_[static_cast<std::size_t>(index)].value.clear();
}

bool TFbQuery::ParameterIsNull(int index) const {
    CheckIndex(index);
    return params_[static_cast<std::size_t>(index)].kind == Param::Kind::Null;
}

TFbDatabase& TFbQuery::RequireDatabase() const {
    if (database_ == nullptr) RaiseClientError(ceDatabaseNotAssigned, {OriginName()});
    if (!database_->Connected()) RaiseClientError(ceDatabaseClosed, {database_->OriginName()});
    return *database_;
}

TFbBasicTransaction& TFbQuery::RequireTransaction() const {
    TFbBasicTransaction* tr = transaction_;
    if (tr == nullptr && database_ != nullptr) tr = &database_->InternalTransaction();
    if (tr == nullptr) RaiseClientError(ceTransactionNotAssigned, {OriginName()});
    if (!tr->Active()) RaiseClientError(ceNotInTransaction, {tr->OriginName()});
    return *tr;
}

const TFbClientLibrary& TFbQuery::Library() const { return database_->Library(); }

void TFbQuery::Check(FbStatus status) {
    TFbBasicTransaction* tr = transaction_;
    if (tr == nullptr && database_ != nullptr) tr = &database_->InternalTransaction();
    if (tr != nullptr && !tr->Databases().empty()) {
        tr->CheckResult(status, false);
    } else if (database_ != nullptr) {
        database_->CheckResult(status, false);
    }
    if (status > 0) RaiseEngineError(Library(), this);
}

void TFbQuery::ForgetStatement() {
    stmt_ = 0;
    prepared_ = false;
    statementType_ = SQLUnknown;
    in_.reset();
    out_.reset();
    cursorOpen_ = false;
    hasRow_ = false;
}

void TFbQuery::FreeStatement(unsigned short option, bool quiet) {
    if (stmt_ == 0 || database_ == nullptr || !database_->HasLibrary()) {
        if (option == DSQL_drop) ForgetStatement();
        return;
    }
    FbStatus scratch[kStatusVectorLength] = {};
    FbStatus* sv = quiet ? scratch : StatusVector();
    const FbStatus status = Library().Api().isc_dsql_free_statement(sv, &stmt_, option);
    if (option == DSQL_drop) {
        ForgetStatement();
    } else {
        cursorOpen_ = false;
        hasRow_ = false;
    }
    if (!quiet) Check(status);
}

void TFbQuery::CloseCursorQuietly() {
    if (cursorOpen_) FreeStatement(DSQL_close, true);
    cursorOpen_ = false;
}

void TFbQuery::Unprepare() { FreeStatement(DSQL_drop, true); }

void TFbQuery::Notice(FbNotice notice, const TComponent* source, TTransactionAction action) {
    switch (notice) {
        case FbNotice::DisconnectBegin:
            FreeStatement(DSQL_drop, true);
            break;
        case FbNotice::DisconnectDone:
            ForgetStatement();
            break;
        case FbNotice::EndBegin:
            // Plain ends close the cursor on the server; retaining ends keep it.
            if (action == TACommit || action == TARollback) CloseCursorQuietly();
            break;
        case FbNotice::Destroyed:
            if (source == database_) {
                ForgetStatement();
                database_ = nullptr;
            }
            if (source == transaction_) {
                cursorOpen_ = false;
                transaction_ = nullptr;
            }
            break;
        default:
            break;
    }
}

void TFbQuery::Prepare() {
    TFbDatabase& db = RequireDatabase();
    TFbBasicTransaction& tr = RequireTransaction();
    if (!processed_.error.empty()) {
        RaiseClientError(ceSQLParseError, {OriginName(), processed_.error});
    }
    if (IsAllBlank(processed_.text)) RaiseClientError(ceEmptyQuery, {"prepare"});
    const FbClientApi& api = Library().Api();
    if (prepared_ || stmt_ == 0) {
        FreeStatement(DSQL_drop, true);
        Check(api.isc_dsql_alloc_statement2(StatusVector(), db.HandleAddress(), &stmt_));
    }
    try {
        out_ = std::make_unique<SqlDa>(kInitialColumns);
        Check(api.isc_dsql_prepare(StatusVector(), tr.HandleAddress(), &stmt_, 0,
                                   processed_.text.c_str(),
                                   static_cast<unsigned short>(db.SQLDialect()), out_->get()));

        const char items[] = {isc_info_sql_stmt_type};
        std::array<char, 64> answer{};
        Check(api.isc_dsql_sql_info(StatusVector(), &stmt_, sizeof items, items,
                                    static_cast<short>(answer.size()), answer.data()));
        InfoCursor c(answer.data(), answer.size(), "the answer to the statement type question");
        if (c.Byte() != isc_info_sql_stmt_type) c.Fail("the statement type is missing");
        const std::size_t length = c.UInt16();
        statementType_ = static_cast<TFbSQLTypes>(c.Integer(length));

        in_ = std::make_unique<SqlDa>(std::max(1, ParameterCount()));
        // A text without markers has no input to describe: asking anyway costs
        // a round trip on every statement of a long script.
        if (ParameterCount() > 0)
            Check(api.isc_dsql_describe_bind(StatusVector(), &stmt_, SQLDA_VERSION1, in_->get()));
        if (in_->get()->sqld > in_->Capacity()) {
            in_ = std::make_unique<SqlDa>(in_->get()->sqld);
            Check(api.isc_dsql_describe_bind(StatusVector(), &stmt_, SQLDA_VERSION1, in_->get()));
        }
        in_->BindBuffers();

        if (out_->get()->sqld > out_->Capacity()) {
            out_ = std::make_unique<SqlDa>(out_->get()->sqld);
            Check(api.isc_dsql_describe(StatusVector(), &stmt_, SQLDA_VERSION1, out_->get()));
        }
        out_->BindBuffers();
        prepared_ = true;
    } catch (...) {
        FreeStatement(DSQL_drop, true);
        throw;
    }
}

void TFbQuery::FillInput() {
    const int n = in_->Count();
    for (int i = 0; i < n; ++i) {
        XSQLVAR& v = in_->Var(i);
        const Param* p = i < ParameterCount() ? &params_[static_cast<std::size_t>(i)] : nullptr;
        if (p == nullptr || p->kind == Param::Kind::Null) {
            *v.sqlind = -1;
            continue;
        }
        *v.sqlind = 0;
        const std::string& value = p->value;
        const int type = BaseType(v);
        const auto fail = [&] {
            const std::string who = p->name.empty() ? std::to_string(i) : p->name;
            const std::string shown = value.size() > 64 ? value.substr(0, 64) + "..." : value;
            RaiseClientErrorText(ceInvalidDataConversion,
                                 std::string(ClientErrorFormat(ceInvalidDataConversion)) +
                                     " Parameter " + who + ": '" + shown + "' is not a valid " +
                                     TypeName(type) + ".");
        };
        // The value goes as text and the server converts it.
        const auto asText = [&] {
            if (value.size() > static_cast<std::size_t>(std::numeric_limits<ISC_SHORT>::max())) {
                RaiseClientErrorText(ceInvalidDataConversion,
                                     std::string(ClientErrorFormat(ceInvalidDataConversion)) +
                                         " Parameter " +
                                         (p->name.empty() ? std::to_string(i) : p->name) +
                                         ": the text is longer than 32767 bytes.");
            }
            v.sqltype = SQL_TEXT | 1;
            v.sqllen = static_cast<ISC_SHORT>(value.size());
            char* buf = in_->Buffer(i, value.size());
            std::memcpy(buf, value.data(), value.size());
        };
        switch (type) {
            case SQL_TEXT:
            case SQL_VARYING:
                asText();
                break;
            case SQL_SHORT:
            case SQL_LONG:
            case SQL_INT64: {
                const std::int64_t lo = type == SQL_SHORT ? std::numeric_limits<std::int16_t>::min()
                                        : type == SQL_LONG
                                            ? std::numeric_limits<std::int32_t>::min()
                                            : std::numeric_limits<std::int64_t>::min();
                const std::int64_t hi = type == SQL_SHORT ? std::numeric_limits<std::int16_t>::max()
                                        : type == SQL_LONG
                                            ? std::numeric_limits<std::int32_t>::max()
                                            : std::numeric_limits<std::int64_t>::max();
                const auto n64 = ParseScaledInteger(value, v.sqlscale, lo, hi);
                if (!n64) fail();
                if (type == SQL_SHORT) Store(v.sqldata, static_cast<std::int16_t>(*n64));
                if (type == SQL_LONG) Store(v.sqldata, static_cast<std::int32_t>(*n64));
                if (type == SQL_INT64) Store(v.sqldata, static_cast<std::int64_t>(*n64));
                break;
            }
            case SQL_FLOAT:
            case SQL_DOUBLE:
            case SQL_D_FLOAT: {
                const auto d = ParseFloat(value);
                if (!d) fail();
                if (type == SQL_FLOAT) {
                    if (std::abs(*d) > std::numeric_limits<float>::max()) fail();
                    Store(v.sqldata, static_cast<float>(*d));
                } else {
                    Store(v.sqldata, *d);
                }
                break;
            }
            case SQL_TIMESTAMP:
            case SQL_TYPE_DATE:
            case SQL_TYPE_TIME: {
                const auto t = ParseFbDateTime(value);
                const bool fits =
                    t && (type == SQL_TYPE_TIME ? t->hasTime && !t->hasDate : t->hasDate);
                if (!fits) {
                    // Other forms ('NOW', 'TODAY', month names) are the
                    // server's to read.
                    asText();
                    break;
                }
                const FbDateTime& x = t->value;
                if (type == SQL_TIMESTAMP) {
                    ISC_TIMESTAMP ts{EncodeFbDate(x.year, x.month, x.day),
                                     EncodeFbTime(x.hour, x.minute, x.second, x.fraction)};
                    Store(v.sqldata, ts);
                } else if (type == SQL_TYPE_DATE) {
                    Store(v.sqldata, static_cast<ISC_DATE>(EncodeFbDate(x.year, x.month, x.day)));
                } else {
                    Store(v.sqldata, static_cast<ISC_TIME>(
                                         EncodeFbTime(x.hour, x.minute, x.second, x.fraction)));
                }
                break;
            }
            case SQL_BOOLEAN: {
                const auto b = ParseBoolean(value);
                if (!b) fail();
                Store(v.sqldata, static_cast<FB_BOOLEAN>(*b ? FB_TRUE : FB_FALSE));
                break;
            }
            case SQL_BLOB: {
                ISC_QUAD id{};
                WriteBlob(&id, value);
                Store(v.sqldata, id);
                break;
            }
            case SQL_NULL:
                break;
            case SQL_ARRAY:
                fail();
                break;
            default:
                RaiseClientError(ceUnknownSQLDataType, {type});
        }
    }
}

void TFbQuery::WriteBlob(void* blobId, const std::string& bytes) {
    TFbDatabase& db = RequireDatabase();
    TFbBasicTransaction& tr = RequireTransaction();
    const FbClientApi& api = Library().Api();
    isc_blob_handle blob = 0;
    auto* id = static_cast<ISC_QUAD*>(blobId);
    Check(api.isc_create_blob2(StatusVector(), db.HandleAddress(), tr.HandleAddress(), &blob, id, 0,
                               nullptr));
    for (std::size_t pos = 0; pos < bytes.size(); pos += kSegmentSize) {
        const std::size_t len = std::min(kSegmentSize, bytes.size() - pos);
        const FbStatus status = api.isc_put_segment(
            StatusVector(), &blob, static_cast<unsigned short>(len), bytes.data() + pos);
        if (status > 0) {
            EFbEngineError error = MakeEngineError(Library(), this);
            FbStatus scratch[kStatusVectorLength] = {};
            api.isc_close_blob(scratch, &blob);
            throw error;
        }
    }
    Check(api.isc_close_blob(StatusVector(), &blob));
}

std::string TFbQuery::ReadBlob(const void* blobId) {
    TFbDatabase& db = RequireDatabase();
    TFbBasicTransaction& tr = RequireTransaction();
    const FbClientApi& api = Library().Api();
    isc_blob_handle blob = 0;
    ISC_QUAD id = Load<ISC_QUAD>(static_cast<const char*>(blobId));
    Check(api.isc_open_blob2(StatusVector(), db.HandleAddress(), tr.HandleAddress(), &blob, &id, 0,
                             nullptr));
    std::string out;
    std::vector<char> buffer(kSegmentSize);
    while (true) {
        unsigned short actual = 0;
        const FbStatus status =
            api.isc_get_segment(StatusVector(), &blob, &actual,
                                static_cast<unsigned short>(buffer.size()), buffer.data());
        if (status == isc_segstr_eof) break;
        if (status != 0 && status != isc_segment) {
            EFbEngineError error = MakeEngineError(Library(), this);
            FbStatus scratch[kStatusVectorLength] = {};
            api.isc_close_blob(scratch, &blob);
            throw error;
        }
        if (actual > buffer.size()) {
            FbStatus scratch[kStatusVectorLength] = {};
            api.isc_close_blob(scratch, &blob);
            RaiseClientErrorText(ceOutputParsingError,
                                 std::string(ClientErrorFormat(ceOutputParsingError)) +
                                     ": a blob segment of " + std::to_string(actual) +
                                     " bytes was reported for a buffer of " +
                                     std::to_string(buffer.size()) + ".");
        }
        out.append(buffer.data(), actual);
    }
    Check(api.isc_close_blob(StatusVector(), &blob));
    return out;
}

void TFbQuery::ExecuteQuery() {
    TFbDatabase& db = RequireDatabase();
    TFbBasicTransaction& tr = RequireTransaction();
    if (!processed_.error.empty()) {
        RaiseClientError(ceSQLParseError, {OriginName(), processed_.error});
    }
    if (IsAllBlank(processed_.text)) RaiseClientError(ceEmptyQuery, {"execute"});
    CloseCursorQuietly();
    hasRow_ = false;
    const FbClientApi& api = Library().Api();
    if (sqlKind_ == sqkSchema) {
        Check(api.isc_dsql_execute_immediate(
            StatusVector(), db.HandleAddress(), tr.HandleAddress(), 0, processed_.text.c_str(),
            static_cast<unsigned short>(db.SQLDialect()), nullptr));
        return;
    }
    if (!Prepared()) Prepare();
    FillInput();
    XSQLDA* in = in_->Count() > 0 ? in_->get() : nullptr;
    switch (statementType_) {
        case SQLSelect:
        case SQLSelectForUpdate:
            Check(api.isc_dsql_execute(StatusVector(), tr.HandleAddress(), &stmt_, SQLDA_VERSION1,
                                       in));
            cursorOpen_ = true;
            if (GoToFirstRecordOnExecute) Fetch();
            break;
        case SQLExecProcedure: {
            XSQLDA* out = out_->Count() > 0 ? out_->get() : nullptr;
            Check(api.isc_dsql_execute2(StatusVector(), tr.HandleAddress(), &stmt_, SQLDA_VERSION1,
                                        in, out));
            hasRow_ = out != nullptr;
            break;
        }
        case SQLCommit:
            tr.Commit();
            break;
        case SQLRollback:
            tr.RollBack();
            break;
        default:
            Check(api.isc_dsql_execute(StatusVector(), tr.HandleAddress(), &stmt_, SQLDA_VERSION1,
                                       in));
            break;
    }
}

void TFbQuery::Fetch() {
    const FbStatus status =
        Library().Api().isc_dsql_fetch(StatusVector(), &stmt_, SQLDA_VERSION1, out_->get());
    if (status == 100) {
        hasRow_ = false;
        return;
    }
    Check(status);
    hasRow_ = true;
}

void TFbQuery::Next() {
    if (!cursorOpen_) {
        hasRow_ = false;
        return;
    }
    RequireDatabase();
    Fetch();
}

void TFbQuery::Close() {
    if (cursorOpen_) FreeStatement(DSQL_close, false);
    hasRow_ = false;
}

bool TFbQuery::ExecutesTextBatch() const {
    return database_ != nullptr && !database_->ServerIsFirebird() &&
           database_->ServerVersionMajor() > 7;
}

void TFbQuery::ExecuteTextBatch(const std::vector<std::string>& texts, int lastIndex) {
    RequireDatabase();
    if (!ExecutesTextBatch()) return;
    TFbDatabase& db = *database_;
    const std::size_t count =
        std::min(texts.size(), static_cast<std::size_t>(std::max(lastIndex + 1, 0)));
    if (count == 0) return;
    TFbBasicTransaction* tr = transaction_ != nullptr ? transaction_ : &db.InternalTransaction();
    if ((Options & qoStartTransaction) != 0 && !tr->Active()) tr->StartTransaction();
    RequireTransaction();
    std::vector<std::vector<char>> buffers;
    std::vector<char*> pointers;
    buffers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        buffers.emplace_back(texts[i].begin(), texts[i].end());
        buffers.back().push_back('\0');
        pointers.push_back(buffers.back().data());
    }
    std::vector<ISC_ULONG> results(count, 0);
    Check(Library().Api().isc_dsql_batch_execute_immed(
        StatusVector(), db.HandleAddress(), tr->HandleAddress(),
        static_cast<unsigned short>(db.SQLDialect()), static_cast<ISC_ULONG>(count),
        pointers.data(), results.data()));
}

const void* TFbQuery::FieldVar(int index) const {
    if (!out_ || index < 0 || index >= out_->Count()) RaiseClientError(ceInvalidColumnIndex);
    if (!hasRow_) RaiseClientError(25);
    return &out_->Var(index);
}

int TFbQuery::FieldCount() const { return out_ ? out_->Count() : 0; }

std::string TFbQuery::FieldName(int index) const {
    if (!out_ || index < 0 || index >= out_->Count()) RaiseClientError(ceInvalidColumnIndex);
    const XSQLVAR& v = out_->Var(index);
    const auto len =
        static_cast<std::size_t>(std::clamp<int>(v.aliasname_length, 0, sizeof v.aliasname));
    return std::string(v.aliasname, len);
}

bool TFbQuery::FieldIsNull(int index) const {
    FieldVar(index);
    return out_->IsNull(index);
}

std::string TFbQuery::FieldAsText(int index) {
    const auto& v = *static_cast<const XSQLVAR*>(FieldVar(index));
    if (out_->IsNull(index)) return {};
    const char* d = v.sqldata;
    const std::size_t room = out_->BufferSize(index);
    switch (BaseType(v)) {
        case SQL_TEXT: {
            std::string s(d, std::min(room, static_cast<std::size_t>(v.sqllen)));
            if ((Options & qoTrimCharFields) != 0) {
                while (!s.empty() && s.back() == ' ') s.pop_back();
            }
            return s;
        }
        case SQL_VARYING: {
            const auto len = Load<std::int16_t>(d);
            if (len < 0 || len > v.sqllen || static_cast<std::size_t>(len) + 2 > room) {
                RaiseClientErrorText(ceOutputParsingError,
                                     std::string(ClientErrorFormat(ceOutputParsingError)) +
                                         ": column " + std::to_string(index) + " reports " +
                                         std::to_string(len) + " bytes in a field of " +
                                         std::to_string(v.sqllen) + ".");
            }
            return std::string(d + 2, static_cast<std::size_t>(len));
        }
        case SQL_SHORT:
            return FormatScaledInteger(Load<std::int16_t>(d), v.sqlscale);
        case SQL_LONG:
            return FormatScaledInteger(Load<std::int32_t>(d), v.sqlscale);
        case SQL_INT64:
            return FormatScaledInteger(Load<std::int64_t>(d), v.sqlscale);
        case SQL_FLOAT:
            return FormatFloat(Load<float>(d));
        case SQL_DOUBLE:
        case SQL_D_FLOAT:
            return FormatFloat(Load<double>(d));
        case SQL_BOOLEAN:
            return Load<FB_BOOLEAN>(d) != 0 ? "true" : "false";
        case SQL_TYPE_DATE: {
            const FbDateTime t = FieldAsDateTime(index);
            return FormatFbDate(t.year, t.month, t.day);
        }
        case SQL_TYPE_TIME: {
            const FbDateTime t = FieldAsDateTime(index);
            return FormatFbTime(t.hour, t.minute, t.second, t.fraction);
        }
        case SQL_TIMESTAMP: {
            const FbDateTime t = FieldAsDateTime(index);
            return FormatFbDate(t.year, t.month, t.day) + " " +
                   FormatFbTime(t.hour, t.minute, t.second, t.fraction);
        }
        case SQL_BLOB:
            return ReadBlob(d);
        default:
            RaiseClientError(ceUnknownSQLDataType, {BaseType(v)});
    }
}

std::int64_t TFbQuery::FieldAsInt64(int index) const {
    const auto& v = *static_cast<const XSQLVAR*>(FieldVar(index));
    if (out_->IsNull(index)) return 0;
    const char* d = v.sqldata;
    std::int64_t value = 0;
    switch (BaseType(v)) {
        case SQL_SHORT:
            value = Load<std::int16_t>(d);
            break;
        case SQL_LONG:
            value = Load<std::int32_t>(d);
            break;
        case SQL_INT64:
            value = Load<std::int64_t>(d);
            break;
        default:
            RaiseClientError(ceInvalidDataConversion);
    }
    for (int s = v.sqlscale; s < 0; ++s) value /= 10;
    return value;
}

FbDateTime TFbQuery::FieldAsDateTime(int index) const {
    const auto& v = *static_cast<const XSQLVAR*>(FieldVar(index));
    FbDateTime t;
    if (out_->IsNull(index)) return t;
    const char* d = v.sqldata;
    switch (BaseType(v)) {
        case SQL_TIMESTAMP: {
            const auto ts = Load<ISC_TIMESTAMP>(d);
            DecodeFbDate(ts.timestamp_date, t.year, t.month, t.day);
            DecodeFbTime(ts.timestamp_time, t.hour, t.minute, t.second, t.fraction);
            break;
        }
        case SQL_TYPE_DATE:
            DecodeFbDate(Load<ISC_DATE>(d), t.year, t.month, t.day);
            break;
        case SQL_TYPE_TIME:
            DecodeFbTime(Load<ISC_TIME>(d), t.hour, t.minute, t.second, t.fraction);
            break;
        default:
            RaiseClientError(ceInvalidDataConversion);
    }
    return t;
}

}  // namespace qm
