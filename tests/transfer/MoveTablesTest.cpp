// The transfer sequence on small databases: which tables each pass clears and copies, the
// markers of the table list, the journal block, the log lines and the cancel tests.
#include <algorithm>
#include <cctype>

#include <gtest/gtest.h>

#include "run/Texts.h"
#include "support/Fixtures.h"
#include "support/Sample.h"
#include "transfer/EngineSides.h"
#include "transfer/BulkLoad.h"
#include "transfer/MoveTables.h"

namespace kestrix {
namespace {

// The transfer sequence between two database files, attached and detached around it.
void MoveBetween(Context& ctx, const std::string& sourcePath, const std::string& destPath) {
    db::Databases dm;
    dm.SourceConnection().SetDatabaseFile(sourcePath);
    dm.DestinationConnection().SetDatabaseFile(destPath);
    dm.SourceConnection().Connect();
    dm.DestinationConnection().Connect();
    transfer::MoveTables(ctx, dm, transfer::PlanRun(ctx.options));
    dm.SourceConnection().Disconnect();
    dm.DestinationConnection().Disconnect();
    EXPECT_TRUE(test::WorkLockFree());
}


using test::Db;
using test::WriteFile;
using Rows = std::vector<std::vector<std::string>>;

const char* kSchema =
    "CREATE TABLE READERS (RD_ID INTEGER NOT NULL PRIMARY KEY, RD_SL_ID INTEGER, RD_NAME VARCHAR(20));\n"
    "CREATE GENERATOR GEN_READERS;\n"
    "SET TERM ^ ;\n"
    "CREATE TRIGGER READERS_BI FOR READERS BEFORE INSERT AS BEGIN\n"
    "  IF (NEW.RD_ID IS NULL) THEN NEW.RD_ID = GEN_ID(GEN_READERS, 1); END^\n"
    "SET TERM ; ^\n"
    "CREATE TABLE ZONES (ZN_ID INTEGER NOT NULL PRIMARY KEY, ZN_NAME VARCHAR(20));\n"
    "CREATE TABLE NOTES (NT_ID INTEGER NOT NULL PRIMARY KEY, NT_KIND INTEGER, NT_TEXT VARCHAR(20));\n"
    "CREATE TABLE SCRATCH (SC_ID INTEGER NOT NULL PRIMARY KEY);\n"
    "CREATE TABLE EVDESC (ED_ID INTEGER NOT NULL PRIMARY KEY, ED_CODE INTEGER, ED_ADDCODE INTEGER,\n"
    "  ED_HARDTYPE INTEGER);\n"
    "CREATE TABLE EVENTS (EV_ID INTEGER NOT NULL PRIMARY KEY, EV_DATE DATE, EV_CODE INTEGER,\n"
    "  EV_ADDCODE INTEGER, EV_DEV INTEGER);\n";

class MoveTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CreateDatabase(sourcePath, std::string(kSchema) +
                                             "INSERT INTO READERS VALUES (7, 1, 'gate');\n"
                                             "INSERT INTO ZONES VALUES (1, 'hall');\n"
                                             "INSERT INTO NOTES VALUES (1, 1, 'kept');\n"
                                             "INSERT INTO NOTES VALUES (2, 2, 'new');\n"
                                             "INSERT INTO NOTES VALUES (3, 2, 'newer');\n"
                                             "INSERT INTO SCRATCH VALUES (5);\n"
                                             "INSERT INTO EVDESC VALUES (1, 10, 0, 4);\n"
                                             "INSERT INTO EVENTS VALUES (1, '2025-06-01', 10, 0, 7);\n"
                                             "INSERT INTO EVENTS VALUES (2, '2026-02-01', 10, 0, 7);\n");
        test::CreateDatabase(destPath, std::string(kSchema) +
                                           "SET GENERATOR GEN_READERS TO 40;\n"
                                           "INSERT INTO READERS VALUES (1, 1, 'old');\n"
                                           "INSERT INTO ZONES VALUES (9, 'old zone');\n"
                                           "INSERT INTO NOTES VALUES (1, 1, 'old kind 1');\n"
                                           "INSERT INTO NOTES VALUES (2, 2, 'old kind 2');\n"
                                           "INSERT INTO SCRATCH VALUES (99);\n"
                                           "INSERT INTO EVDESC VALUES (1, 10, 0, 4);\n"
                                           "INSERT INTO EVENTS VALUES (100, '2026-01-01', 1, 0, 0);\n");
        run.options.startDate = db::DateTime{2026, 1, 1};
    }

    void Move(const std::string& tableList) {
        WriteFile(run.dir.File("Conv.txt"), tableList);
        MoveWithCurrentList();
    }

    void MoveWithCurrentList() {
        MoveBetween(run.ctx, sourcePath, destPath);
    }

    test::EngineRun run;
    std::string sourcePath = run.dir.File("source.fdb");
    std::string destPath = run.dir.File("dest.fdb");
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Stage lines begin with a timestamp directly followed by three blanks: the timestamp goes.
std::string WithoutTimestamps(const std::string& log) {
    std::string result;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find("\r\n", start);
        end = end == std::string::npos ? log.size() : end + 2;
        std::string line = log.substr(start, end - start);
        std::size_t stage = line.find("   ");
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])) && stage != std::string::npos)
            line = line.substr(stage);
        result += line;
        start = end;
    }
    return result;
}

TEST_F(MoveTablesTest, MarkersDecideWhatIsClearedAndCopied) {
    run.options.tableListLines = 6;
    Move("* list\r\n"
         "READERS=RD_ID\r\n"
         "NOTES=NT_ID#@NT_KIND = 2\r\n"
         "SCRATCH=SC_ID%\r\n"
         "EVENTS=EV_ID\r\n"
         "EVDESC=ED_ID");
    Db dest(destPath);
    // READERS copied with new keys; ZONES cleared right after it in the clearing pass only.
    EXPECT_EQ(dest.Rows("SELECT RD_ID, RD_NAME FROM READERS"), (Rows{{"41", "gate"}}));
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM ZONES"), "0");
    // "#": cleared with the condition, cleared again whole, then copied with the condition.
    EXPECT_EQ(dest.Rows("SELECT NT_ID, NT_TEXT FROM NOTES ORDER BY NT_ID"), (Rows{{"2", "new"}, {"3", "newer"}}));
    // "%": cleared in both passes, never copied.
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM SCRATCH"), "0");
    // A journal line is neither cleared nor copied by the passes; events are off.
    EXPECT_EQ(dest.Rows("SELECT EV_ID FROM EVENTS"), (Rows{{"100"}}));
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM EVDESC"), "1");

    EXPECT_EQ(WithoutTimestamps(run.Log()), "\r\n" + texts::kClearPassHeader + "\r\n" +
                                                "\r\n" + texts::kCopyPassHeader + "\r\n" +
                                                texts::kExtraClearing + "NOTES\r\n" +
                                                texts::kClearing + "SCRATCH\r\n");
    EXPECT_EQ(run.state.AllProgress().Max(), 6);
    EXPECT_EQ(run.state.AllProgress().Position(), 6);
    EXPECT_EQ(run.state.StatusText(), "EVDESC");
}

// One table after the other, and over streams of their own (the source has no ALARM table:
// its count fails before any stream starts it).
class JournalBlockTest : public MoveTablesTest, public ::testing::WithParamInterface<int> {};
INSTANTIATE_TEST_SUITE_P(Jobs, JournalBlockTest, ::testing::Values(1, 3));

TEST_P(JournalBlockTest, CopiesFromTheStartDateAndStopsAtAFailingJournal) {
    run.options.jobs = GetParam();
    run.options.events = true;
    run.options.tableListLines = 1;
    Move("READERS=RD_ID");
    Db dest(destPath);
    // Reader 7 became 41; the event device follows it through the hardware type.
    EXPECT_EQ(dest.Rows("SELECT EV_ID, EV_DEV FROM EVENTS ORDER BY EV_ID"), (Rows{{"2", "41"}, {"100", "0"}}));
    // This destination has no ALARM table: its copy fails, and the later journals are not tried.
    EXPECT_EQ(run.state.StatusText(), "ALARM");
    EXPECT_EQ(run.state.AllProgress().Position(), 2);
    EXPECT_EQ(run.state.Account().NotAccounted(), std::vector<std::string>{"ALARM"});
}

// A copy that an error ends is passed over without a log line, as any table's failure; the
// account marks it with the error, because the rows after it were never read.
TEST_F(MoveTablesTest, ACopyEndedByAnErrorIsMarkedInTheAccountAndTheListGoesOn) {
    // Reading NOTES row 2 fails: its computed column divides by zero.
    Db(sourcePath).Exec("ALTER TABLE NOTES ADD NT_BAD COMPUTED BY (10 / (NT_ID - 2))");
    run.options.tableListLines = 3;
    Move("NOTES=NT_ID\r\nZONES=ZN_ID\r\nNOWHERE=NW_ID");
    Db dest(destPath);
    EXPECT_EQ(dest.Rows("SELECT NT_ID, NT_TEXT FROM NOTES"), (Rows{{"1", "kept"}}));
    EXPECT_EQ(dest.Rows("SELECT ZN_ID, ZN_NAME FROM ZONES"), (Rows{{"1", "hall"}}));

    const auto& tables = run.state.Account().Tables();
    ASSERT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables[0].table, "NOTES");
    EXPECT_EQ(tables[0].Read(), 1);
    EXPECT_EQ(tables[0].written, 1);
    EXPECT_NE(tables[0].error.find("divide by zero"), std::string::npos) << tables[0].error;
    EXPECT_TRUE(tables[1].Accounted());
    EXPECT_NE(tables[2].error.find("NOWHERE"), std::string::npos) << tables[2].error;
    EXPECT_EQ(run.state.Account().NotAccounted(), (std::vector<std::string>{"NOTES", "NOWHERE"}));
    EXPECT_EQ(run.Log().find("NOTES"), std::string::npos) << run.Log();
}

TEST_F(MoveTablesTest, CancelInTheClearingPassSkipsTheCopyPass) {
    run.state.OnPump = [this](test::TestRunState&) { run.control.cancel.Request(); };
    run.options.events = true;
    Move("NOTES=NT_ID\r\nREADERS=RD_ID");
    Db dest(destPath);
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM NOTES"), "0");
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM READERS"), "1") << "the second line was not reached";
    EXPECT_EQ(run.Log().find(texts::kCopyPassHeader), std::string::npos);
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM EVENTS"), "1");
}

TEST_F(MoveTablesTest, MissingTableListEndsThePassesQuietly) {
    run.options.events = true;
    MoveWithCurrentList();
    // The clearing pass wrote its header, the copy pass failed to start, so no journals.
    EXPECT_EQ(Count(run.Log(), texts::kClearPassHeader), 1u);
    EXPECT_EQ(run.Log().find(texts::kCopyPassHeader), std::string::npos);
    Db dest(destPath);
    EXPECT_EQ(dest.Scalar("SELECT COUNT(*) FROM EVENTS"), "1");
}

// The sample installation with its journals copied over two streams.
class StreamsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::CopySampleAppDir(run.dir.Path());
        test::MakeSampleSource(sourcePath, 60);   // journals large enough to be caught mid-copy
        test::MakeSampleDest(destPath);
        run.options.jobs = 2;
        run.options.events = true;
        run.options.startDate = db::DateTime{2000, 1, 1};
    }

    void Move() {
        MoveBetween(run.ctx, sourcePath, destPath);
    }

    int Rows(const std::string& path, const std::string& table) {
        return std::stoi(Db(path).Scalar("SELECT COUNT(*) FROM " + table));
    }

    test::EngineRun run;
    std::string sourcePath = run.dir.File("source.fdb");
    std::string destPath = run.dir.File("dest.fdb");
};

TEST_F(StreamsTest, CancelStopsEveryStreamAtItsNextRow) {
    // Cancelled once two tables are in flight and rows are copied.
    run.state.OnPump = [this](test::TestRunState& s) {
        if (s.StatusText().find(", ") != std::string::npos && s.TableProgress().Position() > 0)
            run.control.cancel.Request();
    };
    Move();
    ASSERT_TRUE(run.control.cancel.Requested());
    // The two largest journals were cut short, and no other was started.
    EXPECT_EQ(run.state.Account().NotAccounted(), (std::vector<std::string>{"EVENTS", "ALARM"}));
    EXPECT_LT(Rows(destPath, "EVENTS"), Rows(sourcePath, "EVENTS"));
    EXPECT_LT(Rows(destPath, "ALARM"), Rows(sourcePath, "ALARM"));
    for (const char* later : {"ACR$EVENTS", "STR_EVENTS", "STR_ALARMS", "ACR$ALARMS"})
        EXPECT_EQ(Rows(destPath, later), 0) << later;
    const auto& tables = run.state.Account().Tables();
    ASSERT_GE(tables.size(), 2u);
    EXPECT_EQ(tables[tables.size() - 2].table, "EVENTS");
    EXPECT_EQ(tables.back().table, "ALARM");
    EXPECT_EQ(tables.back().written, Rows(destPath, "ALARM"));
}

TEST_F(StreamsTest, NoJournalIsStartedAfterAFailedOne) {
    // Reading the events fails from the tenth on: their computed column divides by zero.
    const std::string tenth = Db(sourcePath).Scalar("SELECT MIN(EV_ID) + 9 FROM EVENTS");
    Db(sourcePath).Exec("ALTER TABLE EVENTS ADD EV_BAD COMPUTED BY (10 / (CASE WHEN EV_ID < " + tenth +
                        " THEN 1 ELSE 0 END))");
    Move();
    EXPECT_FALSE(run.control.cancel.Requested());
    const auto& tables = run.state.Account().Tables();
    auto events = std::find_if(tables.begin(), tables.end(), [](const TableAccount& t) { return t.table == "EVENTS"; });
    ASSERT_NE(events, tables.end());
    EXPECT_NE(events->error.find("divide by zero"), std::string::npos) << events->error;
    EXPECT_EQ(Rows(destPath, "EVENTS"), events->written);
    // ALARM, taken by the other stream at once, may have run: then to its end. The smaller
    // journals wait for a free stream, and none was free before the failure.
    EXPECT_EQ(run.state.Account().NotAccounted(), std::vector<std::string>{"EVENTS"});
    EXPECT_LE(tables.end() - events, 2);
    for (const char* later : {"ACR$EVENTS", "STR_EVENTS", "STR_ALARMS", "ACR$ALARMS"})
        EXPECT_EQ(Rows(destPath, later), 0) << later;
}

// The journals' plain indexes: inactive while the journals load, active again with their own
// descriptions however the block ends; one inactive before the run is left so, unmarked, and a
// unique or expression index, which would let in rows it refuses, stays active.
using IndexRows = std::vector<std::vector<std::string>>;

struct IndexEnding {
    const char* name;
    int jobs;
    bool failing;   // reading the events fails from their tenth on
    bool cancel;    // cancelled while the events are copied
};

class LoadIndexesTest : public StreamsTest, public ::testing::WithParamInterface<IndexEnding> {
protected:
    // Per journal index: whether it is inactive, and its description.
    static IndexRows Indexes(const std::string& path) {
        return Db(path).Rows("SELECT TRIM(RDB$INDEX_NAME), COALESCE(RDB$INDEX_INACTIVE, 0), "
                             "CAST(RDB$DESCRIPTION AS VARCHAR(200)) FROM RDB$INDICES "
                             "WHERE RDB$INDEX_NAME IN ('EVENTS_DATE', 'ALARM_DATE', 'STR_EVENTS_DATE', 'EVENTS_ONCE', "
                             "'EVENTS_NEXT_CODE') "
                             "ORDER BY RDB$INDEX_NAME");
    }
};
INSTANTIATE_TEST_SUITE_P(Endings, LoadIndexesTest,
                         ::testing::Values(IndexEnding{"finished_one_stream", 1, false, false},
                                           IndexEnding{"finished_streams", 2, false, false},
                                           IndexEnding{"failed_journal", 1, true, false},
                                           IndexEnding{"cancelled", 1, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(LoadIndexesTest, AreInactiveWhileTheJournalsLoadAndActiveAfter) {
    const IndexEnding& ending = GetParam();
    run.options.jobs = ending.jobs;
    Db(destPath).Exec("COMMENT ON INDEX EVENTS_DATE IS 'by date: it''s kept'");
    Db(destPath).Exec("ALTER INDEX STR_EVENTS_DATE INACTIVE");
    Db(destPath).Exec("CREATE UNIQUE INDEX EVENTS_ONCE ON EVENTS (EV_ID)");
    Db(destPath).Exec("CREATE INDEX EVENTS_NEXT_CODE ON EVENTS COMPUTED BY (EV_CODE + 1)");
    const IndexRows before = Indexes(destPath);
    ASSERT_EQ(before, (IndexRows{{"ALARM_DATE", "0", "<null>"}, {"EVENTS_DATE", "0", "by date: it's kept"},
                                 {"EVENTS_NEXT_CODE", "0", "<null>"}, {"EVENTS_ONCE", "0", "<null>"},
                                 {"STR_EVENTS_DATE", "1", "<null>"}}));
    if (ending.failing) {
        const std::string tenth = Db(sourcePath).Scalar("SELECT MIN(EV_ID) + 9 FROM EVENTS");
        Db(sourcePath).Exec("ALTER TABLE EVENTS ADD EV_BAD COMPUTED BY (10 / (CASE WHEN EV_ID < " + tenth +
                            " THEN 1 ELSE 0 END))");
    }
    IndexRows loading;
    const std::string dest = destPath;
    run.state.OnPump = [&](test::TestRunState& s) {
        // While the events load; a cancel once rows are copied.
        if (!loading.empty() || s.StatusText().find("EVENTS") == std::string::npos ||
            (ending.cancel && s.TableProgress().Position() == 0))
            return;
        loading = Indexes(dest);
        if (ending.cancel) run.control.cancel.Request();
    };
    Move();
    EXPECT_EQ(run.control.cancel.Requested(), ending.cancel);
    if (ending.failing) {
        EXPECT_EQ(run.state.Account().NotAccounted(), std::vector<std::string>{"EVENTS"});
    }
    ASSERT_EQ(loading.size(), 5u) << "the events were not seen loading";
    EXPECT_EQ(loading[0][1], "1");
    EXPECT_EQ(loading[1][1], "1");
    EXPECT_EQ(loading[1][2], std::string(transfer::kInactiveIndexMark) + "\nby date: it's kept");
    for (std::size_t kept : {2u, 3u, 4u}) EXPECT_EQ(loading[kept], before[kept]);
    EXPECT_EQ(Indexes(destPath), before);
}

// Making the indexes inactive fails part-way (a description too long to take the mark): the
// whole set-up is rolled back, logged with the engine's reason, and the load keeps them all.
TEST_F(StreamsTest, IndexesThatCannotAllBeMadeInactiveAreAllKept) {
    const std::string own(32740, 'd');   // readable, but the mark makes its statement too long
    Db(destPath).Exec("COMMENT ON INDEX ALARM_DATE IS '" + own + "'");
    const std::string query = "SELECT TRIM(RDB$INDEX_NAME), COALESCE(RDB$INDEX_INACTIVE, 0), OCTET_LENGTH(RDB$DESCRIPTION) "
                              "FROM RDB$INDICES WHERE RDB$INDEX_NAME IN ('EVENTS_DATE', 'ALARM_DATE') ORDER BY 1";
    const IndexRows before{{"ALARM_DATE", "0", std::to_string(own.size())}, {"EVENTS_DATE", "0", "<null>"}};
    ASSERT_EQ(Db(destPath).Rows(query), before);
    IndexRows loading;
    run.state.OnPump = [&](test::TestRunState& s) {
        if (loading.empty() && s.StatusText().find("EVENTS") != std::string::npos) loading = Db(destPath).Rows(query);
    };
    Move();
    EXPECT_EQ(loading, before);
    EXPECT_EQ(Db(destPath).Rows(query), before);
    EXPECT_NE(test::ReadFile(run.dir.File("Kestrix.log")).find(texts::kIndexesKeptActive), std::string::npos);
    EXPECT_TRUE(run.state.Account().Left().empty());
}

} // namespace
} // namespace kestrix
