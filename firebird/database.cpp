#include "firebird/database.h"

#include <algorithm>
#include <array>
#include <climits>
#include <ctime>
#include <mutex>
#include <optional>

#include "firebird/client_api.h"
#include "firebird/errors.h"
#include "firebird/fpu.h"
#include "firebird/query.h"
#include "firebird/sql_values.h"
#include "firebird/transaction.h"
#include "platform/local_time.h"

namespace qm {

namespace {

// Serialises the attaches of every database component of the process.
std::mutex gAttachLock;

// The DPB item names; the position (1-based) is the tag. Tags from 68 on are
// recognised only to be refused.
const std::array<const char*, 83> kDpbNames = {"cdd_pathname",
                                               "allocation",
                                               "journal",
                                               "page_size",
                                               "num_buffers",
                                               "buffer_length",
                                               "debug",
                                               "garbage_collect",
                                               "verify",
                                               "sweep",
                                               "enable_journal",
                                               "disable_journal",
                                               "dbkey_scope",
                                               "number_of_users",
                                               "trace",
                                               "no_garbage_collect",
                                               "damaged",
                                               "license",
                                               "sys_user_name",
                                               "encrypt_key",
                                               "activate_shadow",
                                               "sweep_interval",
                                               "delete_shadow",
                                               "force_write",
                                               "begin_log",
                                               "quit_log",
                                               "no_reserve",
                                               "user_name",
                                               "password",
                                               "password_enc",
                                               "sys_user_name_enc",
                                               "interp",
                                               "online_dump",
                                               "old_file_size",
                                               "old_num_files",
                                               "old_file",
                                               "old_start_page",
                                               "old_start_seqno",
                                               "old_start_file",
                                               "drop_walfile",
                                               "old_dump_id",
                                               "wal_backup_dir",
                                               "wal_chkptlen",
                                               "wal_numbufs",
                                               "wal_bufsize",
                                               "wal_grp_cmt_wait",
                                               "lc_messages",
                                               "lc_ctype",
                                               "cache_manager",
                                               "shutdown",
                                               "online",
                                               "shutdown_delay",
                                               "reserved",
                                               "overwrite",
                                               "sec_attach",
                                               "disable_wal",
                                               "connect_timeout",
                                               "dummy_packet_interval",
                                               "gbak_attach",
                                               "sql_role_name",
                                               "set_page_buffers",
                                               "working_directory",
                                               "sql_dialect",
                                               "set_db_readonly",
                                               "set_db_sql_dialect",
                                               "gfix_attach",
                                               "gstat_attach",
                                               "gbak_ods_version",
                                               "gbak_ods_minor_version",
                                               "set_group_commit",
                                               "gbak_validate",
                                               "client_interbase_var",
                                               "admin_option",
                                               "flush_interval",
                                               "instance_name",
                                               "old_overwrite",
                                               "archive_database",
                                               "archive_journals",
                                               "archive_sweep",
                                               "archive_dumps",
                                               "archive_recover",
                                               "recover_until",
                                               "force"};

int DpbTag(const std::string& name) {
    for (std::size_t i = 0; i < kDpbNames.size(); ++i) {
        if (name == kDpbNames[i]) return static_cast<int>(i) + 1;
    }
    return 0;
}

bool IsOneOf(int tag, std::initializer_list<int> tags) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

constexpr std::size_t kInfoValueBuffer = 512;
constexpr std::size_t kInfoTextBuffer = 1024;
// isc_attach_database takes the DPB length as a signed 16-bit number.
constexpr std::size_t kMaxDpbLength = 32767;

constexpr std::uint8_t kInfoCharSet = 101;  // frb_info_att_charset

bool StartsWithNoCase(const std::string& text, std::size_t at, const std::string& item) {
    if (text.size() < at + item.size()) return false;
    return LowerAscii(text.substr(at, item.size())) == item;
}

// Local wall-clock time as days since the epoch of the client API's dates.
double LocalNowDays() {
    const std::time_t now = std::time(nullptr);
    const std::tm local = platform::LocalTime(now);
    const FbDateTime t{local.tm_year + 1900,
                       local.tm_mon + 1,
                       local.tm_mday,
                       local.tm_hour,
                       local.tm_min,
                       local.tm_sec,
                       0};
    return DaysOf(t);
}

}  // namespace

// --- TFbConnectParams --------------------------------------------------------

std::string TFbConnectParams::Get(const std::string& item) const {
    for (const std::string& line : db_.dbParams_) {
        if (StartsWithNoCase(line, 0, item) || StartsWithNoCase(line, 8, item)) {
            const auto eq = line.find('=');
            return eq == std::string::npos ? std::string() : line.substr(eq + 1);
        }
    }
    return {};
}

void TFbConnectParams::Set(const std::string& item, const std::string& value) {
    std::vector<std::string> lines = db_.dbParams_;
    auto it = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return StartsWithNoCase(line, 0, item) || StartsWithNoCase(line, 8, item);
    });
    if (value.empty()) {
        if (it == lines.end()) return;
        lines.erase(it);
    } else if (it != lines.end()) {
        *it = item + "=" + value;
    } else {
        lines.push_back(item + "=" + value);
    }
    db_.SetDBParams(std::move(lines));
}

void TFbConnectParams::SetCharSet(const std::string& v) {
    std::string upper = v;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    Set("lc_ctype", upper);
}

// --- TFbDatabase -------------------------------------------------------------

TFbDatabase::TFbDatabase(TComponent* owner, std::string name) : TComponent(owner, std::move(name)) {
    internalTransaction_ = std::make_unique<TFbBasicTransaction>(this);
    internalTransaction_->TimeoutAction = TACommit;
    internalTransaction_->SetTRParams({"write", "isc_tpb_nowait", "read_committed", "rec_version"});
    internalTransaction_->SetDefaultDatabase(this);
}

TFbDatabase::~TFbDatabase() {
    idleTimer_.reset();
    try {
        if (internalTransaction_->Active()) internalTransaction_->DoEndTransaction(TACommit, true);
    } catch (...) {
    }
    try {
        if (Connected()) Close(true);
    } catch (...) {
        handle_ = 0;
    }
    for (TFbBasicTransaction* t : std::vector<TFbBasicTransaction*>(transactions_)) t->Unlink(this);
    internalTransaction_.reset();
    for (IFbStatementUser* s : std::vector<IFbStatementUser*>(statements_)) {
        s->Notice(FbNotice::Destroyed, this, TARollback);
    }
}

void TFbDatabase::SetDBName(const std::string& name) {
    if (name == dbName_) return;
    if (Connected()) RaiseClientError(ceDatabaseOpen);
    dbName_ = name;
}

void TFbDatabase::DBParamsChanging() {
    if (Connected()) RaiseClientError(ceDatabaseOpen);
}

void TFbDatabase::SetDBParams(std::vector<std::string> lines) {
    DBParamsChanging();
    dbParams_ = std::move(lines);
    dpbStale_ = true;
}

void TFbDatabase::SetSQLDialect(std::int32_t dialect) {
    if (dialect < 1) RaiseClientError(ceInvalidSQLDialect);
    if (Connected() && dialect > storedSQLDialect_) RaiseClientError(ceInvalidSQLDialect);
    sqlDialect_ = dialect;
}

void TFbDatabase::SetLibraryName(const std::string& name) {
    if (Connected()) RaiseClientError(ceDatabaseOpen);
    if (name == libraryName_) return;
    libraryName_ = name;
    library_.reset();
}

void TFbDatabase::SetConnected(bool value) {
    if (value) {
        Connect(true);
    } else {
        Disconnect();
    }
}

void TFbDatabase::SetTimeout(std::uint32_t ms) {
    timeout_ = ms;
    if (ms == 0) {
        idleTimer_.reset();
        return;
    }
    if (!idleTimer_) idleTimer_ = TimerFactory().CreateTimer([this] { IdleTick(); });
    if (Connected()) idleTimer_->Start(ms);
}

void TFbDatabase::RestartIdleTimer() {
    if (idleTimer_ && idleTimer_->IsActive()) idleTimer_->Start(timeout_);
}

void TFbDatabase::IdleTick() {
    if (idleTimer_) idleTimer_->Stop();
    if (!Connected()) return;
    ForceDisconnect();
    if (OnTimeout) OnTimeout();
}

const TFbClientLibrary& TFbDatabase::Library() {
    if (!library_) library_ = AcquireClientLibrary(libraryName_);
    return *library_;
}

FbStatus TFbDatabase::CheckResult(FbStatus status, bool raise) {
    RestoreDefaultFpuControl();
    RestartIdleTimer();
    if (raise && status > 0) RaiseEngineError(Library(), this);
    return status;
}

void TFbDatabase::AddStatementUser(IFbStatementUser* user) {
    if (std::find(statements_.begin(), statements_.end(), user) == statements_.end()) {
        statements_.push_back(user);
    }
}

void TFbDatabase::RemoveStatementUser(IFbStatementUser* user) {
    statements_.erase(std::remove(statements_.begin(), statements_.end(), user), statements_.end());
}

void TFbDatabase::NotifyStatements(FbNotice notice) {
    for (IFbStatementUser* s : std::vector<IFbStatementUser*>(statements_)) {
        if (notice == FbNotice::ConnectDone && !Connected()) break;
        s->Notice(notice, this, TARollback);
    }
}

Bytes TFbDatabase::BuildDPB(std::vector<std::string>& lines) {
    ParamBlockWriter w;
    w.Byte(isc_dpb_version1);
    for (std::string& line : lines) {
        line = StripControl(line);
        if (line.empty()) continue;
        const ParamLine p = SplitParamLine(line);
        const std::string name = ParamItemName(p.name, "isc_dpb_");
        const int tag = DpbTag(name);
        if (tag == 0) RaiseClientError(ceDpbConstantUnknown, {name});
        const auto tagByte = static_cast<std::uint8_t>(tag);
        if (IsOneOf(tag, {18, 19, 20, 28, 29, 30, 36, 47, 48, 60, 75})) {
            w.Byte(tagByte);
            w.ByteCountedText(p.value, ceDpbConstantUnsupported, "isc_dpb_" + name);
        } else if (tag == 63) {
            w.Byte(tagByte);
            std::string value = p.value;
            // The dialect goes as its digit value, not as the character.
            if (!value.empty()) value[0] = static_cast<char>(value[0] - '0');
            w.ByteCountedText(value, ceDpbConstantUnsupported, "isc_dpb_" + name);
        } else if (IsOneOf(tag, {5, 9, 13, 17, 24, 27, 33, 34, 54, 57, 58})) {
            const std::int32_t v = StrToInt(p.value);
            w.Byte(tagByte);
            w.Byte(1);
            w.Byte(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) & 0xFF));
        } else if (tag == 22) {
            const std::int32_t v = StrToInt(p.value);
            w.Byte(tagByte);
            w.Byte(4);
            w.Int32LE(static_cast<std::uint32_t>(v));
        } else if (tag == 10) {
            w.Byte(tagByte);
            w.Byte(1);
            w.Byte(2);
        } else if (IsOneOf(tag, {8, 16, 21, 23, 25, 26})) {
            w.Byte(tagByte);
            w.Byte(1);
            w.Byte(0);
        } else {
            RaiseClientError(ceDpbConstantUnsupported,
                             {kDpbNames[static_cast<std::size_t>(tag - 1)]});
        }
    }
    if (w.Data().size() > kMaxDpbLength) {
        RaiseClientErrorText(ceDpbConstantUnsupported,
                             "The database parameter buffer is longer than " +
                                 std::to_string(kMaxDpbLength) + " bytes.");
    }
    return w.Take();
}

std::vector<std::int32_t> TFbDatabase::ParseVersionText(const std::string& text) {
    std::vector<std::int32_t> numbers(4, 0);
    std::size_t stored = 0;
    std::int64_t current = 0;
    for (std::size_t i = 4; i + 1 < text.size() && stored < numbers.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            current = std::min<std::int64_t>(current * 10 + (c - '0'), INT32_MAX);
        } else {
            numbers[stored++] = static_cast<std::int32_t>(current);
            current = 0;
        }
    }
    return numbers;
}

void TFbDatabase::ResetFacts() {
    serverVersionMajor_ = -1;
    serverVersionMinor_ = -1;
}

void TFbDatabase::Connect(bool raiseOnFailure) {
    if (Connected()) return;
    ResetFacts();
    FbStatus status = 0;
    {
        std::lock_guard guard(gAttachLock);
        if (dbName_.empty()) RaiseClientError(ceDatabaseNameMissing);
        const TFbClientLibrary& lib = Library();
        NotifyStatements(FbNotice::ConnectBegin);
        if (dpbStale_) {
            // Cleared only once the buffer is built, so that a refused line
            // is refused again at the next attach instead of the old buffer
            // being sent.
            dpb_ = BuildDPB(dbParams_);
            dpbStale_ = false;
        }
        if (dbName_.size() > static_cast<std::size_t>(SHRT_MAX)) {
            RaiseClientErrorText(ceUnknownError, "The database name is longer than " +
                                                     std::to_string(SHRT_MAX) + " bytes.");
        }
        status = lib.Api().isc_attach_database(
            StatusVector(), static_cast<short>(dbName_.size()), dbName_.c_str(), &handle_,
            static_cast<short>(dpb_.size()), reinterpret_cast<const ISC_SCHAR*>(dpb_.data()));
        CheckResult(status, false);
    }
    if (status > 0) {
        handle_ = 0;
        if (raiseOnFailure) RaiseEngineError(Library(), this);
        return;
    }
    internalTransaction_->SetTimeout(1000);
    if (idleTimer_ && timeout_ > 0) idleTimer_->Start(timeout_);
    if (attachmentId_ == -1) {
        attachmentId_ = static_cast<std::int32_t>(DatabaseInfoValue(isc_info_attachment_id).value);
    }
    timeDifference_ = 0;
    const FbInfoValue dialect = DatabaseInfoValue(isc_info_db_sql_dialect);
    storedSQLDialect_ = dialect.answered ? static_cast<std::int32_t>(dialect.value) : 1;
    if (storedSQLDialect_ < sqlDialect_) sqlDialect_ = storedSQLDialect_;
    if (SynchronizeTime) RunTimeQuery();
    LearnServerFacts();
    if (OnConnect) OnConnect();
    NotifyStatements(FbNotice::ConnectDone);
}

void TFbDatabase::RunTimeQuery() {
    const std::string sql = sqlDialect_ >= 2 ? "SELECT CAST('NOW' AS TIMESTAMP) from RDB$DATABASE"
                                             : "SELECT CAST('NOW' AS DATE) from RDB$DATABASE";
    TFbBasicTransaction& tr = *internalTransaction_;
    TFbQuery query;
    query.SetDatabase(this);
    query.SetTransaction(&tr);
    query.SetSqlText({sql});
    double serverDays = 0;
    try {
        if (!tr.Active()) tr.StartTransaction();
        query.ExecuteQuery();
        serverDays = DaysOf(query.FieldAsDateTime(0));
    } catch (...) {
        if (tr.Active()) {
            try {
                tr.RollBack();
            } catch (...) {
            }
        }
        throw;
    }
    if (tr.Active()) tr.Commit();
    timeDifference_ = LocalNowDays() - serverDays;
}

void TFbDatabase::AskDatabaseInfo(std::uint8_t item, char* answer, std::size_t size) {
    const FbStatus status = Library().Api().isc_database_info(
        StatusVector(), &handle_, 1, reinterpret_cast<const ISC_SCHAR*>(&item),
        static_cast<short>(size), answer);
    CheckResult(status, true);
}

std::string TFbDatabase::DatabaseInfoText(std::uint8_t item) {
    std::array<char, kInfoTextBuffer> answer{};
    AskDatabaseInfo(item, answer.data(), answer.size());
    InfoCursor c(answer.data(), answer.size(),
                 "the answer to database information item " + std::to_string(item));
    if (c.Byte() != item) return {};
    const std::size_t length = c.UInt16();
    if (length > c.Remaining())
        c.Fail("its length " + std::to_string(length) + " exceeds the buffer");
    InfoCursor value(answer.data() + c.Position(), length,
                     "the answer to database information item " + std::to_string(item));
    if (value.AtEnd() || value.Byte() == 0) return {};
    return value.Text(value.Byte());
}

FbInfoValue TFbDatabase::DatabaseInfoValue(std::uint8_t item) {
    std::array<char, kInfoValueBuffer> answer{};
    AskDatabaseInfo(item, answer.data(), answer.size());
    InfoCursor c(answer.data(), answer.size(),
                 "the answer to database information item " + std::to_string(item));
    FbInfoValue out;
    out.answered = c.Byte() == item;
    if (!out.answered) return out;
    const std::size_t length = c.UInt16();
    out.value = c.Integer(length);
    return out;
}

void TFbDatabase::LearnServerFacts() {
    ReadServerVersion();
    const FbInfoValue odsMajor = DatabaseInfoValue(isc_info_ods_version);
    const FbInfoValue odsMinor = DatabaseInfoValue(isc_info_ods_minor_version);
    odsMajor_ = static_cast<std::int32_t>(odsMajor.value);
    odsMinor_ = static_cast<std::int32_t>(odsMinor.value);
    if (serverIsFirebird_ && serverVersionMajor_ >= 2) {
        LearnCharSetFacts();
        return;
    }
    const std::string charSet = connectParams_.CharSet();
    unicodeConnection_ = charSet == "UNICODE_FSS" || charSet == "UTF8";
    noneConnection_ = charSet == "NONE" || charSet.empty();
    fullUnicodeSupport_ = false;
}

void TFbDatabase::ReadServerVersion() {
    std::string text = DatabaseInfoText(isc_info_firebird_version);
    serverIsFirebird_ = !text.empty();
    if (!serverIsFirebird_) text = DatabaseInfoText(isc_info_version);
    serverVersionText_ = text;
    const std::vector<std::int32_t> numbers = ParseVersionText(text);
    serverVersionMajor_ = numbers[0];
    serverVersionMinor_ = numbers[1];
    serverIsInterBase8_ = !serverIsFirebird_ && serverVersionMajor_ > 7;
}

void TFbDatabase::LearnCharSetFacts() {
    const FbInfoValue cs = DatabaseInfoValue(kInfoCharSet);
    attachmentCharSet_ = cs.answered ? static_cast<std::int32_t>(cs.value) : -1;
    const std::vector<int> unicode = UnicodeCharSets();
    unicodeConnection_ =
        attachmentCharSet_ >= 0 && attachmentCharSet_ <= 255 &&
        std::find(unicode.begin(), unicode.end(), attachmentCharSet_) != unicode.end();
    noneConnection_ = attachmentCharSet_ == 0;
    const bool serverOk =
        serverVersionMajor_ > 2 || (serverVersionMajor_ == 2 && serverVersionMinor_ >= 1);
    const bool odsOk = odsMajor_ > 11 || (odsMajor_ == 11 && odsMinor_ >= 1);
    fullUnicodeSupport_ = UnicodeOrNoneConnection() && serverOk && odsOk;
}

std::vector<int> TFbDatabase::UnicodeCharSets() const {
    if (!Connected()) return {3};
    if (serverIsFirebird_) return {3, 4};
    if (serverIsInterBase8_) return {3, 8, 59, 64};
    return {3};
}

void TFbDatabase::Disconnect() {
    if (Connected()) Close(false);
    attachmentId_ = -1;
    internalTransaction_->SetTimeout(0);
}

void TFbDatabase::ForceDisconnect() {
    if (Connected()) Close(true);
}

void TFbDatabase::Close(bool force) {
    if (!Connected()) {
        if (!AutoReconnect) RaiseClientError(ceDatabaseClosed, {OriginName()});
        return;
    }
    if (BeforeDisconnect) BeforeDisconnect();
    for (TFbBasicTransaction* t : std::vector<TFbBasicTransaction*>(transactions_)) {
        if (!t->Active()) continue;
        if (force) {
            try {
                t->EndForced();
            } catch (...) {
            }
        } else {
            t->EndForced();
        }
    }
    if (force) {
        try {
            NotifyStatements(FbNotice::DisconnectBegin);
        } catch (...) {
        }
    } else {
        NotifyStatements(FbNotice::DisconnectBegin);
    }
    const FbStatus status = Library().Api().isc_detach_database(StatusVector(), &handle_);
    handle_ = 0;
    CheckResult(status, false);
    std::optional<EFbEngineError> error;
    if (!force && status > 0) error = MakeEngineError(Library(), this);
    if (idleTimer_) idleTimer_->Stop();
    // A new attachment has a new id; the old one must not outlive this one.
    attachmentId_ = -1;
    internalTransaction_->SetTimeout(0);
    NotifyStatements(FbNotice::DisconnectDone);
    if (AfterDisconnect) AfterDisconnect();
    if (error) throw *error;
}

void TFbDatabase::CreateDatabase() {
    if (Connected()) RaiseClientError(ceDatabaseOpen);
    const TFbClientLibrary& lib = Library();
    // The name goes inside a quoted literal: a quote in it is doubled so that
    // it stays part of the name.
    std::string quoted;
    for (char c : dbName_) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    std::string sql = "CREATE DATABASE '" + quoted + "' ";
    for (const std::string& line : dbParams_) sql += line + "\r\n";
    FbHandle transaction = 0;
    const FbStatus status =
        lib.Api().isc_dsql_execute_immediate(StatusVector(), &handle_, &transaction, 0, sql.c_str(),
                                             static_cast<unsigned short>(sqlDialect_), nullptr);
    CheckResult(status, true);
    ResetFacts();
    ReadServerVersion();
    if (serverIsFirebird_ && serverVersionMajor_ >= 2) {
        const FbInfoValue odsMajor = DatabaseInfoValue(isc_info_ods_version);
        const FbInfoValue odsMinor = DatabaseInfoValue(isc_info_ods_minor_version);
        odsMajor_ = static_cast<std::int32_t>(odsMajor.value);
        odsMinor_ = static_cast<std::int32_t>(odsMinor.value);
        LearnCharSetFacts();
    }
}

void TFbDatabase::DropDatabase() {
    if (!Connected()) {
        if (!AutoReconnect) RaiseClientError(ceDatabaseClosed, {OriginName()});
        return;
    }
    const TFbClientLibrary& lib = Library();
    NotifyStatements(FbNotice::DisconnectBegin);
    const FbStatus status = lib.Api().isc_drop_database(StatusVector(), &handle_);
    CheckResult(status, true);
    handle_ = 0;
    // The dropped attachment took its transactions with it.
    for (TFbBasicTransaction* t : std::vector<TFbBasicTransaction*>(transactions_)) {
        if (t->Active()) t->Abandon();
    }
    if (idleTimer_) idleTimer_->Stop();
    attachmentId_ = -1;
    internalTransaction_->SetTimeout(0);
    NotifyStatements(FbNotice::DisconnectDone);
}

}  // namespace qm
