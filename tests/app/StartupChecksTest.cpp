// Start-up checks: the run log created empty, the table list counted, the first failure named.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "run/DataFiles.h"
#include "run/RunLog.h"
#include "run/RunOptions.h"
#include "run/RunState.h"
#include "app/StartupChecks.h"
#include "db/Charset.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "support/Fixtures.h"
#include "support/TestRunState.h"

namespace kestrix {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

class StartupChecks : public ::testing::Test {
protected:
    TempDir dir;
    test::TestRunState state;
    RunOptions options;
    std::string AppDir() const { return dir.Path() + "/"; }
};

TEST_F(StartupChecks, CreateEmptyLogAndCountTableListLines) {
    WriteFile(dir.File("Kestrix.log"), "earlier start");
    WriteFile(dir.File("conv.TXT"), "HOSTS=HS_ID\r\n* comment\r\nREADERS=RD_ID");
    WriteFile(dir.File("Generator.txt"), "");
    EXPECT_EQ(RunStartupChecks(state, options, dir.Path()), std::nullopt);
    EXPECT_EQ(options.appDir, AppDir());
    EXPECT_EQ(options.tableListLines, 3);
    EXPECT_EQ(ReadFile(dir.File("Kestrix.log")), "");
    EXPECT_EQ(state.PumpCount, 1);

    WriteFile(dir.File("conv.TXT"), "");
    RunStartupChecks(state, options, AppDir());
    EXPECT_EQ(options.tableListLines, 1);
}

TEST_F(StartupChecks, FirstFailingCheckGivesItsMessage) {
    EXPECT_EQ(RunStartupChecks(state, options, AppDir()), texts::kTableListMissing);
    EXPECT_EQ(ReadFile(dir.File("Kestrix.log")), "");

    WriteFile(dir.File("Conv.txt"), "HOSTS=HS_ID\r\n");
    EXPECT_EQ(RunStartupChecks(state, options, AppDir()), texts::kGeneratorListMissing);

    EXPECT_EQ(RunStartupChecks(state, options, dir.File("missing")), texts::kLogCreateFailed);
}

TEST(FilePath, KeepsEverythingUpToTheLastSeparator) {
    EXPECT_EQ(FilePath("  /opt/kestrix/kestrix-cli \n"), "/opt/kestrix/");
    EXPECT_EQ(FilePath("kestrix-cli"), "");
}

} // namespace
} // namespace kestrix
