#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Splitting SQL scripts into statements without a server: where each statement
// starts and ends, what kind it is and which object it acts on. Pure text
// processing over 8-bit lines; no client library is involved.
namespace qm {

// A position in a script: Col is the 1-based column (0: no position), Line the
// 0-based line index.
struct ScriptPos {
    std::uint32_t Col = 0;
    std::int32_t Line = 0;
    bool operator==(const ScriptPos&) const = default;
};

// Statement kinds (TStatementDesc::Kind).
enum TStatementKind : std::uint8_t {
    skOther = 0,         // first word not in the keyword table (SELECT among them)
    skUnclassified = 1,  // begins with a lone minus or slash; BATCH without START/EXECUTE
    skData = 2,          // DELETE, INSERT, MERGE, UPDATE, EXECUTE PROCEDURE/BLOCK
    skConnect = 3,
    skDisconnect = 4,
    skReconnect = 5,
    skCreateDatabase = 6,
    skDropDatabase = 7,
    skCommit = 8,
    skRollback = 9,
    skCreate = 10,
    skAlter = 11,
    skRecreate = 12,
    skDrop = 13,
    skSet = 14,
    skSetGenerator = 15,
    skSetStatistics = 16,
    skDescribe = 17,
    skDeclare = 18,
    skComment = 19,
    skGrant = 20,  // GRANT and REVOKE
    skInput = 21,
    skBatch = 22,  // only while classifying: becomes skBatchStart, skBatchExecute or 1
    skBatchStart = 23,
    skBatchExecute = 24,
    skExecute = 25,  // only while classifying: becomes skData
};

// Object kinds (TStatementDesc::ObjectKind).
enum TObjectKind : std::uint8_t {
    okNone = 0,
    okDatabase = 1,
    okDomain = 2,
    okTable = 3,
    okView = 4,
    okProcedure = 5,
    okTrigger = 6,
    okFunction = 7,  // also DECLARE EXTERNAL FUNCTION
    okException = 8,
    okGenerator = 9,  // also SET GENERATOR
    okIndex = 10,     // also SET STATISTICS
    okConstraint = 11,
    okFilter = 12,  // also DECLARE FILTER
    okField = 13,   // FIELD or COLUMN
    okParameter = 14,
    okRole = 15,
    okBlock = 16,    // EXECUTE BLOCK
    okPackage = 17,  // PACKAGE or PACKAGE BODY
};

// One statement of a script.
struct TStatementDesc {
    ScriptPos StartPos;  // the statement's first character
    ScriptPos EndPos;    // its last character before the terminator; Col 0 while it has no end
    std::uint8_t Kind = skOther;
    std::uint8_t ObjectKind = okNone;
    std::string ObjectName;  // the object, or the database of database statements; "" when none
    bool operator==(const TStatementDesc&) const = default;
};

// The statements of a script in script order.
using TScriptMap = std::vector<TStatementDesc>;

// A script: its lines without line breaks, numbered from 0.
using TScriptLines = std::vector<std::string>;

// The parser's own refusal ("Can't find end token"). Deliberately not part of
// the server error family: the script executor ends its run on it instead of
// reporting it as a refused statement.
class EFbScriptError : public std::runtime_error {
public:
    explicit EFbScriptError(const std::string& message) : std::runtime_error(message) {}
};

class TFbScriptParser {
public:
    // The lines that NextTokenPos, TokenText and ClassifyStatement read. Not
    // owned: they must outlive their use by the parser. SplitScript points the
    // parser at the lines it splits.
    void SetLines(const TScriptLines* lines) { lines_ = lines; }
    const TScriptLines* Lines() const { return lines_; }

    // Splits the lines into map, one entry per statement (the map's previous
    // content is discarded), and points the parser at the lines. terminator is
    // the statement terminator on entry (one or more characters) and the one
    // the last SET TERM left on return: the last run of characters that may
    // stand as a terminator before SET TERM's own terminator (so "SET TERM ^ ;"
    // gives "^", "SET TERM !! ;" gives "!!"); SET TERM statements themselves
    // do not reach the map. Throws EFbScriptError for an empty terminator. Empties
    // LastDatabaseName first. A statement still open at the end keeps EndPos.Col
    // 0, unless AcceptUnterminated: then it ends at the end of the last
    // non-empty line and is classified once more. Throws EFbScriptError "Can't
    // find end token" when a quoted name read while classifying is not closed
    // on its line (map then holds the statements found so far), and
    // EFbScriptError when the script has more than 2^31-1 lines or a line of
    // 2^32-1 characters or more.
    void SplitScript(const TScriptLines& lines, std::string& terminator, TScriptMap& map,
                     bool AcceptUnterminated);

    // SplitScript for a list that grows at its end: gives exactly what
    // SplitScript would give for the whole of lines, but scans only the lines
    // appended since the previous SplitScript or SplitScriptIncremental call,
    // resuming from the scanner's state at the end of that call. Requires that
    // since that call lines is the same list with only lines appended, and that
    // terminator and map hold what that call returned. Call
    // ResetIncrementalSplit after anything else (a list that was emptied and
    // refilled, another list); the parser starts over by itself when it sees a
    // different list object, a shorter list, a changed last scanned line, a
    // different terminator or a map of a different size.
    void SplitScriptIncremental(const TScriptLines& lines, std::string& terminator, TScriptMap& map,
                                bool AcceptUnterminated);
    // Makes the next SplitScriptIncremental scan from the first line.
    void ResetIncrementalSplit() {
        state_.valid = false;
        state_.carriedDatabaseName.clear();
    }
    // True when the last split ended between statements and outside any
    // comment: a split of lines that follow begins just as the rest of this
    // one would have gone on.
    bool SplitAtRest() const {
        return state_.valid && !state_.inStatement && state_.quote == qNone;
    }
    // After a split at rest: makes the next SplitScriptIncremental scan a new
    // list that continues the one just split, LastDatabaseName carried over.
    void ContinueWithNewLines() {
        const std::string name = lastDatabaseName_;
        ResetIncrementalSplit();
        state_.carriedDatabaseName = name;
    }

    // Works out Kind, ObjectKind and ObjectName of the statement from its tokens
    // between StartPos and EndPos (on the parser's lines) and returns whether the
    // statement is complete at EndPos: false only for a procedure, trigger,
    // function, package or EXECUTE BLOCK whose body is still open (CREATE,
    // ALTER, RECREATE and EXECUTE BLOCK; not DROP), and only when SemicolonMode (the
    // terminator is ';'). CONNECT and CREATE DATABASE set LastDatabaseName;
    // DISCONNECT, RECONNECT, COMMIT, ROLLBACK and DROP DATABASE take it as their
    // ObjectName. Throws EFbScriptError as TokenText does.
    bool ClassifyStatement(TStatementDesc& statement, bool SemicolonMode);

    // Position of the token after the one at pos, skipping blanks and comments,
    // searching no further than limit (inclusive); Col 0 when there is none.
    ScriptPos NextTokenPos(ScriptPos pos, ScriptPos limit) const;

    // Text of the token at pos. With StripQuotes, a token that begins with a
    // single or double quote is the text up to the same quote on that line,
    // without the quotes (a doubled quote is not an escape); throws
    // EFbScriptError "Can't find end token" when the line has no closing quote.
    // Otherwise the token runs up to a blank, '(', ',', '-', '/', ';' or the end
    // of the line. "" for a position outside the lines.
    std::string TokenText(ScriptPos pos, bool StripQuotes) const;

    // True when keyword (upper case) stands at the 1-based column of line, in
    // any letter case, followed by the end of the line or one of: tab, line
    // feed, carriage return, space, ',', '-', '/', ';', '^'.
    static bool IsKeyword(std::string_view keyword, std::string_view line, std::uint32_t col);

    // The statement kind given by the word at the column (skOther for any word
    // outside the keyword table), and the object kind (okNone likewise).
    static std::uint8_t StatementKindOf(std::string_view line, std::uint32_t col);
    static std::uint8_t ObjectKindOf(std::string_view line, std::uint32_t col);

    // The database named by the last CONNECT or CREATE DATABASE of the split.
    const std::string& LastDatabaseName() const { return lastDatabaseName_; }

private:
    enum TQuote : std::uint8_t { qNone, qComment, qSingle, qDouble };

    // Progress of the body check of one statement, so that a statement whose
    // body is still open is not read again from its start at every semicolon.
    struct TBodyWalk {
        bool active = false;
        ScriptPos from;  // the token the walk began at
        std::int32_t line = 0;
        std::uint32_t col = 1;  // next column to read
        TQuote quote = qNone;
        bool lineComment = false;
        std::size_t minClose = 0;  // see the splitter's comment rule
        bool asSeen = false;
        bool beginSeen = false;
        bool lastWordEnd = false;
        std::int64_t depth = 0;
    };

    // The scanner's state at the end of the last split, at a line boundary.
    struct TSplitState {
        bool valid = false;
        const TScriptLines* lines = nullptr;
        std::size_t linesScanned = 0;
        std::string lastLine;
        std::string terminator = ";";
        std::size_t count = 0;
        std::size_t capacity = 0;
        bool inStatement = false;
        TQuote quote = qNone;
        std::uint8_t setTermState = 0;
        std::string newTerminator = ";";
        bool complete = true;
        TBodyWalk walk;
        std::string lastDatabaseName;
        // LastDatabaseName that a split starting over begins with.
        std::string carriedDatabaseName;
        // The last entry before the end-of-script fix-up changed it.
        std::optional<TStatementDesc> unfinishedLast;
    };

    void ScanLines(const TScriptLines& lines, std::string& terminator, TScriptMap& map);
    void FinishUnterminated(const TScriptLines& lines, TScriptMap& map);
    bool Classify(TStatementDesc& s, bool semicolonMode, TBodyWalk* cache);
    void WalkBody(TBodyWalk& w, ScriptPos limit) const;
    std::string_view LineAt(std::int32_t line) const;
    std::string NameAt(ScriptPos pos) const;
    bool KeywordAt(std::string_view keyword, ScriptPos pos) const;

    const TScriptLines* lines_ = nullptr;
    std::string lastDatabaseName_;
    TSplitState state_;
};

}  // namespace qm
