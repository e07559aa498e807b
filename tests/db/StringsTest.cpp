#include <gtest/gtest.h>

#include "db/Strings.h"

namespace kestrix {
namespace {

TEST(Strings, EachTrimRemovesOnlyItsBlanks) {
    struct Case { std::string text, spaces, spacesAndTabs, blanksAndControls; };
    const Case cases[] = {
        {" \t\r\n\x01 ab c \x1f", "\t\r\n\x01 ab c \x1f", "\r\n\x01 ab c \x1f", "ab c"},
        {"   ", "", "", ""},
        {"\t a \t", "\t a \t", "a", "a"},
        // Cyrillic bytes are above 127 and must survive (no signed-char comparison).
        {" \xC0\xFF ", "\xC0\xFF", "\xC0\xFF", "\xC0\xFF"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TrimSpaces(c.text), c.spaces) << c.text;
        EXPECT_EQ(TrimSpacesAndTabs(c.text), c.spacesAndTabs) << c.text;
        EXPECT_EQ(TrimBlanksAndControls(c.text), c.blanksAndControls) << c.text;
    }
}

TEST(Strings, OneLineJoinsTheLinesOfAMessage) {
    EXPECT_EQ(OneLine("Dynamic SQL Error\r\nSQL error code = -204\nTable unknown\rT\r\n\r\n"),
              "Dynamic SQL Error SQL error code = -204 Table unknown T");
    EXPECT_EQ(OneLine(" a \r\n\r\nb "), " a   b ");
}

TEST(Strings, CaseChangesOnlyTheNamedLetters) {
    // "aZ_9" then Cyrillic small a, capital ya, small yo, small ya.
    const std::string text = "aZ_9\xE0\xDF\xB8\xFF";
    EXPECT_EQ(UpperAscii(text), "AZ_9\xE0\xDF\xB8\xFF");
    EXPECT_EQ(LowerAscii(text), "az_9\xE0\xDF\xB8\xFF");
    EXPECT_EQ(UpperCp1251(text), "AZ_9\xC0\xDF\xA8\xDF");
}

} // namespace
} // namespace kestrix
