#pragma once

#include <string>
#include <vector>

#include "config/firebird_base.h"

namespace qm {

// What an interrupted restore or optimization may leave beside a database:
// the database it was building, the old database it had put aside, or the
// database it kept away from its clients under a name of its own. A database
// put aside whose own name is free again is given its name back; everything
// else is only offered for removal. A file that an engine holds open belongs
// to a run still going on (here or in another program) and is never touched.
struct TLeftover {
    enum class Kind {
        Building,  // an unfinished restore: garbage
        Aside,     // the database itself, away from its name
        Replaced,  // an old database whose replacement is in place: garbage
    };
    Kind kind;
    std::string path;      // the leftover file
    std::string database;  // the database file it belongs to
};

// The leftovers beside the databases of the register (in their directories,
// named after them), in directory order of each database.
std::vector<TLeftover> FindLeftovers(const TFirebirdBaseList& bases);

// Gives every database put aside its name back. The texts of what was done
// (or could not be done), one per leftover handled.
std::vector<std::string> GiveBackDatabases(std::vector<TLeftover>& leftovers);

// Removes the garbage leftovers; the texts of those that could not be removed.
std::vector<std::string> RemoveLeftovers(const std::vector<TLeftover>& leftovers);

}  // namespace qm
