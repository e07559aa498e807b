// The check before a run on the sample installation: a table list with each kind of problem,
// the generator list and the scripts, and the rows it counts against the rows a real run reads.
#include <algorithm>
#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "app/RunDriver.h"
#include "app/StartupChecks.h"
#include "app/TransferCheck.h"
#include "db/Databases.h"
#include "support/Fixtures.h"
#include "support/TestRunState.h"
#include "support/Sample.h"
#include "transfer/BulkLoad.h"

namespace kestrix {
namespace {

using test::TempDir;
using test::WriteFile;

class TransferCheckTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        databases = new TempDir;
        test::MakeSampleSource(databases->File("source.fdb"));
        test::MakeSampleDest(databases->File("dest.fdb"));
    }
    static void TearDownTestSuite() {
        delete databases;
        databases = nullptr;
    }
    void SetUp() override {
        std::filesystem::create_directories(appDir);
        test::CopySampleAppDir(appDir);
        options.sourceName = databases->File("source.fdb");
        options.destName = databases->File("dest.fdb");
        options.appDir = appDir + "/";
    }
    CheckResult Check(const std::string& tableList) {
        WriteFile(appDir + "/Conv.txt", tableList);
        return CheckTransfer(options);
    }

    static TempDir* databases;
    TempDir dir;
    std::string appDir = dir.File("app");
    RunOptions options;
};
TempDir* TransferCheckTest::databases = nullptr;

bool HasProblem(const CheckedLine& line, const std::string& part) {
    for (const CheckText& problem : line.problems)
        if (Rendered(problem).find(part) != std::string::npos) return true;
    return false;
}

std::vector<std::string> English(const std::vector<CheckText>& texts) {
    std::vector<std::string> english;
    for (const CheckText& text : texts) english.push_back(Rendered(text));
    return english;
}

// Every phrase has both languages, its arguments filled, and the Russian differs.
TEST(CheckPhraseTest, EveryPhraseIsSaidInBothLanguages) {
    for (int says = 0; says <= static_cast<int>(CheckSays::Problems); ++says) {
        const CheckText text(static_cast<CheckSays>(says), {"A1", "B2", "C3", "D4"});
        const std::string english = Rendered(text), russian = Rendered(text, CheckLanguage::Russian);
        EXPECT_FALSE(english.empty() || russian.empty()) << says;
        EXPECT_NE(english, russian) << says;
        EXPECT_EQ(english.find('%') + russian.find('%'), 2 * std::string::npos) << says;
    }
}

TEST_F(TransferCheckTest, EachKindOfProblemIsReportedAtItsLine) {
    struct Case {
        const char* list;
        int line;              // 1-based line of the list that carries the problem
        const char* problem;   // part of its text; empty: the whole list has no problem
    };
    const Case cases[] = {
        {"HOSTS=HS_IDX", 1, "key column HS_IDX does not exist in HOSTS of the source"},
        {"HOSTS=HS_ID\r\nNOSUCHTABLE=X_ID", 2, "table NOSUCHTABLE does not exist in the destination"},
        {"hosts=HS_ID", 1, "'hosts' is not written exactly as HOSTS"},
        {"HOSTS =HS_ID", 1, "'HOSTS ' is not written exactly as HOSTS"},
        {"hosts=HS_ID\r\nCONTROLLERS=CT_ID", 2, "references to HOSTS are translated, but HOSTS is not copied"},
        {"CONTROLLERS=CT_ID\r\nHOSTS=HS_ID", 1, "HOSTS is not copied before this line"},
        {"HOSTS=HS_ID&HS_NAME", 1, "HOSTS is cleared and never refilled"},
        {"HOSTS=HS_ID\r\nHOSTS=HS_ID%", 1, "HOSTS is cleared and never refilled"},
        {"HOSTS=HS_ID\r\nCONTROLLERS=CT_ID\r\nPCN=PC_ID\r\nCINPUTS=CI_ID\r\nSLAVES=SL_ID\r\nOUTPUTS=OU_ID\r\n"
         "INPUTS=IN_ID\r\nREADERS=RD_ID", 8, "ZONES is cleared and never refilled"},
        {"OPERATORS=OP_ID@OP_NAME LIKE 'A%'", 1, "the '%' inside the condition"},
        {"ACCGROUPS=AG_ID\r\nACCGROUPS=AG_ID&AG_NOPE", 2, "update column AG_NOPE does not exist"},
        {"ACCGROUPS=AG_ID\r\nACCGROUPS=AG_ID&ag_note ", 2, "update column 'ag_note ' matches a column of ACCGROUPS only after"},
        {"\r\nHOSTS=HS_ID", 1, "no table name"},
        {"ACCGROUPS=AG_ID@AG_NOPE = 1", 1, "the source rows cannot be read"},
        {"ACCGROUPS=AG_ID\r\nDEVSTATES=DVS_ID%\r\n* comment\r\nEVENTS=EV_ID", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        CheckResult result = Check(c.list);
        if (*c.problem == 0) {
            EXPECT_EQ(result.ProblemCount(), 0) << CheckReportText(result);
            continue;
        }
        ASSERT_GE(result.lines.size(), static_cast<std::size_t>(c.line));
        EXPECT_TRUE(HasProblem(result.lines[c.line - 1], c.problem)) << CheckReportText(result);
    }
}

TEST_F(TransferCheckTest, GeneratorListAndScriptProblemsAreReported) {
    WriteFile(appDir + "/Generator.txt",
              "* comment\r\nGEN_HOSTS=HOSTS/HS_IDX\r\nGEN_NONE=HOSTS/HS_ID\r\nGEN_HOSTS=NOTABLE/X_ID\r\n"
              "GEN_HOSTS=HOSTS/HS_ID");
    std::filesystem::remove(appDir + "/SQL/Upd.sql");
    CheckResult result = Check("HOSTS=HS_ID");
    EXPECT_EQ(English(result.fileProblems),
              (std::vector<std::string>{"Generator.txt line 2: column 'HS_IDX' does not exist in HOSTS",
                                        "Generator.txt line 3: generator 'GEN_NONE' does not exist in the destination",
                                        "Generator.txt line 4: table 'NOTABLE' does not exist in the destination",
                                        "script file SQL/Upd.sql is missing"}));
    EXPECT_EQ(result.ProblemCount(), 4);
}

// Forced writes are reported as the database has them: a mark over forced writes that are on
// is no problem, one over forced writes that are off is.
TEST_F(TransferCheckTest, ForcedWritesLeftOffAreReportedOnlyWhenOff) {
    const std::string dest = dir.File("marked.fdb");
    std::filesystem::copy_file(databases->File("dest.fdb"), dest);
    test::Db(dest).Exec("COMMENT ON DATABASE IS '" + std::string(transfer::kForcedWritesMark) + "'");
    options.destName = dest;
    const std::string leftOff = "forced writes of the destination were left off";
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "on" : "off");
        db::Connection unattached;
        db::SetStandardParams(unattached);
        unattached.SetDatabaseFile(dest);
        unattached.SetForcedWrites(on);
        const std::vector<std::string> problems = English(Check("HOSTS=HS_ID").fileProblems);
        EXPECT_EQ(std::any_of(problems.begin(), problems.end(),
                              [&](const std::string& p) { return p.starts_with(leftOff); }),
                  !on);
    }
}

TEST_F(TransferCheckTest, ColumnsOfACopyAsTheRunChoosesThem) {
    CheckResult result = Check("HOSTS=HS_ID\r\nACCGROUPS=AG_ID&AG_NOTE");
    const CheckedLine& hosts = result.lines[0];
    EXPECT_EQ(English(hosts.actions), (std::vector<std::string>{"clear", "copy with new keys"}));
    EXPECT_TRUE(hosts.source.table && hosts.source.key && hosts.dest.table && hosts.dest.key);
    EXPECT_EQ(std::count(hosts.copied.begin(), hosts.copied.end(), "HS_ID"), 0) << "the destination numbers anew";
    EXPECT_EQ(std::count(hosts.noValue.begin(), hosts.noValue.end(), "HS_PORT"), 1);
    EXPECT_TRUE(hosts.portSetToOne);
    EXPECT_NE(CheckReportText(result).find("HS_PORT (set to 1)"), std::string::npos);
    const CheckedLine& update = result.lines[1];
    EXPECT_EQ(update.copied, (std::vector<std::string>{"AG_NOTE"}));
    // A problem of the line's own spelling does not hide its update column.
    const CheckResult spelled = Check("hosts=HS_ID&HS_NAME");
    EXPECT_EQ(spelled.lines.at(0).copied, (std::vector<std::string>{"HS_NAME"})) << CheckReportText(spelled);
    EXPECT_TRUE(HasProblem(update, "ACCGROUPS is cleared and never refilled"));
}

TEST_F(TransferCheckTest, SampleHasNoProblemAndItsCountsAreTheRowsARunReads) {
    options.events = true;
    options.startDate = db::DateTime{2026, 1, 1, 0, 0, 0, 0};
    std::filesystem::copy_file(databases->File("dest.fdb"), dir.File("dest.fdb"));
    options.destName = dir.File("dest.fdb");
    CheckResult result = CheckTransfer(options);
    EXPECT_EQ(result.ProblemCount(), 0) << CheckReportText(result);
    EXPECT_FALSE(std::filesystem::exists(appDir + "/Kestrix.log")) << "the check writes no log";

    test::TestRunState state;
    RunOptions run;
    ASSERT_EQ(RunStartupChecks(state, run, appDir), std::nullopt);
    run.events = true;
    run.startDate = options.startDate;
    run.sourceName = options.sourceName;
    run.destName = options.destName;
    db::Databases dm;
    RunDriver driver(state, dm);
    driver.Control().postScriptPause = std::chrono::milliseconds(0);
    driver.Run(run);

    // A table's copy and its column update ('&' line) each handle the rows the check counts,
    // as the run's account has them.
    std::map<std::string, long long> counted, handled;
    for (const CheckedLine& line : result.lines)
        if (line.rows) counted[line.table] += *line.rows;
    for (const TableAccount& t : state.Account().Tables()) handled[t.table] += t.written + t.refused + t.undone;
    for (const auto& [table, rows] : counted) EXPECT_EQ(rows, handled[table]) << table;
    EXPECT_GT(counted.size(), 20u);

    // The columns the check names for each copy are the columns the run's copy wrote.
    std::size_t at = 0;
    for (const transfer::CopiedTable& copy : driver.Copies()) {
        while (at < result.lines.size() && result.lines[at].table != copy.request.table) ++at;
        ASSERT_LT(at, result.lines.size()) << copy.request.table;
        EXPECT_EQ(result.lines[at++].copied, copy.plan.WrittenColumns()) << copy.request.table;
    }
    EXPECT_GT(driver.Copies().size(), 25u);
}

} // namespace
} // namespace kestrix
