#pragma once

#include <memory>
#include <string>
#include <vector>

#include "firebird/database.h"
#include "firebird/errors.h"

namespace qm::test {

// The parameter lines of an embedded SYSDBA connection.
std::vector<std::string> SysdbaParams(const std::string& charSet = {});

// Creates a database file through TFbDatabase::CreateDatabase and detaches.
void CreateTestDatabase(const std::string& path, int dialect = 3,
                        const std::string& charSet = "UTF8");

// A connected database component for the file (SYSDBA, dialect 3 asked).
std::unique_ptr<TFbDatabase> OpenTestDatabase(const std::string& path, TComponent* owner = nullptr,
                                              const std::string& name = "DataBase");

// Runs statements in a transaction of their own and commits.
void ExecSql(TFbDatabase& db, const std::vector<std::string>& statements);

// The first column of the first row of a query, as text ("" when no row).
std::string QueryText(TFbDatabase& db, const std::string& sql);

// Every row of a query, each column as text ("<null>" for NULL), read in a
// transaction of its own.
std::vector<std::vector<std::string>> QueryRows(TFbDatabase& db, const std::string& sql);

// What a database holds, as lines to compare with another's: its user
// metadata (relations, fields, domains, indices, constraints, procedures,
// functions, packages, triggers, exceptions, generators with their values,
// privileges), the rows of every user table (array columns left out) in
// sorted order, and whether writes are forced.
std::vector<std::string> DatabaseDigest(TFbDatabase& db);

// The message of the client error that f raises, and its number in *number;
// "" when f raises none.
template <class F>
std::string ClientRefusal(F f, int* number = nullptr) {
    try {
        f();
    } catch (const EFbClientError& e) {
        if (number != nullptr) *number = e.SQLCode();
        return e.Message();
    }
    return "";
}

}  // namespace qm::test
