#include <gtest/gtest.h>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "support/Fixtures.h"
#include "support/TestRunState.h"
#include "transfer/Generators.h"

namespace kestrix::transfer {
namespace {

class GeneratorsTest : public ::testing::Test {
protected:
    GeneratorsTest() {
        options.appDir = dir.Path() + "/";
        test::CreateDatabase(DbPath(),
                             "CREATE TABLE HOSTS (HST_ID INTEGER);\n"
                             "INSERT INTO HOSTS VALUES (3);\n"
                             "INSERT INTO HOSTS VALUES (41);\n"
                             "INSERT INTO HOSTS VALUES (NULL);\n"
                             "CREATE TABLE EMPTY_T (ID INTEGER);\n"
                             "CREATE TABLE EVENTS (EV_DATE DATE);\n"
                             "INSERT INTO EVENTS VALUES ('2026-01-01');\n"
                             "CREATE GENERATOR GEN_HOSTS;\n"
                             "CREATE GENERATOR GEN_EMPTY;\n"
                             "SET GENERATOR GEN_EMPTY TO 77;\n"
                             "CREATE GENERATOR GEN_OTHER;\n"
                             "SET GENERATOR GEN_OTHER TO 5;\n");
        RunLog::Create(ctx.LogPath());
    }
    std::string DbPath() const { return dir.File("dest.fdb"); }
    void Restore() {
        db::Databases dm;
        dm.DestinationConnection().SetDatabaseFile(DbPath());
        dm.DestinationConnection().Connect();
        RestoreGenerators(ctx, dm, transfer::PlanRun(ctx.options));
        dm.DestinationConnection().Disconnect();
    }
    std::string Generator(const std::string& name) {
        test::Db db(DbPath());
        return db.Scalar("SELECT GEN_ID(" + name + ", 0) FROM RDB$DATABASE");
    }
    std::string ServerMessage(const std::string& sql) {
        test::Db db(DbPath());
        return test::ErrorOf(db, sql);
    }

    test::TempDir dir;
    test::TestRunState state;
    RunOptions options;
    IdMaps maps;
    RunControl control;
    Context ctx{state, options, maps, control};
};

TEST_F(GeneratorsTest, SetsEveryListedGeneratorPastItsKeysAndLogsFailures) {
    test::WriteFile(dir.File("GENERATOR.TXT"),
                    "GEN_OTHER=EVENTS/EV_DATE\r\n"     // a date: its maximum reads as no number
                    "GEN_HOSTS=HOSTS/HST_ID\r\n"
                    "  * GEN_OTHER=HOSTS/HST_ID\r\n"    // comment: left at 5
                    "GEN_EMPTY=EMPTY_T/ID\r\n"
                    "GEN_OTHER=HOSTS\r\n"               // no column: the maximum fails
                    "HOSTS/HST_ID\r\n"                  // no generator name
                    "GEN_NONE=HOSTS/HST_ID");
    std::string noColumn = ServerMessage("SELECT MAX()+1 FROM HOSTS");
    std::string noName = ServerMessage("SET GENERATOR  to 42");
    std::string noGenerator = ServerMessage("SET GENERATOR GEN_NONE to 42");
    Restore();
    EXPECT_EQ(Generator("GEN_HOSTS"), "42");
    EXPECT_EQ(Generator("GEN_EMPTY"), "0");
    EXPECT_EQ(Generator("GEN_OTHER"), "5");
    EXPECT_EQ(test::ReadFile(ctx.LogPath()),
              texts::kGeneratorMaxError + "EVENTS :  Invalid data conversion\r\n" +
              texts::kGeneratorMaxError + "HOSTS :  " + noColumn + "\r\n" +
              texts::kGeneratorSetError + " :  " + noName + "\r\n" +
              texts::kGeneratorSetError + "GEN_NONE :  " + noGenerator + "\r\n");
}

TEST_F(GeneratorsTest, EmptyListGivesOneFailingLine) {
    test::WriteFile(dir.File("Generator.txt"), "");
    std::string message = ServerMessage("SELECT MAX()+1 FROM ");
    Restore();
    EXPECT_EQ(test::ReadFile(ctx.LogPath()), texts::kGeneratorMaxError + " :  " + message + "\r\n");
}

TEST_F(GeneratorsTest, MissingListIsAFileError) {
    try {
        Restore();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::File);
        EXPECT_NE(e.text().find("Generator.txt"), std::string::npos) << e.text();
    }
    EXPECT_EQ(test::ReadFile(ctx.LogPath()), "");
}

} // namespace
} // namespace kestrix::transfer
