#include <gtest/gtest.h>

#include "scripts/ScriptReader.h"

namespace kestrix::scripts {
namespace {

TEST(ScriptReader, TerminatorLines) {
    for (const char* line : {"", "   ", "\t\r\x01", "{***}", "  {***} DROP TABLE X", "---", "SELECT 1 --- x"})
        EXPECT_TRUE(IsTerminatorLine(line)) << line;
    for (const char* line : {"-- comment", "SELECT 1", " ;", "{**}", "- - -", "\xC0"})
        EXPECT_FALSE(IsTerminatorLine(line)) << line;
}

TEST(ScriptReader, CutsStatementsAsTheRunnerReads) {
    using Script = std::vector<std::vector<std::string>>;
    const std::pair<std::vector<std::string>, Script> cases[] = {
        {{""}, {{}}},                                         // empty file
        {{}, {{}}},
        {{"A"}, {{"A"}}},                                     // end of file ends the statement
        {{"A", " B", ""}, {{"A", " B"}}},                     // a closing blank line adds nothing
        {{"A", "", "", "B"}, {{"A"}, {}, {"B"}}},             // two terminators: empty statement
        {{"A", "{***}", "B", "--- x", "C"}, {{"A"}, {"B"}, {"C"}}},
        {{"", "A"}, {{}, {"A"}}},
        {{"A", "", ""}, {{"A"}, {}}},
        {{"-- note", "A"}, {{"-- note", "A"}}},
    };
    for (const auto& [lines, script] : cases) EXPECT_EQ(SplitScript(lines), script);
}

} // namespace
} // namespace kestrix::scripts
