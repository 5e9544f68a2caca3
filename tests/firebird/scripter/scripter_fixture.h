#pragma once

// What the executor's tests share: databases in a temporary folder, reading
// them back through a connection of the test's own, and a scripter whose
// events are recorded.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/errors.h"
#include "firebird/query.h"
#include "firebird/scripter.h"
#include "firebird/transaction.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "tests/support/firebird_db.h"
#include "tests/support/temp_dir.h"

namespace qm::test {

// One OnExecuteError call as the scripter made it.
struct ReportedError {
    int statementNo = 0;
    int line = 0;
    TScriptLines statement;
    int sqlCode = 0;
    std::string msg;
    bool doRollBackIn = false;
    bool stopIn = false;
};

// One statement event.
struct SeenStatement {
    int line = 0;
    int statementNo = 0;
    TStatementDesc desc;
    bool hasText = false;
    TScriptLines text;
    bool operator==(const SeenStatement&) const = default;
};

inline std::unique_ptr<TFbDatabase> Connect(const std::string& path, int dialect = 3) {
    auto db = std::make_unique<TFbDatabase>();
    db->SetDBName(path);
    db->SetLibraryName(platform::kDefaultClientLibrary);
    db->SetDBParams({"user_name=SYSDBA", "password=masterkey"});
    db->SetSQLDialect(dialect);
    db->Connect();
    return db;
}

inline void CreateDatabase(const std::string& path, int dialect = 3) {
    TFbDatabase db;
    db.SetDBName(path);
    db.SetLibraryName(platform::kDefaultClientLibrary);
    db.SetSQLDialect(dialect);
    db.SetDBParams({"USER 'SYSDBA' PASSWORD 'masterkey' DEFAULT CHARACTER SET UTF8"});
    db.CreateDatabase();
    db.Disconnect();
}

// Every row of a query, each row's columns as text ("<null>" for NULL),
// read on a connection of its own.
inline std::vector<std::vector<std::string>> Rows(const std::string& path, const std::string& sql) {
    return test::QueryRows(*Connect(path), sql);
}

// The first column of every row.
inline std::vector<std::string> Column(const std::string& path, const std::string& sql) {
    std::vector<std::string> out;
    for (auto& row : Rows(path, sql)) out.push_back(row.empty() ? "" : row[0]);
    return out;
}

inline std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

class ScripterFixture : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }

    // Records every error and answers with rollBack and stop.
    void Answer(bool rollBack, bool stop) {
        scripter_.OnExecuteError = [this, rollBack, stop](TFbScripter&, int statementNo, int line,
                                                          const TScriptLines& statement,
                                                          int sqlCode, const std::string& msg,
                                                          bool& doRollBack, bool& Stop) {
            errors_.push_back({statementNo, line, statement, sqlCode, msg, doRollBack, Stop});
            doRollBack = rollBack;
            Stop = stop;
        };
    }

    void RecordStatements() {
        scripter_.BeforeStatementExecute = [this](TFbScripter&, int line, int statementNo,
                                                  const TStatementDesc& d,
                                                  const TScriptLines* text) {
            seen_.push_back({line, statementNo, d, text != nullptr, text ? *text : TScriptLines{}});
        };
    }

    void Run(const std::string& script) {
        scripter_.SetScript(SplitTextLines(script));
        scripter_.RunScript(1);
    }

    TempDir dir_;
    TFbScripter scripter_;
    std::vector<ReportedError> errors_;
    std::vector<SeenStatement> seen_;
};

}  // namespace qm::test
