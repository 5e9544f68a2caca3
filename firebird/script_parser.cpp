#include "firebird/script_parser.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace qm {
namespace {

constexpr const char* kEndTokenError = "Can't find end token";

// Columns are 32-bit and a token may end one column past its line.
constexpr std::size_t kMaxLineLength = std::numeric_limits<std::uint32_t>::max() - 1;

bool IsBlank(char c) { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

bool IsWordChar(char ch) {
    const auto c = static_cast<unsigned char>(ch);
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c >= 0x80;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// Case-insensitive equality of an identifier with an upper-case word.
bool SameWord(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (Upper(text[i]) != word[i]) return false;
    }
    return true;
}

std::size_t GrowCapacity(std::size_t capacity) {
    if (capacity > 64) return capacity + capacity / 4;
    if (capacity > 8) return capacity + 16;
    return capacity + 4;
}

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// Index just past the "*/" that closes a block comment, searching s[from, end);
// kNotFound when it does not close there. The closing slash must stand at or
// after minClose, so that the asterisk of the opening "/*" does not close it
// as well ("/*/" leaves the comment open).
std::size_t CommentEnd(const char* s, std::size_t end, std::size_t from, std::size_t minClose) {
    std::size_t j = std::max({from, minClose, std::size_t{1}});
    while (j < end) {
        const void* hit = std::memchr(s + j, '/', end - j);
        if (hit == nullptr) return kNotFound;
        j = static_cast<std::size_t>(static_cast<const char*>(hit) - s);
        if (s[j - 1] == '*') return j + 1;
        ++j;
    }
    return kNotFound;
}

struct KeywordKind {
    std::string_view word;
    std::uint8_t kind;
};

constexpr KeywordKind kStatementWords[] = {
    {"ALTER", skAlter},         {"BATCH", skBatch},           {"CREATE", skCreate},
    {"COMMIT", skCommit},       {"COMMENT", skComment},       {"CONNECT", skConnect},
    {"DROP", skDrop},           {"DECLARE", skDeclare},       {"DESCRIBE", skDescribe},
    {"DELETE", skData},         {"DISCONNECT", skDisconnect}, {"EXECUTE", skExecute},
    {"GRANT", skGrant},         {"INSERT", skData},           {"INPUT", skInput},
    {"MERGE", skData},          {"RECREATE", skRecreate},     {"ROLLBACK", skRollback},
    {"RECONNECT", skReconnect}, {"REVOKE", skGrant},          {"SET", skSet},
    {"UPDATE", skData},
};

constexpr KeywordKind kObjectWords[] = {
    {"DATABASE", okDatabase}, {"DOMAIN", okDomain},         {"TABLE", okTable},
    {"VIEW", okView},         {"PROCEDURE", okProcedure},   {"TRIGGER", okTrigger},
    {"FUNCTION", okFunction}, {"EXCEPTION", okException},   {"GENERATOR", okGenerator},
    {"INDEX", okIndex},       {"CONSTRAINT", okConstraint}, {"FILTER", okFilter},
    {"FIELD", okField},       {"COLUMN", okField},          {"PARAMETER", okParameter},
    {"ROLE", okRole},         {"BLOCK", okBlock},           {"PACKAGE", okPackage},
};

template <std::size_t N>
std::uint8_t KindOf(const KeywordKind (&table)[N], std::string_view line, std::uint32_t col) {
    if (col == 0 || col > line.size()) return 0;
    const char first = Upper(line[col - 1]);
    for (const KeywordKind& k : table) {
        if (k.word[0] == first && TFbScriptParser::IsKeyword(k.word, line, col)) return k.kind;
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Tokens

bool TFbScriptParser::IsKeyword(std::string_view keyword, std::string_view line,
                                std::uint32_t col) {
    if (col == 0) return false;
    const std::size_t start = col - 1;
    if (start > line.size() || line.size() - start < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        const auto c = static_cast<unsigned char>(line[start + i]);
        const auto k = static_cast<unsigned char>(keyword[i]);
        if (c != k && c != k + 32) return false;
    }
    const std::size_t after = start + keyword.size();
    if (after == line.size()) return true;
    switch (line[after]) {
        case '\t':
        case '\n':
        case '\r':
        case ' ':
        case ',':
        case '-':
        case '/':
        case ';':
        case '^':
            return true;
        default:
            return false;
    }
}

std::uint8_t TFbScriptParser::StatementKindOf(std::string_view line, std::uint32_t col) {
    return KindOf(kStatementWords, line, col);
}

std::uint8_t TFbScriptParser::ObjectKindOf(std::string_view line, std::uint32_t col) {
    return KindOf(kObjectWords, line, col);
}

std::string_view TFbScriptParser::LineAt(std::int32_t line) const {
    if (lines_ == nullptr || line < 0 || static_cast<std::size_t>(line) >= lines_->size()) {
        return {};
    }
    return (*lines_)[static_cast<std::size_t>(line)];
}

bool TFbScriptParser::KeywordAt(std::string_view keyword, ScriptPos pos) const {
    return pos.Col != 0 && IsKeyword(keyword, LineAt(pos.Line), pos.Col);
}

std::string TFbScriptParser::NameAt(ScriptPos pos) const {
    return pos.Col == 0 ? std::string() : TokenText(pos, true);
}

std::string TFbScriptParser::TokenText(ScriptPos pos, bool StripQuotes) const {
    const std::string_view s = LineAt(pos.Line);
    if (pos.Col == 0 || pos.Col > s.size()) return {};
    const std::size_t at = pos.Col - 1;
    const char c = s[at];
    if (StripQuotes && (c == '\'' || c == '"')) {
        const std::size_t close = s.find(c, at + 1);
        if (close == std::string_view::npos) throw EFbScriptError(kEndTokenError);
        return std::string(s.substr(at + 1, close - at - 1));
    }
    std::size_t end = s.find_first_of(std::string_view("\t\n\r (,-/;", 10), at);
    if (end == std::string_view::npos) end = s.size();
    return std::string(s.substr(at, end - at));
}

ScriptPos TFbScriptParser::NextTokenPos(ScriptPos pos, ScriptPos limit) const {
    if (pos.Col == 0 || lines_ == nullptr || pos.Line < 0 ||
        static_cast<std::size_t>(pos.Line) >= lines_->size()) {
        return {};
    }
    const std::string_view first = LineAt(pos.Line);

    // Where the token at pos ends.
    std::size_t end = first.size();
    const std::size_t at = pos.Col - 1;
    if (at < first.size()) {
        const char c = first[at];
        if (c == '\'' || c == '"') {
            const std::size_t close = first.find(c, at + 1);
            if (close != std::string_view::npos) end = close + 1;
        } else {
            const std::size_t stop = first.find_first_of(std::string_view("\t\n\r -/", 6), at);
            if (stop != std::string_view::npos) end = stop;
        }
    }
    std::int32_t line = pos.Line;
    std::size_t j = end;
    if (end >= first.size()) {
        ++line;
        j = 0;
    }

    const std::int64_t lastLine =
        std::min<std::int64_t>(limit.Line, static_cast<std::int64_t>(lines_->size()) - 1);
    bool inComment = false;
    for (; line <= lastLine; ++line, j = 0) {
        const std::string_view s = LineAt(line);
        const std::size_t stop =
            line == limit.Line ? std::min<std::size_t>(limit.Col, s.size()) : s.size();
        std::size_t minClose = 0;
        while (j < stop) {
            if (inComment) {
                const std::size_t close = CommentEnd(s.data(), stop, j, minClose);
                if (close == kNotFound) {
                    j = stop;
                } else {
                    j = close;
                    inComment = false;
                }
                continue;
            }
            const char c = s[j];
            if (IsBlank(c)) {
                ++j;
            } else if (c == '-') {
                if (j + 1 < s.size() && s[j + 1] == '-') break;
                ++j;
            } else if (c == '/') {
                if (j + 1 < s.size() && s[j + 1] == '*') {
                    inComment = true;
                    minClose = j + 3;
                    j += 2;
                } else {
                    ++j;
                }
            } else {
                return ScriptPos{static_cast<std::uint32_t>(j + 1), line};
            }
        }
    }
    return {};
}

// ---------------------------------------------------------------------------
// Classification

bool TFbScriptParser::ClassifyStatement(TStatementDesc& statement, bool SemicolonMode) {
    return Classify(statement, SemicolonMode, nullptr);
}

bool TFbScriptParser::Classify(TStatementDesc& s, bool semicolonMode, TBodyWalk* cache) {
    const ScriptPos limit = s.EndPos;
    const auto next = [&](ScriptPos p) {
        return p.Col == 0 ? ScriptPos{} : NextTokenPos(p, limit);
    };
    const auto objectKindAt = [&](ScriptPos p) { return ObjectKindOf(LineAt(p.Line), p.Col); };

    s.Kind = StatementKindOf(LineAt(s.StartPos.Line), s.StartPos.Col);
    s.ObjectKind = okNone;
    s.ObjectName.clear();

    switch (s.Kind) {
        case skConnect: {
            s.ObjectKind = okDatabase;
            const ScriptPos t = next(s.StartPos);
            if (t.Col != 0) {
                s.ObjectName = NameAt(t);
                lastDatabaseName_ = s.ObjectName;
            }
            return true;
        }
        case skDisconnect:
        case skReconnect:
        case skCommit:
        case skRollback:
            s.ObjectName = lastDatabaseName_;
            s.ObjectKind = okDatabase;
            return true;

        case skCreate:
        case skAlter:
        case skRecreate:
        case skDrop:
        case skExecute: {
            const bool execute = s.Kind == skExecute;
            if (execute) s.Kind = skData;
            const ScriptPos t = next(s.StartPos);
            if (t.Col == 0) return true;
            ScriptPos current = t;
            if (execute) {
                if (!KeywordAt("BLOCK", t)) return true;
                s.ObjectKind = okBlock;
            } else {
                // Modifiers may stand before the object word: CREATE OR ALTER
                // PROCEDURE, CREATE UNIQUE INDEX.
                s.ObjectKind = objectKindAt(t);
                if (s.ObjectKind == okNone) {
                    for (ScriptPos u = next(t); u.Col != 0; u = next(u)) {
                        const std::uint8_t k = objectKindAt(u);
                        if (k != okNone) {
                            s.ObjectKind = k;
                            current = u;
                            break;
                        }
                    }
                }
                if (s.ObjectKind == okDatabase) {
                    if (s.Kind == skCreate) s.Kind = skCreateDatabase;
                    if (s.Kind == skDrop) s.Kind = skDropDatabase;
                }
                ScriptPos name = next(current);
                if (s.ObjectKind == okPackage && KeywordAt("BODY", name)) name = next(name);
                if (name.Col != 0) {
                    current = name;
                    s.ObjectName = NameAt(name);
                }
                if (s.Kind == skCreateDatabase) lastDatabaseName_ = s.ObjectName;
                if (s.Kind == skDropDatabase) s.ObjectName = lastDatabaseName_;
            }
            // Every PSQL unit: its body holds semicolons of its own.
            const bool hasBody = s.ObjectKind == okProcedure || s.ObjectKind == okTrigger ||
                                 s.ObjectKind == okBlock || s.ObjectKind == okFunction ||
                                 s.ObjectKind == okPackage;
            if (!semicolonMode || !hasBody || s.Kind == skDrop) return true;

            TBodyWalk local;
            TBodyWalk& w = cache != nullptr ? *cache : local;
            const bool resumable =
                w.active && w.from == current &&
                (w.line < limit.Line || (w.line == limit.Line && w.col <= limit.Col + 1));
            if (!resumable) {
                w = TBodyWalk{};
                w.active = true;
                w.from = current;
                w.line = current.Line;
                w.col = current.Col;
            }
            WalkBody(w, limit);
            if (!w.beginSeen) return !w.asSeen;
            return w.depth <= 0 && w.lastWordEnd;
        }

        case skSet: {
            ScriptPos t = next(s.StartPos);
            if (t.Col == 0) return true;
            if (KeywordAt("GENERATOR", t)) {
                s.ObjectKind = okGenerator;
                s.Kind = skSetGenerator;
            } else if (KeywordAt("STATISTICS", t)) {
                s.ObjectKind = okIndex;
                s.Kind = skSetStatistics;
                t = next(t);  // INDEX
            }
            if (s.ObjectKind != okNone) s.ObjectName = NameAt(next(t));
            return true;
        }

        case skDescribe:
        case skComment: {
            ScriptPos t = next(s.StartPos);
            if (s.Kind == skComment) t = next(t);  // past ON
            if (t.Col == 0) return true;
            s.ObjectKind = objectKindAt(t);
            if (s.ObjectKind == okNone) return true;
            const ScriptPos name = next(t);
            s.ObjectName = NameAt(name);
            if (s.Kind == skDescribe && (s.ObjectKind == okField || s.ObjectKind == okParameter)) {
                const ScriptPos owner = next(next(name));  // past the owner keyword
                s.ObjectName = owner.Col != 0 ? NameAt(owner) + "." + s.ObjectName : std::string();
            }
            return true;
        }

        case skDeclare: {
            const ScriptPos t = next(s.StartPos);
            if (KeywordAt("EXTERNAL", t)) {
                s.ObjectKind = okFunction;
                s.ObjectName = NameAt(next(next(t)));  // past FUNCTION
            } else if (KeywordAt("FILTER", t)) {
                s.ObjectKind = okFilter;
            }
            return true;
        }

        case skGrant: {
            ScriptPos t = next(s.StartPos);
            while (t.Col != 0 && !KeywordAt("ON", t)) t = next(t);
            if (t.Col == 0) return true;
            const ScriptPos what = next(t);
            if (what.Col == 0) return true;
            s.ObjectKind = objectKindAt(what);
            s.ObjectName = NameAt(s.ObjectKind != okNone ? next(what) : what);
            return true;
        }

        case skBatch: {
            const ScriptPos t = next(s.StartPos);
            s.Kind = KeywordAt("START", t)     ? skBatchStart
                     : KeywordAt("EXECUTE", t) ? skBatchExecute
                                               : skUnclassified;
            return true;
        }

        default:
            return true;
    }
}

// The body check reads whole words, so that quoted text, comments and words
// run together with punctuation ("END)" closing a CASE) are read as the
// server reads them. Before the first BEGIN only AS matters; from it on
// BEGIN and CASE open a block and END closes one. The body is complete when
// every block is closed and END is the last word read: a block that closes
// before more text (a local subroutine ahead of the main body) is not the end.
void TFbScriptParser::WalkBody(TBodyWalk& w, ScriptPos limit) const {
    if (lines_ == nullptr) return;
    const auto word = [&w](std::string_view text) {
        if (text.size() < 2 || text.size() > 5) {
            if (w.beginSeen) w.lastWordEnd = false;
            return;
        }
        if (!w.beginSeen) {
            if (SameWord(text, "AS")) {
                w.asSeen = true;
            } else if (SameWord(text, "BEGIN")) {
                w.beginSeen = true;
                w.depth = 1;
            }
            return;
        }
        w.lastWordEnd = false;
        if (SameWord(text, "BEGIN") || SameWord(text, "CASE")) {
            ++w.depth;
        } else if (SameWord(text, "END")) {
            --w.depth;
            w.lastWordEnd = true;
        }
    };

    const std::int64_t lastLine =
        std::min<std::int64_t>(limit.Line, static_cast<std::int64_t>(lines_->size()) - 1);
    while (w.line <= lastLine) {
        const std::string_view s = LineAt(w.line);
        const bool limitLine = w.line == limit.Line;
        const std::size_t stop = limitLine ? std::min<std::size_t>(limit.Col, s.size()) : s.size();
        std::size_t j = w.col - 1;
        if (w.lineComment) j = std::max(j, stop);
        while (j < stop) {
            if (w.quote == qComment) {
                const std::size_t close = CommentEnd(s.data(), stop, j, w.minClose);
                if (close == kNotFound) {
                    j = stop;
                } else {
                    j = close;
                    w.quote = qNone;
                }
                continue;
            }
            if (w.quote != qNone) {
                const char q = w.quote == qSingle ? '\'' : '"';
                const void* hit = std::memchr(s.data() + j, q, stop - j);
                if (hit == nullptr) {
                    j = stop;
                } else {
                    j = static_cast<std::size_t>(static_cast<const char*>(hit) - s.data()) + 1;
                    w.quote = qNone;
                }
                continue;
            }
            const char c = s[j];
            if (IsWordChar(c)) {
                std::size_t k = j + 1;
                while (k < stop && IsWordChar(s[k])) ++k;
                word(s.substr(j, k - j));
                j = k;
            } else if (c == '-' && j + 1 < s.size() && s[j + 1] == '-') {
                w.lineComment = true;
                j = stop;
            } else if (c == '/' && j + 1 < s.size() && s[j + 1] == '*') {
                w.quote = qComment;
                w.minClose = j + 3;
                j += 2;
            } else if (c == '\'') {
                w.quote = qSingle;
                ++j;
            } else if (c == '"') {
                w.quote = qDouble;
                ++j;
            } else {
                ++j;
            }
        }
        if (limitLine && stop < s.size()) {
            w.col = static_cast<std::uint32_t>(stop + 1);
            return;
        }
        ++w.line;
        w.col = 1;
        w.lineComment = false;
        w.minClose = 0;
        if (limitLine) return;
    }
}

// ---------------------------------------------------------------------------
// Splitting
//
// One pass over the characters, line by line; empty lines are passed over.
// States (the quote state and the SET TERM state carry across lines):
//
//   Between          outside any statement
//   BetweenComment   outside a statement, inside /* */
//   Statement        inside a statement, in plain text
//   Comment          inside a statement, inside /* */
//   Single, Double   inside a statement, inside '...' or "..."
//
// and, in Statement, SetTerm: 0 none; 1 the statement began with the keyword
// SET and its next word is awaited; 2 that word was TERM.
//
// Transitions, c being the character at hand ("the terminator" is the whole
// of it, one character or several, standing at c):
//
//   Between    blank, or the terminator  -> Between (stray terminators make nothing)
//              "--"                      -> Between, rest of the line skipped
//              "/*"                      -> BetweenComment
//              lone '-' or '/'           -> Statement, kind 1 (never classified)
//              SET                       -> Statement, kind 14, SetTerm 1
//              ' or "                    -> Single or Double, kind 0
//              anything else             -> Statement, kind 0
//   BetweenComment, Comment
//              "*/" whose asterisk is not the opener's -> Between, Statement
//   Single, Double
//              the same quote            -> Statement (a doubled quote reopens at once)
//   Statement  "/*"                      -> Comment
//              ' or "                    -> Single or Double
//              "--"                      -> Statement, rest of the line skipped (kept
//                                           in the statement's text)
//              SetTerm 1: the first character of the next word decides: TERM
//                 -> SetTerm 2 (the new terminator is the old one until a
//                 character follows), anything else -> SetTerm 0
//              SetTerm 2: a run of characters other than blanks, quotes,
//                 comment openers, '-', '/', 'T', 't' and the terminator
//                 becomes the new terminator; the last run before the old
//                 terminator wins
//              the terminator:
//                 SetTerm 2 -> Between; the terminator changes and the SET TERM
//                    statement is taken out of the map again
//                 otherwise EndPos is set and the statement classified (kind 1
//                    is not); complete -> Between; a procedure, trigger or
//                    EXECUTE BLOCK whose body is still open (semicolon
//                    terminator only) -> Statement with EndPos.Col 0, to be
//                    ended and classified afresh at the next terminator
//
// The scan stops only at line ends, so its state there is all that a later
// call needs to go on with lines appended to the same list.

namespace {

// The end of the last non-empty line from k back to floor: a statement's text
// must stop before its terminator even when only empty lines stand between.
ScriptPos EndOfLineAtOrBefore(const TScriptLines& lines, std::size_t k, std::int32_t floor) {
    while (k > static_cast<std::size_t>(std::max(floor, 0)) && lines[k].empty()) --k;
    return ScriptPos{static_cast<std::uint32_t>(lines[k].size()), static_cast<std::int32_t>(k)};
}

}  // namespace

void TFbScriptParser::ScanLines(const TScriptLines& lines, std::string& terminator,
                                TScriptMap& map) {
    TSplitState& st = state_;
    bool inStatement = st.inStatement;
    TQuote quote = st.quote;
    std::uint8_t setTerm = st.setTermState;
    std::string newTerminator = st.newTerminator;
    bool complete = st.complete;
    std::string term = terminator;

    // Characters that need a look while in plain statement text outside SET.
    std::array<bool, 256> watched{};
    const auto markWatched = [&] {
        watched.fill(false);
        for (const char c : {'/', '-', '\'', '"', term[0]})
            watched[static_cast<unsigned char>(c)] = true;
    };
    markWatched();
    const auto termAt = [&term](const char* s, std::size_t n, std::size_t j) {
        return n - j >= term.size() && std::memcmp(s + j, term.data(), term.size()) == 0;
    };

    const auto start = [&](std::size_t j, std::int32_t i, std::uint8_t kind) {
        if (map.size() >= st.capacity) {
            st.capacity = GrowCapacity(st.capacity);
            map.reserve(st.capacity);
        }
        TStatementDesc& e = map.emplace_back();
        e.StartPos = ScriptPos{static_cast<std::uint32_t>(j + 1), i};
        e.Kind = kind;
        inStatement = true;
        st.walk.active = false;
    };

    for (std::size_t li = st.linesScanned; li < lines.size(); ++li) {
        const std::string& ln = lines[li];
        const std::size_t n = ln.size();
        if (n == 0) continue;
        if (n > kMaxLineLength) throw EFbScriptError("Script line too long");
        const auto i = static_cast<std::int32_t>(li);
        const char* s = ln.data();
        std::size_t minClose = 0;
        std::size_t j = 0;
        // Inside a run of characters that may make the new terminator of a
        // SET TERM; a line break ends every run.
        bool inRun = false;
        while (j < n) {
            if (quote == qComment) {
                const std::size_t close = CommentEnd(s, n, j, minClose);
                if (close == kNotFound) break;
                j = close;
                quote = qNone;
                continue;
            }

            if (!inStatement) {
                const char c = s[j];
                if (IsBlank(c)) {
                    ++j;
                } else if (c == '-') {
                    if (j + 1 < n && s[j + 1] == '-') break;
                    start(j++, i, skUnclassified);
                } else if (c == '/') {
                    if (j + 1 < n && s[j + 1] == '*') {
                        quote = qComment;
                        minClose = j + 3;
                        j += 2;
                    } else {
                        start(j++, i, skUnclassified);
                    }
                } else if (c == 'S' || c == 's') {
                    if (IsKeyword("SET", std::string_view(s, n),
                                  static_cast<std::uint32_t>(j + 1))) {
                        start(j, i, skSet);
                        setTerm = 1;
                        j += 3;
                    } else {
                        start(j++, i, skOther);
                    }
                } else if (termAt(s, n, j)) {
                    j += term.size();
                } else {
                    start(j++, i, skOther);
                    if (c == '\'') quote = qSingle;
                    if (c == '"') quote = qDouble;
                }
                continue;
            }

            if (quote != qNone) {
                const void* hit = std::memchr(s + j, quote == qSingle ? '\'' : '"', n - j);
                if (hit == nullptr) break;
                j = static_cast<std::size_t>(static_cast<const char*>(hit) - s) + 1;
                quote = qNone;
                continue;
            }

            if (setTerm == 0) {
                while (j < n && !watched[static_cast<unsigned char>(s[j])]) ++j;
                if (j == n) break;
            }
            const char c = s[j];
            switch (c) {
                case '/':
                case '-':
                case '\'':
                case '"':
                case 'T':
                case 't':
                    inRun = false;
                    break;
                default:
                    break;
            }
            switch (c) {
                case '/':
                    if (j + 1 < n && s[j + 1] == '*') {
                        quote = qComment;
                        minClose = j + 3;
                        j += 2;
                        continue;
                    }
                    if (setTerm == 1) setTerm = 0;
                    ++j;
                    continue;
                case '-':
                    if (j + 1 < n && s[j + 1] == '-') {
                        j = n;
                        continue;
                    }
                    if (setTerm == 1) setTerm = 0;
                    ++j;
                    continue;
                case '\'':
                case '"':
                    quote = c == '\'' ? qSingle : qDouble;
                    if (setTerm == 1) setTerm = 0;
                    ++j;
                    continue;
                case 'T':
                case 't':
                    if (setTerm == 1) {
                        if (IsKeyword("TERM", std::string_view(s, n),
                                      static_cast<std::uint32_t>(j + 1))) {
                            setTerm = 2;
                            newTerminator = term;
                            j += 4;
                            continue;
                        }
                        setTerm = 0;
                    }
                    ++j;
                    continue;
                default:
                    break;
            }

            const bool atTerminator = c == term[0] && termAt(s, n, j);
            const std::size_t width = atTerminator ? term.size() : 1;
            if (setTerm == 1) {
                if (!IsBlank(c)) setTerm = 0;
            } else if (setTerm == 2) {
                if (IsBlank(c) || atTerminator) {
                    inRun = false;
                } else {
                    if (!inRun) newTerminator.clear();
                    newTerminator += c;
                    inRun = true;
                }
            }
            if (atTerminator) {
                if (setTerm == 2) {
                    term = newTerminator;
                    terminator = term;
                    markWatched();
                    setTerm = 0;
                    map.pop_back();
                    inStatement = false;
                } else {
                    setTerm = 0;
                    TStatementDesc& e = map.back();
                    e.EndPos = j > 0 ? ScriptPos{static_cast<std::uint32_t>(j), i}
                                     : EndOfLineAtOrBefore(lines, li - 1, e.StartPos.Line);
                    if (e.Kind != skUnclassified) complete = Classify(e, term == ";", &st.walk);
                    if (complete) {
                        inStatement = false;
                    } else {
                        e.EndPos.Col = 0;
                    }
                }
            }
            j += width;
        }
    }

    st.inStatement = inStatement;
    st.quote = quote;
    st.setTermState = setTerm;
    st.newTerminator = newTerminator;
    st.complete = complete;
    terminator = term;
}

void TFbScriptParser::FinishUnterminated(const TScriptLines& lines, TScriptMap& map) {
    TStatementDesc& e = map.back();
    e.EndPos = EndOfLineAtOrBefore(lines, lines.size() - 1, e.StartPos.Line);
    if (e.Kind != skUnclassified) Classify(e, false, nullptr);
}

void TFbScriptParser::SplitScript(const TScriptLines& lines, std::string& terminator,
                                  TScriptMap& map, bool AcceptUnterminated) {
    ResetIncrementalSplit();
    SplitScriptIncremental(lines, terminator, map, AcceptUnterminated);
}

void TFbScriptParser::SplitScriptIncremental(const TScriptLines& lines, std::string& terminator,
                                             TScriptMap& map, bool AcceptUnterminated) {
    if (terminator.empty()) throw EFbScriptError("Empty statement terminator");
    if (lines.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw EFbScriptError("Script has too many lines");
    }
    lines_ = &lines;
    TSplitState& st = state_;
    bool resume = st.valid && st.lines == &lines && lines.size() >= st.linesScanned &&
                  terminator == st.terminator && map.size() == st.count;
    if (resume && st.linesScanned > 0) resume = lines[st.linesScanned - 1] == st.lastLine;
    if (resume) {
        if (st.unfinishedLast) map.back() = std::move(*st.unfinishedLast);
    } else {
        st.lines = &lines;
        st.linesScanned = 0;
        st.count = 0;
        st.capacity = std::max<std::size_t>(lines.size() / 16, 3);
        st.inStatement = false;
        st.quote = qNone;
        st.setTermState = 0;
        st.newTerminator = terminator;
        st.complete = true;
        st.walk = TBodyWalk{};
        st.lastDatabaseName = std::move(st.carriedDatabaseName);
        st.carriedDatabaseName.clear();
        map.clear();
        map.reserve(st.capacity);
    }
    // Until this call ends normally the kept state does not describe the map.
    st.valid = false;
    st.unfinishedLast.reset();
    lastDatabaseName_ = st.lastDatabaseName;

    ScanLines(lines, terminator, map);

    st.linesScanned = lines.size();
    if (lines.empty()) {
        st.lastLine.clear();
    } else {
        st.lastLine = lines.back();
    }
    st.terminator = terminator;
    st.count = map.size();
    st.lastDatabaseName = lastDatabaseName_;
    if (AcceptUnterminated && !map.empty() && map.back().EndPos.Col == 0) {
        st.unfinishedLast = map.back();
        FinishUnterminated(lines, map);
    }
    st.valid = true;
}

}  // namespace qm
