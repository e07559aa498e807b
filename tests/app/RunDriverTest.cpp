// The run driver on small real databases: stages in order, cancel tests, cleanup.
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "app/RunDriver.h"
#include "run/RunLog.h"
#include "app/StartupChecks.h"
#include "app/TransferCheck.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Work.h"
#include "support/Fixtures.h"
#include "support/TestRunState.h"
#include "support/HeldRow.h"
#include "support/Process.h"
#include "transfer/BulkLoad.h"

namespace kestrix {
namespace {

using test::Db;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const char* kSchema =
    "CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(40));\n"
    "CREATE GENERATOR GEN_HOSTS;\n"
    "SET TERM ^ ;\n"
    "CREATE TRIGGER HOSTS_BI FOR HOSTS BEFORE INSERT AS BEGIN\n"
    "  IF (NEW.HS_ID IS NULL) THEN NEW.HS_ID = GEN_ID(GEN_HOSTS, 1); END^\n"
    "SET TERM ; ^\n"
    "CREATE TABLE NOTES (NT_ID INTEGER NOT NULL PRIMARY KEY, NT_TEXT VARCHAR(40));\n"
    "CREATE TABLE SETTINGS (ST_NAME VARCHAR(20), ST_VALUE VARCHAR(20));\n";

class RunDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CreateDatabase(source, std::string(kSchema) +
                                         "INSERT INTO HOSTS VALUES (3, 'alpha');\n"
                                         "INSERT INTO HOSTS VALUES (8, 'beta');\n"
                                         "INSERT INTO NOTES VALUES (1, 'one');\n"
                                         "INSERT INTO NOTES VALUES (2, 'two');\n");
        test::CreateDatabase(dest, std::string(kSchema) + "SET GENERATOR GEN_HOSTS TO 500;\n"
                                                          "INSERT INTO HOSTS VALUES (1, 'stale');\n");
        std::filesystem::create_directories(dir.File("SQL"));
        WriteFile(dir.File("Conv.txt"), "* test list\r\nHOSTS=HS_ID\r\nNOTES=NT_ID\r\n");
        WriteFile(dir.File("Generator.txt"), "GEN_HOSTS=HOSTS/HS_ID\r\n");
        WriteFile(dir.File("SQL/_Upd.sql"), "INSERT INTO SETTINGS VALUES ('pre', 'x')\r\n");
        WriteFile(dir.File("SQL/Upd.sql"), "INSERT INTO SETTINGS VALUES ('post', 'y')\r\n");
        ASSERT_EQ(RunStartupChecks(state, options, dir.Path()), std::nullopt);
        driver.Control().postScriptPause = std::chrono::milliseconds(0);
        state.OnPump = [this](test::TestRunState& s) {
            if (cancelWhenStatus && s.StatusText() == *cancelWhenStatus) driver.Control().cancel.Request();
        };
    }

    std::string Log() { return ReadFile(dir.File("Kestrix.log")); }
    // A run between two databases, with the options the start-up checks and the test set.
    void Run(const std::string& from, const std::string& to) {
        options.sourceName = from;
        options.destName = to;
        driver.Run(options);
    }

    TempDir dir;
    std::string source = dir.File("source.fdb");
    std::string dest = dir.File("dest.fdb");
    struct RecordingState : test::TestRunState {
        void LockControls(bool locked) override { locks.push_back(locked); }
        void ShowInterruptionWarning(const std::string& text) override { warnings.push_back(text); }
        void WritingBegins() override {
            if (writingBegins) writingBegins();
        }
        std::function<void()> writingBegins;
        std::vector<bool> locks;
        std::vector<std::string> warnings;
    } state;
    RunOptions options;
    db::Databases dm;
    RunDriver driver{state, dm};
    std::optional<std::string> cancelWhenStatus;
};

TEST_F(RunDriverTest, FinishedRunCopiesResetsGeneratorsAndCloses) {
    driver.Control().cancel.Request();   // left from an earlier run: cleared at the start
    Run("\"" + source + "\"", "'" + dest + "'");

    EXPECT_EQ(driver.Options().sourceName, source);
    EXPECT_EQ(driver.Options().destName, dest);
    EXPECT_EQ(state.StatusText(), texts::kStatusFinished);
    EXPECT_EQ(state.TableProgress().Position(), 0);
    EXPECT_EQ(state.AllProgress().Position(), 0);
    EXPECT_EQ(state.locks, (std::vector<bool>{true, false}));
    EXPECT_TRUE(state.warnings.empty());
    EXPECT_FALSE(dm.DestinationConnection().IsConnected() || dm.SecondDestinationConnection().IsConnected() || dm.SourceConnection().IsConnected());
    EXPECT_EQ(driver.Maps().OldIds(1), (std::vector<std::string>{"3", "8"}));
    EXPECT_EQ(driver.Maps().NewIds(1), (std::vector<std::string>{"501", "502"}));

    Db check(dest);
    EXPECT_EQ(check.Rows("SELECT HS_ID, HS_NAME FROM HOSTS ORDER BY HS_ID"),
              (std::vector<std::vector<std::string>>{{"501", "alpha"}, {"502", "beta"}}));
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM NOTES"), "2");
    EXPECT_EQ(check.Rows("SELECT ST_NAME FROM SETTINGS ORDER BY ST_NAME"),
              (std::vector<std::vector<std::string>>{{"post"}, {"pre"}}));
    EXPECT_EQ(check.Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "503");

    std::string log = Log();
    EXPECT_NE(log.find(texts::kClearPassHeader), std::string::npos);
    EXPECT_LT(log.find("INSERT INTO SETTINGS VALUES ('pre', 'x')"), log.find(texts::kClearPassHeader));
    EXPECT_GT(log.find("INSERT INTO SETTINGS VALUES ('post', 'y')"), log.find(texts::kCopyPassHeader));
}

TEST_F(RunDriverTest, CancelDuringCopySkipsPostScriptAndGenerators) {
    cancelWhenStatus = "HOSTS";
    Run(source, dest);

    EXPECT_TRUE(driver.Control().cancel.Requested());
    EXPECT_EQ(state.StatusText(), texts::kStatusInterrupted);
    EXPECT_EQ(state.AllProgress().Position(), 0);
    EXPECT_EQ(state.warnings, std::vector<std::string>{texts::kInterruptedWarning});
    EXPECT_EQ(state.locks, (std::vector<bool>{true, false}));
    EXPECT_FALSE(dm.DestinationConnection().IsConnected());
    EXPECT_TRUE(db::WorkLock().try_lock());
    db::WorkLock().unlock();

    Db check(dest);
    // Cleared in the clearing pass, then the copy pass stopped at its first table.
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM HOSTS"), "0");
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM NOTES"), "0");
    EXPECT_EQ(check.Rows("SELECT ST_NAME FROM SETTINGS"), (std::vector<std::vector<std::string>>{{"pre"}}));
    EXPECT_EQ(check.Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "500");
}

TEST_F(RunDriverTest, CancelDuringPostScriptLetsItFinishThenSkipsGenerators) {
    cancelWhenStatus = texts::kStatusPostScript;
    Run(source, dest);

    EXPECT_EQ(state.Account().Outcome(), RunOutcome::Interrupted);
    EXPECT_EQ(state.StatusText(), texts::kStatusInterrupted);
    EXPECT_EQ(state.warnings.size(), 1u);
    Db check(dest);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM SETTINGS WHERE ST_NAME = 'post'"), "1");
    EXPECT_EQ(check.Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "502");
}

// Once the generator reset has begun, the run finishes: a cancel seen then came too late.
TEST_F(RunDriverTest, CancelOnceTheGeneratorResetBeganFinishesTheRun) {
    for (const std::string& status : {texts::kStatusFinished, texts::kStatusGenerators}) {
        Db(dest).Exec("SET GENERATOR GEN_HOSTS TO 500");
        cancelWhenStatus = status;
        state.warnings.clear();
        Run(source, dest);

        EXPECT_EQ(state.Account().Outcome(), RunOutcome::Finished) << ToUtf8(status);
        EXPECT_TRUE(state.Account().CancelTooLate());
        EXPECT_EQ(state.StatusText(), texts::kStatusFinished);
        EXPECT_TRUE(state.warnings.empty());
        EXPECT_EQ(Db(dest).Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "503");
    }
    cancelWhenStatus.reset();
    Run(source, dest);
    EXPECT_FALSE(state.Account().CancelTooLate()) << "a new run starts without the note";
}

TEST_F(RunDriverTest, CancelRequestEndsAStatementThatWaitsForALockAsAnInterruption) {
    // Another attachment holds the destination's HOSTS row: the clearing DELETE waits for it.
    test::HeldRow held(dest, "UPDATE HOSTS SET HS_NAME = 'held'");
    // The request is made once the DELETE is seen waiting. Should the cancel not reach it,
    // the row is given up after a minute and the run goes on, which the checks below catch.
    std::thread requester([&] {
        if (test::AwaitWaitingStatement(dest, "Delete From HOSTS")) driver.Control().cancel.Request();
    });
    held.During([&] { Run(source, dest); });
    requester.join();

    EXPECT_FALSE(held.GaveUp()) << "the waiting DELETE was not cancelled";
    EXPECT_TRUE(driver.Control().cancel.Requested());
    EXPECT_EQ(state.StatusText(), texts::kStatusInterrupted);
    EXPECT_EQ(state.warnings, std::vector<std::string>{texts::kInterruptedWarning});
    EXPECT_EQ(state.locks, (std::vector<bool>{true, false}));
    EXPECT_FALSE(dm.DestinationConnection().IsConnected() || dm.SecondDestinationConnection().IsConnected() || dm.SourceConnection().IsConnected());
    EXPECT_TRUE(test::WorkLockFree());
    // The cancelled statement is no logged table error, and no later work ran.
    EXPECT_EQ(Log().find(texts::kClearError), std::string::npos) << Log();
    EXPECT_EQ(Log().find(texts::kCopyPassHeader), std::string::npos) << Log();
    Db check(dest);
    EXPECT_EQ(check.Rows("SELECT HS_NAME FROM HOSTS"), (std::vector<std::vector<std::string>>{{"held"}}));
}

// The cancel request ends only the transfer's statements: a post-transfer script statement
// that waits for a lock runs to its end; the run then stops before the generators.
TEST_F(RunDriverTest, CancelRequestLetsAWaitingScriptStatementRunToItsEnd) {
    Db(dest).Exec("INSERT INTO SETTINGS VALUES ('held', 'x')");
    WriteFile(dir.File("SQL/Upd.sql"), "UPDATE SETTINGS SET ST_VALUE = 'post' WHERE ST_NAME = 'held'\r\n");
    test::HeldRow held(dest, "UPDATE SETTINGS SET ST_VALUE = 'other' WHERE ST_NAME = 'held'");
    std::atomic<bool> request{false};
    std::thread requester([&] {
        request = test::AwaitWaitingStatement(dest, "UPDATE SETTINGS");
        if (request) driver.Control().cancel.Request();
    });
    held.During([&] { Run(source, dest); }, std::chrono::seconds(3));
    requester.join();

    EXPECT_TRUE(request);
    EXPECT_TRUE(held.GaveUp()) << "the waiting script statement was cancelled";
    EXPECT_NE(Log().find("UPDATE SETTINGS SET ST_VALUE = 'post'"), std::string::npos) << Log();
    EXPECT_EQ(state.StatusText(), texts::kStatusInterrupted);
    EXPECT_EQ(state.warnings, std::vector<std::string>{texts::kInterruptedWarning});
}

TEST_F(RunDriverTest, MissingSourceFailsAfterCleanupAndChangesNothing) {
    try {
        Run(dir.File("missing.fdb"), dest);
        FAIL() << "a missing source was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::Server);
        EXPECT_NE(std::string(e.what()).find("missing.fdb"), std::string::npos) << e.what();
    }
    EXPECT_EQ(state.locks, (std::vector<bool>{true, false}));
    EXPECT_FALSE(dm.SourceConnection().IsConnected() || dm.DestinationConnection().IsConnected());
    EXPECT_EQ(Log(), "");
    Db check(dest);
    EXPECT_EQ(check.Scalar("SELECT HS_NAME FROM HOSTS"), "stale");
}

// Through a server with its own SYSDBA password: each refused side is asked for, again after
// a wrong answer, and the answer serves both destination connections and stays in the options.
TEST_F(RunDriverTest, RefusedLoginIsAskedForPerSideUntilTheServerTakesIt) {
    const std::string password = "own-Pw7k";
    test::PrivateServer server(password);
    std::vector<std::pair<DatabaseRole, std::string>> asked;   // the side and the user refused
    driver.AskLogin = [&](DatabaseRole role, const LoginRefused& refused) -> std::optional<db::Credentials> {
        asked.emplace_back(role, refused.user());
        if (asked.size() > 5) return std::nullopt;   // asked on and on: the answers are not used
        const bool wrongFirst = role == DatabaseRole::Source && asked.size() == 1;
        return db::Credentials{"SYSDBA", wrongFirst ? "not-" + password : password};
    };
    options.sourceLogin = options.destLogin = {"NOBODY", "nothing"};
    Run(server.Remote(source), server.Remote(dest));
    EXPECT_EQ(asked, (std::vector<std::pair<DatabaseRole, std::string>>{
                         {DatabaseRole::Source, "NOBODY"}, {DatabaseRole::Source, "SYSDBA"}, {DatabaseRole::Destination, "NOBODY"}}));
    EXPECT_EQ(state.StatusText(), texts::kStatusFinished);
    EXPECT_EQ(driver.Options().sourceLogin, (db::Credentials{"SYSDBA", password}));
    EXPECT_EQ(driver.Options().destLogin, (db::Credentials{"SYSDBA", password}));
    EXPECT_EQ(Db(dest).Scalar("SELECT COUNT(*) FROM NOTES"), "2");
}

TEST_F(RunDriverTest, MissingPostScriptStopsBeforeGeneratorsAndNamesTheFile) {
    std::filesystem::remove(dir.File("SQL/Upd.sql"));
    try {
        Run(source, dest);
        FAIL() << "a missing post-transfer script was accepted";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("Upd.sql"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(dm.DestinationConnection().IsConnected());
    Db check(dest);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM HOSTS"), "2");
    EXPECT_EQ(check.Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"), "502");
}

// Forced writes of a local destination: off, with a mark in the database's description, from
// before the pre-transfer script until the run's last detach; on again with the own
// description however the run ends. Off before the run, through a server, or with another
// attachment of the destination open, they are left as they are. One opened during the run and
// held to its end leaves them off and marked, and the run log says so.
enum class Other { None, Through, Later };

struct ForcedWritesCase {
    const char* name;
    bool cancel;         // cancelled while HOSTS is copied
    bool failing;        // the post-transfer script is missing
    bool offBefore;      // forced writes off before the run
    bool server;         // through a private server
    Other other;
    bool markedOn;       // marked by a run killed before it switched them off
    bool switched;       // off during the run, marked
};

class ForcedWritesTest : public RunDriverTest, public ::testing::WithParamInterface<ForcedWritesCase> {};
INSTANTIATE_TEST_SUITE_P(Runs, ForcedWritesTest,
                         ::testing::Values(ForcedWritesCase{"finished", false, false, false, false, Other::None, false, true},
                                           ForcedWritesCase{"cancelled", true, false, false, false, Other::None, false, true},
                                           ForcedWritesCase{"failed", false, true, false, false, Other::None, false, true},
                                           ForcedWritesCase{"off_before", false, false, true, false, Other::None, false, false},
                                           ForcedWritesCase{"through_a_server", false, false, false, true, Other::None, false, false},
                                           ForcedWritesCase{"attached_elsewhere", false, false, false, false, Other::Through, false, false},
                                           ForcedWritesCase{"attached_at_the_end", false, false, false, false, Other::Later, false, true},
                                           ForcedWritesCase{"marked_while_on", false, false, false, false, Other::None, true, true},
                                           ForcedWritesCase{"left_off_others_attached", false, false, true, true, Other::Through, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(ForcedWritesTest, AreOffForALocalRunAndOnAgainAfter) {
    const ForcedWritesCase& run = GetParam();
    const std::string query = "SELECT MON$FORCED_WRITES, CAST(RDB$DESCRIPTION AS VARCHAR(200)) "
                              "FROM MON$DATABASE CROSS JOIN RDB$DATABASE";
    const std::string mark(transfer::kForcedWritesMark);
    Db(dest).Exec("COMMENT ON DATABASE IS '" + (run.markedOn ? mark + "\n" : "") + "site''s copy'");
    if (run.offBefore) {
        db::Connection unattached;
        db::SetStandardParams(unattached);
        unattached.SetDatabaseFile(dest);
        unattached.SetForcedWrites(false);
    }
    if (run.failing) std::filesystem::remove(dir.File("SQL/Upd.sql"));
    std::optional<test::PrivateServer> server;
    if (run.server) server.emplace();
    const std::string target = run.server ? server->Remote(dest) : dest;
    std::optional<Db> other;
    if (run.other == Other::Through) other.emplace(target);
    const std::vector<std::string> before{run.offBefore ? "0" : "1", "site's copy"};
    // Left off and marked by a killed run, met while another client is attached: they stay off.
    const bool leftOff = run.other == Other::Later || (run.offBefore && run.markedOn);
    ASSERT_EQ(Db(target).Rows(query)[0][1], (run.markedOn ? mark + "\n" : "") + "site's copy");

    std::vector<std::string> during;
    state.OnPump = [&](test::TestRunState& s) {
        if (!during.empty() || s.StatusText() != "HOSTS") return;
        during = Db(target).Rows(query)[0];
        if (run.other == Other::Later) other.emplace(target);
        if (run.cancel) driver.Control().cancel.Request();
    };
    // Forced writes that another client keeps from being switched on fail a run that did all else.
    try {
        Run(source, target);
        EXPECT_FALSE(run.failing || leftOff);
    } catch (const SwitchesLeftError&) {
        EXPECT_TRUE(leftOff);
    } catch (const Error& e) {
        EXPECT_TRUE(run.failing) << e.what();
    }
    if (!run.failing && !leftOff) {
        EXPECT_EQ(state.StatusText(), run.cancel ? texts::kStatusInterrupted : texts::kStatusFinished);
    }
    ASSERT_EQ(state.Account().Left().size(), leftOff ? 1u : 0u);
    if (leftOff) {
        EXPECT_EQ(state.Account().Left()[0].index, "") << "forced writes";
    }

    const std::vector<std::string> switched{"0", mark + "\nsite's copy"};
    EXPECT_EQ(during, run.switched ? switched : before);
    other.reset();
    EXPECT_EQ(Db(target).Rows(query)[0], leftOff ? switched : before);
    EXPECT_EQ(Log().find(texts::kForcedWritesStillOff) != std::string::npos, leftOff) << Log();
    EXPECT_EQ(Log().find(texts::kForcedWritesNotSwitched + texts::kForcedWritesOthersAttached) != std::string::npos,
              leftOff) << Log();
    EXPECT_EQ(Log().find(texts::kForcedWritesRestored), std::string::npos) << "none was left off";
}

// Forced writes left off by a killed run, met by a login that may not switch them (neither
// owner nor administrator): left off and marked, with the engine's reason and the line that
// says so in the run log, before the pre-transfer script.
TEST_F(RunDriverTest, ForcedWritesLeftOffStayOffForALoginThatMayNotSwitchThem) {
    const std::string query = "SELECT MON$FORCED_WRITES, CAST(RDB$DESCRIPTION AS VARCHAR(200)) "
                              "FROM MON$DATABASE CROSS JOIN RDB$DATABASE";
    const std::vector<std::string> leftOff{"0", std::string(transfer::kForcedWritesMark)};
    Db(dest).Exec("COMMENT ON DATABASE IS '" + leftOff[1] + "'");
    // An index left inactive too, which the login may not make active either.
    Db(dest).Exec("CREATE INDEX NOTES_TEXT ON NOTES (NT_TEXT)");
    Db(dest).Exec("COMMENT ON INDEX NOTES_TEXT IS '" + std::string(transfer::kInactiveIndexMark) + "'");
    Db(dest).Exec("ALTER INDEX NOTES_TEXT INACTIVE");
    for (const std::string& path : {source, dest})
        for (const char* table : {"HOSTS", "NOTES", "SETTINGS"}) Db(path).Exec(std::string("GRANT ALL ON ") + table + " TO KXUSER");
    {
        db::Connection owner;
        db::SetStandardParams(owner);
        owner.SetDatabaseFile(dest);
        owner.SetForcedWrites(false);
    }
    options.sourceLogin = options.destLogin = {"KXUSER", "any"};   // embedded: the name is taken as given
    try {
        Run(source, dest);
    } catch (const Error&) {
        // Generators it may not set end the run; the forced writes were met before.
    }

    EXPECT_EQ(Db(dest).Rows(query)[0], leftOff);
    const std::string log = Log();
    const std::size_t reason = log.find("SYSDBA or owner");
    const std::size_t stillOff = log.find(texts::kForcedWritesStillOff);
    ASSERT_NE(reason, std::string::npos) << ToUtf8(log);
    ASSERT_NE(stillOff, std::string::npos) << ToUtf8(log);
    EXPECT_LT(reason, stillOff);
    EXPECT_LT(stillOff, log.find(texts::kBeginRuler)) << "before the pre-transfer script";
    EXPECT_EQ(log.find(texts::kForcedWritesRestored), std::string::npos);
    // Each leftover is named with the engine's reason, and the run went on past them.
    const std::size_t index = log.find(texts::kIndexNotRestored + "NOTES_TEXT (NOTES): ");
    ASSERT_NE(index, std::string::npos) << ToUtf8(log);
    EXPECT_LT(index, log.find(texts::kBeginRuler));
    EXPECT_NE(log.find("INSERT INTO SETTINGS VALUES ('pre', 'x')"), std::string::npos) << ToUtf8(log);
    ASSERT_EQ(state.Account().Left().size(), 2u) << "named in the account";
    EXPECT_EQ(state.Account().Left()[0].index, "NOTES_TEXT");
    EXPECT_NE(state.Account().Left()[1].reason.find("SYSDBA or owner"), std::string::npos);
    EXPECT_EQ(Db(dest).Scalar("SELECT RDB$INDEX_INACTIVE FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'NOTES_TEXT'"), "1");
}

// The run changes nothing of the destination before it says that it begins to write: a front
// end that gave it up while it connected ends it there with the destination as it was.
TEST_F(RunDriverTest, NothingIsSetBackOrSwitchedBeforeTheRunSaysItWrites) {
    const std::string mark(transfer::kInactiveIndexMark);
    Db(dest).Exec("CREATE INDEX NOTES_TEXT ON NOTES (NT_TEXT)");
    Db(dest).Exec("COMMENT ON INDEX NOTES_TEXT IS '" + mark + "'");
    Db(dest).Exec("ALTER INDEX NOTES_TEXT INACTIVE");
    const std::string query = "SELECT MON$FORCED_WRITES, RDB$INDEX_INACTIVE, CAST(I.RDB$DESCRIPTION AS VARCHAR(100)) "
                              "FROM MON$DATABASE CROSS JOIN RDB$INDICES I WHERE I.RDB$INDEX_NAME = 'NOTES_TEXT'";
    const std::vector<std::vector<std::string>> before{{"1", "1", mark}};
    ASSERT_EQ(Db(dest).Rows(query), before);
    std::vector<std::vector<std::string>> atGate;
    state.writingBegins = [&] { atGate = Db(dest).Rows(query); };
    Run(source, dest);
    EXPECT_EQ(atGate, before);
    EXPECT_EQ(Db(dest).Rows(query), (std::vector<std::vector<std::string>>{{"1", "0", "<null>"}}));
}

// A destination described in characters Windows-1251 lacks: the run and the check go on, and
// the description is kept byte for byte, embedded and through a server.
TEST_F(RunDriverTest, ADescriptionWindows1251CannotShowIsKept) {
    const std::string described = "x'73697465E29C9320E6BCA2E5AD97'";   // "site", a check mark, two CJK characters
    const std::string bytes = "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(100) CHARACTER SET OCTETS) FROM RDB$DATABASE";
    Db(dest).Exec("COMMENT ON DATABASE IS " + described);
    const std::string before = Db(dest).Scalar(bytes);
    ASSERT_EQ(before.size(), 14u);
    for (const bool throughServer : {false, true}) {
        SCOPED_TRACE(throughServer ? "through a server" : "embedded");
        std::optional<test::PrivateServer> server;
        if (throughServer) server.emplace();
        const std::string target = server ? server->Remote(dest) : dest;
        Run(source, target);
        EXPECT_EQ(state.StatusText(), texts::kStatusFinished);
        RunOptions check = options;
        check.destName = target;
        EXPECT_NO_THROW(CheckTransfer(check));
        EXPECT_EQ(Db(target).Scalar(bytes), before);
    }
}

TEST_F(RunDriverTest, OneDatabaseUnderTwoNamesIsRefusedBeforeConnecting) {
    namespace fs = std::filesystem;
    fs::create_symlink(source, dir.File("link.fdb"));
    fs::create_hard_link(source, dir.File("hard.fdb"));
    const std::string spellings[] = {
        fs::relative(source).string(), dir.Path() + "/./source.fdb", dir.Path() + "//source.fdb",
        dir.File("link.fdb"),          dir.File("hard.fdb"),         "\"" + source + "\" ",
    };
    for (const std::string& spelling : spellings) {
        for (const auto& [from, to] : {std::pair{source, spelling}, std::pair{spelling, source}}) {
            Error e = test::Raised([&] { Run(from, to); });
            EXPECT_EQ(e.text(), texts::kSameDatabases) << spelling;
        }
        EXPECT_FALSE(dm.SourceConnection().IsConnected() || dm.DestinationConnection().IsConnected());
    }
    EXPECT_EQ(state.locks.back(), false);
    EXPECT_EQ(Log(), "");
    Db check(source);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM HOSTS"), "2");
}

TEST(SameDatabaseNames, OtherFilesAndServerNamesAreNotComparedAsFiles) {
    TempDir dir;
    WriteFile(dir.File("a.fdb"), "a");
    WriteFile(dir.File("b.fdb"), "a");
    EXPECT_FALSE(SameDatabaseNames(dir.File("a.fdb"), dir.File("b.fdb")));
    EXPECT_FALSE(SameDatabaseNames("localhost:/x/a.fdb", "localhost:/x/b.fdb"));
    EXPECT_FALSE(SameDatabaseNames("\"\"", " "));
    EXPECT_TRUE(SameDatabaseNames("localhost:/x/a.fdb", " 'localhost:/x/a.fdb'\t"));
}

TEST(StripQuotes, RemovesEveryQuoteAndKeepsBlanks) {
    EXPECT_EQ(StripQuotes("\" /data/it's base.fdb \""), " /data/its base.fdb ");
    EXPECT_EQ(StripQuotes("''\"\""), "");
}

} // namespace
} // namespace kestrix
