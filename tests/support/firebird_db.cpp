#include "tests/support/firebird_db.h"

#include "firebird/query.h"
#include "firebird/transaction.h"
#include "platform/platform.h"

namespace qm::test {

std::vector<std::string> SysdbaParams(const std::string& charSet) {
    std::vector<std::string> lines = {"user_name=SYSDBA", "password=masterkey"};
    if (!charSet.empty()) lines.push_back("lc_ctype=" + charSet);
    return lines;
}

void CreateTestDatabase(const std::string& path, int dialect, const std::string& charSet) {
    TFbDatabase db;
    db.SetDBName(path);
    db.SetLibraryName(platform::kDefaultClientLibrary);
    db.SetSQLDialect(dialect);
    std::vector<std::string> clauses = {"USER 'SYSDBA' PASSWORD 'masterkey'"};
    if (!charSet.empty()) clauses.push_back("DEFAULT CHARACTER SET " + charSet);
    db.SetDBParams(clauses);
    db.CreateDatabase();
    db.Disconnect();
}

std::unique_ptr<TFbDatabase> OpenTestDatabase(const std::string& path, TComponent* owner,
                                              const std::string& name) {
    auto db = std::make_unique<TFbDatabase>(owner, name);
    db->SetDBName(path);
    db->SetLibraryName(platform::kDefaultClientLibrary);
    db->SetDBParams(SysdbaParams());
    db->SetSQLDialect(3);
    db->Connect();
    return db;
}

void ExecSql(TFbDatabase& db, const std::vector<std::string>& statements) {
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    tr.StartTransaction();
    for (const std::string& sql : statements) {
        q.SetSqlText({sql});
        q.ExecuteQuery();
        if (q.SqlKind() == sqkSchema) {
            tr.Commit();
            tr.StartTransaction();
        }
    }
    tr.Commit();
}

std::string QueryText(TFbDatabase& db, const std::string& sql) {
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    tr.StartTransaction();
    q.SetSqlText({sql});
    q.ExecuteQuery();
    std::string out = q.Eof() ? std::string() : q.FieldAsText(0);
    tr.Commit();
    return out;
}

std::vector<std::vector<std::string>> QueryRows(TFbDatabase& db, const std::string& sql) {
    TFbTransaction tr;
    tr.SetDefaultDatabase(&db);
    TFbQuery q;
    q.SetDatabase(&db);
    q.SetTransaction(&tr);
    tr.StartTransaction();
    q.SetSqlText({sql});
    q.ExecuteQuery();
    std::vector<std::vector<std::string>> rows;
    for (; !q.Eof(); q.Next()) {
        std::vector<std::string> row;
        for (int i = 0; i < q.FieldCount(); ++i)
            row.push_back(q.FieldIsNull(i) ? "<null>" : q.FieldAsText(i));
        rows.push_back(std::move(row));
    }
    tr.Commit();
    return rows;
}

}  // namespace qm::test
