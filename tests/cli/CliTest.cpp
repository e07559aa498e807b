// kestrix-cli end to end on the sample installation: exit codes, output, the run log, the
// destination checked by meaning, the source left untouched, interruption, and a run
// through a private Firebird server.
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <mutex>
#include <random>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "db/Charset.h"
#include "db/Databases.h"
#include "run/Texts.h"
#include "support/Fixtures.h"
#include "support/HeldRow.h"
#include "support/Process.h"
#include "support/Sample.h"
#include "transfer/BulkLoad.h"

namespace kestrix {
namespace {

using test::Db;
using test::ProcessResult;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Rows = std::vector<std::vector<std::string>>;

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(appDir);
        test::CopySampleAppDir(appDir);
    }

    void MakeDatabases(int size = 1) {
        test::MakeSampleSource(source, size);
        test::MakeSampleDest(dest);
    }

    ProcessResult Run(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv{test::CliPath(), "--source", source, "--dest", dest, "--app-dir", appDir};
        argv.insert(argv.end(), extra.begin(), extra.end());
        return test::RunProcess(argv);
    }

    std::string Log() { return ReadFile(appDir + "/Kestrix.log"); }

    // Every row of every user table, for comparing a database before and after.
    static std::map<std::string, Rows> Dump(const std::string& path) {
        Db db(path);
        std::map<std::string, Rows> dump;
        for (const auto& table : db.Rows("SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS "
                                         "WHERE RDB$SYSTEM_FLAG = 0 AND RDB$VIEW_BLR IS NULL"))
            dump[table[0]] = db.Rows("SELECT * FROM " + table[0] + " ORDER BY 1");
        return dump;
    }

    TempDir dir;
    std::string appDir = dir.File("app");
    std::string source = dir.File("source.fdb");
    std::string dest = dir.File("dest.fdb");
};

// A table's line of the summary: read, written, refused, unmapped; empty when there is none.
std::vector<int> SummaryRow(const std::string& out, const std::string& table) {
    std::smatch m;
    const std::regex row("(^|\n)" + table + " +([0-9]+) +([0-9]+) +([0-9]+) +[0-9.]+ +([0-9]+)\n");
    if (!std::regex_search(out, m, row)) return {};
    return {std::stoi(m[2]), std::stoi(m[3]), std::stoi(m[4]), std::stoi(m[5])};
}

// A table's entry of the JSON account: read, written, refused, lost; empty when there is none.
// A table's entry of the JSON account; null when there is none.
nlohmann::json JsonTable(const std::string& json, const std::string& table) {
    const nlohmann::json account = nlohmann::json::parse(json);
    for (const nlohmann::json& entry : account["tables"])
        if (entry["name"] == table) return entry;
    return nullptr;
}

std::vector<int> JsonCounts(const std::string& json, const std::string& table) {
    const nlohmann::json entry = JsonTable(json, table);
    if (entry.is_null()) return {};
    return {entry["read"], entry["written"], entry["refused"], entry["lost"]};
}

// The command line's own messages, in English.
const std::string kInterruptedWarning =
    "kestrix-cli: the transfer was interrupted by the user; refresh the destination database before the "
    "transfer is started again\n";
const std::string kSameDatabases = "kestrix-cli: the source and the destination must be different databases\n";

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST_F(CliTest, FullRunWithEventsMovesEverythingAndOnlyReadsTheSource) {
    MakeDatabases();
    auto sourceBefore = Dump(source);

    ProcessResult run = Run({"--events-from", "2026-01-01", "--summary-json", dir.File("summary.json")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err.find("kestrix-cli:"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.rfind("table                     read   written   refused   seconds  unmapped\n", 0), 0u) << run.out;

    EXPECT_EQ(Dump(source), sourceBefore) << "the source database was changed";

    Db src(source), dst(dest);
    // The account: EVENTS row 5 refused, one event and one controller whose device was not
    // copied; the counts agree with both databases, and every row is accounted for.
    const int events = std::stoi(src.Scalar("SELECT COUNT(*) FROM EVENTS WHERE EV_DATE >= '2026-01-01'"));
    EXPECT_EQ(SummaryRow(run.out, "EVENTS"),
              (std::vector<int>{events, std::stoi(dst.Scalar("SELECT COUNT(*) FROM EVENTS")), 1, 1})) << run.out;
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM EVENTS WHERE EV_DEV_ID = -1"), "1");
    EXPECT_EQ(SummaryRow(run.out, "CONTROLLERS"), (std::vector<int>{4, 4, 0, 1})) << run.out;
    EXPECT_EQ(SummaryRow(run.out, "OPERATORS"), (std::vector<int>{3, 3, 0, 0})) << "the line's condition";
    // ACCGROUPS twice: its copy, and the update of one column by its '&' line, row by row.
    const std::string accgroups = "\nACCGROUPS           " + std::string(9, ' ') + "4" + std::string(9, ' ') + "4" +
                                  std::string(9, ' ') + "0";
    EXPECT_NE(run.out.find(accgroups, run.out.find(accgroups) + 1), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nCONTROLLERS" + std::string(9, ' ')), std::string::npos);
    EXPECT_NE(run.out.find("\n  -1 in CT_HS_ID: 1\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\n  -1 in EV_DEV_ID: 1\n"), std::string::npos) << run.out;
    const std::string json = ReadFile(dir.File("summary.json"));
    EXPECT_EQ(json.rfind("{\n  \"outcome\": \"finished\",\n  \"exit_code\": 0,\n  \"accounted\": true,\n", 0), 0u)
        << json;
    EXPECT_EQ(JsonCounts(json, "EVENTS"), (std::vector<int>{events, events - 1, 1, 0})) << json;
    EXPECT_EQ(JsonTable(json, "EVENTS")["unmapped"], (nlohmann::json{{"EV_DEV_ID", 1}})) << json;
    EXPECT_EQ(JsonTable(json, "EVENTS")["accounted"], true) << json;
    // The refused row is told apart from a clean copy, with the totals the JSON carries.
    const nlohmann::json account = nlohmann::json::parse(json);
    EXPECT_EQ(account["refused"], 1) << json;
    EXPECT_TRUE(run.out.ends_with("\nEvery row is accounted for: " + std::to_string(account["written"].get<int>()) +
                                  " written, 1 refused (see the run log).\n")) << run.out;
    // Redirected, every step is numbered once, in order, of the steps planned; the last is the end.
    std::istringstream progress(run.err);
    int step = 0, planned = 0;
    std::string lastLine;
    for (std::string line; std::getline(progress, line);) {
        int number = 0;
        if (std::sscanf(line.c_str(), "[%d/%d]", &number, &planned) != 2) continue;
        EXPECT_EQ(number, ++step) << line;
        lastLine = line;
    }
    EXPECT_EQ(lastLine, "[" + std::to_string(planned) + "/" + std::to_string(planned) + "] Transfer finished") << run.err;
    EXPECT_NE(run.err.find("\n[1/" + std::to_string(planned) + "] Clearing the destination\n"), std::string::npos) << run.err;

    // Every controller hangs under the host of the same name; the orphan's reference is -1.
    const char* hostOfController =
        "SELECT C.CT_NAME, COALESCE(H.HS_NAME, '-') FROM CONTROLLERS C "
        "LEFT JOIN HOSTS H ON H.HS_ID = C.CT_HS_ID ORDER BY C.CT_NAME";
    EXPECT_EQ(dst.Rows(hostOfController), src.Rows(hostOfController));
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM CONTROLLERS WHERE CT_HS_ID = -1"), "1");
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM HOSTS H JOIN CONTROLLERS C ON C.CT_HS_ID = H.HS_ID "
                         "WHERE H.HS_ID < 1000"), "0") << "references still point at source keys";

    // Readers reach the same inputs and outputs by name.
    const char* readerDevices =
        "SELECT R.RD_NAME, COALESCE(I.IN_NAME, '-'), COALESCE(O.OU_NAME, '-') FROM READERS R "
        "LEFT JOIN INPUTS I ON I.IN_ID = R.RD_IN_1 LEFT JOIN OUTPUTS O ON O.OU_ID = R.RD_OUT_OPEN ORDER BY R.RD_NAME";
    EXPECT_EQ(dst.Rows(readerDevices), src.Rows(readerDevices));

    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM MACROSES"), src.Scalar("SELECT COUNT(*) FROM MACROSES"));
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM MAKROS_RIGHT MR LEFT JOIN MACROSES M ON M.MCR_ID = MR.MR_MCR_ID "
                         "WHERE M.MCR_ID IS NULL AND MR.MR_MCR_ID <> -1"), "0");

    // Photos moved to the photo table, none left in OWNER.
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM OWNER WHERE OW_PHOTO IS NOT NULL"), "0");
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM OWNERPHOTOS WHERE OW_PHOTO IS NOT NULL"),
              src.Scalar("SELECT COUNT(*) FROM OWNER WHERE OW_PHOTO IS NOT NULL"));

    // Journals from the start date only.
    EXPECT_NE(dst.Scalar("SELECT COUNT(*) FROM EVENTS"), "0");
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM EVENTS WHERE EV_DATE < '2026-01-01'"), "0");
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM EVENTS WHERE EV_ID = 2"), "1") << "the row at midnight of the start date";
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM ALARM WHERE AL_DATE < '2026-01-01'"), "0");
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM STR_ALARMS"),
              src.Scalar("SELECT COUNT(*) FROM STR_ALARMS WHERE AL_DATE >= '2026-01-01'"));

    // Generators one past the largest key of their table.
    struct Generator { const char *table, *column, *name; };
    for (const Generator& g : {Generator{"HOSTS", "HS_ID", "GEN_HOSTS"}, Generator{"READERS", "RD_ID", "GEN_READERS"},
                               Generator{"MACROSES", "MCR_ID", "GEN_MACROSES"}, Generator{"EVENTS", "EV_ID", "GEN_EVENTS"}})
        EXPECT_EQ(dst.Scalar(std::string("SELECT GEN_ID(") + g.name + ", 0) FROM RDB$DATABASE"),
                  dst.Scalar(std::string("SELECT COALESCE(MAX(") + g.column + "), 0) + 1 FROM " + g.table))
            << g.name;

    // The log: script sections, the two pass headers, the second clearings, and nothing else
    // than error lines of the engine (EVENTS row 5 joins two descriptions and is refused once).
    std::string log = Log();
    EXPECT_EQ(log.rfind(texts::kBeginRuler + "\r\n\r\n", 0), 0u) << "the log starts with the pre-transfer script";
    EXPECT_EQ(Count(log, texts::kBeginRuler + "\r\n"), Count(log, texts::kEndRuler + "\r\n"));
    EXPECT_EQ(Count(log, "\r\n" + texts::kSuccessLine + "\r\n"), Count(log, texts::kBeginRuler));
    EXPECT_EQ(Count(log, texts::kErrorHeading), 0u) << ToUtf8(log);
    EXPECT_EQ(Count(log, texts::kClearPassHeader + "\r\n"), 1u);
    EXPECT_EQ(Count(log, texts::kCopyPassHeader + "\r\n"), 1u);
    EXPECT_EQ(Count(log, texts::kExtraClearing + "ZONES\r\n"), 1u);
    EXPECT_EQ(Count(log, texts::kClearing + "DEVSTATES\r\n"), 1u);
    EXPECT_EQ(Count(log, "\r\n" + texts::kInsertError + "EVENTS EV_ID =  5 :  "), 1u) << ToUtf8(log);
    EXPECT_LT(log.find(texts::kClearPassHeader), log.find(texts::kCopyPassHeader));
    EXPECT_LT(log.find(texts::kCopyPassHeader), log.rfind(texts::kBeginRuler));
}

TEST_F(CliTest, VerifyFindsWhatADestinationTriggerChangedAndTheKeyMapNamesEveryDevice) {
    MakeDatabases();
    // A trigger of the destination that rewrites what the copy writes.
    WriteFile(appDir + "/SQL/_Upd.sql", ReadFile(appDir + "/SQL/_Upd.sql") +
                                            "\r\n\r\nCREATE TRIGGER KX_MARK FOR HOSTS BEFORE INSERT POSITION 99 AS\r\n"
                                            "BEGIN\r\n  NEW.HS_NAME = NEW.HS_NAME || '*';\r\nEND\r\n");
    ProcessResult run = Run({"--events-from", "2026-01-01", "--verify", "--map-file", dir.File("keys.csv"),
                             "--summary-json", dir.File("summary.json")});
    ASSERT_EQ(run.exitCode, 4) << run.err << run.out;
    Db src(source), dst(dest);
    const int hosts = std::stoi(src.Scalar("SELECT COUNT(*) FROM HOSTS"));
    EXPECT_EQ(run.out.rfind("table                     read   written   refused   seconds  unmapped  verified"
                            "    differ\n", 0), 0u) << run.out;
    const std::string firstHost = src.Scalar("SELECT MIN(HS_ID) FROM HOSTS");
    const std::string name = ToUtf8(src.Scalar("SELECT HS_NAME FROM HOSTS WHERE HS_ID = " + firstHost));
    EXPECT_NE(run.out.find("\n  differs: key " + firstHost + ", HS_NAME: source '" + name + "', destination '" + name +
                           "*'\n"), std::string::npos) << run.out;
    EXPECT_TRUE(run.out.ends_with("\nDifferences: " + std::to_string(hosts) + " rows in HOSTS\n")) << run.out;
    const std::string json = ReadFile(dir.File("summary.json"));
    EXPECT_NE(json.find("\"exit_code\": 4"), std::string::npos);
    EXPECT_EQ(JsonTable(json, "HOSTS")["verified"], 0) << json;
    EXPECT_EQ(JsonTable(json, "HOSTS")["differ"], hosts) << json;

    // Each device's line leads from its source key to the row that holds it in the destination.
    const std::string keys = ReadFile(dir.File("keys.csv"));
    ASSERT_EQ(keys.rfind("table,old_key,new_key\n", 0), 0u) << keys;
    int hostLines = 0, macroLines = 0;
    std::istringstream lines(keys);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t a = line.find(','), b = line.rfind(',');
        const std::string table = line.substr(0, a), oldKey = line.substr(a + 1, b - a - 1), newKey = line.substr(b + 1);
        macroLines += table == "MACROSES";
        if (table != "HOSTS") continue;
        ++hostLines;
        EXPECT_EQ(dst.Scalar("SELECT HS_NAME FROM HOSTS WHERE HS_ID = " + newKey),
                  src.Scalar("SELECT HS_NAME || '*' FROM HOSTS WHERE HS_ID = " + oldKey));
    }
    EXPECT_EQ(hostLines, hosts);
    EXPECT_EQ(macroLines, std::stoi(src.Scalar("SELECT COUNT(*) FROM MACROSES")));
}

TEST_F(CliTest, RunWithoutEventsLeavesTheJournalsAlone) {
    MakeDatabases();
    {
        Db dst(dest);
        dst.Exec("INSERT INTO EVENTS (EV_ID, EV_DATE, EV_CODE, EV_ADDCODE) VALUES (77, '2026-02-02', 1, 0)");
    }
    ProcessResult run = Run();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Db dst(dest);
    EXPECT_EQ(dst.Rows("SELECT EV_ID FROM EVENTS"), (Rows{{"77"}}));
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM ALARM"), "0");
    EXPECT_EQ(run.out.find("EVENTS"), std::string::npos) << run.out;
    EXPECT_EQ(run.err.rfind("Journals: not transferred\n", 0), 0u) << run.err;
}

// The journals are never cleared: into a destination that holds them already, the check
// and the run before its first write say which rows the copy will refuse, and the account
// tells the refusals from a clean copy.
TEST_F(CliTest, JournalRowsAlreadyInTheDestinationAreSaidBeforehand) {
    MakeDatabases();
    const std::vector<std::string> events{"--events-from", "2026-01-01"};
    ProcessResult first = Run(events);
    ASSERT_EQ(first.exitCode, 0) << first.err;
    const int rows = SummaryRow(first.out, "EVENTS").at(0);
    const std::string present = "EVENTS: " + std::to_string(rows) + " of the " + std::to_string(rows) +
                                " rows from 2026-01-01 are already in the destination; a run will refuse them\n";

    ProcessResult check = Run({"--check", "--events-from", "2026-01-01"});
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.out.find("journal block: EVENTS=EV_ID\n"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("  PROBLEM: " + present), std::string::npos) << check.out;
    // From an earlier date the copy reads more rows, of which the same ones are there.
    const std::string earlier = Run({"--check", "--events-from", "2025-01-01"}).out;
    std::smatch more;
    ASSERT_TRUE(std::regex_search(earlier, more, std::regex("  PROBLEM: EVENTS: ([0-9]+) of the ([0-9]+) rows from 2025-01-01 "))) << earlier;
    EXPECT_EQ(std::stoi(more[1]), rows);
    EXPECT_GT(std::stoi(more[2]), rows);

    ProcessResult second = Run({"--events-from", "2026-01-01", "--summary-json", dir.File("summary.json")});
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_LT(second.err.find("kestrix-cli: " + present), second.err.find("] Clearing the destination")) << second.err;
    EXPECT_EQ(SummaryRow(second.out, "EVENTS"), (std::vector<int>{rows, 0, rows, 0})) << second.out;
    const nlohmann::json account = nlohmann::json::parse(ReadFile(dir.File("summary.json")));
    EXPECT_EQ(account["present"][0], (nlohmann::json{{"name", "EVENTS"}, {"present", rows}, {"rows", rows},
                                                      {"from", "2026-01-01"}})) << account.dump();
    const int written = account["written"], refused = account["refused"];
    EXPECT_GE(refused, rows);
    EXPECT_TRUE(second.out.ends_with("\nEvery row is accounted for: " + std::to_string(written) + " written, " +
                                     std::to_string(refused) + " refused (see the run log).\n")) << second.out;
}

// SIGINT, and SIGHUP (a closed terminal) the same, embedded and through a server.
TEST_F(CliTest, SignalDuringTheCopyInterruptsAtTheNextRow) {
    struct Case {
        int signal;
        bool remote;
    };
    MakeDatabases(60);   // journals large enough to be caught mid-copy
    test::PrivateServer server;
    for (const Case& c : {Case{SIGINT, false}, Case{SIGHUP, false}, Case{SIGHUP, true}}) {
        SCOPED_TRACE(std::to_string(c.signal) + (c.remote ? " through the server" : " embedded"));
        std::filesystem::remove(dest);
        test::MakeSampleDest(dest);
        auto name = [&](const std::string& path) { return c.remote ? server.Remote(path) : path; };
        test::BackgroundProcess cli({test::CliPath(), "--source", name(source), "--dest", name(dest), "--app-dir",
                                     appDir, "--events-from", "2025-01-01", "--summary-json", dir.File("summary.json"),
                                     "--map-file", dir.File("keys.csv")});
        // Progress goes to a file here, one line per table: wait for the first journal.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
        while (cli.Err().find("] EVENTS\n") == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Err();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        kill(cli.Pid(), c.signal);
        ProcessResult run = cli.Wait();

        EXPECT_EQ(run.exitCode, 130) << run.err;
        EXPECT_EQ(run.err.rfind("Journals from: 2025-01-01\n", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(kInterruptedWarning), std::string::npos) << run.err;

        Db src(name(source)), dst(name(dest));
        int copied = std::stoi(dst.Scalar("SELECT COUNT(*) FROM EVENTS"));
        EXPECT_LT(copied, std::stoi(src.Scalar("SELECT COUNT(*) FROM EVENTS")) - 10) << "the copy was not interrupted";
        for (const char* later : {"ALARM", "ACR$EVENTS", "STR_EVENTS", "STR_ALARMS", "ACR$ALARMS"})
            EXPECT_EQ(dst.Scalar(std::string("SELECT COUNT(*) FROM ") + later), "0") << later;
        // The log tells the copy and ends with it: the post-transfer script did not run.
        EXPECT_NE(Log().find(texts::kCopyPassHeader), std::string::npos);
        EXPECT_EQ(Log().find(texts::kBeginRuler, Log().find(texts::kCopyPassHeader)), std::string::npos);

        // The account: the rows copied before the interruption, and the table cut short.
        const std::vector<int> row = SummaryRow(run.out, "EVENTS");
        ASSERT_EQ(row.size(), 4u) << run.out;
        EXPECT_EQ(row[1], copied);
        EXPECT_EQ(row[0], row[1] + row[2]) << "every row read before the interruption was handled";
        EXPECT_TRUE(run.out.ends_with("\nNot accounted for: EVENTS\n")) << run.out;
        const std::string json = ReadFile(dir.File("summary.json"));
        EXPECT_EQ(json.rfind("{\n  \"outcome\": \"interrupted\",\n  \"exit_code\": 130,\n  \"accounted\": false,", 0), 0u)
            << json;
        EXPECT_NE(json.find("\n  \"events_from\": \"2025-01-01\",\n"), std::string::npos) << json;
        EXPECT_EQ(ReadFile(dir.File("keys.csv")).rfind("table,old_key,new_key\nHOSTS,", 0), 0u);
    }
}

TEST_F(CliTest, SignalDuringAStatementThatWaitsForALockCancelsItThroughAServer) {
    // Embedded engines lock the file to their process: the lock holder and the run meet on a server.
    MakeDatabases();
    test::PrivateServer server;
    Db(server.Remote(dest)).Exec("INSERT INTO ACCGROUPS (AG_ID, AG_NAME) VALUES (1, 'kept')");
    // Another client holds that row, so the clearing DELETE of the first listed table waits.
    test::HeldRow held(server.Remote(dest), "UPDATE ACCGROUPS SET AG_NAME = 'held'");
    test::BackgroundProcess cli({test::CliPath(), "--source", server.Remote(source), "--dest", server.Remote(dest),
                                 "--app-dir", appDir});
    ASSERT_TRUE(test::AwaitWaitingStatement(server.Remote(dest), "Delete From ACCGROUPS")) << cli.Err();
    kill(cli.Pid(), SIGINT);
    // Should the cancel not reach the statement, the row is given up after a minute and the
    // run ends at its next row instead, which the first check catches.
    ProcessResult run;
    held.During([&] { run = cli.Wait(); });

    EXPECT_FALSE(held.GaveUp()) << "the waiting DELETE was not cancelled";
    EXPECT_EQ(run.exitCode, 130) << run.err;
    EXPECT_NE(run.err.find(kInterruptedWarning), std::string::npos) << run.err;
    EXPECT_EQ(Log().find(texts::kClearError), std::string::npos) << ToUtf8(Log());
    EXPECT_EQ(Log().find(texts::kCopyPassHeader), std::string::npos) << ToUtf8(Log());
    EXPECT_EQ(Db(server.Remote(dest)).Scalar("SELECT AG_NAME FROM ACCGROUPS"), "held") << "the DELETE was undone";
}

// A server that stops answering during the journal copy, and a signal meanwhile: the run
// ends as interrupted soon after the server answers again, whatever became of the cancel.
// (A server that never answers again is cut off 30 s after the signal: too slow a case for
// the suite, tried by hand.)
TEST_F(CliTest, SignalWhileTheServerStallsEndsTheRunInBoundedTime) {
    struct Case {
        const char* name;
        std::optional<int> resumeAfterSeconds;
        int exitCode;
        int endWithinSeconds;   // of the resumption, else of the signal
        std::string message;
        const char* jobs;       // streams of the journal block, each with attachments of its own
    };
    const Case cases[] = {
        {"the server answers again", 4, 130, 10, "kestrix-cli: the transfer was interrupted by the user", "1"},
        {"two streams, the server answers again", 4, 130, 10, "kestrix-cli: the transfer was interrupted by the user", "2"},
    };
    MakeDatabases(60);   // journals large enough to be caught mid-copy
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dest);
        test::MakeSampleDest(dest);
        test::PrivateServer server;
        test::BackgroundProcess cli({test::CliPath(), "--source", server.Remote(source), "--dest",
                                     server.Remote(dest), "--app-dir", appDir, "--events-from", "2025-01-01",
                                     "--jobs", c.jobs});
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
        while (cli.Err().find("] EVENTS") == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Err();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        server.Signal(SIGSTOP);
        std::this_thread::sleep_for(std::chrono::seconds(1));   // the run now waits for the server
        kill(cli.Pid(), SIGINT);
        if (c.resumeAfterSeconds) {
            std::this_thread::sleep_for(std::chrono::seconds(*c.resumeAfterSeconds));
            server.Signal(SIGCONT);
        }
        const bool ended = cli.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(c.endWithinSeconds));
        server.Signal(SIGCONT);
        ASSERT_TRUE(ended) << cli.Err();
        ProcessResult run = cli.Wait();
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
}

// A server that does not answer the connect: any of the three signals ends a run or a check
// at once, and nothing was written.
TEST_F(CliTest, SignalWhileConnectingToAStalledServerEndsAtOnce) {
    MakeDatabases();
    test::PrivateServer server;
    const auto destBefore = Dump(dest);
    server.Signal(SIGSTOP);
    struct Row {
        int signal;
        bool check;
    };
    for (const Row& row : {Row{SIGINT, false}, Row{SIGTERM, false}, Row{SIGHUP, false}, Row{SIGTERM, true}}) {
        SCOPED_TRACE(std::to_string(row.signal) + (row.check ? " check" : " run"));
        std::vector<std::string> argv{test::CliPath(), "--source", server.Remote(source), "--dest",
                                      server.Remote(dest), "--app-dir", appDir};
        if (row.check) argv.push_back("--check");
        test::BackgroundProcess cli(argv);
        std::this_thread::sleep_for(std::chrono::seconds(2));   // started, and waiting for the server
        kill(cli.Pid(), row.signal);
        ASSERT_TRUE(cli.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(2))) << cli.Err();
        ProcessResult run = cli.Wait();
        EXPECT_EQ(run.exitCode, 130) << run.err;
        EXPECT_EQ(run.err, row.check ? "kestrix-cli: check interrupted\n"
                                     : "Journals: not transferred\nkestrix-cli: interrupted before anything was written\n");
        EXPECT_EQ(Log(), "");
    }
    server.Signal(SIGCONT);
    EXPECT_EQ(Dump(server.Remote(dest)), destBefore);
}

// Output into a pipe that is closed at once: every write fails, the run goes on to its end.
TEST_F(CliTest, ClosedOutputPipeDoesNotEndTheRun) {
    MakeDatabases();
    test::PrivateServer server;
    for (bool remote : {false, true}) {
        auto name = [&](const std::string& path) { return remote ? server.Remote(path) : path; };
        const std::string command = "'" + test::CliPath() + "' --source '" + name(source) + "' --dest '" + name(dest) +
                                    "' --app-dir '" + appDir + "' --summary-json '" + dir.File("s.json") +
                                    "' 2>&1 | true; exit ${PIPESTATUS[0]}";
        ProcessResult run = test::RunProcess({"/bin/bash", "-c", command});
        EXPECT_EQ(run.exitCode, 0) << remote;
        EXPECT_EQ(ReadFile(dir.File("s.json")).rfind("{\n  \"outcome\": \"finished\",\n  \"exit_code\": 0,", 0), 0u)
            << ReadFile(dir.File("s.json"));
        EXPECT_NE(Log().find(texts::kEndRuler, Log().find(texts::kCopyPassHeader)), std::string::npos)
            << "the post-transfer script ran";
    }
}

TEST_F(CliTest, StartupCheckFailuresExitThreeWithTheMessageAndAnEmptyLog) {
    source = dir.File("never-opened.fdb");
    std::filesystem::remove(appDir + "/Generator.txt");
    WriteFile(appDir + "/Kestrix.log", "an earlier start");
    ProcessResult run = Run();
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("kestrix-cli: cannot read the generator list Generator.txt in '" + appDir + "/'\n"),
              std::string::npos) << run.err;
    EXPECT_EQ(Log(), "");

    std::filesystem::remove(appDir + "/Conv.txt");
    run = Run();
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("kestrix-cli: cannot read the table list Conv.txt in '" + appDir + "/'\n"),
              std::string::npos) << run.err;
}

// Without --app-dir the program takes its own folder only when the table list is beside it.
TEST_F(CliTest, ProgramFolderIsTheDataFolderOnlyWithTheTableListBesideIt) {
    namespace fs = std::filesystem;
    MakeDatabases();
    // The build folder holds no table list: nothing is created there.
    ProcessResult installed = test::RunProcess({test::CliPath(), "--source", source, "--dest", dest});
    EXPECT_EQ(installed.exitCode, 2);
    EXPECT_EQ(installed.err, "kestrix-cli: no table list Conv.txt beside the program in '" +
                                 fs::path(test::CliPath()).parent_path().string() +
                                 "/': name the data folder with --app-dir DIR\nTry 'kestrix-cli --help'.\n");
    EXPECT_FALSE(fs::exists(fs::path(test::CliPath()).parent_path() / "Kestrix.log"));
    EXPECT_EQ(test::RunProcess({test::CliPath(), "--check", "--source", source, "--dest", dest}).exitCode, 2);

    // A folder copied to a customer's machine: the program beside its data files, any letter case.
    fs::rename(appDir + "/Conv.txt", appDir + "/CONV.TXT");
    fs::copy_file(test::CliPath(), appDir + "/kestrix-cli");
    ProcessResult beside = test::RunProcess({appDir + "/kestrix-cli", "--source", source, "--dest", dest});
    EXPECT_EQ(beside.exitCode, 0) << beside.err;
    EXPECT_NE(beside.err.find("Log: " + appDir + "/Kestrix.log"), std::string::npos) << beside.err;
    EXPECT_NE(Log().find(texts::kCopyPassHeader), std::string::npos);
}

TEST_F(CliTest, RefusedSourceFailsWithTheServerTextAndChangesNothing) {
    test::MakeSampleDest(dest);
    auto destBefore = Dump(dest);
    source = dir.File("missing.fdb");
    ProcessResult run = Run({"--summary-json", dir.File("s.json"), "--map-file", dir.File("k.csv")});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("missing.fdb"), std::string::npos) << run.err;
    EXPECT_TRUE(run.err.ends_with("\nLog: " + appDir + "/Kestrix.log\n")) << run.err;
    EXPECT_EQ(run.out, "") << "an account of a run that copied nothing";
    EXPECT_FALSE(std::filesystem::exists(dir.File("s.json")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("k.csv")));
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Dump(dest), destBefore);
    EXPECT_FALSE(std::filesystem::exists(source));
}

TEST_F(CliTest, MissingPreTransferScriptStopsTheRunNamingTheFile) {
    MakeDatabases();
    auto destBefore = Dump(dest);
    std::filesystem::remove(appDir + "/SQL/_Upd.sql");
    ProcessResult run = Run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("_Upd.sql"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(Dump(dest), destBefore);
}

TEST_F(CliTest, MalformedDataFilesAreLoggedAndNeverCrash) {
    MakeDatabases();
    WriteFile(appDir + "/Conv.txt",
              "\r\nNOEQUALS\r\n   * indented comment\r\nHOSTS=HS_ID\r\nDEVSTATES=DVS_ID@DVS_TYPE = 1 % 2\r\n"
              "NOSUCHTABLE=X_ID\r\nACCGROUPS=AG_ID&AG_NOTE@AG_COLOR = 1");
    WriteFile(appDir + "/Generator.txt", "GEN_HOSTS=HOSTS\r\n=HOSTS/HS_ID\r\n\r\n* comment\r\nGEN_HOSTS=HOSTS/HS_ID");
    WriteFile(appDir + "/SQL/Upd.sql", "");
    ProcessResult run = Run();
    ASSERT_EQ(run.exitCode, 0) << run.err;

    std::string log = Log();
    EXPECT_EQ(Count(log, texts::kClearError + " :  "), 2u) << "the two lines without a table name";
    EXPECT_EQ(Count(log, texts::kClearError + "NOSUCHTABLE :  "), 1u);
    EXPECT_EQ(Count(log, texts::kClearing + "DEVSTATES\r\n"), 1u);
    EXPECT_EQ(Count(log, texts::kGeneratorMaxError + "HOSTS :  "), 1u);
    EXPECT_EQ(Count(log, texts::kGeneratorMaxError + " :  "), 1u) << "the empty line";
    EXPECT_EQ(Count(log, texts::kGeneratorSetError + " :  "), 1u) << "the line without a generator name";
    Db dst(dest);
    EXPECT_EQ(dst.Scalar("SELECT GEN_ID(GEN_HOSTS, 0) FROM RDB$DATABASE"),
              dst.Scalar("SELECT MAX(HS_ID) + 1 FROM HOSTS"));
}

// The parse is tested in-process; here what the programs print and end with: a usage error
// is told on one line (kestrix-cli's followed by where its help is) with status 2 and nothing on
// standard output; the help and the version go to standard output with status 0.
TEST_F(CliTest, UsageErrorsExitTwoWithOneLineAndTheHelpExitsZero) {
    const std::string cli = test::CliPath(), sample = std::string(KESTRIX_BINARY_DIR) + "/kestrix-sample";
    const std::string tryHelp = "\nTry 'kestrix-cli --help'.\n", seeHelp = "; see 'kestrix-sample --help'\n";
    const std::string newSource = dir.File("new.fdb");
    struct Row {
        std::vector<std::string> argv;
        int exitCode;
        std::string out;   // its first line
        std::string err;
    };
    const Row rows[] = {
        {{cli}, 2, "", "kestrix-cli: --source is required" + tryHelp},
        {{cli, "--source", source, "--dest", dest, "--app-dir", appDir, "--jobs=0"}, 2, "",
         "kestrix-cli: --jobs takes a number from 1 to 16, not '0'" + tryHelp},
        {{cli, "--source", source, "--dest", dest, "--app-dir", appDir, "--source", dest}, 2, "",
         "kestrix-cli: --source is given more than once" + tryHelp},
        {{cli, "--help"}, 0, "Moves an access-control installation from one Firebird database into another.\n", ""},
        {{cli, "--version"}, 0, "kestrix-cli " KESTRIX_TEST_VERSION "\n", ""},
        {{sample, "--version"}, 0, "kestrix-sample " KESTRIX_TEST_VERSION "\n", ""},
        {{sample, "source", newSource, "--help"}, 0, "usage: kestrix-sample source PATH [--size N] [--newer] [--samples DIR]\n", ""},
        {{sample}, 2, "", "kestrix-sample: no mode given: source, dest or script" + seeHelp},
        {{sample, "--bogus", newSource}, 2, "", "kestrix-sample: unknown mode '--bogus': source, dest or script" + seeHelp},
        {{sample, "dest"}, 2, "", "kestrix-sample: dest needs a PATH" + seeHelp},
        {{sample, "script", "both"}, 2, "", "kestrix-sample: script takes source or dest, not 'both'" + seeHelp},
        {{sample, "source", newSource, "--bogus"}, 2, "", "kestrix-sample: unknown argument '--bogus'" + seeHelp},
        {{sample, "source", newSource, "--size", "2x"}, 2, "",
         "kestrix-sample: --size takes a number from 0 to 100000, not '2x'" + seeHelp},
        {{sample, "source", newSource, "--newer", "--samples"}, 2, "", "kestrix-sample: --samples needs a value" + seeHelp},
    };
    for (const Row& row : rows) {
        std::string called;
        for (const std::string& arg : row.argv) called += std::filesystem::path(arg).filename().string() + " ";
        SCOPED_TRACE(called);
        const ProcessResult run = test::RunProcess(row.argv);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), row.out);
        if (row.exitCode == 2) { EXPECT_EQ(run.out, ""); }
        EXPECT_EQ(run.err, row.err);
    }
    EXPECT_FALSE(std::filesystem::exists(appDir + "/Kestrix.log"));
    EXPECT_FALSE(std::filesystem::exists(newSource));
    ProcessResult same = test::RunProcess({cli, "--source", " x.fdb", "--dest", "x.fdb ", "--app-dir", appDir});
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_NE(same.err.find(kSameDatabases), std::string::npos) << same.err;
}

// A password file without end or with too long a first line, and a login longer than the
// client library takes: refused with one line that names neither password nor user, before
// anything is connected or written.
TEST_F(CliTest, PasswordFileOrLoginTooLongIsRefusedBeforeAnyConnect) {
    const std::string longLine = dir.File("long"), overlong = dir.File("overlong");
    WriteFile(longLine, std::string(5000, 'p') + "\n");
    WriteFile(overlong, std::string(256, 'p') + "\n");
    const test::Environment noVariables{{"ISC_USER", std::nullopt}, {"ISC_PASSWORD", std::nullopt}};
    const std::string tooLong = "': its first line is longer than 4096 bytes\n";
    const std::string overLibrary = " login is longer than the 255 bytes the client library takes\n";
    struct Row {
        std::vector<std::string> options;
        test::Environment environment;
        std::string err;
    };
    const Row rows[] = {
        {{"--password-file", "/dev/zero"}, noVariables, "kestrix-cli: cannot read the password file '/dev/zero" + tooLong},
        {{"--dest-password-file", longLine}, noVariables, "kestrix-cli: cannot read the password file '" + longLine + tooLong},
        {{"--password-file", overlong}, noVariables, "kestrix-cli: the password of the source" + overLibrary},
        {{"--dest-password-file", overlong, "--check"}, noVariables,
         "kestrix-cli: the password of the destination" + overLibrary},
        {{"--dest-user", std::string(256, 'u')}, noVariables, "kestrix-cli: the user name of the destination" + overLibrary},
        {{}, {{"ISC_USER", std::nullopt}, {"ISC_PASSWORD", std::string(256, 'p')}},
         "kestrix-cli: the password of the source" + overLibrary},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.err);
        std::vector<std::string> argv{test::CliPath(), "--source", source, "--dest", dest, "--app-dir", appDir};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        ProcessResult run = test::RunProcess(argv, row.environment);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(std::filesystem::exists(appDir + "/Kestrix.log"));
    }
}

// A password file that never comes, from a FIFO without a writer or with one that writes
// nothing: a signal ends the program at once, before anything is connected or written.
TEST_F(CliTest, SignalWhileAPasswordFileNeverComesEndsAtOnce) {
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    struct Row {
        int signal;
        bool writer;   // a writer that opens the FIFO and writes nothing
    };
    for (const Row& row : {Row{SIGTERM, false}, Row{SIGINT, false}, Row{SIGHUP, false}, Row{SIGINT, true}}) {
        SCOPED_TRACE(std::to_string(row.signal) + (row.writer ? " with a writer" : " without a writer"));
        test::BackgroundProcess cli({test::CliPath(), "--source", source, "--dest", dest, "--app-dir", appDir,
                                     "--password-file", fifo});
        int writer = -1;
        // Such an open succeeds once the program waits to read the FIFO, and lets it read.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (row.writer && (writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the program did not open the FIFO";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));   // waiting for the file, or its line
        ASSERT_FALSE(cli.EndsBy(std::chrono::steady_clock::now())) << cli.Err();
        kill(cli.Pid(), row.signal);
        const bool ended = cli.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(2));
        if (writer >= 0) close(writer);
        ASSERT_TRUE(ended) << "not ended by the signal";
        ProcessResult run = cli.Wait();
        EXPECT_EQ(run.exitCode, 130);
        EXPECT_EQ(run.err, "kestrix-cli: interrupted\n");
        EXPECT_FALSE(std::filesystem::exists(appDir + "/Kestrix.log"));
    }
}

TEST_F(CliTest, AnOutputThatIsAFileOfTheRunIsRefusedAndLeftWhole) {
    namespace fs = std::filesystem;
    MakeDatabases();
    auto sourceBefore = Dump(source), destBefore = Dump(dest);
    WriteFile(appDir + "/Kestrix.log", "an earlier run");
    fs::create_symlink(source, dir.File("link.fdb"));
    // A shared sticky folder, as /tmp, where another user planted a link to a file of ours.
    const std::string shared = dir.File("shared"), victim = dir.File("victim.csv");
    fs::create_directories(shared);
    fs::permissions(dir.Path(), fs::perms(0755));
    fs::permissions(shared, fs::perms(01777));
    WriteFile(victim, "ours");
    ASSERT_EQ(test::SymlinkAs("nobody", victim, shared + "/keys.csv"), "");
    test::PrivateServer server;
    struct Row { std::string source, dest, output, clash; bool connected; std::string option = "--summary-json"; };
    const Row rows[] = {
        // Seen in the names, before the run log is touched.
        {source, dest, source, "is the source database", false},
        {source, dest, fs::relative(dest).string(), "is the destination database", false},
        {source, dest, dir.File("link.fdb"), "is the source database", false},
        {source, dest, appDir + "/./Kestrix.log", "is the run log", false},
        {source, dest, dest, "is the destination database", false, "--map-file"},
        // Outputs that cannot be written where they are named.
        {source, dest, "/nonexistent/dir/s.json",
         "cannot be written: the folder '/nonexistent/dir' cannot be used: No such file or directory", false},
        {source, dest, shared, "cannot be written: it is a folder", false, "--map-file"},
        {source, dest, shared + "/keys.csv",
         "cannot be written: it is a link that another user owns in the shared folder '" + shared + "'", false,
         "--map-file"},
        // The server on this machine names the file once connected, before anything is written.
        {server.Remote(source), server.Remote(dest), source, "is the source database", true},
        {server.Remote(source), server.Remote(dest), dir.File("link.fdb"), "is the source database", true},
        {source, server.Remote(dest), dest, "is the destination database", true},
    };
    for (const Row& row : rows) {
        ProcessResult run = test::RunProcess({test::CliPath(), "--source", row.source, "--dest", row.dest,
                                              "--app-dir", appDir, row.option, row.output});
        EXPECT_EQ(run.exitCode, 2) << row.output << "\n" << run.err;
        EXPECT_NE(run.err.find("kestrix-cli: " + row.option + " '" + row.output + "' " + row.clash + "; name another file\n"),
                  std::string::npos) << run.err;
        EXPECT_EQ(Log(), row.connected ? "" : "an earlier run");
    }
    EXPECT_EQ(Dump(source), sourceBefore);
    EXPECT_EQ(Dump(dest), destBefore);
    EXPECT_EQ(ReadFile(victim), "ours");

    // A link of the operator's own is replaced by the file, and what it pointed to stays.
    fs::create_symlink(victim, shared + "/own.csv");
    ProcessResult run = Run({"--map-file", shared + "/own.csv"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_FALSE(fs::is_symlink(shared + "/own.csv"));
    EXPECT_EQ(ReadFile(shared + "/own.csv").rfind("table,old_key,new_key\n", 0), 0u);
    EXPECT_EQ(ReadFile(victim), "ours");
}

TEST_F(CliTest, CheckWritesNothingAndExitsByWhatItFinds) {
    MakeDatabases();
    auto sourceBefore = Dump(source), destBefore = Dump(dest);
    ProcessResult clean = Run({"--check", "--events-from", "2026-01-01"});
    EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;
    EXPECT_NE(clean.out.find("HOSTS=HS_ID\n  does:          clear; copy with new keys\n"), std::string::npos)
        << clean.out;
    EXPECT_NE(clean.out.find("journal block: EVENTS=EV_ID\n"), std::string::npos);
    EXPECT_NE(clean.out.find("\nNo problems found.\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(appDir + "/Kestrix.log"));
    EXPECT_EQ(Dump(source), sourceBefore);
    EXPECT_EQ(Dump(dest), destBefore);

    WriteFile(appDir + "/Conv.txt", "HOSTS=HS_IDX\r\n");
    ProcessResult problems = Run({"--check"});
    EXPECT_EQ(problems.exitCode, 1);
    EXPECT_NE(problems.out.find("  PROBLEM: key column HS_IDX does not exist in HOSTS of the source\n"),
              std::string::npos) << problems.out;
    std::filesystem::remove(appDir + "/Conv.txt");
    EXPECT_EQ(Run({"--check"}).exitCode, 3);
}

TEST_F(CliTest, OneDatabaseUnderTwoNamesIsRefusedAndLeftWhole) {
    namespace fs = std::filesystem;
    MakeDatabases();
    auto sourceBefore = Dump(source);
    fs::create_symlink(source, dir.File("link.fdb"));
    fs::create_hard_link(source, dir.File("hard.fdb"));
    test::PrivateServer server;
    const std::string port = std::to_string(server.Port());
    struct Row { std::string source, dest; int exitCode; };
    const Row rows[] = {
        // Seen in the names, before anything is connected.
        {source, fs::relative(source).string(), 2},
        {"\"" + source + "\"", source, 2},
        {dir.File("link.fdb"), source, 2},
        // Seen by the attachments: the server knows its files.
        {"127.0.0.1/" + port + ":" + source, "localhost/" + port + ":" + source, 1},
        {server.Remote(source), server.Remote(dir.File("link.fdb")), 1},
        {server.Remote(dir.File("hard.fdb")), server.Remote(source), 1},
        {server.Remote(dir.Path() + "/./source.fdb"), server.Remote(dir.Path() + "//source.fdb"), 1},
    };
    for (const Row& row : rows) {
        ProcessResult run =
            test::RunProcess({test::CliPath(), "--source", row.source, "--dest", row.dest, "--app-dir", appDir});
        EXPECT_EQ(run.exitCode, row.exitCode) << row.source << " | " << row.dest << "\n" << run.err;
        EXPECT_NE(run.err.find(kSameDatabases), std::string::npos) << run.err;
        if (row.exitCode == 1) { EXPECT_EQ(Log(), ""); }
    }
    EXPECT_EQ(Dump(source), sourceBefore);
}

TEST_F(CliTest, RussianFolderNamesEmbeddedAndThroughAServer) {
    namespace fs = std::filesystem;
    test::PrivateServer server;
    MakeDatabases();
    std::string from = source, to = dest;
    struct Row { std::string folder; bool remote; };
    // Russian letters and a blank; the last folder has a letter Windows-1251 lacks.
    const Row rows[] = {{"Базы И данные", false}, {"Базы И сервер", true}, {"Ω данные", false}};
    for (const Row& row : rows) {
        const std::string folder = dir.File(row.folder), app = folder + "/Программа";
        fs::create_directories(app);
        test::CopySampleAppDir(app);
        fs::rename(from, folder + "/источник.fdb");
        fs::rename(to, folder + "/приемник.fdb");
        from = folder + "/источник.fdb";
        to = folder + "/приемник.fdb";
        auto name = [&](const std::string& path) { return row.remote ? server.Remote(path) : path; };
        auto run = [&] {
            return test::RunProcess({test::CliPath(), "--source", name(from), "--dest", name(to), "--app-dir", app});
        };
        if (&row == &rows[0]) {
            // An error that names a path under such a folder is printed as it is, once.
            fs::rename(app + "/SQL/_Upd.sql", app + "/SQL/away.sql");
            ProcessResult failed = run();
            EXPECT_EQ(failed.exitCode, 1);
            EXPECT_NE(failed.err.find("\"" + app + "/SQL/_Upd.sql\""), std::string::npos) << failed.err;
            fs::rename(app + "/SQL/away.sql", app + "/SQL/_Upd.sql");
        }
        ProcessResult done = run();
        ASSERT_EQ(done.exitCode, 0) << row.folder << "\n" << done.err;
        EXPECT_NE(done.err.find("Log: " + app + "/Kestrix.log"), std::string::npos) << done.err;
        EXPECT_NE(ReadFile(app + "/Kestrix.log").find(texts::kCopyPassHeader), std::string::npos);
        Db dst(name(to));
        EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM CONTROLLERS C JOIN HOSTS H ON H.HS_ID = C.CT_HS_ID"), "3");
    }
}

TEST_F(CliTest, FullDiskUnderTheLogEndsTheRunWithTheFileError) {
    MakeDatabases();
    auto destBefore = Dump(dest);
    std::filesystem::create_symlink("/dev/full", appDir + "/Kestrix.log");
    ProcessResult run = Run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("kestrix-cli: Cannot write file \"" + appDir + "/Kestrix.log\". No space left on device\n"),
              std::string::npos) << run.err;
    EXPECT_EQ(Dump(dest), destBefore) << "the pre-transfer script ran without its log";
}

// Over several streams the journals give what one stream gives: the destination, the log
// (timestamps aside) and the account (seconds aside), embedded and through a server; the
// larger journals copied in parts by key range, several streams at once.
TEST_F(CliTest, JournalsOverStreamsGiveWhatOneStreamGives) {
    MakeDatabases(3);
    struct PartRows {
        PartRows() { ::setenv("KESTRIX_JOURNAL_PART_ROWS", "300", 1); }
        ~PartRows() { ::unsetenv("KESTRIX_JOURNAL_PART_ROWS"); }
    } partRows;
    ASSERT_GT(std::stoi(Db(source).Scalar("SELECT COUNT(*) FROM EVENTS")), 3 * 300);
    const std::string emptyDest = dir.File("empty.fdb");
    std::filesystem::copy_file(dest, emptyDest);
    const std::regex timestamp("[0-9]{2}\\.[0-9]{2}\\.[0-9]{4}( [0-9]{1,2}:[0-9]{2}:[0-9]{2})?");
    const std::regex seconds(" +[0-9]+\\.[0-9]{2}( +[0-9]+\n)");
    for (bool throughServer : {false, true}) {
        SCOPED_TRACE(throughServer ? "server" : "embedded");
        std::optional<test::PrivateServer> server;
        if (throughServer) server.emplace();
        auto name = [&](const std::string& path) { return server ? server->Remote(path) : path; };
        struct Outcome {
            std::map<std::string, Rows> dump;
            std::string log, summary;
        };
        std::vector<Outcome> outcomes;
        for (const char* jobs : {"1", "3"}) {
            std::filesystem::copy_file(emptyDest, dest, std::filesystem::copy_options::overwrite_existing);
            ProcessResult run = test::RunProcess({test::CliPath(), "--source", name(source), "--dest", name(dest),
                                                  "--app-dir", appDir, "--events-from", "2025-01-01", "--jobs", jobs});
            ASSERT_EQ(run.exitCode, 0) << run.err;
            outcomes.push_back({Dump(name(dest)), std::regex_replace(Log(), timestamp, "T"),
                                std::regex_replace(run.out, seconds, " S$1")});
        }
        EXPECT_NE(outcomes[0].summary.find("\nEVENTS "), std::string::npos) << outcomes[0].summary;
        EXPECT_EQ(outcomes[1].dump, outcomes[0].dump);
        EXPECT_EQ(outcomes[1].log, outcomes[0].log);
        EXPECT_EQ(outcomes[1].summary, outcomes[0].summary);
    }
}

TEST_F(CliTest, RunsThroughAFirebirdServer) {
    MakeDatabases();
    test::PrivateServer server;
    ProcessResult run = test::RunProcess({test::CliPath(), "--source", server.Remote(source), "--dest",
                                          server.Remote(dest), "--app-dir", appDir, "--events-from", "2026-01-01"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    Db dst(server.Remote(dest));
    EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM CONTROLLERS C JOIN HOSTS H ON H.HS_ID = C.CT_HS_ID"),
              "3");
    EXPECT_NE(dst.Scalar("SELECT COUNT(*) FROM EVENTS"), "0");
}

// A server whose SYSDBA has a password of its own: given as options, in password files or in
// the client library's variables, it reaches every attachment (the journal streams' and the
// read-back's too); a refused login names the side, the database and the user, and how to
// give a password, and nothing is written.
TEST_F(CliTest, LoginsOfAServerWithItsOwnPassword) {
    namespace fs = std::filesystem;
    std::string password;
    std::random_device random;
    for (int i = 0; i < 16; ++i) password += "abcdefghijkmnpqrstuvwxyzACDEFGHJKLMNPQRTUVWXY345679"[random() % 51];
    test::PrivateServer server(password);
    MakeDatabases();
    const std::string passwordFile = dir.File("password"), sharedFile = dir.File("shared"), wrongFile = dir.File("wrong");
    WriteFile(passwordFile, password + "\n");
    WriteFile(sharedFile, password + "\n");
    WriteFile(wrongFile, "not-" + password + "\n");
    fs::permissions(passwordFile, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(sharedFile, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::permissions(wrongFile, fs::perms::owner_read | fs::perms::owner_write);
    const std::string src = server.Remote(source), dst = server.Remote(dest);
    const test::Environment noVariables{{"ISC_USER", std::nullopt}, {"ISC_PASSWORD", std::nullopt}};

    struct Given {
        const char* name;
        std::vector<std::string> options;
        test::Environment environment;
        bool warned = false;
    };
    const Given accepted[] = {
        {"options", {"--user", "SYSDBA", "--password-file", passwordFile}, noVariables},
        {"a file per side, the fixed user", {"--source-password-file", sharedFile, "--dest-password-file", sharedFile},
         noVariables, true},
        {"the variables", {}, {{"ISC_USER", "SYSDBA"}, {"ISC_PASSWORD", password}}},
    };
    for (const Given& given : accepted) {
        SCOPED_TRACE(given.name);
        std::vector<std::string> argv{test::CliPath(), "--source", src, "--dest", dst, "--app-dir", appDir};
        argv.insert(argv.end(), given.options.begin(), given.options.end());
        std::vector<std::string> check = argv;
        check.push_back("--check");
        ProcessResult checked = test::RunProcess(check, given.environment);
        EXPECT_EQ(checked.exitCode, 0) << checked.err << checked.out;
        const std::vector<std::string> more{"--events-from", "2026-01-01", "--jobs",   "2", "--verify", "--summary-json",
                                            dir.File("s.json"), "--map-file", dir.File("k.csv")};
        argv.insert(argv.end(), more.begin(), more.end());
        ProcessResult run = test::RunProcess(argv, given.environment);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(Count(run.err, "kestrix-cli: warning: the password file '" + sharedFile +
                                     "' can be read by others than its owner"),
                  given.warned ? 1u : 0u) << run.err;
        EXPECT_NE(run.out.find("\nVerified: "), std::string::npos)
            << run.out;
        for (const std::string& output : {run.out, run.err, checked.out, checked.err, Log(), ReadFile(dir.File("s.json")),
                                          ReadFile(dir.File("k.csv"))})
            EXPECT_EQ(output.find(password), std::string::npos) << "the password was written out";
    }

    struct Refused {
        const char* name;
        std::vector<std::string> options;
        test::Environment environment;
        std::string side, database, prefix;   // the side's option prefix
    };
    const auto destBefore = Dump(dest);
    const Refused refused[] = {
        {"the fixed password", {}, noVariables, "source", src, "--source"},
        {"a wrong ISC_PASSWORD", {"--user", "sysdba"}, {{"ISC_PASSWORD", "wrong"}}, "source", src, "--source"},
        {"the destination's file wrong", {"--source-password-file", passwordFile, "--dest-password-file", wrongFile},
         noVariables, "destination", dst, "--dest"},
    };
    for (const Refused& row : refused) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> argv{test::CliPath(), "--source", src, "--dest", dst, "--app-dir", appDir};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        for (bool check : {false, true}) {
            if (check) argv.push_back("--check");
            ProcessResult run = test::RunProcess(argv, row.environment);
            EXPECT_EQ(run.exitCode, 1) << run.err;
            // After the run's journals line (a check has none), the refusal comes first.
            const std::size_t first = check ? 0 : run.err.find('\n') + 1;
            EXPECT_EQ(run.err.find("kestrix-cli: the " + row.side + " database '" + row.database +
                                   "' refused the login of user 'sysdba': "),
                      first) << run.err;
            EXPECT_NE(run.err.find("\nkestrix-cli: give the " + row.side + "'s password in a file with " + row.prefix +
                                   "-password-file FILE or --password-file FILE, or in ISC_PASSWORD; its user with " +
                                   row.prefix + "-user NAME, --user NAME or ISC_USER\n"),
                      std::string::npos) << run.err;
            EXPECT_EQ(run.err.find(password), std::string::npos) << run.err;
            if (!check) {
                EXPECT_EQ(Log(), "");
                EXPECT_EQ(run.out, "") << "an account of a run that copied nothing";
            }
        }
    }
    EXPECT_EQ(Dump(dest), destBefore);
}

TEST_F(CliTest, LostServerEndsTheRunWithThatErrorLoggedOnce) {
    MakeDatabases(60);   // journals large enough to be caught mid-copy
    test::PrivateServer server;
    test::BackgroundProcess cli({test::CliPath(), "--source", server.Remote(source), "--dest", server.Remote(dest),
                                 "--app-dir", appDir, "--events-from", "2025-01-01", "--summary-json",
                                 dir.File("summary.json")});
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
    while (cli.Err().find("] EVENTS\n") == std::string::npos) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));   // rows written, none committed
    server.Kill();
    ProcessResult run = cli.Wait();

    EXPECT_EQ(run.exitCode, 1) << run.err << ToUtf8(Log().substr(Log().size() > 3000 ? Log().size() - 3000 : 0));
    // The error reported is the lost connection, not what the cleanup met afterwards (the
    // indexes it could not make active are warned of before it).
    std::size_t at = run.err.find("kestrix-cli: ");
    while (at != std::string::npos && run.err.compare(at, 22, "kestrix-cli: warning: ") == 0)
        at = run.err.find("kestrix-cli: ", at + 1);
    ASSERT_NE(at, std::string::npos) << run.err;
    std::string error = run.err.substr(at + 13, run.err.find('\n', at) - at - 13);
    if (!error.empty() && error.back() == '\r') error.pop_back();   // the first line of the message
    EXPECT_NE(error.find("connection"), std::string::npos) << run.err;
    EXPECT_EQ(error.find("Transaction is active"), std::string::npos) << run.err;

    // Logged once as a line of its own, not per row, and nothing after the copy: no
    // post-transfer script.
    const std::string log = Log();
    EXPECT_EQ(Count(log, "   " + ToCp1251(error)), 1u) << ToUtf8(log);
    EXPECT_EQ(Count(log, " :  " + ToCp1251(error)), 0u) << ToUtf8(log);
    EXPECT_EQ(log.find(texts::kBeginRuler, log.find(texts::kCopyPassHeader)), std::string::npos) << ToUtf8(log);
    // The journal the connection was lost in is not accounted for.
    EXPECT_NE(run.out.find("\nNot accounted for: "), std::string::npos) << run.out;

    // The account says what the destination holds: rows of a transaction that never
    // committed are not written, rows never tried are not refused, and the rest is lost.
    const std::string json = ReadFile(dir.File("summary.json"));
    EXPECT_EQ(json.rfind("{\n  \"outcome\": \"failed\",", 0), 0u) << json;
    Db dst(dest);
    int lost = 0;
    for (const char* table : {"EVENTS", "ALARM", "ACR$EVENTS", "STR_EVENTS", "STR_ALARMS", "ACR$ALARMS"}) {
        const std::vector<int> counts = JsonCounts(json, table);
        if (counts.empty()) continue;
        EXPECT_EQ(counts[1], std::stoi(dst.Scalar(std::string("SELECT COUNT(*) FROM ") + table))) << table << json;
        EXPECT_EQ(counts[2], static_cast<int>(Count(log, texts::kInsertError + table + " "))) << table << json;
        EXPECT_EQ(counts[3], counts[0] - counts[1] - counts[2]) << table;
        lost += counts[3];
    }
    EXPECT_GT(lost, 0) << json;
    EXPECT_NE(json.find("\"error\": \"" + error), std::string::npos) << json;
    // The journals' index could not be made active again: it is left marked for the next run.
    EXPECT_EQ(Db(dest).Scalar("SELECT COALESCE(RDB$INDEX_INACTIVE, 0) FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'EVENTS_DATE'"),
              "1");
}

// A run killed while the journals load leaves their indexes inactive and forced writes off,
// marked: the check reports them, and the next run sets them back before it writes, with a
// log line each.
TEST_F(CliTest, LoadSettingsLeftByAKilledRunAreReportedAndSetBackByTheNextRun) {
    MakeDatabases(60);   // journals large enough to be caught mid-copy
    const std::string indexes = "SELECT TRIM(RDB$INDEX_NAME), COALESCE(RDB$INDEX_INACTIVE, 0), "
                                "CAST(RDB$DESCRIPTION AS VARCHAR(200)) FROM RDB$INDICES "
                                "WHERE RDB$INDEX_NAME IN ('EVENTS_DATE', 'ALARM_DATE') ORDER BY 1";
    const std::string forcedWrites =
        "SELECT MON$FORCED_WRITES, CAST(RDB$DESCRIPTION AS VARCHAR(200)) FROM MON$DATABASE CROSS JOIN RDB$DATABASE";
    {
        test::BackgroundProcess cli({test::CliPath(), "--source", source, "--dest", dest, "--app-dir", appDir,
                                     "--events-from", "2025-01-01"});
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
        while (cli.Err().find("] EVENTS\n") == std::string::npos) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << cli.Err();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(cli.Pid(), SIGKILL);
        EXPECT_EQ(cli.Wait().exitCode, -1);
    }
    const std::string mark(transfer::kInactiveIndexMark);
    EXPECT_EQ(Db(dest).Rows(indexes), (Rows{{"ALARM_DATE", "1", mark}, {"EVENTS_DATE", "1", mark}}));
    EXPECT_EQ(Db(dest).Rows(forcedWrites), (Rows{{"0", std::string(transfer::kForcedWritesMark)}}));

    ProcessResult check = Run({"--check", "--events-from", "2025-01-01"});
    EXPECT_EQ(check.exitCode, 1) << check.out << check.err;
    for (const char* line : {"PROBLEM: index ALARM_DATE of ALARM was left inactive by a run that did not end or could "
                             "not make it active; the next run makes it active\n",
                             "PROBLEM: index EVENTS_DATE of EVENTS was left inactive by a run that did not end or could "
                             "not make it active; the next run makes it active\n",
                             "PROBLEM: forced writes of the destination were left off by a run that did not end; "
                             "the next run switches them on when no other client is attached\n"})
        EXPECT_NE(check.out.find(line), std::string::npos) << check.out;

    ProcessResult run = Run();   // no journals this time: the indexes are made active all the same
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(Db(dest).Rows(indexes), (Rows{{"ALARM_DATE", "0", "<null>"}, {"EVENTS_DATE", "0", "<null>"}}));
    EXPECT_EQ(Db(dest).Rows(forcedWrites), (Rows{{"1", "<null>"}}));
    const std::string log = Log();
    for (const std::string& line : {texts::kIndexRestored + "EVENTS_DATE (EVENTS)\r\n", texts::kForcedWritesRestored + "\r\n"}) {
        const std::size_t restored = log.rfind(line);
        ASSERT_NE(restored, std::string::npos) << ToUtf8(line) << "\n" << ToUtf8(log);
        EXPECT_LT(restored, log.rfind(texts::kBeginRuler)) << "set back before the pre-transfer script";
    }
    const std::string checked = Run({"--check"}).out;
    EXPECT_EQ(checked.find("left inactive"), std::string::npos) << checked;
    EXPECT_EQ(checked.find("left off"), std::string::npos) << checked;
}

// A small file system of its own, unmounted at the end.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& size) {
        mounted_ = ::mount("tmpfs", dir_.Path().c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    ~SmallDisk() {
        if (mounted_) ::umount(dir_.Path().c_str());
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }
    const std::string& Error() const { return error_; }
    std::string File(const std::string& name) const { return dir_.File(name); }

private:
    TempDir dir_;
    bool mounted_ = false;
    std::string error_;
};

// An output that cannot be written once the run is done (its disk is full) fails the run after
// its account, saying that what is on disk under that name is not this run's.
TEST_F(CliTest, AnOutputThatCannotBeWrittenAtTheEndFailsTheRun) {
    MakeDatabases();
    SmallDisk disk("64k");
    ASSERT_TRUE(disk.Mounted()) << disk.Error();
    const std::string keys = disk.File("keys.csv");
    WriteFile(keys, "an earlier map");
    auto fill = [&](const std::string& name) {
        std::ofstream file(disk.File(name), std::ios::binary);
        const std::string block(512, 'x');
        while (file.write(block.data(), static_cast<std::streamsize>(block.size())).flush()) {
        }
    };
    fill("fill");
    ProcessResult run = Run({"--map-file", keys, "--summary-json", dir.File("summary.json")});
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find("\nEvery row is accounted for"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("kestrix-cli: cannot write the key map: Cannot write file \"" + keys +
                           "\". No space left on device; the file '" + keys + "' on disk is not this run's\n"),
              std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(keys), "an earlier map");
    const std::string json = ReadFile(dir.File("summary.json"));
    EXPECT_EQ(json.rfind("{\n  \"outcome\": \"finished\",\n  \"exit_code\": 1,", 0), 0u) << json;

    std::filesystem::remove(keys);
    fill("more");
    run = Run({"--map-file", keys});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("No space left on device; no file was written\n"), std::string::npos) << run.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(disk.File("")), std::filesystem::directory_iterator()), 2)
        << "a temporary file was left behind";
}

// One writer per destination: through a server, a run or a check started while another run
// writes the destination is refused before it writes anything, naming that run, which goes on
// to its end. The first run is held at a lock: in its clearing pass with one stream, and
// inside the journal copy with four (the statement held then fails on the conflict, logged).
TEST_F(CliTest, ADestinationThatAnotherRunWritesIsRefused) {
    namespace fs = std::filesystem;
    MakeDatabases();
    test::PrivateServer server;
    const std::string remoteSource = server.Remote(source), remoteDest = server.Remote(dest);
    const std::string emptyDest = dir.File("empty.fdb"), secondApp = dir.File("second");
    fs::copy_file(dest, emptyDest);
    fs::create_directories(secondApp);
    test::CopySampleAppDir(secondApp);
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    struct Row { const char* jobs; const char* hold; const char* waiting; };
    const Row rows[] = {{"1", "UPDATE ACCGROUPS SET AG_NAME = 'held'", "Delete From ACCGROUPS"},
                        {"4", "UPDATE KX_GATE SET G = 1", "EXECUTE BLOCK"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("--jobs ") + row.jobs);
        fs::copy_file(emptyDest, dest, fs::copy_options::overwrite_existing);
        {
            // A row the clearing pass deletes, and a gate every new event passes.
            Db db(remoteDest);
            db.Exec("INSERT INTO ACCGROUPS (AG_ID, AG_NAME) VALUES (1, 'kept')");
            db.Exec("CREATE TABLE KX_GATE (G INTEGER)");
            db.Exec("INSERT INTO KX_GATE VALUES (0)");
            db.Exec("CREATE TRIGGER KX_GATE_EVENTS FOR EVENTS BEFORE INSERT AS BEGIN UPDATE KX_GATE SET G = G + 1; END");
        }
        std::optional<test::HeldRow> held(std::in_place, remoteDest, row.hold);
        test::BackgroundProcess first({test::CliPath(), "--source", remoteSource, "--dest", remoteDest, "--app-dir",
                                       appDir, "--events-from", "2025-01-01", "--jobs", row.jobs});
        ASSERT_TRUE(test::AwaitWaitingStatement(remoteDest, row.waiting)) << first.Err();

        const std::string busy = "kestrix-cli: the destination is being written by another run: host " +
                                 std::string(host) + ", process " + std::to_string(first.Pid()) + ", started ";
        // A second run let through would wait at the held row too: it must end by itself.
        test::BackgroundProcess secondRun({test::CliPath(), "--source", remoteSource, "--dest", remoteDest,
                                           "--app-dir", secondApp, "--events-from", "2025-01-01"});
        ASSERT_TRUE(secondRun.EndsBy(std::chrono::steady_clock::now() + std::chrono::seconds(60))) << secondRun.Err();
        ProcessResult second = secondRun.Wait();
        EXPECT_EQ(second.exitCode, 1) << second.err;
        EXPECT_NE(second.err.find(busy), std::string::npos) << second.err;
        EXPECT_TRUE(std::regex_search(second.err, std::regex("started [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\n")))
            << second.err;
        EXPECT_EQ(ReadFile(secondApp + "/Kestrix.log"), "") << "the refused run wrote";
        ProcessResult check = test::RunProcess({test::CliPath(), "--check", "--source", remoteSource, "--dest",
                                                remoteDest, "--app-dir", secondApp});
        EXPECT_EQ(check.exitCode, 1) << check.out;
        EXPECT_NE(check.err.find(busy), std::string::npos) << check.err;

        held.reset();
        ProcessResult done = first.Wait();
        EXPECT_EQ(done.exitCode, 0) << done.err;
        Db dst(remoteDest);
        EXPECT_EQ(dst.Scalar("SELECT COUNT(*) FROM CONTROLLERS C JOIN HOSTS H ON H.HS_ID = C.CT_HS_ID"), "3");
    }
}

// The journals' indexes cannot be built again (the engine's temporary space is missing, as a
// full /tmp would be): each is named in the log with the engine's reason and in the account,
// the generators are still reset, the run fails, and the check names the indexes left.
TEST_F(CliTest, JournalIndexesThatCannotBeBuiltAgainFailTheRunAndAreNamed) {
    MakeDatabases(50);
    const test::Environment noTempSpace =
        test::PrivateEngine(dir.File("engine"), "TempDirectories = " + dir.File("missing") + "\nTempCacheLimit = 0\n");
    std::vector<std::string> argv{test::CliPath(), "--source", source, "--dest",        dest,
                                  "--app-dir",     appDir, "--events-from", "2025-01-01", "--summary-json",
                                  dir.File("summary.json")};
    ProcessResult run = test::RunProcess(argv, noTempSpace);

    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("kestrix-cli: warning: Left inactive: index EVENTS_DATE of EVENTS (sort error"),
              std::string::npos) << run.err;
    EXPECT_NE(run.err.find("left weaker than its schema"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Transfer finished"), std::string::npos) << run.err;
    EXPECT_NE(run.out.find("\nLeft inactive: index EVENTS_DATE of EVENTS (sort error"), std::string::npos) << run.out;
    EXPECT_NE(Log().find(texts::kIndexNotRestored + "EVENTS_DATE (EVENTS): sort error"), std::string::npos)
        << ToUtf8(Log());
    const std::string json = ReadFile(dir.File("summary.json"));
    EXPECT_NE(json.find("\"index\": \"EVENTS_DATE\""), std::string::npos) << json;
    {
        Db dst(dest);   // closed before the check's process opens the file
        EXPECT_EQ(dst.Scalar("SELECT COALESCE(RDB$INDEX_INACTIVE, 0) FROM RDB$INDICES WHERE RDB$INDEX_NAME = 'EVENTS_DATE'"),
                  "1");
        EXPECT_EQ(dst.Scalar("SELECT CASE WHEN GEN_ID(GEN_EVENTS, 0) >= MAX(EV_ID) THEN 'ahead' ELSE 'behind' END FROM EVENTS"),
                  "ahead");
    }
    EXPECT_NE(Log().find(texts::kBeginRuler, Log().find(texts::kCopyPassHeader)), std::string::npos)
        << "the post-transfer script ran";

    ProcessResult check = Run({"--check", "--events-from", "2025-01-01"});
    EXPECT_NE(check.out.find("PROBLEM: index EVENTS_DATE of EVENTS was left inactive"), std::string::npos) << check.out << check.err;
}

// A destination whose disk fills up during the journals ends the run at the first refused
// write, as a lost connection does: logged once, no row refused for it, failed, exit 1.
TEST_F(CliTest, FullDestinationDiskEndsTheRunAtTheFirstRefusedWrite) {
    MakeDatabases(60);
    const auto room = std::filesystem::file_size(dest) + 1'500'000;
    for (const bool throughServer : {false, true}) {
        SCOPED_TRACE(throughServer ? "through a server" : "embedded");
        SmallDisk disk(std::to_string(room));
        if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (it needs root): " << disk.Error();
        const std::string full = disk.File("dest.fdb");
        std::filesystem::copy_file(dest, full);
        std::filesystem::remove(appDir + "/Kestrix.log");
        std::optional<test::PrivateServer> server;
        if (throughServer) server.emplace();
        ProcessResult run = test::RunProcess({test::CliPath(), "--source", source, "--dest",
                                              server ? server->Remote(full) : full, "--app-dir", appDir,
                                              "--events-from", "2025-01-01", "--summary-json", dir.File("summary.json")});

        EXPECT_EQ(run.exitCode, 1) << run.err;
        const std::string log = Log();
        const std::string refused = "Error while trying to write to file";
        // Once as the run's end; the journals' indexes it kept inactive are named with it too.
        const std::size_t indexLines = Count(log, texts::kIndexNotRestored);
        EXPECT_EQ(Count(log, refused), 1u + indexLines) << ToUtf8(log.substr(log.size() > 3000 ? log.size() - 3000 : 0));
        EXPECT_EQ(log.find(texts::kBeginRuler, log.find(texts::kCopyPassHeader)), std::string::npos);
        EXPECT_NE(run.err.find(refused), std::string::npos) << run.err;
        EXPECT_EQ(ReadFile(dir.File("summary.json")).rfind("{\n  \"outcome\": \"failed\",", 0), 0u);
    }
}

} // namespace
} // namespace kestrix
