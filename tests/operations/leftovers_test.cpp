// What interrupted restores and optimizations leave beside a database: found
// by their names, databases given back their own names, the rest removed, and
// nothing else in the folder touched.

#include "operations/leftovers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace qm {
namespace {

std::vector<std::string> Names(const test::TempDir& dir) {
    std::vector<std::string> names;
    for (const char* n : {"shop.fdb", "shop.fdb.restore-0123abcd", "shop.fdb.optimize-89abcdef",
                          "shop.fdb.replaced-00000000", "shop.fdb.restore-xyz",
                          "shop.fdb.restore-0123abcd5", "other.fdb.restore-01234567", "shop.fbk"})
        if (platform::FileExists(dir.File(n))) names.push_back(n);
    return names;
}

class Leftovers : public ::testing::Test {
protected:
    TFirebirdBaseList Register() {
        TFirebirdBaseList list(false);
        auto base = std::make_unique<TFirebirdBase>();
        base->DBFile = dir.File("shop.fdb");
        list.Add(std::move(base));
        return list;
    }
    test::TempDir dir;
};

TEST_F(Leftovers, GarbageIsRemovedAndNothingElse) {
    for (const char* n : {"shop.fdb", "shop.fdb.restore-0123abcd", "shop.fdb.optimize-89abcdef",
                          "shop.fdb.restore-xyz", "shop.fdb.restore-0123abcd5",
                          "other.fdb.restore-01234567", "shop.fbk"})
        test::WriteFile(dir.File(n), n);
    const TFirebirdBaseList list = Register();
    std::vector<TLeftover> found = FindLeftovers(list);
    ASSERT_EQ(found.size(), 2u);
    for (const TLeftover& l : found) {
        EXPECT_NE(l.kind, TLeftover::Kind::Aside) << l.path;
        EXPECT_EQ(l.database, dir.File("shop.fdb"));
    }
    EXPECT_TRUE(GiveBackDatabases(found).empty());
    EXPECT_TRUE(RemoveLeftovers(found).empty());
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"shop.fdb", "shop.fdb.restore-xyz",
                                                    "shop.fdb.restore-0123abcd5",
                                                    "other.fdb.restore-01234567", "shop.fbk"}));
    EXPECT_EQ(test::ReadFile(dir.File("shop.fdb")), "shop.fdb");
}

// A run broke off while the database was away from its name: it gets its name
// back, whichever of the two ways it was put aside.
TEST_F(Leftovers, ADatabaseAwayFromItsNameGetsItBack) {
    for (const char* aside : {"shop.fdb.optimize-89abcdef", "shop.fdb.replaced-00000000"}) {
        SCOPED_TRACE(aside);
        platform::DeleteFile(dir.File("shop.fdb"));
        test::WriteFile(dir.File(aside), "the database");
        test::WriteFile(dir.File("shop.fdb.restore-0123abcd"), "half a restore");
        const TFirebirdBaseList list = Register();
        std::vector<TLeftover> found = FindLeftovers(list);
        ASSERT_EQ(found.size(), 2u);
        const std::vector<std::string> done = GiveBackDatabases(found);
        ASSERT_EQ(done.size(), 1u);
        EXPECT_EQ(done[0], "База данных \"" + dir.File("shop.fdb") +
                               "\" возвращена на место после прерванной операции.");
        EXPECT_TRUE(RemoveLeftovers(found).empty());
        EXPECT_EQ(test::ReadFile(dir.File("shop.fdb")), "the database");
        EXPECT_EQ(Names(dir), std::vector<std::string>{"shop.fdb"});
    }
}

// A file an engine holds belongs to a run that is still going on.
TEST_F(Leftovers, AFileInUseIsNotALeftover) {
    test::WriteFile(dir.File("shop.fdb"), "db");
    test::WriteFile(dir.File("shop.fdb.restore-0123abcd"), "being restored");
    const platform::ExclusiveFileLock running(dir.File("shop.fdb.restore-0123abcd"));
    ASSERT_TRUE(running.Held());
    EXPECT_TRUE(FindLeftovers(Register()).empty());
}

}  // namespace
}  // namespace qm
