#include "transfer/UpdateColumn.h"

#include <gtest/gtest.h>

#include "run/Texts.h"
#include "db/Error.h"
#include "transfer/EngineSides.h"

namespace kestrix::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// ONLY_SRC exists in the source alone, ONLY_DST in the destination alone; NOTE is shorter
// in the destination, so a long source value cannot be stored there.
const char* const kSource = R"(
CREATE TABLE ITEMS (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), NOTE VARCHAR(20),
  PIC BLOB SUB_TYPE 0, ONLY_SRC VARCHAR(10));
INSERT INTO ITEMS VALUES (1, 'a', 'ok', 'pic1', 's');
INSERT INTO ITEMS VALUES (2, 'b', 'much too long', NULL, 's');
INSERT INTO ITEMS VALUES (3, NULL, NULL, 'pic3', 's');
INSERT INTO ITEMS VALUES (4, 'd', 'none', 'pic4', 's');
CREATE TABLE EMPTY_ONE (ID INTEGER NOT NULL, NAME VARCHAR(20));
)";
const char* const kDestination = R"(
CREATE TABLE ITEMS (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20), NOTE VARCHAR(5),
  PIC BLOB SUB_TYPE 0, ONLY_DST VARCHAR(10));
INSERT INTO ITEMS VALUES (1, 'x', 'n1', 'old', 'd1');
INSERT INTO ITEMS VALUES (2, 'y', 'n2', 'old', 'd2');
INSERT INTO ITEMS VALUES (3, 'z', 'n3', NULL, 'd3');
INSERT INTO ITEMS VALUES (5, 'q', 'n5', 'old', 'd5');
CREATE TABLE EMPTY_ONE (ID INTEGER NOT NULL, NAME VARCHAR(20));
INSERT INTO EMPTY_ONE VALUES (1, 'kept');
)";

class UpdateColumnTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(srcPath, kSource);
        CreateDatabase(dstPath, kDestination);
    }

    void Update(const std::string& table, const std::string& key, const std::string& column) {
        Side src(srcPath), dst(dstPath);
        transfer::UpdateColumn(run.ctx, src, dst, table, key, column);
    }
    Rows Destination() { return Db(dstPath).Rows("select ID, NAME, NOTE, PIC, ONLY_DST from ITEMS order by ID"); }

    EngineRun run;
    std::string srcPath = run.dir.File("src.fdb");
    std::string dstPath = run.dir.File("dst.fdb");
};

TEST_F(UpdateColumnTest, CopiesTheColumnOntoRowsWithTheSameKey) {
    Update("ITEMS", "ID", "NAME");
    Update("ITEMS", "ID", "PIC");
    // Row 3 gets NULL, row 4 has no destination row, row 5 no source row.
    EXPECT_EQ(Destination(), (Rows{{"1", "a", "n1", "pic1", "d1"},
                                   {"2", "b", "n2", "<null>", "d2"},
                                   {"3", "<null>", "n3", "pic3", "d3"},
                                   {"5", "q", "n5", "old", "d5"}}));
    EXPECT_EQ(run.Log(), "");
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(UpdateColumnTest, ColumnMissingOrNamedInOtherCaseUpdatesNothing) {
    Rows before = Destination();
    Update("ITEMS", "ID", "ONLY_DST");
    Update("ITEMS", "ID", "ONLY_SRC");
    Update("ITEMS", "ID", "name");
    Update("ITEMS", "ID", "NAME@ID > 1");
    Update("EMPTY_ONE", "ID", "NAME");   // empty source table
    EXPECT_EQ(Destination(), before);
    EXPECT_EQ(Db(dstPath).Scalar("select NAME from EMPTY_ONE"), "kept");
    EXPECT_EQ(run.Log(), "");
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(UpdateColumnTest, FailingUpdateIsLoggedAndTheOthersAreCommitted) {
    run.state.StageStarted(RunStage::Table, "ITEMS");
    Update("ITEMS", "ID", "NOTE");
    // The account counts every source row: updated, or refused.
    const TableAccount& account = run.state.Account().Tables().back();
    EXPECT_EQ((std::vector<int>{account.Read(), account.written, account.refused}), (std::vector<int>{4, 3, 1}));

    Rows after = Destination();
    EXPECT_EQ(after[0][2], "ok");
    EXPECT_EQ(after[1][2], "n2");       // refused
    EXPECT_EQ(after[2][2], "<null>");
    EXPECT_TRUE(WorkLockFree());

    // One line: the row's key, then the server's message.
    std::string log = run.Log();
    std::string head = texts::kUpdateError + "ITEMS ID =  2 :  ";
    EXPECT_EQ(log.rfind(head, 0), 0u) << log;
    EXPECT_NE(log.find("string right truncation"), std::string::npos) << log;
    EXPECT_EQ(log.find(texts::kUpdateError, 1), std::string::npos) << log;
    EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
}

TEST_F(UpdateColumnTest, FailingProbeLeavesWithTheErrorAndEndsTheWork) {
    Db(srcPath).Exec("DROP TABLE EMPTY_ONE");
    EXPECT_THROW(Update("EMPTY_ONE", "ID", "NAME"), Error);   // missing in the source
    EXPECT_THROW(Update("ITEMS", "NO_KEY", "NAME"), Error);    // key missing on both sides
    EXPECT_EQ(Db(dstPath).Scalar("select NAME from EMPTY_ONE"), "kept");
    EXPECT_EQ(run.Log(), "");
    EXPECT_TRUE(WorkLockFree());
}

} // namespace
} // namespace kestrix::test
