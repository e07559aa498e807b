#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <regex>
#include <thread>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "db/Work.h"
#include "scripts/SqlScripts.h"
#include "support/Fixtures.h"
#include "support/Process.h"
#include "support/TestRunState.h"

namespace kestrix::scripts {
namespace {

using Lines = std::vector<std::string>;

struct TestState : test::TestRunState {
    std::vector<bool> cursor;
    void SetWaitCursor(bool wait) override { cursor.push_back(wait); }
};

class SqlScriptsTest : public ::testing::Test {
protected:
    SqlScriptsTest() {
        options.appDir = dir.Path() + "/";
        std::filesystem::create_directory(dir.File("SQL"));
        test::CreateDatabase(DbPath(), "CREATE TABLE T (ID INTEGER, S VARCHAR(20));");
        RunLog::Create(ctx.LogPath());
        control.postScriptPause = std::chrono::milliseconds(0);
    }
    std::string DbPath() const { return dir.File("dest.fdb"); }
    void Script(const std::string& name, const Lines& lines) {
        std::string bytes;
        for (const auto& line : lines) bytes += line + "\r\n";
        test::WriteFile(dir.File(name), bytes);
    }
    void Run(void (*runner)(Context&, db::Databases&)) {
        db::Databases dm;
        dm.DestinationConnection().SetDatabaseFile(DbPath());
        dm.DestinationConnection().Connect();
        runner(ctx, dm);
        dm.DestinationConnection().Disconnect();
    }
    // The server reports a position it does not have for an unclosed quote: masked.
    static std::string MaskPositions(const std::string& text) {
        static const std::regex position("line -?[0-9]+, column -?[0-9]+");
        return std::regex_replace(text, position, "line #, column #");
    }
    std::string Log() { return test::ReadFile(ctx.LogPath()); }
    std::string Ids() {
        test::Db db(DbPath());
        std::string ids;
        for (const auto& row : db.Rows("SELECT ID FROM T ORDER BY ID")) ids += row[0] + ",";
        return ids;
    }
    // The server's message for a statement, as the access layer reports it.
    std::string ServerMessage(const std::string& sql) {
        test::Db db(DbPath());
        return test::ErrorOf(db, sql);
    }

    // One command section of the log; outcome is the success line, the error heading with a
    // message, or nothing.
    static std::string Section(const Lines& statement, const Lines& outcome) {
        std::string text = texts::kBeginRuler + "\r\n\r\n";
        for (const auto& line : statement) text += line + "\r\n";
        for (const auto& line : outcome) text += "\r\n" + line + "\r\n";
        return text + "\r\n" + texts::kEndRuler + "\r\n";
    }
    static Lines Success() { return {texts::kSuccessLine}; }
    static Lines Failure(const std::string& message) { return {texts::kErrorHeading, message}; }

    test::TempDir dir;
    TestState state;
    RunOptions options;
    IdMaps maps;
    RunControl control;
    Context ctx{state, options, maps, control};
};

// Spread over lines, a failing one, an empty one, "{***}" and "---" terminators, a line
// starting with two dashes, a quote left open, and a last statement without terminator.
const Lines kScript = {
    "INSERT INTO T (ID, S)",
    "  VALUES (1, '\xEE\xE4\xE8\xED')",
    "",
    "INSERT INTO NOPE VALUES (1)",
    "{***}",
    "",
    "-- two",
    "INSERT INTO T (ID) VALUES (2)",
    "  --- dropped with its text",
    "INSERT INTO T (ID, S) VALUES (3, 'open)",
    "   ",
    "INSERT INTO T (ID) VALUES (4)",
};

TEST_F(SqlScriptsTest, PreTransferScriptLogsEveryStatementAndGoesOnAfterFailures) {
    Script("SQL/_Upd.sql", kScript);
    std::string missingTable = ServerMessage("INSERT INTO NOPE VALUES (1)");
    Run(RunPreTransferScript);
    EXPECT_EQ(Log(), Section({kScript[0], kScript[1]}, Success()) +
                         Section({kScript[3]}, Failure(missingTable)) +
                         Section({}, Success()) +
                         Section({kScript[6], kScript[7]}, Success()) +
                         // parameters are parsed here: the open quote fails before the server
                         Section({kScript[9]}, Failure("SQL Parse Error:\r\n\r\nEOF in string detected")) +
                         Section({kScript[11]}, Success()));
    EXPECT_EQ(Ids(), "1,2,4,");
    EXPECT_EQ(state.cursor, (std::vector<bool>{true, false}));
    EXPECT_EQ(state.PumpCount, 0);
}

TEST_F(SqlScriptsTest, PostTransferScriptLogsEveryStatementAndPumpsAndPauses) {
    Script("SQL/Upd.sql", kScript);
    std::string missingTable = ServerMessage("INSERT INTO NOPE VALUES (1)");
    std::string openQuote = ServerMessage(kScript[9]);
    control.postScriptPause = std::chrono::milliseconds(40);
    auto start = std::chrono::steady_clock::now();
    Run(RunPostTransferScript);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(MaskPositions(Log()), MaskPositions(Section({kScript[0], kScript[1]}, Success()) +
                                                  Section({kScript[3]}, Failure(missingTable)) +
                                                  Section({}, {}) +
                                                  Section({kScript[6], kScript[7]}, Success()) +
                                                  Section({kScript[9]}, Failure(openQuote)) +
                                                  Section({kScript[11]}, Success())));
    EXPECT_EQ(Ids(), "1,2,4,");
    EXPECT_EQ(state.PumpCount, 6);
    EXPECT_GE(elapsed, std::chrono::milliseconds(6 * 40));
    EXPECT_EQ(state.cursor, (std::vector<bool>{true, false}));
}

TEST_F(SqlScriptsTest, EmptyScriptsGiveOneSection) {
    Script("SQL/_Upd.sql", {});
    Script("SQL/Upd.sql", {});
    Run(RunPreTransferScript);
    EXPECT_EQ(Log(), Section({}, Success()));
    RunLog::Create(ctx.LogPath());
    Run(RunPostTransferScript);
    EXPECT_EQ(Log(), Section({}, {}));
}

TEST_F(SqlScriptsTest, ColonsAreParametersOnlyInThePreTransferScript) {
    const Lines script = {"EXECUTE BLOCK AS DECLARE X INTEGER; BEGIN",
                          "  SELECT 5 FROM RDB$DATABASE INTO :X;",
                          "  INSERT INTO T (ID, S) VALUES (:X, 'a:b');",
                          "END"};
    // Found whatever the letter case of the folder and the files.
    std::filesystem::rename(dir.File("SQL"), dir.File("sql"));
    Script("sql/_UPD.SQL", script);
    Script("sql/upd.SQL", script);
    Run(RunPreTransferScript);
    EXPECT_NE(Log().find(texts::kErrorHeading), std::string::npos) << Log();
    EXPECT_EQ(Ids(), "");
    RunLog::Create(ctx.LogPath());
    Run(RunPostTransferScript);
    EXPECT_EQ(Log(), Section(script, Success()));
    EXPECT_EQ(Ids(), "5,");
}

TEST_F(SqlScriptsTest, FailedPumpIsLoggedAndTheStatementStillCommitted) {
    Script("SQL/Upd.sql", {"INSERT INTO T (ID) VALUES (1)", "", "INSERT INTO T (ID) VALUES (2)"});
    state.OnPump = [](test::TestRunState& s) {
        if (s.PumpCount == 1) throw Error(Error::Kind::Client, 0, "pump failed");
    };
    Run(RunPostTransferScript);
    EXPECT_EQ(Log(), Section({"INSERT INTO T (ID) VALUES (1)"},
                             {texts::kSuccessLine, texts::kErrorHeading, "pump failed"}) +
                         Section({"INSERT INTO T (ID) VALUES (2)"}, Success()));
    EXPECT_EQ(Ids(), "1,2,");
    // The work lock is free again: another thread can take it.
    EXPECT_TRUE(std::async(std::launch::async, [] {
                    bool free = db::WorkLock().try_lock();
                    if (free) db::WorkLock().unlock();
                    return free;
                }).get());
}

// A connection lost in a script ends the run; the log says why, once, after the statement
// that met it.
TEST_F(SqlScriptsTest, LostServerEndsTheScriptWithTheErrorLoggedOnce) {
    Script("SQL/Upd.sql", {"INSERT INTO T (ID) VALUES (1)", "", "INSERT INTO T (ID) VALUES (2)"});
    test::PrivateServer server;
    state.OnPump = [&server](test::TestRunState&) { server.Kill(); };
    db::Databases dm;
    dm.DestinationConnection().SetDatabaseFile(server.Remote(DbPath()));
    dm.DestinationConnection().Connect();
    try {
        RunPostTransferScript(ctx, dm);
        FAIL() << "the script went on without its server";
    } catch (const ConnectionLost& e) {
        const std::string log = Log();
        const std::string line = std::string("   ") + e.what() + "\r\n";
        ASSERT_GE(log.size(), line.size());
        EXPECT_EQ(log.substr(log.size() - line.size()), line) << log;
        EXPECT_EQ(log.find(e.what()), log.rfind(e.what())) << log;
    }
    try {
        dm.DestinationConnection().Disconnect();
    } catch (const std::exception&) {
    }
}

TEST_F(SqlScriptsTest, MissingScriptIsAFileErrorBeforeAnythingIsLogged) {
    for (auto runner : {RunPreTransferScript, RunPostTransferScript}) {
        try {
            Run(runner);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), Error::Kind::File);
            EXPECT_NE(e.text().find(runner == RunPreTransferScript ? "SQL/_Upd.sql" : "SQL/Upd.sql"), std::string::npos) << e.text();
        }
    }
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(state.cursor, (std::vector<bool>{true, false, true, false}));
}

} // namespace
} // namespace kestrix::scripts
