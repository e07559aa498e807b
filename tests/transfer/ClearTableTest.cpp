#include "transfer/ClearTable.h"

#include <gtest/gtest.h>

#include "run/Texts.h"
#include "db/Error.h"
#include "transfer/EngineSides.h"

namespace kestrix::test {
namespace {

const char* const kSchema = R"(
CREATE TABLE PARENT (ID INTEGER NOT NULL PRIMARY KEY, NAME VARCHAR(20));
CREATE TABLE CHILD (ID INTEGER NOT NULL PRIMARY KEY, PARENT_ID INTEGER REFERENCES PARENT (ID), NAME VARCHAR(20));
INSERT INTO PARENT VALUES (1, 'one');
INSERT INTO PARENT VALUES (2, 'two');
INSERT INTO CHILD VALUES (10, 1, 'a');
INSERT INTO CHILD VALUES (11, 1, 'b');
INSERT INTO CHILD VALUES (12, NULL, 'c');
)";

class ClearTableTest : public ::testing::Test {
protected:
    void SetUp() override { CreateDatabase(path, kSchema); }

    void Clear(const std::string& table, const std::string& where) {
        Side dst(path);
        transfer::ClearTable(run.ctx, dst, table, where);
        EXPECT_FALSE(dst.transaction.IsActive());   // the deletion was committed
    }
    std::string Count(const std::string& table) { return Db(path).Scalar("select count(*) from " + table); }

    EngineRun run;
    std::string path = run.dir.File("dst.fdb");
};

TEST_F(ClearTableTest, DeletesAllRowsOrThoseMatchingTheCondition) {
    // The condition goes in as written; in dialect 1 double quotes make a string literal.
    Clear("CHILD", "NAME = \"b\" OR ID = 12");
    EXPECT_EQ(Db(path).Rows("select ID from CHILD"), (std::vector<std::vector<std::string>>{{"10"}}));
    Clear("CHILD", "");
    EXPECT_EQ(Count("CHILD"), "0");
    EXPECT_EQ(run.Log(), "");
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(ClearTableTest, FailingDeleteIsLoggedAndKeepsTheRows) {
    Clear("PARENT", "");    // still referenced by CHILD
    Clear("NO_SUCH_TABLE", "ID = 1");
    EXPECT_EQ(Count("PARENT"), "2");
    EXPECT_TRUE(WorkLockFree());

    Db check(path);
    std::string expected = texts::kClearError + "PARENT :  " + ErrorOf(check, "Delete From PARENT") + "\r\n" +
                           texts::kClearError + "NO_SUCH_TABLE :  " +
                           ErrorOf(check, "Delete From NO_SUCH_TABLE\r\n WHERE ID = 1") + "\r\n";
    EXPECT_NE(expected.find("FOREIGN KEY"), std::string::npos);
    EXPECT_EQ(run.Log(), expected);
}

TEST_F(ClearTableTest, UnwritableLogFailsBeforeTheDatabaseIsTouched) {
    run.options.appDir = run.dir.File("missing") + "/";
    EXPECT_THROW(Clear("CHILD", ""), Error);
    EXPECT_EQ(Count("CHILD"), "3");
    EXPECT_TRUE(WorkLockFree());
}

} // namespace
} // namespace kestrix::test
