#include "tests/support/firebird_db.h"

#include <algorithm>
#include <utility>

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

namespace {

// The metadata queries of DatabaseDigest, each ordered by its own columns.
const std::pair<const char*, const char*> kMetadata[] = {
    {"relations",
     "SELECT TRIM(RDB$RELATION_NAME), RDB$RELATION_TYPE, RDB$VIEW_SOURCE, RDB$DESCRIPTION "
     "FROM RDB$RELATIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"fields",
     "SELECT TRIM(RF.RDB$RELATION_NAME), TRIM(RF.RDB$FIELD_NAME), RF.RDB$FIELD_POSITION, "
     "TRIM(RF.RDB$FIELD_SOURCE), RF.RDB$NULL_FLAG, RF.RDB$DEFAULT_SOURCE, F.RDB$FIELD_TYPE, "
     "F.RDB$FIELD_LENGTH, F.RDB$FIELD_SCALE, F.RDB$FIELD_SUB_TYPE, F.RDB$CHARACTER_SET_ID, "
     "F.RDB$COMPUTED_SOURCE, F.RDB$DIMENSIONS, RF.RDB$DESCRIPTION "
     "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
     "WHERE COALESCE(RF.RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2"},
    {"domains",
     "SELECT TRIM(RDB$FIELD_NAME), RDB$FIELD_TYPE, RDB$FIELD_LENGTH, RDB$FIELD_SCALE, "
     "RDB$VALIDATION_SOURCE, RDB$DEFAULT_SOURCE, RDB$NULL_FLAG, RDB$DIMENSIONS, RDB$DESCRIPTION "
     "FROM RDB$FIELDS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
     "AND RDB$FIELD_NAME NOT STARTING WITH 'RDB$' ORDER BY 1"},
    {"indices",
     "SELECT TRIM(RDB$INDEX_NAME), TRIM(RDB$RELATION_NAME), RDB$UNIQUE_FLAG, "
     "RDB$INDEX_INACTIVE, RDB$INDEX_TYPE, RDB$EXPRESSION_SOURCE, TRIM(RDB$FOREIGN_KEY) "
     "FROM RDB$INDICES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"index segments",
     "SELECT TRIM(S.RDB$INDEX_NAME), TRIM(S.RDB$FIELD_NAME), S.RDB$FIELD_POSITION "
     "FROM RDB$INDEX_SEGMENTS S JOIN RDB$INDICES I ON I.RDB$INDEX_NAME = S.RDB$INDEX_NAME "
     "WHERE COALESCE(I.RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 3"},
    {"constraints",
     "SELECT TRIM(C.RDB$CONSTRAINT_NAME), TRIM(C.RDB$CONSTRAINT_TYPE), "
     "TRIM(C.RDB$RELATION_NAME), TRIM(C.RDB$INDEX_NAME) FROM RDB$RELATION_CONSTRAINTS C "
     "JOIN RDB$RELATIONS R ON R.RDB$RELATION_NAME = C.RDB$RELATION_NAME "
     "WHERE COALESCE(R.RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"references",
     "SELECT TRIM(RDB$CONSTRAINT_NAME), TRIM(RDB$CONST_NAME_UQ), TRIM(RDB$UPDATE_RULE), "
     "TRIM(RDB$DELETE_RULE) FROM RDB$REF_CONSTRAINTS ORDER BY 1"},
    {"checks",
     "SELECT TRIM(C.RDB$CONSTRAINT_NAME), TRIM(C.RDB$TRIGGER_NAME) FROM RDB$CHECK_CONSTRAINTS C "
     "JOIN RDB$RELATION_CONSTRAINTS R ON R.RDB$CONSTRAINT_NAME = C.RDB$CONSTRAINT_NAME "
     "JOIN RDB$RELATIONS T ON T.RDB$RELATION_NAME = R.RDB$RELATION_NAME "
     "WHERE COALESCE(T.RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2"},
    {"procedures",
     "SELECT TRIM(RDB$PROCEDURE_NAME), TRIM(RDB$PACKAGE_NAME), RDB$PROCEDURE_SOURCE, "
     "RDB$DESCRIPTION FROM RDB$PROCEDURES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2"},
    {"procedure parameters",
     "SELECT TRIM(RDB$PROCEDURE_NAME), TRIM(RDB$PACKAGE_NAME), TRIM(RDB$PARAMETER_NAME), "
     "RDB$PARAMETER_TYPE, RDB$PARAMETER_NUMBER, TRIM(RDB$FIELD_SOURCE), RDB$DESCRIPTION "
     "FROM RDB$PROCEDURE_PARAMETERS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2, 4, 5"},
    {"functions",
     "SELECT TRIM(RDB$FUNCTION_NAME), TRIM(RDB$PACKAGE_NAME), RDB$FUNCTION_SOURCE "
     "FROM RDB$FUNCTIONS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1, 2"},
    {"packages",
     "SELECT TRIM(RDB$PACKAGE_NAME), RDB$PACKAGE_HEADER_SOURCE, RDB$PACKAGE_BODY_SOURCE "
     "FROM RDB$PACKAGES WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"triggers",
     "SELECT TRIM(RDB$TRIGGER_NAME), TRIM(RDB$RELATION_NAME), RDB$TRIGGER_TYPE, "
     "RDB$TRIGGER_SEQUENCE, RDB$TRIGGER_INACTIVE, RDB$TRIGGER_SOURCE "
     "FROM RDB$TRIGGERS WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"exceptions",
     "SELECT TRIM(RDB$EXCEPTION_NAME), RDB$MESSAGE FROM RDB$EXCEPTIONS "
     "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1"},
    {"privileges",
     "SELECT TRIM(P.RDB$USER), TRIM(P.RDB$GRANTOR), TRIM(P.RDB$PRIVILEGE), P.RDB$GRANT_OPTION, "
     "TRIM(P.RDB$RELATION_NAME), TRIM(P.RDB$FIELD_NAME), P.RDB$USER_TYPE, P.RDB$OBJECT_TYPE "
     "FROM RDB$USER_PRIVILEGES P WHERE P.RDB$RELATION_NAME NOT STARTING WITH 'RDB$' "
     "AND P.RDB$RELATION_NAME NOT STARTING WITH 'MON$' "
     "AND P.RDB$RELATION_NAME NOT STARTING WITH 'SEC$' ORDER BY 1, 2, 3, 4, 5, 6, 7, 8"},
};

std::string JoinRow(const std::vector<std::string>& row) {
    std::string line;
    for (const std::string& column : row) line += column + " | ";
    return line;
}

// A name as a dialect 3 statement writes it.
std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"') out += '"';
    }
    return out + "\"";
}

}  // namespace

std::vector<std::string> DatabaseDigest(TFbDatabase& db) {
    std::vector<std::string> out;
    for (const auto& [title, sql] : kMetadata) {
        out.push_back(std::string("# ") + title);
        for (const auto& row : QueryRows(db, sql)) out.push_back(JoinRow(row));
    }
    out.push_back("# generators");
    for (const auto& row : QueryRows(db,
                                     "SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS "
                                     "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 ORDER BY 1")) {
        out.push_back(row[0] + " = " +
                      QueryText(db, "SELECT GEN_ID(" + Quoted(row[0]) + ", 0) FROM RDB$DATABASE"));
    }
    for (const auto& table : QueryRows(db,
                                       "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS "
                                       "WHERE COALESCE(RDB$SYSTEM_FLAG, 0) = 0 "
                                       "AND RDB$VIEW_BLR IS NULL ORDER BY 1")) {
        std::string columns;
        for (const auto& field : QueryRows(
                 db,
                 "SELECT TRIM(RF.RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS RF "
                 "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                 "WHERE RF.RDB$RELATION_NAME = '" +
                     table[0] + "' AND F.RDB$DIMENSIONS IS NULL ORDER BY RF.RDB$FIELD_POSITION")) {
            columns += (columns.empty() ? "" : ", ") + Quoted(field[0]);
        }
        out.push_back("# rows of " + table[0]);
        if (columns.empty()) continue;
        std::vector<std::string> rows;
        for (const auto& row : QueryRows(db, "SELECT " + columns + " FROM " + Quoted(table[0])))
            rows.push_back(JoinRow(row));
        std::sort(rows.begin(), rows.end());
        out.insert(out.end(), rows.begin(), rows.end());
    }
    out.push_back("# forced writes " +
                  std::to_string(db.DatabaseInfoValue(52 /* isc_info_forced_writes */).value));
    return out;
}

}  // namespace qm::test
