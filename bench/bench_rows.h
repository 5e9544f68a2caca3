#pragma once

// Reading back what a benchmark's run left in its database.

#include <string>

#include "firebird/database.h"
#include "firebird/query.h"

namespace qm::bench {

// The number of rows of a table, read as SYSDBA on a connection of its own.
inline long long CountRows(const std::string& path, const std::string& table) {
    TFbDatabase db;
    db.SetDBName(path);
    db.SetDBParams({"user_name=SYSDBA", "password=masterkey"});
    db.SetSQLDialect(3);
    db.Connect();
    TFbQuery q;
    q.SetDatabase(&db);
    db.InternalTransaction().StartTransaction();
    q.SetSqlText({"SELECT COUNT(*) FROM " + table});
    q.ExecuteQuery();
    const long long n = q.FieldAsInt64(0);
    db.InternalTransaction().Commit();
    return n;
}

}  // namespace qm::bench
