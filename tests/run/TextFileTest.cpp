#include <gtest/gtest.h>

#include "db/Error.h"
#include "support/Fixtures.h"
#include "run/TextFile.h"

namespace kestrix {
namespace {

TEST(TextFile, ReadsLinesAsTheLoopsDo) {
    using Lines = std::vector<std::string>;
    const std::pair<std::string, Lines> cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\r\n", {""}},
        {"a\rb\nc", {"a", "b", "c"}},
        {"\xD2\xE5\xF1\xF2\r\n", {"\xD2\xE5\xF1\xF2"}},
    };
    test::TempDir dir;
    for (const auto& [bytes, lines] : cases) {
        test::WriteFile(dir.File("list.txt"), bytes);
        EXPECT_EQ(ReadTextLines(dir.File("list.txt")), lines) << bytes;
    }
}

TEST(TextFile, SplitsTextFromTheDatabaseLikeAFile) {
    using Lines = std::vector<std::string>;
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\nc\r\n", {"a", "b", "c"}},
        {"a\r\n\r\n", {"a", ""}},
        {"\n\r", {"", ""}},
        {std::string("a\r\nb\0c\r\n", 8), {"a", "b"}},   // a NUL byte ends the text
    };
    for (const auto& [bytes, lines] : cases) EXPECT_EQ(SplitTextLines(bytes), lines) << bytes;
}

TEST(TextFile, MissingFileIsAFileErrorNamingIt) {
    test::TempDir dir;
    try {
        ReadTextLines(dir.File("Conv.txt"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::File);
        EXPECT_NE(e.text().find(dir.File("Conv.txt")), std::string::npos) << e.text();
    }
}

} // namespace
} // namespace kestrix
