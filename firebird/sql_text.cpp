#include "firebird/sql_text.h"

#include <array>

namespace qm {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' ' && c != '\0'; }

bool IsWordChar(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Position of the first character that is neither blank nor inside a comment.
std::size_t SkipBlanksAndComments(std::string_view s, std::size_t pos) {
    while (pos < s.size()) {
        if (IsBlank(s[pos])) {
            ++pos;
        } else if (s.compare(pos, 2, "--") == 0) {
            while (pos < s.size() && s[pos] != '\n') ++pos;
        } else if (s.compare(pos, 2, "/*") == 0) {
            const auto end = s.find("*/", pos + 2);
            pos = end == std::string_view::npos ? s.size() : end + 2;
        } else {
            break;
        }
    }
    return pos;
}

bool IsKeywordFollower(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return true;
    switch (s[pos]) {
        case '\0':
        case '\t':
        case '\n':
        case '\r':
        case ' ':
        case '"':
        case '(':
        case '-':
        case '/':
        case ';':
            return true;
        default:
            return false;
    }
}

// The keyword stands at pos, in either case, followed by a keyword follower.
bool KeywordAt(std::string_view s, std::size_t pos, std::string_view keyword) {
    if (s.size() - pos < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (Upper(s[pos + i]) != keyword[i]) return false;
    }
    return IsKeywordFollower(s, pos + keyword.size());
}

std::string WordAt(std::string_view s, std::size_t pos) {
    std::string w;
    while (pos < s.size() && IsWordChar(s[pos])) w += Upper(s[pos++]);
    return w;
}

bool IsSchemaStatement(std::string_view s, std::size_t pos) {
    if (pos >= s.size()) return false;
    const std::string word = WordAt(s, pos);
    if (word.empty()) return false;
    static const std::array<const char*, 8> kSchemaWords = {
        "ALTER", "CREATE", "COMMENT", "DROP", "DECLARE", "GRANT", "REVOKE", "RECREATE"};
    for (const char* k : kSchemaWords) {
        if (word == k) return true;
    }
    if (word == "SET") {
        std::size_t p = pos + word.size();
        while (p < s.size() && IsBlank(s[p])) ++p;
        return WordAt(s, p) == "GENERATOR";
    }
    return word[0] == 'S';
}

}  // namespace

int ClassifySql(std::string_view text) {
    const std::size_t pos = SkipBlanksAndComments(text, 0);
    if (pos >= text.size()) return sqkOther;
    if (KeywordAt(text, pos, "SELECT") || KeywordAt(text, pos, "MERGE")) return sqkSelect;
    if (KeywordAt(text, pos, "UPDATE")) return sqkUpdate;
    if (KeywordAt(text, pos, "DELETE")) return sqkDelete;
    if (KeywordAt(text, pos, "INSERT")) return sqkInsert;
    if (KeywordAt(text, pos, "EXECUTE")) {
        const std::size_t next = SkipBlanksAndComments(text, pos + 7);
        if (KeywordAt(text, next, "PROCEDURE")) return sqkExecuteProcedure;
        if (KeywordAt(text, next, "BLOCK")) return sqkExecuteBlock;
    }
    if (IsSchemaStatement(text, pos)) return sqkSchema;
    return sqkOther;
}

ParameterizedSql ReplaceParameterMarkers(std::string_view s, int sqlKind, bool recognise) {
    ParameterizedSql out;
    if (!recognise || sqlKind == sqkSchema) {
        out.text = std::string(s);
        return out;
    }
    bool markers = true;
    out.text.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
            const auto end = s.find('\n', i);
            const std::size_t stop = end == std::string_view::npos ? s.size() : end;
            out.text.append(s.substr(i, stop - i));
            i = stop;
        } else if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
            const auto end = s.find("*/", i + 2);
            if (end == std::string_view::npos) {
                out.text.append(s.substr(i));
                out.error = "EOF in comment detected";
                return out;
            }
            out.text.append(s.substr(i, end + 2 - i));
            i = end + 2;
        } else if ((c == 'q' || c == 'Q') && i + 2 < s.size() && s[i + 1] == '\'' &&
                   (i == 0 || !IsWordChar(s[i - 1]))) {
            // An alternative string literal q'<d>...<d>' with the closing
            // delimiter of its opening one.
            const char open = s[i + 2];
            const char close = open == '('   ? ')'
                               : open == '[' ? ']'
                               : open == '{' ? '}'
                               : open == '<' ? '>'
                                             : open;
            std::size_t j = i + 3;
            while (j + 1 < s.size() && !(s[j] == close && s[j + 1] == '\'')) ++j;
            if (j + 1 >= s.size()) {
                out.text.append(s.substr(i));
                out.error = "EOF in string detected";
                return out;
            }
            out.text.append(s.substr(i, j + 2 - i));
            i = j + 2;
        } else if (c == '\'' || c == '"') {
            // A doubled quote stands for one and does not end the string.
            std::size_t j = i + 1;
            while (true) {
                if (j >= s.size()) {
                    out.text.append(s.substr(i));
                    out.error = "EOF in string detected";
                    return out;
                }
                if (s[j] == c) {
                    if (j + 1 < s.size() && s[j + 1] == c) {
                        j += 2;
                        continue;
                    }
                    break;
                }
                ++j;
            }
            out.text.append(s.substr(i, j + 1 - i));
            i = j + 1;
        } else if (markers && (c == ':' || c == '?')) {
            std::size_t j = i + 1;
            while (j < s.size() && IsWordChar(s[j])) ++j;
            if (j > i + 1) {
                out.names.emplace_back(s.substr(i + 1, j - i - 1));
                out.text += '?';
                i = j;
            } else {
                if (c == '?') out.names.emplace_back();
                out.text += c;
                ++i;
            }
        } else if (IsWordChar(c)) {
            std::size_t j = i;
            while (j < s.size() && IsWordChar(s[j])) ++j;
            // In an EXECUTE BLOCK the markers end at the AS that opens its body.
            if (sqlKind == sqkExecuteBlock && j - i == 2 && Upper(s[i]) == 'A' &&
                Upper(s[i + 1]) == 'S') {
                markers = false;
            }
            out.text.append(s.substr(i, j - i));
            i = j;
        } else {
            out.text += c;
            ++i;
        }
    }
    return out;
}

}  // namespace qm
