#include "firebird/scripter.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <limits>
#include <utility>

#include "firebird/errors.h"
#include "firebird/query.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace qm {

namespace {

// The statement kinds of the query (SqlKind) that this file reads.
constexpr int kSqlKindSchema = sqkSchema;

std::string JoinWithBreaks(const TScriptLines& lines) {
    std::size_t size = 0;
    for (const std::string& l : lines) size += l.size() + 1;
    std::string text;
    text.reserve(size);
    for (const std::string& l : lines) {
        text += l;
        text += '\n';
    }
    return text;
}

bool SameParamName(const std::string& line, const std::string& name) {
    if (line.size() <= name.size() || line[name.size()] != '=') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i]) return false;
    }
    return true;
}

// name=value in a parameter list: the first line of that name (any letter
// case) gets the value, or a line is appended.
void SetParamValue(std::vector<std::string>& lines, const std::string& name,
                   const std::string& value) {
    for (std::string& line : lines) {
        if (SameParamName(line, name)) {
            line = name + "=" + value;
            return;
        }
    }
    lines.push_back(name + "=" + value);
}

// A hexadecimal number of a blob parameter's name: only 0-9 and A-F count,
// any other character counts as 0. False when it does not fit 64 bits.
bool ReadHex(std::string_view digits, std::uint64_t& value) {
    value = 0;
    for (const char c : digits) {
        std::uint64_t d = 0;
        if (c >= '0' && c <= '9') d = static_cast<std::uint64_t>(c - '0');
        if (c >= 'A' && c <= 'F') d = static_cast<std::uint64_t>(c - 'A' + 10);
        if (value > (std::numeric_limits<std::uint64_t>::max() - d) / 16) return false;
        value = value * 16 + d;
    }
    return true;
}

std::string Hex(std::uint64_t v) {
    static const char* const kDigits = "0123456789ABCDEF";
    std::string s;
    do {
        s.insert(s.begin(), kDigits[v % 16]);
        v /= 16;
    } while (v != 0);
    return "0x" + s;
}

// The text of a DESCRIBE: inside its quotes (a doubled quote standing for one,
// whatever follows the closing quote dropped) when it begins with a quote,
// else as it is.
std::string DescriptionText(const std::string& text) {
    if (text.empty() || text[0] != '\'') return text;
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '\'') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\'') {
            out += '\'';
            ++i;
        } else {
            break;
        }
    }
    return out;
}

const char* DescribeUpdate(std::uint8_t objectKind) {
    switch (objectKind) {
        case okDomain:
            return "UPDATE RDB$FIELDS SET RDB$DESCRIPTION = :DESCR WHERE (RDB$FIELD_NAME = :FIELD)";
        case okTable:
        case okView:
            return "UPDATE RDB$RELATIONS SET RDB$DESCRIPTION = :DESCR WHERE RDB$RELATION_NAME = "
                   ":TABNAME";
        case okProcedure:
            return "UPDATE RDB$PROCEDURES SET RDB$DESCRIPTION = :DESCR WHERE (RDB$PROCEDURE_NAME = "
                   ":PROCNAME)";
        case okTrigger:
            return "UPDATE RDB$TRIGGERS SET RDB$DESCRIPTION = :DESCR WHERE (RDB$TRIGGER_NAME = "
                   ":TR_NAME)";
        case okFunction:
            return "update RDB$FUNCTIONS set RDB$DESCRIPTION = ?DESC where (RDB$FUNCTION_NAME = "
                   "?FUNC_NAME)";
        case okException:
            return "UPDATE RDB$EXCEPTIONS SET RDB$DESCRIPTION = :DESCR WHERE (RDB$EXCEPTION_NAME = "
                   ":EXC_NAME)";
        case okGenerator:
            return "update RDB$GENERATORS SET RDB$DESCRIPTION = ?DESC where (RDB$GENERATOR_NAME = "
                   "?GEN_NAME)";
        case okField:
            return "UPDATE RDB$RELATION_FIELDS SET RDB$DESCRIPTION = :DESCR WHERE "
                   "(RDB$RELATION_NAME "
                   "= :TABNAME) and (RDB$FIELD_NAME = :FIELD)";
        case okParameter:
            return "UPDATE RDB$PROCEDURE_PARAMETERS SET RDB$DESCRIPTION = :DESCR WHERE "
                   "(RDB$PROCEDURE_NAME = :PROCNAME) and(RDB$PARAMETER_NAME = :FIELD)";
        default:
            return nullptr;
    }
}

// The object words of COMMENT ON for the kinds DescribeUpdate knows.
const char* CommentTarget(std::uint8_t objectKind) {
    switch (objectKind) {
        case okDomain:
            return "DOMAIN";
        case okTable:
            return "TABLE";
        case okView:
            return "VIEW";
        case okProcedure:
            return "PROCEDURE";
        case okTrigger:
            return "TRIGGER";
        case okFunction:
            return "FUNCTION";
        case okException:
            return "EXCEPTION";
        case okGenerator:
            return "GENERATOR";
        case okField:
            return "COLUMN";
        case okParameter:
            return "PROCEDURE PARAMETER";
        default:
            return "";
    }
}

// A name as the server stores it: quoted in dialect 3 so that it is taken
// letter for letter; dialect 1 has no quoted names.
std::string QuoteName(const std::string& name, int dialect) {
    if (dialect < 3) return name;
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

std::string StringLiteral(const std::string& text) {
    std::string literal = "'";
    for (const char c : text) {
        literal += c;
        if (c == '\'') literal += '\'';
    }
    return literal + "'";
}

// Runs a function when the scope is left, however it is left.
template <typename F>
class ScopeExit {
public:
    explicit ScopeExit(F f) : f_(std::move(f)) {}
    ~ScopeExit() { f_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    F f_;
};

// Runs the steps of a clean-up each to its end; the first error is raised
// once all have run, unless another error is already on its way out.
class CleanUp {
public:
    template <typename Step>
    void Run(Step&& step) {
        try {
            step();
        } catch (...) {
            if (!first_) first_ = std::current_exception();
        }
    }
    void Finish(bool unwinding) {
        if (first_ && !unwinding) std::rethrow_exception(first_);
    }

private:
    std::exception_ptr first_;
};

}  // namespace

TScriptLines SplitTextLines(const std::string& text) {
    TScriptLines lines;
    std::size_t from = 0;
    const std::size_t n = text.size();
    while (from < n) {
        std::size_t at = text.find_first_of("\r\n", from);
        if (at == std::string::npos) {
            lines.emplace_back(text, from, n - from);
            break;
        }
        lines.emplace_back(text, from, at - from);
        from = at + 1;
        if (text[at] == '\r' && from < n && text[from] == '\n') ++from;
    }
    return lines;
}

// --- construction and binding ------------------------------------------------

TFbScripter::TFbScripter(TComponent* owner, std::string name)
    : TComponent(owner, std::move(name)),
      // Unnamed, so that their errors name the scripter as their origin.
      internalTransaction_(std::make_unique<TFbTransaction>(this)),
      query_(std::make_unique<TFbQuery>(this)),
      clientLibrary_(platform::kDefaultClientLibrary) {
    internalTransaction_->AddStatementUser(this);
    query_->SetTransaction(internalTransaction_.get());
}

TFbScripter::~TFbScripter() {
    if (database_ != nullptr) database_->RemoveStatementUser(this);
    if (transaction_ != nullptr) transaction_->RemoveStatementUser(this);
    internalTransaction_->RemoveStatementUser(this);
    CloseBlobFile();
    // The query goes before the transaction and the database it uses.
    query_.reset();
    internalTransaction_.reset();
    ownDatabase_.reset();
}

void TFbScripter::Notice(FbNotice notice, const TComponent* source, TTransactionAction) {
    if (notice == FbNotice::StartDone || notice == FbNotice::EndDone) {
        // A transaction started by anyone else may hold work already.
        if (source == &CurrentTransaction())
            nothingDone_ = notice == FbNotice::StartDone && starting_;
        return;
    }
    if (notice != FbNotice::Destroyed) return;
    if (source == database_) {
        database_ = nullptr;
    }
    if (source == transaction_) {
        transaction_ = nullptr;
        query_->SetTransaction(internalTransaction_.get());
    }
}

void TFbScripter::SetScript(TScriptLines lines, std::string fileName) {
    script_ = std::move(lines);
    scriptFileName_ = std::move(fileName);
    parsed_ = false;
    map_.clear();
}

TFbTransaction& TFbScripter::CurrentTransaction() const {
    return transaction_ != nullptr ? *transaction_ : *internalTransaction_;
}

void TFbScripter::SetDatabase(TFbDatabase* db) {
    if (db == database_) return;
    TFbTransaction& current = CurrentTransaction();
    if (current.Active()) current.Commit();
    std::unique_ptr<TFbDatabase> released;
    if (ownDatabase_ && db != ownDatabase_.get()) released = std::move(ownDatabase_);
    if (database_ != nullptr) database_->RemoveStatementUser(this);
    database_ = db;
    if (database_ != nullptr) database_->AddStatementUser(this);
    internalTransaction_->SetDefaultDatabase(db);
    if (transaction_ != nullptr) transaction_->SetDefaultDatabase(db);
    query_->SetDatabase(db);
    released.reset();
}

void TFbScripter::SetTransaction(TFbTransaction* tr) {
    if (tr == transaction_) return;
    if (transaction_ != nullptr) transaction_->RemoveStatementUser(this);
    transaction_ = tr;
    if (transaction_ != nullptr) {
        transaction_->AddStatementUser(this);
        if (database_ != nullptr) transaction_->SetDefaultDatabase(database_);
    }
    query_->SetTransaction(&CurrentTransaction());
}

TFbDatabase& TFbScripter::RequireDatabase() {
    if (database_ == nullptr) RaiseClientError(ceDatabaseNotAssigned, {OriginName()});
    return *database_;
}

void TFbScripter::EnsureDatabase() {
    if (database_ != nullptr) return;
    auto own = std::make_unique<TFbDatabase>(this, "Database");
    TFbDatabase* db = own.get();
    ownDatabase_ = std::move(own);
    SetDatabase(db);
}

void TFbScripter::StartTransactionIfNeeded() {
    TFbTransaction& tr = CurrentTransaction();
    if (tr.Active()) return;
    starting_ = true;
    const ScopeExit started([&] { starting_ = false; });
    tr.StartTransaction();
}

void TFbScripter::RollBackRefused() {
    TFbTransaction& tr = CurrentTransaction();
    if (!tr.Active()) return;
    // The refused statement undid itself. When nothing else has succeeded in
    // the transaction since this scripter started it, there is nothing to
    // undo, and under read committed a new transaction would see nothing
    // this one does not: ending it and starting another would only cost two
    // synchronous page writes for every refusal.
    if (nothingDone_ && tr.TPBMode == tpbReadCommitted) return;
    tr.RollBack();
}

// --- splitting and statement text --------------------------------------------

void TFbScripter::ParseScript(const std::string& terminator) {
    clientLibrary_ = platform::kDefaultClientLibrary;
    std::string t = terminator;
    parsed_ = false;
    parser_.SplitScript(script_, t, map_, true);
    parsed_ = true;
}

void TFbScripter::GetStatementText(ScriptPos start, ScriptPos end, TScriptLines& lines) const {
    lines.clear();
    const TScriptLines& src = *running_;
    if (src.empty() || start.Col == 0 || start.Line < 0) return;
    if (end.Col == 0) {
        end.Line = static_cast<std::int32_t>(src.size()) - 1;
        end.Col = static_cast<std::uint32_t>(
            std::min<std::size_t>(src.back().size(), std::numeric_limits<std::uint32_t>::max()));
    }
    const auto last = std::min<std::int64_t>(end.Line, static_cast<std::int64_t>(src.size()) - 1);
    for (std::int64_t i = start.Line; i <= last; ++i) {
        const std::string& line = src[static_cast<std::size_t>(i)];
        std::size_t from = 0;
        std::size_t to = line.size();
        if (i == start.Line) from = std::min<std::size_t>(start.Col - 1, line.size());
        if (i == end.Line) to = std::min<std::size_t>(end.Col, line.size());
        lines.emplace_back(to > from ? line.substr(from, to - from) : std::string());
    }
}

TStatementDesc TFbScripter::GetStatement(int n, TScriptLines& lines) const {
    if (n < 1 || n > StatementCount()) {
        throw EFbScripterError("Statement №" + std::to_string(n) + " don't exist");
    }
    const TStatementDesc& d = map_[static_cast<std::size_t>(n - 1)];
    GetStatementText(d.StartPos, d.EndPos, lines);
    return d;
}

ScriptPos TFbScripter::Next(ScriptPos pos, ScriptPos limit) const {
    if (pos.Col == 0) return {};
    return parser_.NextTokenPos(pos, limit);
}

std::string TFbScripter::Token(ScriptPos pos) const {
    if (pos.Col == 0) return {};
    return parser_.TokenText(pos, true);
}

bool TFbScripter::IsWord(const char* keyword, ScriptPos pos) const {
    const TScriptLines* lines = parser_.Lines();
    if (pos.Col == 0 || lines == nullptr || pos.Line < 0 ||
        static_cast<std::size_t>(pos.Line) >= lines->size()) {
        return false;
    }
    return TFbScriptParser::IsKeyword(keyword, (*lines)[static_cast<std::size_t>(pos.Line)],
                                      pos.Col);
}

// --- runs ------------------------------------------------------------------------

void TFbScripter::FireStatementEvent(const TOnStatementExecute& event, int line, int statementNo,
                                     const TStatementDesc& d, const TScriptLines* text) {
    if (event) event(*this, line, statementNo, d, text);
}

void TFbScripter::RunScriptStatement(const TScriptLines& text, const TStatementDesc& d, int index,
                                     int eventLine) {
    const int errorLine = d.StartPos.Line + 1;
    if (d.Kind == skBatchStart) {
        if (batchMode_) AbandonBatch();
        batchMode_ = true;
        batch_.clear();
        batchTexts_.clear();
        batchStart_ = TBatchStatement{text, d, index, eventLine, errorLine};
    } else if (d.Kind == skBatchExecute) {
        RunBatch(eventLine, index + 1, d);
    } else if (batchMode_) {
        // Kept with its own text: the lines it was read from may be gone by
        // the time the batch runs (a file run lets its chunk go).
        TBatchStatement b{text, d, index, eventLine, errorLine};
        b.desc.StartPos = ScriptPos{1, 0};
        b.desc.EndPos = text.empty() ? ScriptPos{}
                                     : ScriptPos{static_cast<std::uint32_t>(text.back().size()),
                                                 static_cast<std::int32_t>(text.size() - 1)};
        batchTexts_.push_back(JoinWithBreaks(text));
        batch_.push_back(std::move(b));
    } else {
        RunStatementAt(text, d, index, eventLine, errorLine);
    }
}

void TFbScripter::RunBatch(int line, int statementNo, const TStatementDesc& d) {
    batchMode_ = false;
    std::vector<TBatchStatement> statements = std::move(batch_);
    std::vector<std::string> texts = std::move(batchTexts_);
    ClearBatch();
    StartTransactionIfNeeded();
    FireStatementEvent(BeforeStatementExecute, line, statementNo, d, nullptr);
    if (query_->ExecutesTextBatch()) {
        nothingDone_ = false;
        query_->ExecuteTextBatch(texts, static_cast<int>(texts.size()) - 1);
        return;
    }
    // Firebird has no one-call batch of texts: the statements run one by one,
    // each as it would have run in its place.
    const TScriptLines* savedRunning = running_;
    const TScriptLines* savedLines = parser_.Lines();
    const ScopeExit restore([&] {
        running_ = savedRunning;
        parser_.SetLines(savedLines);
    });
    for (const TBatchStatement& b : statements) {
        if (stopRequested_) break;
        running_ = &b.text;
        parser_.SetLines(&b.text);
        RunStatementAt(b.text, b.desc, b.index, b.eventLine, b.errorLine);
    }
}

void TFbScripter::AbandonBatch() {
    const TBatchStatement start = std::move(batchStart_);
    const std::size_t count = batch_.size();
    ClearBatch();
    // Nothing of the batch ran, so there is nothing to roll back whatever the
    // handler answers.
    bool rollBack = false;
    Guard(start.text, start.errorLine, start.index, false, rollBack, [&] {
        RaiseClientErrorText(ceUnknownError,
                             "BATCH START without BATCH EXECUTE: the statements after it, " +
                                 std::to_string(count) + " in all, were not run.");
    });
}

void TFbScripter::ClearBatch() {
    batchMode_ = false;
    batch_.clear();
    batchTexts_.clear();
    batchStart_ = TBatchStatement{};
}

void TFbScripter::FinishRun(bool resetNoReserve, bool unwinding) {
    ClearBatch();
    // A nested run (INPUT) leaves the connection to the run that contains it.
    const bool outermost = runDepth_ == 1;
    CleanUp steps;
    if (outermost && database_ != nullptr) {
        const auto current = std::find_if(
            forcedWritesOff_.begin(), forcedWritesOff_.end(),
            [&](const TForcedWritesOff& e) { return e.dbName == database_->DBName(); });
        if (current != forcedWritesOff_.end()) {
            steps.Run([&] {
                TFbDatabase& db = *database_;
                // The disconnect would end the open transaction by its
                // TimeoutAction, rolling back statements that reported
                // success; a run that ends normally leaves that work to be
                // committed (the own database's branch below and the callers
                // commit it).
                TFbTransaction& tr = CurrentTransaction();
                if (tr.Active() && (!unwinding || OwnDatabase())) tr.Commit();
                db.Disconnect();
                std::vector<std::string> params = db.DBParams();
                SetParamValue(params, "force_write", "1");
                if (resetNoReserve) SetParamValue(params, "no_reserve", "0");
                db.SetDBParams(std::move(params));
                db.Connect();
                // Written to the database's header now: nothing is left to restore.
                forcedWritesOff_.erase(current);
            });
        }
    }
    if (outermost) {
        // Databases the run left while their restore failed get another try.
        std::vector<TForcedWritesOff> left = std::move(forcedWritesOff_);
        forcedWritesOff_.clear();
        for (TForcedWritesOff& e : left) {
            bool restored = false;
            if (database_ == nullptr || e.dbName != database_->DBName()) {
                steps.Run([&] {
                    RestoreForcedWrites(e, resetNoReserve);
                    restored = true;
                });
            }
            if (!restored) forcedWritesOff_.push_back(std::move(e));
        }
    }
    if (outermost && OwnDatabase()) {
        steps.Run([&] {
            TFbTransaction& tr = CurrentTransaction();
            if (tr.Active()) tr.Commit();
        });
        steps.Run([&] { SetDatabase(nullptr); });
        // When the commit failed, SetDatabase could not take the component
        // away: the transaction is ended the hard way and it goes all the same.
        if (OwnDatabase()) {
            steps.Run([&] {
                TFbTransaction& tr = CurrentTransaction();
                if (tr.Active()) tr.EndTransaction(TARollback, true);
                SetDatabase(nullptr);
            });
        }
    }
    CloseBlobFile();
    steps.Finish(unwinding);
}

namespace {

// What identifies a script file among the files of the runs under way,
// whatever name, link or relative path reaches it.
std::string FileIdentity(const std::string& name) {
    const platform::FileIdentity id = platform::ProbeFile(name);
    if (!id.exists) return name;
    return std::to_string(id.device) + ":" + std::to_string(id.inode);
}

// Puts a file on the list of the runs under way for the life of the object.
class InputScope {
public:
    InputScope(std::vector<std::string>& files, std::string identity) : files_(files) {
        pushed_ = !identity.empty();
        if (pushed_) files_.push_back(std::move(identity));
    }
    ~InputScope() {
        if (pushed_) files_.pop_back();
    }
    InputScope(const InputScope&) = delete;
    InputScope& operator=(const InputScope&) = delete;

private:
    std::vector<std::string>& files_;
    bool pushed_ = false;
};

}  // namespace

void TFbScripter::RunScript(int first) {
    stopRequested_ = false;
    stoppedAtStatement_ = 0;
    const TScriptLines* savedRunning = running_;
    const TScriptLines* savedLines = parser_.Lines();
    ++runDepth_;
    const ScopeExit leave([&] {
        running_ = savedRunning;
        parser_.SetLines(savedLines);
        --runDepth_;
    });
    const InputScope input(inputFiles_,
                           scriptFileName_.empty() ? std::string() : FileIdentity(scriptFileName_));

    try {
        if (!parsed_) ParseScript(";");
        running_ = &script_;
        parser_.SetLines(&script_);
        dialect_ = 3;
        namesCharSet_.clear();

        TScriptLines buffer;
        const int count = StatementCount();
        int n = first;
        for (; n <= StatementCount(); ++n) {
            if (stopRequested_) {
                stoppedAtStatement_ = n;
                break;
            }
            const TStatementDesc d = GetStatement(n, buffer);
            RunScriptStatement(buffer, d, n - 1, d.StartPos.Line + 1);
        }
        // A stop asked for at the last statement still names the statement
        // that would have come next.
        if (stopRequested_ && stoppedAtStatement_ == 0 && n > count) stoppedAtStatement_ = n;
        if (batchMode_) AbandonBatch();
    } catch (...) {
        FinishRun(false, true);
        throw;
    }
    FinishRun(false, false);
}

void TFbScripter::RunScriptFile(const std::string& fileName, const std::string& terminator) {
    const std::string identity = FileIdentity(fileName);
    if (std::find(inputFiles_.begin(), inputFiles_.end(), identity) != inputFiles_.end()) {
        throw EFbScripterError("INPUT of \"" + fileName +
                               "\" refused: the file is already being run (an INPUT cycle).");
    }
    if (inputFiles_.size() >= kMaxInputDepth) {
        throw EFbScripterError("INPUT of \"" + fileName +
                               "\" refused: INPUT files nest deeper than " +
                               std::to_string(kMaxInputDepth) + ".");
    }
    TScriptLines fileLines;
    {
        std::ifstream in(fileName, std::ios::binary);
        if (!in) throw EFbScripterError("Cannot open the script file \"" + fileName + "\".");
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        if (in.bad()) throw EFbScripterError("Cannot read the script file \"" + fileName + "\".");
        fileLines = SplitTextLines(text);
    }
    fileLineCount_ =
        static_cast<int>(std::min<std::size_t>(fileLines.size(), std::numeric_limits<int>::max()));
    stopRequested_ = false;
    stoppedAtStatement_ = 0;

    // The file's lines are split by a parser of the run's own, so that an
    // INPUT run inside this one leaves its scanner's state alone.
    TFbScriptParser splitter;
    TScriptLines chunk;
    TScriptMap chunkMap;
    TScriptLines buffer;
    const TScriptLines* savedRunning = running_;
    const TScriptLines* savedLines = parser_.Lines();
    ++runDepth_;
    const ScopeExit leave([&] {
        running_ = savedRunning;
        parser_.SetLines(savedLines);
        --runDepth_;
    });
    const InputScope input(inputFiles_, identity);

    try {
        running_ = &chunk;
        std::string t = terminator;
        int k = 0;
        int lineNo = 0;
        // The statements of the chunk already run.
        std::size_t done = 0;
        for (std::size_t next = 0; next < fileLines.size();) {
            if (stopRequested_) {
                stoppedAtStatement_ = k + 1;
                break;
            }
            chunk.push_back(std::move(fileLines[next++]));
            ++lineNo;

            const std::string t0 = t;
            // Only the new line is scanned; the chunk's statements are those a
            // split of the whole chunk gives.
            splitter.SplitScriptIncremental(chunk, t, chunkMap, false);
            parser_.SetLines(&chunk);

            bool ended = false;
            while (done < chunkMap.size() && chunkMap[done].EndPos.Col != 0) {
                if (stopRequested_) break;
                const TStatementDesc d = chunkMap[done++];
                ended = true;
                GetStatementText(d.StartPos, d.EndPos, buffer);
                RunScriptStatement(buffer, d, k, lineNo);
            }
            if (ended || t != t0) ++k;
            // Between statements and outside comments the chunk can go: what
            // follows is split exactly as it would have been after it.
            if (done == chunkMap.size() && splitter.SplitAtRest()) {
                chunk.clear();
                chunkMap.clear();
                done = 0;
                splitter.ContinueWithNewLines();
            }
        }
        // A stop asked for on the file's last line still names the statement
        // that would have come next.
        if (stopRequested_ && stoppedAtStatement_ == 0) stoppedAtStatement_ = k + 1;
        if (batchMode_) AbandonBatch();
    } catch (...) {
        FinishRun(true, true);
        throw;
    }
    FinishRun(true, false);
}

// --- one statement ---------------------------------------------------------------

template <typename Step>
bool TFbScripter::Guard(const TScriptLines& text, int errorLine, int index, bool rollBackDefault,
                        bool& rollBack, Step&& step) {
    try {
        step();
        return false;
    } catch (const EFbError& e) {
        if (!OnExecuteError) throw;
        stopRequested_ = true;
        rollBack = rollBackDefault;
        OnExecuteError(*this, index + 1, errorLine, text, e.SQLCode(), e.Message(), rollBack,
                       stopRequested_);
        return true;
    }
}

void TFbScripter::RunStatement(const TScriptLines& text, const TStatementDesc& d, int index,
                               int line) {
    RunStatementAt(text, d, index, line == -1 ? d.StartPos.Line + 1 : line, d.StartPos.Line + 1);
}

void TFbScripter::RunStatementAt(const TScriptLines& text, const TStatementDesc& d, int index,
                                 int eventLine, int errorLine) {
    const int statementNo = index + 1;
    FireStatementEvent(BeforeStatementExecute, eventLine, statementNo, d, &text);
    bool rollBack = false;
    switch (d.Kind) {
        case skConnect:
            EnsureDatabase();
            Guard(text, errorLine, index, false, rollBack, [&] { DoConnect(d); });
            break;
        case skDisconnect:
            if (database_ != nullptr) LeaveDatabase(*database_);
            break;
        case skReconnect:
            if (database_ != nullptr) {
                TFbTransaction& tr = CurrentTransaction();
                if (tr.Active()) tr.Commit();
                database_->Disconnect();
                database_->Connect();
            }
            break;
        case skCreateDatabase:
            DoCreateDatabase(text, d, index, errorLine);
            break;
        case skDropDatabase: {
            TFbDatabase& db = RequireDatabase();
            const std::string name = db.DBName();
            db.DropDatabase();
            // The file is gone, and with it the write mode there was to restore.
            std::erase_if(forcedWritesOff_,
                          [&](const TForcedWritesOff& e) { return e.dbName == name; });
            break;
        }
        case skCommit: {
            TFbTransaction& tr = CurrentTransaction();
            if (tr.Active()) {
                const bool failed =
                    Guard(text, errorLine, index, false, rollBack, [&] { tr.Commit(); });
                if (failed && tr.Active()) tr.RollBack();
            }
            break;
        }
        case skRollback: {
            TFbTransaction& tr = CurrentTransaction();
            if (tr.Active()) tr.RollBack();
            break;
        }
        case skSet:
            DoSet(d);
            break;
        case skDescribe:
            DoDescribe(d);
            break;
        case skInput:
            DoInput(d);
            break;
        default:
            DoOrdinary(text, d, index, eventLine, errorLine);
            break;
    }
}

void TFbScripter::SetScriptDatabaseName(TFbDatabase& db, const std::string& name) {
    db.SetDBName(DatabaseNameMapper ? DatabaseNameMapper(name) : name);
}

void TFbScripter::LeaveDatabase(TFbDatabase& db) {
    if (db.Connected()) db.Disconnect();
    const auto it =
        std::find_if(forcedWritesOff_.begin(), forcedWritesOff_.end(),
                     [&](const TForcedWritesOff& e) { return e.dbName == db.DBName(); });
    if (it == forcedWritesOff_.end()) return;
    const TForcedWritesOff entry = std::move(*it);
    forcedWritesOff_.erase(it);
    RestoreForcedWrites(entry, false);
}

void TFbScripter::RestoreForcedWrites(const TForcedWritesOff& entry, bool resetNoReserve) {
    // An attachment that asks for forced writes writes them into the
    // database's header; it needs nothing else of the database.
    TFbDatabase db(this);
    db.SetDBName(entry.dbName);
    db.SetLibraryName(entry.library);
    db.SetSQLDialect(entry.dialect);
    std::vector<std::string> params = entry.params;
    SetParamValue(params, "force_write", "1");
    if (resetNoReserve) SetParamValue(params, "no_reserve", "0");
    db.SetDBParams(std::move(params));
    db.Connect();
    db.Disconnect();
}

void TFbScripter::DoConnect(const TStatementDesc& d) {
    TFbDatabase& db = RequireDatabase();
    LeaveDatabase(db);
    const ScriptPos name = Next(d.StartPos, d.EndPos);
    SetScriptDatabaseName(db, Token(name));
    ApplyConnectParams(Next(name, d.EndPos), d.EndPos);
    db.Connect();
}

void TFbScripter::ApplyConnectParams(ScriptPos from, ScriptPos end) {
    TFbDatabase& db = RequireDatabase();
    db.Disconnect();
    db.SetDBParams({});
    for (ScriptPos t = from; t.Col != 0; t = Next(t, end)) {
        const bool user = IsWord("USER", t);
        const bool password = !user && IsWord("PASSWORD", t);
        const bool role = !user && !password && IsWord("ROLE", t);
        if (!user && !password && !role) continue;
        t = Next(t, end);
        if (t.Col == 0) break;
        const std::string value = Token(t);
        if (user) db.ConnectParams().SetUserName(value);
        if (password) db.ConnectParams().SetPassword(value);
        if (role) db.ConnectParams().SetRoleName(value);
    }
    db.SetSQLDialect(dialect_);
    db.SetLibraryName(clientLibrary_);
    db.ConnectParams().SetCharSet(namesCharSet_);
}

void TFbScripter::DoCreateDatabase(const TScriptLines& text, const TStatementDesc& d, int index,
                                   int errorLine) {
    EnsureDatabase();
    TFbDatabase& db = *database_;
    ScriptPos t = Next(d.StartPos, d.EndPos);
    while (t.Col != 0 && !IsWord("DATABASE", t)) t = Next(t, d.EndPos);
    t = Next(t, d.EndPos);
    LeaveDatabase(db);
    SetScriptDatabaseName(db, Token(t));
    const ScriptPos rest = Next(t, d.EndPos);
    TScriptLines params;
    if (rest.Col != 0) GetStatementText(rest, d.EndPos, params);
    db.SetDBParams(std::move(params));
    db.SetSQLDialect(dialect_);
    bool rollBack = false;
    Guard(text, errorLine, index, false, rollBack, [&] {
        db.CreateDatabase();
        const bool version21 = db.ServerVersionMajor() > 2 ||
                               (db.ServerVersionMajor() == 2 && db.ServerVersionMinor() >= 1);
        const bool ods111 = db.OdsMajor() > 11 || (db.OdsMajor() == 11 && db.OdsMinor() >= 1);
        if (!db.ServerIsFirebird() || !version21 || !ods111) return;
        const FbInfoValue charSet = db.DatabaseInfoValue(101 /* isc_info_att_charset */);
        if (!charSet.answered || charSet.value != 0) return;
        // Reattached with the script's user, role and SET NAMES, and without
        // synchronous writes while the script fills the new database; they
        // are turned on again when the run leaves the database or ends.
        db.Disconnect();
        ApplyConnectParams(rest, d.EndPos);
        std::vector<std::string> params = db.DBParams();
        params.push_back("force_write=0");
        db.SetDBParams(params);
        db.Connect();
        forcedWritesOff_.push_back(
            {db.DBName(), std::move(params), db.LibraryName(), db.SQLDialect()});
    });
}

void TFbScripter::DoSet(const TStatementDesc& d) {
    const ScriptPos end = d.EndPos;
    const ScriptPos word = Next(d.StartPos, end);
    if (word.Col == 0) return;
    ScriptPos value = Next(word, end);
    if (value.Col == 0) return;
    if (IsWord("AUTODDL", word)) {
        if (IsWord("ON", value)) AutoDDL = true;
        if (IsWord("OFF", value)) AutoDDL = false;
    } else if (IsWord("SQL", word)) {
        if (!IsWord("DIALECT", value)) return;
        value = Next(value, end);
        if (value.Col == 0) return;
        dialect_ = StrToInt(Token(value));
    } else if (IsWord("NAMES", word)) {
        namesCharSet_ = Token(value);
    } else if (IsWord("CLIENTLIB", word)) {
        clientLibrary_ = Token(value);
    } else if (IsWord("BLOBFILE", word)) {
        CloseBlobFile();
        blobFileName_ = Token(value);
    }
}

void TFbScripter::DoDescribe(const TStatementDesc& d) {
    const ScriptPos end = d.EndPos;
    const ScriptPos kindWord = Next(d.StartPos, end);
    if (kindWord.Col == 0) return;
    const char* update = DescribeUpdate(d.ObjectKind);
    if (update == nullptr) {
        throw EFbScripterError("Unsupported DESCRIBE type " + parser_.TokenText(kindWord, false));
    }
    const bool ownerAndName = d.ObjectKind == okField || d.ObjectKind == okParameter;
    ScriptPos last = Next(kindWord, end);
    const std::string name = Token(last);
    std::string owner;
    if (ownerAndName) {
        last = Next(Next(last, end), end);
        owner = Token(last);
    }
    const ScriptPos textStart = Next(last, end);
    TScriptLines rest;
    if (textStart.Col != 0) GetStatementText(textStart, end, rest);
    const std::string description = DescriptionText(JoinWithBreaks(rest));

    // Firebird 3 refuses every update of its system tables; there the same
    // description is written with COMMENT ON, which names the object exactly
    // as the update's comparison would.
    if (database_ != nullptr && database_->Connected() && database_->ServerIsFirebird() &&
        database_->ServerVersionMajor() >= 3) {
        const int dialect = database_->SQLDialect();
        std::string target = std::string(CommentTarget(d.ObjectKind)) + " ";
        if (ownerAndName) target += QuoteName(owner, dialect) + ".";
        target += QuoteName(name, dialect);
        query_->SetSqlText({"COMMENT ON " + target + " IS " + StringLiteral(description)});
    } else {
        query_->SetSqlText({update});
        if (ownerAndName) {
            query_->SetParameterText(2, name);
            query_->SetParameterText(1, owner);
        } else {
            query_->SetParameterText(1, name);
        }
        query_->SetParameterText(0, description);
    }
    StartTransactionIfNeeded();
    query_->ExecuteQuery();
    nothingDone_ = false;
}

void TFbScripter::DoInput(const TStatementDesc& d) {
    const ScriptPos file = Next(d.StartPos, d.EndPos);
    RunScriptFile(Token(file), ";");
}

void TFbScripter::DoOrdinary(const TScriptLines& text, const TStatementDesc& d, int index, int line,
                             int errorLine) {
    query_->SetSqlText(text);
    bool rollBack = false;
    const bool failed = Guard(text, errorLine, index, true, rollBack, [&] {
        RefuseUnsuppliedParameters();
        StartTransactionIfNeeded();
        if (!blobFileName_.empty() && query_->ParameterCount() > 0) LoadBlobParameters();
        query_->ExecuteQuery();
        nothingDone_ = false;
        FireStatementEvent(AfterStatementExecute, line, index + 1, d, &text);
        if (AutoDDL && query_->SqlKind() == sqkSchema) CurrentTransaction().Commit();
    });
    if (failed && rollBack) RollBackRefused();
}

void TFbScripter::RefuseUnsuppliedParameters() const {
    std::string markers;
    for (int i = 0; i < query_->ParameterCount(); ++i) {
        const std::string& name = query_->ParameterName(i);
        const bool fromBlobFile =
            !blobFileName_.empty() && !name.empty() && (name[0] == 'H' || name[0] == 'h');
        if (fromBlobFile) continue;
        if (!markers.empty()) markers += ", ";
        markers += name.empty() ? "?" : ":" + name;
    }
    if (markers.empty()) return;
    RaiseClientErrorText(
        ceQueryParamsError,
        "The statement has parameters that the script gives no values for: " + markers + ".");
}

// --- blob parameters ---------------------------------------------------------------

void TFbScripter::CloseBlobFile() {
    if (blobFile_.is_open()) blobFile_.close();
    blobFile_.clear();
    blobFileSize_ = 0;
}

void TFbScripter::LoadBlobParameters() {
    for (int i = query_->ParameterCount() - 1; i >= 0; --i) {
        const std::string& name = query_->ParameterName(i);
        if (name.empty() || (name[0] != 'H' && name[0] != 'h')) continue;
        const std::string_view rest = std::string_view(name).substr(1);
        const std::size_t underscore = rest.find('_');
        const std::string_view offsetDigits = rest.substr(0, underscore);
        const std::string_view lengthDigits =
            underscore == std::string_view::npos ? std::string_view() : rest.substr(underscore + 1);
        std::uint64_t offset = 0;
        std::uint64_t length = 0;
        if (!ReadHex(offsetDigits, offset) || !ReadHex(lengthDigits, length)) {
            RaiseClientErrorText(
                ceBlobCannotBeRead,
                "Blob parameter " + name + ": the offset or the length is too large.");
        }
        if (length == 0) {
            query_->SetParameterNull(i);
            continue;
        }
        if (!blobFile_.is_open()) {
            blobFile_.clear();
            blobFile_.open(blobFileName_, std::ios::binary);
            if (!blobFile_) {
                blobFile_.clear();
                throw EFbScripterError("Cannot open the blob file \"" + blobFileName_ + "\".");
            }
            blobFile_.seekg(0, std::ios::end);
            const std::streamoff size = blobFile_.tellg();
            blobFileSize_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
        }
        if (offset > blobFileSize_ || length > blobFileSize_ - offset) {
            RaiseClientErrorText(ceBlobCannotBeRead, "Blob parameter " + name + ": " + Hex(length) +
                                                         " bytes from offset " + Hex(offset) +
                                                         " reach past the end of the blob file \"" +
                                                         blobFileName_ + "\" (" +
                                                         Hex(blobFileSize_) + " bytes).");
        }
        std::string bytes(static_cast<std::size_t>(length), '\0');
        blobFile_.clear();
        blobFile_.seekg(static_cast<std::streamoff>(offset));
        blobFile_.read(bytes.data(), static_cast<std::streamsize>(length));
        if (static_cast<std::uint64_t>(blobFile_.gcount()) != length) {
            blobFile_.clear();
            RaiseClientErrorText(ceBlobCannotBeRead, "Blob parameter " + name +
                                                         ": the blob file \"" + blobFileName_ +
                                                         "\" could not be read.");
        }
        query_->SetParameterBytes(i, std::move(bytes));
    }
}

}  // namespace qm
