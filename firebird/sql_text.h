#pragma once

#include <string>
#include <string_view>
#include <vector>

// Reading of one statement's text before it goes to the server: its kind, and
// its parameter markers.
namespace qm {

// The kinds of statement text, by their first words.
enum SqlKinds : int {
    sqkOther = 0,
    sqkSelect = 1,  // SELECT or MERGE
    sqkUpdate = 2,
    sqkInsert = 3,
    sqkDelete = 4,
    sqkExecuteProcedure = 5,
    sqkSchema = 6,  // ALTER, CREATE, COMMENT, DROP, DECLARE, GRANT, REVOKE,
                   // RECREATE, SET GENERATOR, and any other word starting with S
    sqkExecuteBlock = 7,
};

// The kind of a statement text. Blanks and comments before the first word are
// skipped; keywords match in either letter case, followed by the end of the
// text or one of NUL, tab, line feed, carriage return, blank, double quote,
// "(", "-", "/", ";".
int ClassifySql(std::string_view text);

// A statement text with its parameter markers replaced.
struct ParameterizedSql {
    std::string text;                // what the server gets
    std::vector<std::string> names;  // one per marker, in text order ("" for a bare "?")
    std::string error;               // "EOF in comment detected" / "EOF in string detected" / ""
};

// Outside quoted strings and comments, ":name" and "?name" are named
// markers and a bare "?" is an unnamed one; each becomes "?" in the text sent.
// Nothing is recognised when recognise is false or the kind is sqkSchema (so
// that bodies of procedures and triggers keep their ":variables"); in an
// EXECUTE BLOCK only before the block's AS. A block comment or a string still
// open at the end of the text is reported in `error`.
ParameterizedSql ReplaceParameterMarkers(std::string_view text, int sqlKind, bool recognise = true);

}  // namespace qm
