#include "operations/leftovers.h"

#include <filesystem>
#include <set>
#include <system_error>

#include "operations/sibling_name.h"
#include "platform/files.h"

namespace qm {

namespace {

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

// True when the name is the database's name, the kind and eight hexadecimal
// digits, as FreshSiblingName makes them.
bool IsSibling(const std::string& name, const std::string& database, const std::string& kind) {
    const std::string head = database + kind;
    if (name.size() != head.size() + 8 || name.compare(0, head.size(), head) != 0) return false;
    for (std::size_t i = head.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

bool HeldByAnEngine(const std::string& path) {
    const platform::ExclusiveFileLock lock(path);
    return lock.GetStatus() != platform::ExclusiveFileLock::Status::Held;
}

}  // namespace

std::vector<TLeftover> FindLeftovers(const TFirebirdBaseList& bases) {
    namespace fs = std::filesystem;
    std::vector<TLeftover> found;
    std::set<std::string> seen;
    for (std::size_t i = 0; i < bases.Count(); ++i) {
        const TFirebirdBase* base = bases[i];
        if (base->DBFile.empty()) continue;
        const std::string database = platform::ResolveSymbolicLinks(base->DBFile);
        if (!seen.insert(database).second) continue;
        const fs::path dbPath(database);
        const std::string name = dbPath.filename().string();
        std::error_code ec;
        for (fs::directory_iterator it(dbPath.parent_path(), ec), end; !ec && it != end;
             it.increment(ec)) {
            const std::string entry = it->path().filename().string();
            const std::string path = it->path().string();
            if (!it->is_regular_file(ec) || ec) {
                ec.clear();
                continue;
            }
            TLeftover::Kind kind;
            if (IsSibling(entry, name, kRestoringKind)) {
                kind = TLeftover::Kind::Building;
            } else if (IsSibling(entry, name, kOptimizingKind) ||
                       IsSibling(entry, name, kReplacedKind)) {
                kind = platform::PathExists(database) ? TLeftover::Kind::Replaced
                                                      : TLeftover::Kind::Aside;
            } else {
                continue;
            }
            if (HeldByAnEngine(path)) continue;
            found.push_back({kind, path, database});
        }
    }
    return found;
}

std::vector<std::string> GiveBackDatabases(std::vector<TLeftover>& leftovers) {
    std::vector<std::string> texts;
    for (TLeftover& l : leftovers) {
        if (l.kind != TLeftover::Kind::Aside) continue;
        if (const std::error_code e = platform::RenameNoReplace(l.path, l.database)) {
            texts.push_back("Не удалось вернуть базе данных " + Quoted(l.database) + " её файл " +
                            Quoted(l.path) + ": " + e.message());
            continue;
        }
        texts.push_back("База данных " + Quoted(l.database) +
                        " возвращена на место после прерванной операции.");
        // A second one put aside for the same database is an old copy now.
        for (TLeftover& other : leftovers) {
            if (&other != &l && other.database == l.database && other.kind == TLeftover::Kind::Aside)
                other.kind = TLeftover::Kind::Replaced;
        }
        l.path.clear();
    }
    return texts;
}

std::vector<std::string> RemoveLeftovers(const std::vector<TLeftover>& leftovers) {
    std::vector<std::string> failures;
    for (const TLeftover& l : leftovers) {
        if (l.kind == TLeftover::Kind::Aside || l.path.empty()) continue;
        if (!platform::DeleteFile(l.path)) failures.push_back("Не удалось удалить " + Quoted(l.path));
    }
    return failures;
}

}  // namespace qm
