#include "firebird/script_parser.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/firebird/script/script_lines.h"

namespace qm {
namespace {

using test::ToLines;

// The text between a statement's start and end, lines joined by '\n'; to the
// end of the script when the statement has no end.
std::string StatementText(const TScriptLines& lines, const TStatementDesc& d) {
    ScriptPos end = d.EndPos;
    if (end.Col == 0)
        end = {static_cast<std::uint32_t>(lines.back().size()),
               static_cast<std::int32_t>(lines.size() - 1)};
    std::string text;
    for (std::int32_t i = d.StartPos.Line; i <= end.Line; ++i) {
        const std::string& l = lines[i];
        const std::size_t from = i == d.StartPos.Line ? d.StartPos.Col - 1 : 0;
        const std::size_t to = i == end.Line ? end.Col : l.size();
        if (i != d.StartPos.Line) text += '\n';
        if (to > from) text += l.substr(from, to - from);
    }
    return text;
}

struct Split {
    TScriptLines lines;
    TScriptMap map;
    std::string terminator;
    std::string lastDatabase;
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const TStatementDesc& d : map) texts.push_back(StatementText(lines, d));
        return texts;
    }
};

Split DoSplit(std::string_view text, bool acceptUnterminated = false,
              const std::string& terminator = ";") {
    Split s{ToLines(text), {}, terminator, {}};
    TFbScriptParser parser;
    parser.SplitScript(s.lines, s.terminator, s.map, acceptUnterminated);
    s.lastDatabase = parser.LastDatabaseName();
    return s;
}

using Texts = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Positions

struct PosCase {
    const char* script;
    std::vector<std::array<int, 4>> spans;  // start line, start col, end line, end col
};

TEST(SplitScriptTest, StartAndEndPositions) {
    const PosCase cases[] = {
        {"select 1;", {{0, 1, 0, 8}}},
        {"  select 1 ;  select 2;", {{0, 3, 0, 11}, {0, 15, 0, 22}}},
        // A terminator in column 1 ends the statement at the end of the line before.
        {"select 1\n;", {{0, 1, 0, 8}}},
        {"select 1\n\n\n;select 2;", {{0, 1, 0, 8}, {3, 2, 3, 9}}},
        {"select 1  \n  ;", {{0, 1, 1, 2}}},
        {"\n\n  select\n  1\n;", {{2, 3, 3, 3}}},
        {"select 'a;b'\n  from t;", {{0, 1, 1, 8}}},
        {"select 'a\n;b' from t;", {{0, 1, 1, 10}}},
        {"select \"a;b\" from t;", {{0, 1, 0, 19}}},
        {"/* c; \n still ; */ select 1;", {{1, 13, 1, 20}}},
        {"select 1 /* ; \n ; */ from t;", {{0, 1, 1, 12}}},
        {"-- comment;\nselect 1; -- trailing;\nselect 2;", {{1, 1, 1, 8}, {2, 1, 2, 8}}},
        {"select 1 -- c;\n from t;", {{0, 1, 1, 7}}},
        {";;;\n;select 1;;;\n ; ;", {{1, 2, 1, 9}}},
        // The asterisk that opens a comment does not close it.
        {"/*/ select 1; */ select 2;", {{0, 18, 0, 25}}},
        {"/**/select 1;", {{0, 5, 0, 12}}},
        {"select 1 /*/ ; */;", {{0, 1, 0, 17}}},
        // A statement may begin with a quote; its quoted text is kept whole.
        {"'a;b';", {{0, 1, 0, 5}}},
        {"- 1; / 2;", {{0, 1, 0, 3}, {0, 6, 0, 8}}},
        {"", {}},
        {"\n \n\t\n", {}},
    };
    for (const PosCase& c : cases) {
        SCOPED_TRACE(c.script);
        const Split s = DoSplit(c.script);
        ASSERT_EQ(s.map.size(), c.spans.size());
        for (std::size_t k = 0; k < c.spans.size(); ++k) {
            const auto& e = c.spans[k];
            EXPECT_EQ(s.map[k].StartPos, (ScriptPos{std::uint32_t(e[1]), e[0]})) << k;
            EXPECT_EQ(s.map[k].EndPos, (ScriptPos{std::uint32_t(e[3]), e[2]})) << k;
        }
    }
}

TEST(SplitScriptTest, UnterminatedLastStatement) {
    struct Case {
        const char* script;
        bool accept;
        std::array<int, 2> end;  // line, col
        const char* text;
    };
    const Case cases[] = {
        {"select 1; select 2", false, {0, 0}, "select 2"},
        {"select 1; select 2", true, {0, 18}, "select 2"},
        {"select 1;\nselect\n  2", true, {2, 3}, "select\n  2"},
        {"select 1;\nselect 2\n\n", true, {1, 8}, "select 2"},
        {"select 1;\nselect 2\n  ", true, {2, 2}, "select 2\n  "},
        {"select 1; /* open\n comment", true, {0, 8}, "select 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        SCOPED_TRACE(c.accept);
        const Split s = DoSplit(c.script, c.accept);
        ASSERT_FALSE(s.map.empty());
        EXPECT_EQ(s.map.back().EndPos, (ScriptPos{std::uint32_t(c.end[1]), c.end[0]}));
        EXPECT_EQ(s.Texts().back(), c.text);
    }

    // The fix-up classifies the statement; without it the last statement keeps
    // the kind it had when its last terminator was read.
    const Split open = DoSplit("create procedure p as begin\n  x = 1;", false);
    ASSERT_EQ(open.map.size(), 1u);
    EXPECT_EQ(open.map[0].EndPos.Col, 0u);
    EXPECT_EQ(open.map[0].Kind, skCreate);
    EXPECT_EQ(open.map[0].ObjectKind, okProcedure);
    const Split accepted = DoSplit("select 1;\ncreate table t (a int)", true);
    EXPECT_EQ(accepted.map.back().Kind, skCreate);
    EXPECT_EQ(accepted.map.back().ObjectName, "t");
    const Split kept = DoSplit("select 1;\ncreate table t (a int)", false);
    EXPECT_EQ(kept.map.back().Kind, skOther);
}

// ---------------------------------------------------------------------------
// SET TERM

TEST(SplitScriptTest, SetTerm) {
    struct Case {
        const char* script;
        const char* terminatorIn;
        const char* terminatorOut;
        Texts texts;
    };
    const Case cases[] = {
        {"SET TERM ^ ;\nCREATE PROCEDURE P AS BEGIN\n  X = 1;\nEND^\nSET TERM ; ^",
         ";",
         ";",
         {"CREATE PROCEDURE P AS BEGIN\n  X = 1;\nEND"}},
        {"set term ^;", ";", "^", {}},
        {"SET TERM ^ ;\nselect 1^ select 2;^", ";", "^", {"select 1", "select 2;"}},
        {"SET TERM ^ ;\nSET TERM ; ^\nselect 1;", ";", ";", {"select 1"}},
        {"SET\n  TERM\n  ^\n;select 1^", ";", "^", {"select 1"}},
        {"SET /* here */ TERM # ;select 1#", ";", "#", {"select 1"}},
        {"select 1^ SET TERM ; ^ select 2;", "^", ";", {"select 1", "select 2"}},
        // The last run of characters before the old terminator wins.
        {"SET TERM ! # ;select 1#", ";", "#", {"select 1"}},
        {"SET TERM^;select 1^", ";", "^", {"select 1"}},
        // No new character: the terminator stays.
        {"SET TERM ;select 1;", ";", ";", {"select 1"}},
        // TERM only counts as the word right after SET.
        {"SET GENERATOR G_TERM TO 5;select 1;",
         ";",
         ";",
         {"SET GENERATOR G_TERM TO 5", "select 1"}},
        {"SET NAMES TERM;", ";", ";", {"SET NAMES TERM"}},
        {"SETTERM ^;", ";", ";", {"SETTERM ^"}},
        {"select 'SET TERM ^ ;' from t;", ";", ";", {"select 'SET TERM ^ ;' from t"}},
        // Terminators of several characters, as isql takes them.
        {"SET TERM !! ;\nCREATE PROCEDURE P AS BEGIN X = 1; END !!\nselect '!!' from t!!!!"
         "SET TERM ; !!\nselect 2;",
         ";",
         ";",
         {"CREATE PROCEDURE P AS BEGIN X = 1; END ", "select '!!' from t", "select 2"}},
        {"SET TERM !# ;select 1#; select 2!#", ";", "!#", {"select 1#; select 2"}},
        {"SET TERM !! ;select 1 ! 2!!", ";", "!!", {"select 1 ! 2"}},
        {"SET TERM ^^ ;\nselect 1^^ SET TERM $$ ^^ select 2$$",
         ";",
         "$$",
         {"select 1", "select 2"}},
        // A lone character of a longer terminator starts a statement.
        {"SET TERM !! ;\n! select 1!!", ";", "!!", {"! select 1"}},
        {"select 1 GO select 2 GO", "GO", "GO", {"select 1 ", "select 2 "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        const Split s = DoSplit(c.script, false, c.terminatorIn);
        EXPECT_EQ(s.terminator, c.terminatorOut);
        EXPECT_EQ(s.Texts(), c.texts);
    }
}

TEST(SplitScriptTest, SetTermKeepsKindsOfOtherSets) {
    const Split s = DoSplit("SET GENERATOR G_TERM TO 5;\nSET SQL DIALECT 3;");
    ASSERT_EQ(s.map.size(), 2u);
    EXPECT_EQ(s.map[0].Kind, skSetGenerator);
    EXPECT_EQ(s.map[0].ObjectName, "G_TERM");
    EXPECT_EQ(s.map[1].Kind, skSet);
}

// ---------------------------------------------------------------------------
// Bodies under a semicolon terminator

TEST(SplitScriptTest, BodiesInSemicolonMode) {
    struct Case {
        const char* script;
        Texts texts;
    };
    const Case cases[] = {
        {"CREATE PROCEDURE P AS BEGIN\n  X = 1;\n  Y = 2;\nEND;\nselect 1;",
         {"CREATE PROCEDURE P AS BEGIN\n  X = 1;\n  Y = 2;\nEND", "select 1"}},
        {"CREATE TRIGGER T FOR X AS\nDECLARE VARIABLE V INTEGER;\nBEGIN\n  V = 1;\nEND;select 1;",
         {"CREATE TRIGGER T FOR X AS\nDECLARE VARIABLE V INTEGER;\nBEGIN\n  V = 1;\nEND",
          "select 1"}},
        {"create procedure p as begin\n  if (a = 1) then begin x = 1; end\n  x = case when a = 1 "
         "then 1 else 2 end;\nend;select 1;",
         {"create procedure p as begin\n  if (a = 1) then begin x = 1; end\n  x = case when a = 1 "
          "then 1 else 2 end;\nend",
          "select 1"}},
        // END run together with a parenthesis still closes the CASE.
        {"CREATE PROCEDURE P AS BEGIN X = (CASE WHEN A = 1 THEN 1 ELSE 2 END); Y = 1; END;"
         "select 1;",
         {"CREATE PROCEDURE P AS BEGIN X = (CASE WHEN A = 1 THEN 1 ELSE 2 END); Y = 1; END",
          "select 1"}},
        // Words in quoted text and comments are not keywords.
        {"CREATE PROCEDURE P AS BEGIN\n  X = 'the end is near; begin';\n  Y = \"END\"; -- end;\n"
         "  /* end; */ Z = 1;\nEND;select 1;",
         {"CREATE PROCEDURE P AS BEGIN\n  X = 'the end is near; begin';\n  Y = \"END\"; -- end;\n"
          "  /* end; */ Z = 1;\nEND",
          "select 1"}},
        {"EXECUTE BLOCK AS DECLARE X INT; BEGIN X = 1; END;select 1;",
         {"EXECUTE BLOCK AS DECLARE X INT; BEGIN X = 1; END", "select 1"}},
        {"RECREATE TRIGGER T FOR X BEFORE INSERT AS BEGIN NEW.A = 1; END;select 1;",
         {"RECREATE TRIGGER T FOR X BEFORE INSERT AS BEGIN NEW.A = 1; END", "select 1"}},
        {"CREATE OR ALTER PROCEDURE P (A INT) RETURNS (B INT) AS BEGIN B = A; SUSPEND; END;",
         {"CREATE OR ALTER PROCEDURE P (A INT) RETURNS (B INT) AS BEGIN B = A; SUSPEND; END"}},
        // A local subroutine closes its block before the main body.
        {"CREATE PROCEDURE P AS\nDECLARE PROCEDURE SUB AS BEGIN X = 1; END\nDECLARE V INT;\n"
         "BEGIN\n  EXECUTE PROCEDURE SUB;\nEND;select 1;",
         {"CREATE PROCEDURE P AS\nDECLARE PROCEDURE SUB AS BEGIN X = 1; END\nDECLARE V INT;\n"
          "BEGIN\n  EXECUTE PROCEDURE SUB;\nEND",
          "select 1"}},
        // Functions and packages have bodies too.
        {"CREATE FUNCTION F RETURNS INT AS BEGIN RETURN 1; END;select 1;",
         {"CREATE FUNCTION F RETURNS INT AS BEGIN RETURN 1; END", "select 1"}},
        {"CREATE OR ALTER FUNCTION F (A INT) RETURNS INT AS\nDECLARE X INT;\nBEGIN X = A; "
         "RETURN X; END;select 1;",
         {"CREATE OR ALTER FUNCTION F (A INT) RETURNS INT AS\nDECLARE X INT;\nBEGIN X = A; "
          "RETURN X; END",
          "select 1"}},
        {"CREATE FUNCTION F RETURNS INT EXTERNAL NAME 'm!f' ENGINE UDR;select 1;",
         {"CREATE FUNCTION F RETURNS INT EXTERNAL NAME 'm!f' ENGINE UDR", "select 1"}},
        {"CREATE PACKAGE PK AS BEGIN FUNCTION F RETURNS INT; PROCEDURE P; END;select 1;",
         {"CREATE PACKAGE PK AS BEGIN FUNCTION F RETURNS INT; PROCEDURE P; END", "select 1"}},
        {"RECREATE PACKAGE BODY PK AS BEGIN\n  FUNCTION F RETURNS INT AS BEGIN RETURN 1; END\n"
         "  PROCEDURE P AS BEGIN X = 1; END\nEND;select 1;",
         {"RECREATE PACKAGE BODY PK AS BEGIN\n  FUNCTION F RETURNS INT AS BEGIN RETURN 1; END\n"
          "  PROCEDURE P AS BEGIN X = 1; END\nEND",
          "select 1"}},
        {"DROP FUNCTION F;DROP PACKAGE BODY PK;select 1;",
         {"DROP FUNCTION F", "DROP PACKAGE BODY PK", "select 1"}},
        {"DROP PROCEDURE P;select 1;", {"DROP PROCEDURE P", "select 1"}},
        {"ALTER TRIGGER T INACTIVE;select 1;", {"ALTER TRIGGER T INACTIVE", "select 1"}},
        {"CREATE PROCEDURE P EXTERNAL NAME 'm!f' ENGINE UDR;select 1;",
         {"CREATE PROCEDURE P EXTERNAL NAME 'm!f' ENGINE UDR", "select 1"}},
        {"CREATE TABLE T (A COMPUTED BY (CASE WHEN B = 1 THEN 1 END));select 1;",
         {"CREATE TABLE T (A COMPUTED BY (CASE WHEN B = 1 THEN 1 END))", "select 1"}},
        // Under another terminator the body is not looked at.
        {"SET TERM ^ ;\nCREATE PROCEDURE P AS BEGIN X = 1; ^ select 1 ^",
         {"CREATE PROCEDURE P AS BEGIN X = 1; ", "select 1 "}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(DoSplit(c.script).Texts(), c.texts);
    }
}

// ---------------------------------------------------------------------------
// Classification

struct KindCase {
    const char* statement;
    std::uint8_t kind;
    std::uint8_t objectKind;
    const char* objectName;
};

TEST(ClassifyStatementTest, KindsAndObjects) {
    const KindCase cases[] = {
        {"select * from t", skOther, okNone, ""},
        {"- 1", skUnclassified, okNone, ""},
        {"/ 2", skUnclassified, okNone, ""},
        {"delete from t", skData, okNone, ""},
        {"INSERT into t values (1)", skData, okNone, ""},
        {"merge into t using s on 1 = 1 when matched then delete", skData, okNone, ""},
        {"Update t set a = 1", skData, okNone, ""},
        {"execute procedure p", skData, okNone, ""},
        {"execute", skData, okNone, ""},
        {"execute block as begin end", skData, okBlock, ""},
        {"connect 'C:\\db\\a.fdb' user 'SYSDBA' password 'x'", skConnect, okDatabase,
         "C:\\db\\a.fdb"},
        {"connect", skConnect, okDatabase, ""},
        {"disconnect", skDisconnect, okDatabase, ""},
        {"reconnect", skReconnect, okDatabase, ""},
        {"commit work", skCommit, okDatabase, ""},
        {"rollback", skRollback, okDatabase, ""},
        {"create database 'x.fdb' page_size 8192", skCreateDatabase, okDatabase, "x.fdb"},
        {"create database \"x y.fdb\"", skCreateDatabase, okDatabase, "x y.fdb"},
        {"drop database", skDropDatabase, okDatabase, ""},
        {"alter database add file 'b.fdb'", skAlter, okDatabase, "add"},
        {"create domain d as integer", skCreate, okDomain, "d"},
        {"create table t (a integer)", skCreate, okTable, "t"},
        {"create function f returns int as begin return 1; end", skCreate, okFunction, "f"},
        {"create or alter package pk as begin end", skCreate, okPackage, "pk"},
        {"recreate package body pk as begin end", skRecreate, okPackage, "pk"},
        {"drop package body pk", skDrop, okPackage, "pk"},
        {"grant execute on package pk to public", skGrant, okPackage, "pk"},
        {"create table t(a integer)", skCreate, okTable, "t"},
        {"create table \"My Table\" (a integer)", skCreate, okTable, "My Table"},
        {"create global temporary table g (a int)", skCreate, okTable, "g"},
        {"create view v as select 1 from rdb$database", skCreate, okView, "v"},
        {"create or alter procedure p as begin end", skCreate, okProcedure, "p"},
        {"create trigger tr for t as begin end", skCreate, okTrigger, "tr"},
        {"drop external function f", skDrop, okFunction, "f"},
        {"create exception e 'message'", skCreate, okException, "e"},
        {"create generator g", skCreate, okGenerator, "g"},
        {"create unique descending index ix on t (a)", skCreate, okIndex, "ix"},
        {"alter index ix inactive", skAlter, okIndex, "ix"},
        {"create role r", skCreate, okRole, "r"},
        {"create sequence s", skCreate, okNone, "s"},
        {"create", skCreate, okNone, ""},
        {"recreate table t (a int)", skRecreate, okTable, "t"},
        {"drop table t", skDrop, okTable, "t"},
        {"drop procedure p", skDrop, okProcedure, "p"},
        {"set names win1251", skSet, okNone, ""},
        {"set sql dialect 3", skSet, okNone, ""},
        {"set generator g to 5", skSetGenerator, okGenerator, "g"},
        {"set generator", skSetGenerator, okGenerator, ""},
        {"set statistics index ix", skSetStatistics, okIndex, "ix"},
        {"describe table t 'text'", skDescribe, okTable, "t"},
        {"describe procedure p 'text'", skDescribe, okProcedure, "p"},
        {"describe field f table t 'text'", skDescribe, okField, "t.f"},
        {"describe column f table t 'text'", skDescribe, okField, "t.f"},
        {"describe parameter a procedure p 'text'", skDescribe, okParameter, "p.a"},
        {"describe field f 'text'", skDescribe, okField, ""},
        {"describe sequence s 'text'", skDescribe, okNone, ""},
        {"declare external function f integer returns integer entry_point 'e' module_name 'm'",
         skDeclare, okFunction, "f"},
        {"declare filter fl input_type 1 output_type 2 entry_point 'e' module_name 'm'", skDeclare,
         okFilter, ""},
        {"declare x", skDeclare, okNone, ""},
        {"comment on table t is 'x'", skComment, okTable, "t"},
        {"comment on column t.c is 'x'", skComment, okField, "t.c"},
        {"comment on constraint c is 'x'", skComment, okConstraint, "c"},
        {"comment on parameter p.a is 'x'", skComment, okParameter, "p.a"},
        {"grant select on t to u", skGrant, okNone, "t"},
        {"grant execute on procedure p to u", skGrant, okProcedure, "p"},
        {"revoke all on t from u", skGrant, okNone, "t"},
        {"grant r to u", skGrant, okNone, ""},
        {"input 'file.sql'", skInput, okNone, ""},
        {"batch start", skBatchStart, okNone, ""},
        {"batch execute", skBatchExecute, okNone, ""},
        {"batch", skUnclassified, okNone, ""},
        {"batch run", skUnclassified, okNone, ""},
        // Keywords run together with the next word or a parenthesis do not match.
        {"createtable t (a int)", skOther, okNone, ""},
        {"commit(x)", skOther, okNone, ""},
        {"create table(a int)", skCreate, okNone, "int)"},
        // Comments between the words are passed over.
        {"create /* x */ table -- y\n t (a int)", skCreate, okTable, "t"},
    };
    for (const KindCase& c : cases) {
        SCOPED_TRACE(c.statement);
        const Split s = DoSplit(std::string(c.statement) + ";");
        ASSERT_EQ(s.map.size(), 1u);
        EXPECT_EQ(int(s.map[0].Kind), int(c.kind));
        EXPECT_EQ(int(s.map[0].ObjectKind), int(c.objectKind));
        EXPECT_EQ(s.map[0].ObjectName, c.objectName);
    }
}

TEST(ClassifyStatementTest, DatabaseNameCarriesToLaterStatements) {
    const Split s = DoSplit(
        "create database 'a.fdb';\ncommit;\ndrop database;\nconnect \"b.fdb\";\nrollback;\n"
        "disconnect;\nreconnect;");
    const std::vector<std::pair<std::uint8_t, std::string>> expected = {
        {skCreateDatabase, "a.fdb"}, {skCommit, "a.fdb"},   {skDropDatabase, "a.fdb"},
        {skConnect, "b.fdb"},        {skRollback, "b.fdb"}, {skDisconnect, "b.fdb"},
        {skReconnect, "b.fdb"},
    };
    ASSERT_EQ(s.map.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_EQ(s.map[k].Kind, expected[k].first) << k;
        EXPECT_EQ(s.map[k].ObjectName, expected[k].second) << k;
    }
    EXPECT_EQ(s.lastDatabase, "b.fdb");

    // Every split starts without a database.
    TFbScriptParser parser;
    TScriptMap map;
    std::string t = ";";
    const TScriptLines first = ToLines("connect 'a.fdb';");
    parser.SplitScript(first, t, map, false);
    EXPECT_EQ(parser.LastDatabaseName(), "a.fdb");
    const TScriptLines second = ToLines("commit;");
    parser.SplitScript(second, t, map, false);
    EXPECT_EQ(parser.LastDatabaseName(), "");
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0].ObjectName, "");
}

TEST(ClassifyStatementTest, ReusedMapEntriesCarryNothingOver) {
    TFbScriptParser parser;
    TScriptMap map;
    std::string t = ";";
    const TScriptLines first = ToLines("create table t (a int);");
    parser.SplitScript(first, t, map, false);
    ASSERT_EQ(map[0].ObjectName, "t");
    const TScriptLines second = ToLines("select 1;");
    parser.SplitScript(second, t, map, false);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map[0], (TStatementDesc{{1, 0}, {8, 0}, skOther, okNone, ""}));
}

TEST(ClassifyStatementTest, ReportsOpenBodies) {
    struct Case {
        const char* statement;
        bool semicolonMode;
        bool complete;
    };
    const Case cases[] = {
        {"create procedure p as begin x = 1;", true, false},
        {"create procedure p as begin x = 1; end", true, true},
        {"create procedure p as begin x = 1;", false, true},
        {"create trigger t for x as declare variable v int;", true, false},
        {"alter trigger t inactive", true, true},
        {"drop trigger t", true, true},
        {"execute block as begin", true, false},
        {"create procedure p as begin begin end", true, false},
        {"create procedure p as begin end end", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statement);
        const TScriptLines lines{c.statement};
        TFbScriptParser parser;
        parser.SetLines(&lines);
        TStatementDesc d;
        d.StartPos = {1, 0};
        d.EndPos = {static_cast<std::uint32_t>(lines[0].size()), 0};
        EXPECT_EQ(parser.ClassifyStatement(d, c.semicolonMode), c.complete);
    }
}

// ---------------------------------------------------------------------------
// Errors

TEST(SplitScriptTest, UnclosedQuotedNameRaises) {
    const TScriptLines lines = ToLines("select 1;\ncreate database 'a\nb.fdb';\nselect 2;");
    TFbScriptParser parser;
    TScriptMap map;
    std::string t = ";";
    try {
        parser.SplitScript(lines, t, map, false);
        FAIL() << "no error";
    } catch (const EFbScriptError& e) {
        EXPECT_STREQ(e.what(), "Can't find end token");
    }
    // The map holds the statements found up to the error.
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[1].StartPos, (ScriptPos{1, 1}));

    // The end-of-script fix-up classifies too.
    const TScriptLines open = ToLines("connect 'a.fdb");
    map.clear();
    EXPECT_NO_THROW(parser.SplitScript(open, t, map, false));
    EXPECT_THROW(parser.SplitScript(open, t, map, true), EFbScriptError);
}

// ---------------------------------------------------------------------------
// Tokens

TEST(TokenTest, IsKeyword) {
    struct Case {
        const char* keyword;
        const char* line;
        std::uint32_t col;
        bool result;
    };
    const Case cases[] = {
        {"SET", "SET TERM", 1, true},   {"SET", "set", 1, true},
        {"SET", "sEt\t", 1, true},      {"SET", "SETX", 1, false},
        {"SET", "SET(", 1, false},      {"SET", "SE", 1, false},
        {"SET", "SET,", 1, true},       {"SET", "SET-", 1, true},
        {"SET", "SET/", 1, true},       {"SET", "SET;", 1, true},
        {"SET", "SET^", 1, true},       {"SET", "SET\r", 1, true},
        {"SET", "SET.", 1, false},      {"TERM", "SET TERM^", 5, true},
        {"TERM", "SET TERM", 4, false}, {"SET", "SET", 0, false},
        {"SET", "SET", 2, false},       {"SET", "SET", 9, false},
        {"SET", "S\xc5T", 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " @" + std::to_string(c.col));
        EXPECT_EQ(TFbScriptParser::IsKeyword(c.keyword, c.line, c.col), c.result);
    }
}

TEST(TokenTest, ObjectKindOfEveryWord) {
    const std::pair<const char*, std::uint8_t> cases[] = {
        {"database", okDatabase}, {"DOMAIN", okDomain},         {"Table", okTable},
        {"view", okView},         {"procedure", okProcedure},   {"trigger", okTrigger},
        {"function", okFunction}, {"exception", okException},   {"generator", okGenerator},
        {"index", okIndex},       {"constraint", okConstraint}, {"filter", okFilter},
        {"field", okField},       {"column", okField},          {"parameter", okParameter},
        {"role", okRole},         {"block", okBlock},           {"sequence", okNone},
        {"tables", okNone},       {"table(", okNone},           {"", okNone},
    };
    for (const auto& [word, kind] : cases) {
        SCOPED_TRACE(word);
        EXPECT_EQ(TFbScriptParser::ObjectKindOf(word, 1), kind);
        EXPECT_EQ(TFbScriptParser::ObjectKindOf(std::string("x ") + word, 3), kind);
    }
    EXPECT_EQ(TFbScriptParser::StatementKindOf("select", 1), skOther);
    EXPECT_EQ(TFbScriptParser::StatementKindOf("x Revoke", 3), skGrant);
    EXPECT_EQ(TFbScriptParser::StatementKindOf("x", 5), skOther);
}

TEST(TokenTest, TokenText) {
    struct Case {
        const char* line;
        std::uint32_t col;
        bool strip;
        const char* text;
    };
    const Case cases[] = {
        {"CREATE TABLE T(A INT)", 14, true, "T"},
        {"'a b' c", 1, true, "a b"},
        {"'a b' c", 1, false, "'a"},
        {"\"My T\" x", 1, true, "My T"},
        {"'it''s'", 1, true, "it"},
        {"x,y", 1, true, "x"},
        {"abc;", 1, true, "abc"},
        {"a-b", 1, true, "a"},
        {"a/b", 1, true, "a"},
        {"a\tb", 1, true, "a"},
        {"word", 2, true, "ord"},
        {"word", 5, true, ""},
        {"word", 0, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " @" + std::to_string(c.col));
        const TScriptLines lines{c.line};
        TFbScriptParser parser;
        parser.SetLines(&lines);
        EXPECT_EQ(parser.TokenText({c.col, 0}, c.strip), c.text);
    }

    const TScriptLines lines{"x 'abc", "def'"};
    TFbScriptParser parser;
    parser.SetLines(&lines);
    EXPECT_EQ(parser.TokenText({3, 0}, false), "'abc");
    EXPECT_EQ(parser.TokenText({1, 5}, true), "");
    try {
        parser.TokenText({3, 0}, true);
        FAIL() << "no error";
    } catch (const EFbScriptError& e) {
        EXPECT_STREQ(e.what(), "Can't find end token");
    }
}

TEST(TokenTest, NextTokenPos) {
    struct Case {
        const char* script;
        ScriptPos from;
        ScriptPos limit;
        ScriptPos next;
    };
    const ScriptPos far{1000, 1000};
    const Case cases[] = {
        {"a b", {1, 0}, far, {3, 0}},
        {"abc   d", {2, 0}, far, {7, 0}},
        {"a -- b\n  c", {1, 0}, far, {3, 1}},
        {"a /* b\n c */ d", {1, 0}, far, {7, 1}},
        {"a /*/ b */ c", {1, 0}, far, {12, 0}},
        {"a/**/b", {1, 0}, far, {6, 0}},
        {"a\n\n\tb", {1, 0}, far, {2, 2}},
        {"'x y' z", {1, 0}, far, {7, 0}},
        {"'x y z", {1, 0}, far, {}},
        {"'x y z\nw", {1, 0}, far, {1, 1}},
        {"a-b", {1, 0}, far, {3, 0}},
        {"a - - b", {1, 0}, far, {7, 0}},
        {"t(a int)", {1, 0}, far, {5, 0}},
        {"a b", {1, 0}, {3, 0}, {3, 0}},
        {"a b", {1, 0}, {2, 0}, {}},
        {"a\nb", {1, 0}, {0, 1}, {}},
        {"a /* b */ c", {1, 0}, {8, 0}, {}},
        {"a\nb", {1, 1}, {1, 0}, {}},
        {"a", {0, 0}, far, {}},
        {"a", {1, 3}, far, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        SCOPED_TRACE(c.limit.Col);
        const TScriptLines lines = ToLines(c.script);
        TFbScriptParser parser;
        parser.SetLines(&lines);
        EXPECT_EQ(parser.NextTokenPos(c.from, c.limit), c.next);
    }
}

}  // namespace
}  // namespace qm
