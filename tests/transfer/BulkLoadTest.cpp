// The bulk load's switches on real databases, where only a server shows what they meet.
#include <gtest/gtest.h>

#include "support/Process.h"
#include "transfer/BulkLoad.h"
#include "transfer/EngineSides.h"

namespace kestrix {
namespace {

using test::Db;
using Rows = std::vector<std::vector<std::string>>;

// Another client's uncommitted insert holds the table while its indexes are to be made active
// again: the wait is told with the table and the time, ends when asked to, leaves the index
// inactive and marked with the lock as its reason, and the index is made active once the
// other client has committed.
TEST(BulkLoad, ALockHeldByAnotherClientIsWaitedForAsLongAsTheRunSays) {
    test::TempDir dir;
    test::CreateDatabase(dir.File("dest.fdb"), "CREATE TABLE EVENTS (EV_ID INTEGER NOT NULL PRIMARY KEY, EV_CODE INTEGER);\n"
                                               "CREATE INDEX EVENTS_CODE ON EVENTS (EV_CODE);\n");
    test::PrivateServer server;
    const std::string dest = server.Remote(dir.File("dest.fdb"));
    const std::string state = "SELECT RDB$INDEX_INACTIVE, CAST(RDB$DESCRIPTION AS VARCHAR(100)) FROM RDB$INDICES "
                              "WHERE RDB$INDEX_NAME = 'EVENTS_CODE'";
    test::Side side(dest);
    transfer::IndexesOffWhileLoading off(side, {"EVENTS"});
    ASSERT_EQ(off.Indexes().size(), 1u);

    Db other(dest);
    db::Transaction holding;
    db::Statement insert;
    holding.BindDatabase(other.Connection());
    insert.BindTransaction(holding);
    holding.BeginTransaction();
    insert.AddSqlLine("INSERT INTO EVENTS VALUES (1, 5)");
    insert.Prepare();
    insert.Execute();   // not committed: the table is in use

    std::vector<std::pair<std::string, long>> told;
    const auto failed = off.Restore([&](const std::string& table, std::chrono::seconds waited) {
        told.emplace_back(table, static_cast<long>(waited.count()));
        return waited < std::chrono::seconds(3);
    });
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].index.name, "EVENTS_CODE");
    EXPECT_NE(failed[0].reason.find("lock time-out"), std::string::npos) << failed[0].reason;
    ASSERT_GE(told.size(), 2u);
    EXPECT_EQ(told.front().first, "EVENTS");
    EXPECT_GE(told.back().second, 3);
    EXPECT_EQ(Db(dest).Rows(state), (Rows{{"1", std::string(transfer::kInactiveIndexMark)}}));
    EXPECT_EQ(transfer::IndexesLeftInactive(side).size(), 1u);

    holding.CommitTransaction();
    EXPECT_TRUE(transfer::RestoreIndexes(side, transfer::IndexesLeftInactive(side),
                                         [](const std::string&, std::chrono::seconds) { return false; })
                    .empty());
    EXPECT_EQ(Db(dest).Rows(state), (Rows{{"0", "<null>"}}));
}

} // namespace
} // namespace kestrix
