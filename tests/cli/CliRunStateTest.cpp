// The command line's live progress line, in process.
#include <iostream>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/CliRunState.h"

namespace kestrix::cli {
namespace {

// What the terminal shows: the text after the last "clear the line".
std::string Shown(const std::ostringstream& err) {
    const std::string all = err.str();
    return all.substr(all.rfind("\033[K") + 3);
}

TEST(CliRunStateTest, LiveLineShowsTheCurrentTablesOwnCounts) {
    std::ostringstream err;
    std::streambuf* terminal = std::cerr.rdbuf(err.rdbuf());
    CliRunState state(true);
    state.SetAllMax(2);
    state.StageStarted(RunStage::Table, "DEPARTMENTS");
    state.SetTableMax(4);
    for (int row = 0; row < 4; ++row) state.StepTable();
    state.StepAll();
    state.StageStarted(RunStage::Table, "OPERATORS");
    const std::string started = Shown(err);
    state.SetTableMax(3);   // as a copy starts: its rows counted, then read from the first
    state.SetTablePosition(0);
    const std::string counted = Shown(err);
    for (int row = 0; row < 3; ++row) state.StepTable();
    state.EndProgressLine();
    std::cerr.rdbuf(terminal);

    EXPECT_EQ(started.rfind("OPERATORS [....................] 0/0  all ", 0), 0u) << started;
    EXPECT_EQ(counted.rfind("OPERATORS [....................] 0/3  all ", 0), 0u) << counted;
}

} // namespace
} // namespace kestrix::cli
