#include <gtest/gtest.h>

#include "transfer/GeneratorList.h"
#include "transfer/TableList.h"

namespace kestrix::transfer {
namespace {

struct ListCase {
    std::string line;
    bool comment, hash, percent, at, amp;
    std::string table, key, condition, tail;
};

TEST(TableList, TakesLinesApart) {
    const ListCase cases[] = {
        {"HOSTS=HST_ID", false, false, false, false, false, "HOSTS", "HST_ID", "", ""},
        {"  \t* HOSTS=HST_ID", true, false, false, false, false, "", "", "", ""},
        {"HOSTS=HST_ID *", false, false, false, false, false, "HOSTS", "HST_ID *", "", ""},
        {"OWNER=OW_ID@OW_ID = 5 ", false, false, false, true, false, "OWNER", "OW_ID", "OW_ID = 5 ", "OW_ID = 5 "},
        {"T=K#@A=1", false, true, false, true, false, "T", "K", "A=1", "A=1"},
        {"T=K%", false, false, true, false, false, "T", "K", "", ""},
        // A "%" inside the condition still ends the head, there.
        {"T=K@A%B", false, false, true, true, false, "T", "K@A", "A%B", "A%B"},
        {"T=K&COL", false, false, false, false, true, "T", "K", "", "COL"},
        // "@" comes before "&" in the order of markers, whatever their positions.
        {"T=K&C@W", false, false, false, true, true, "T", "K&C", "W", "W"},
        {"T=K@W&C", false, false, false, true, true, "T", "K", "W&C", "W&C"},
        {"NOEQ", false, false, false, false, false, "", "NOEQ", "", ""},
        {"T =K", false, false, false, false, false, "T ", "K", "", ""},
        {"A=B=C", false, false, false, false, false, "A", "B=C", "", ""},
        {"", false, false, false, false, false, "", "", "", ""},
        {"\r", false, false, false, false, false, "", "\r", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line: " + c.line);
        TableListLine p = ParseTableListLine(c.line);
        EXPECT_EQ(p.comment, c.comment);
        EXPECT_EQ(p.hasHash, c.hash);
        EXPECT_EQ(p.hasPercent, c.percent);
        EXPECT_EQ(p.hasAt, c.at);
        EXPECT_EQ(p.hasAmp, c.amp);
        EXPECT_EQ(p.table, c.table);
        EXPECT_EQ(p.key, c.key);
        EXPECT_EQ(p.condition, c.condition);
        EXPECT_EQ(p.tail, c.tail);
    }
}

TEST(TableList, ACyrillicLetterBeforeTheStarMakesNoComment) {
    // Cyrillic bytes are above 127 and are no blanks (no signed-char comparison).
    EXPECT_FALSE(ParseTableListLine("\xC0*").comment);
    EXPECT_TRUE(ParseTableListLine(" \t\x01*").comment);
}

TEST(TableList, JournalTablesAreExactNames) {
    for (const char* name : {"EVENTS", "ALARM", "ACR$EVENTS", "ACR$ALARMS", "STR_EVENTS", "STR_ALARMS"}) {
        EXPECT_TRUE(IsJournalTable(name)) << name;
        EXPECT_TRUE(IsJournalOrDescriptionTable(name)) << name;
    }
    for (const char* name : {"EVDESC", "ACR$EVDESC"}) {
        EXPECT_FALSE(IsJournalTable(name)) << name;
        EXPECT_TRUE(IsJournalOrDescriptionTable(name)) << name;
    }
    for (const char* name : {"events", "EVENTS ", "", "HOSTS", "EVDESC2"}) {
        EXPECT_FALSE(IsJournalTable(name)) << name;
        EXPECT_FALSE(IsJournalOrDescriptionTable(name)) << name;
    }
}

TEST(GeneratorList, TakesLinesApart) {
    struct Case { std::string line; bool comment; std::string generator, table, column; };
    const Case cases[] = {
        {"GEN_HOSTS=HOSTS/HST_ID", false, "GEN_HOSTS", "HOSTS", "HST_ID"},
        {" * GEN_HOSTS=HOSTS/HST_ID", true, "", "", ""},
        {"GEN = HOSTS / HST_ID", false, "GEN ", " HOSTS ", " HST_ID"},
        {"GEN=HOSTS", false, "GEN", "HOSTS", ""},
        {"HOSTS/HST_ID", false, "", "HOSTS", "HST_ID"},
        {"G=T/A=B/C", false, "G", "T", "A=B/C"},
        {"G/T=X", false, "", "G", "T=X"},
        {"", false, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("line: " + c.line);
        GeneratorLine p = ParseGeneratorLine(c.line);
        EXPECT_EQ(p.comment, c.comment);
        EXPECT_EQ(p.generator, c.generator);
        EXPECT_EQ(p.table, c.table);
        EXPECT_EQ(p.column, c.column);
    }
}

} // namespace
} // namespace kestrix::transfer
