// Run log, run state, text conversion and data-file lookup.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "db/Error.h"
#include "run/DataFiles.h"
#include "run/RunLog.h"
#include "run/RunState.h"
#include "db/Charset.h"
#include "run/Texts.h"
#include "support/Fixtures.h"
#include "support/TestRunState.h"

namespace kestrix {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(Text, RoundTripsCyrillicAndRefusesWhatWindows1251Lacks) {
    std::string cp = ToCp1251("Перенос данных Ёё №");
    EXPECT_EQ(cp, "\xCF\xE5\xF0\xE5\xED\xEE\xF1 \xE4\xE0\xED\xED\xFB\xF5 \xA8\xB8 \xB9");
    EXPECT_EQ(ToUtf8(cp), "Перенос данных Ёё №");
    try {
        ToCp1251("snow \xE2\x98\x83");
        FAIL() << "a character without a Windows-1251 form was accepted";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::Conversion);
        EXPECT_NE(std::string(e.what()).find("byte 5"), std::string::npos) << e.what();
    }
    EXPECT_THROW(ToCp1251("broken \xD0"), Error);
    // Printing never fails, and a file name always finds its place in a Windows-1251 text.
    EXPECT_EQ(ToUtf8("a\x98z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(FileNameToCp1251("/tmp/Базы И/Ω\xD0.fdb"), ToCp1251("/tmp/Базы И/") + "??.fdb");
}

TEST(Texts, RulersAndWarningAreByteExact) {
    EXPECT_EQ(texts::kBeginRuler.size(), 51u);
    EXPECT_EQ(texts::kEndRuler.size(), 51u);
    EXPECT_EQ(texts::kErrorHeading.substr(0, 15), "########       ");
    EXPECT_EQ(texts::kInterruptedWarning.substr(0, 39), std::string(39, ' '));
    EXPECT_EQ(std::count(texts::kInterruptedWarning.begin(), texts::kInterruptedWarning.end(), '\r'), 2);
    EXPECT_EQ(texts::kTableListMissing.find("\r" + std::string(9, ' ')), ToCp1251("Не найден Файл со списком копируемых таблиц,").size());
}

TEST(RunLog, TimestampIsShortDateBlankLongTimeAndDateAloneAtMidnight) {
    std::tm t{};
    t.tm_year = 2026 - 1900; t.tm_mon = 11; t.tm_mday = 7; t.tm_hour = 9; t.tm_min = 5; t.tm_sec = 3;
    EXPECT_EQ(FormatTimestamp(t), "07.12.2026 9:05:03");
    t.tm_hour = 23; t.tm_min = 59; t.tm_sec = 59;
    EXPECT_EQ(FormatTimestamp(t), "07.12.2026 23:59:59");
    t.tm_hour = 0; t.tm_min = 0; t.tm_sec = 0;
    EXPECT_EQ(FormatTimestamp(t), "07.12.2026");
    t.tm_sec = 1;
    EXPECT_EQ(FormatTimestamp(t), "07.12.2026 0:00:01");
}

TEST(RunLog, CreateEmptiesAndAppendAddsCrLfLines) {
    TempDir dir;
    std::string path = dir.File("Kestrix.log");
    WriteFile(path, "old run\r\n");
    RunLog::Create(path);
    EXPECT_EQ(ReadFile(path), "");
    RunLog::Append(path, texts::kInsertError + "HOSTS");
    {
        RunLog log(path);
        log.Line("");
        log.Line("first part\r\nsecond part\r\nthird part");
    }
    RunLog::Append(path, "next run");
    EXPECT_EQ(ReadFile(path), texts::kInsertError + "HOSTS\r\n\r\nfirst part\r\nsecond part\r\nthird part\r\nnext run\r\n");
}

TEST(RunLog, MissingFolderIsAFileError) {
    TempDir dir;
    try {
        RunLog::Append(dir.File("no/such/Kestrix.log"), "x");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::File);
    }
    EXPECT_THROW(RunLog::Create(dir.File("no/such/Kestrix.log")), Error);
}

TEST(RunLog, FullDiskFailsAtTheWriteWithTheFileError) {
    TempDir dir;
    std::string path = dir.File("Kestrix.log");
    std::filesystem::create_symlink("/dev/full", path);
    RunLog::Create(path);   // nothing to write: the start-up check passes
    auto failure = [&](auto write) {
        Error e = test::Raised(write);
        EXPECT_EQ(e.kind(), Error::Kind::File);
        EXPECT_EQ(e.code(), ENOSPC);
        EXPECT_NE(e.text().find(path), std::string::npos) << e.text();
    };
    failure([&] { RunLog::Append(path, "x"); });
    RunLog log(path);
    failure([&] { log.Line("a line"); });
}

TEST(RunLog, AppendingToALogThatIsGoneFailsAndCreatesNothing) {
    TempDir dir;
    std::string path = dir.File("Kestrix.log");
    RunLog::Create(path);
    std::remove(path.c_str());
    try {
        RunLog::Append(path, "x");
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::File);
    }
    EXPECT_THROW(RunLog log(path), Error);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(RunState, ProgressStaysWithinItsRange) {
    test::TestRunState state;
    EXPECT_EQ(state.AllProgress().Max(), 100);
    state.SetAllMax(3);
    for (int i = 0; i < 5; ++i) state.StepAll();
    EXPECT_EQ(state.AllProgress().Position(), 3);
    state.SetAllPosition(-4);
    EXPECT_EQ(state.AllProgress().Position(), 0);
    state.SetTableMax(0);
    state.StepTable();
    EXPECT_EQ(state.TableProgress().Position(), 0);
    state.SetTableMax(10);
    state.SetTablePosition(7);
    state.SetTableMax(5);
    EXPECT_EQ(state.TableProgress().Position(), 5);
}

TEST(DataFiles, FoundWithoutRegardToLetterCase) {
    TempDir dir;
    std::filesystem::create_directories(dir.File("sql"));
    WriteFile(dir.File("GENERATOR.TXT"), "");
    WriteFile(dir.File("sql/_UPD.sql"), "");
    std::string appDir = dir.Path() + "/";
    EXPECT_EQ(FindDataFile(appDir, kGeneratorListFile), dir.File("GENERATOR.TXT"));
    EXPECT_EQ(FindDataFile(appDir, kPreScriptFile), dir.File("sql/_UPD.sql"));
    EXPECT_EQ(FindDataFile(appDir, kPostScriptFile), appDir + "SQL/Upd.sql");
}

} // namespace
} // namespace kestrix
