#include <gtest/gtest.h>

#include <functional>

#include "db/Error.h"
#include "transfer/MacroTextConverter.h"

namespace kestrix::transfer {
namespace {

class MacroTextConverterTest : public ::testing::Test {
protected:
    MacroTextConverterTest() {
        for (const char* id : {"5", "9"}) maps.AppendOld(kReaders, id);
        for (const char* id : {"12", "19"}) maps.AppendNew(kReaders, id);
        for (const char* id : {"5"}) maps.AppendOld(kOutputs, id);
        for (const char* id : {"25"}) maps.AppendNew(kOutputs, id);
        for (const char* id : {"5", "17"}) maps.AppendOld(kInputs, id);
        for (const char* id : {"35", "40"}) maps.AppendNew(kInputs, id);
    }
    std::string Reader(const std::string& line) { return Remap(line, &MacroTextConverter::RemapReaderLine); }
    std::string Macro(const std::string& line) { return Remap(line, &MacroTextConverter::RemapMacroLine); }
    std::string Remap(const std::string& line, void (MacroTextConverter::*op)(int)) {
        MacroTextConverter p(maps);
        p.Lines = {"untouched", line};
        (p.*op)(1);
        EXPECT_EQ(p.Lines[0], "untouched");
        return p.Lines[1];
    }
    static void ExpectConversionError(const std::function<void()>& f) {
        try {
            f();
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), Error::Kind::Conversion);
        }
    }
    IdMaps maps;
};

TEST_F(MacroTextConverterTest, ReaderLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"[\xCF\xF0\xE0\xE2\xE0]5", "[\xCF\xF0\xE0\xE2\xE0]12"},
        {"R1]9", "R1]19"},
        {"R1]6", "R1]-1"},                       // reader absent from the map
        {"5", "12"},                             // no "]": the whole line is the tail
        {"]00000000000000000009", "]19"},        // 20 characters of tail
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(Reader(line), expected) << line;
    // Only 20 characters after "]" are read: the 21st is dropped, not read as part of the number.
    EXPECT_EQ(Reader("]000000000000000000095"), "]19");
    ExpectConversionError([&] { Reader("a]b]5"); });   // the first "]" counts
    ExpectConversionError([&] { Reader("R1]"); });
    ExpectConversionError([&] { Reader("R1]5 "); });
    ExpectConversionError([&] { Reader(""); });
}

TEST_F(MacroTextConverterTest, CurrentFormatMacroLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"1;0;6;5;0;1;", "1;0;6;12;0;1;"},     // reader
        {"1;0;7;5;0;1;", "1;0;7;25;0;1;"},     // output
        {"1;0;8;5;0;1;", "1;0;8;35;0;1;"},     // input
        {"1;0;262;5;0;", "1;0;262;12;0;"},     // only the low eight bits of the type count
        {"1;0;8;6;", "1;0;8;-1;"},             // absent from the map
        {"1;0;3;005;x;", "1;0;3;5;x;"},        // other types keep the number
        {"a;b;6;9;", "a;b;6;19;"},             // the first two fields are not read
        {"", ""},
        {"1;0;6;5;000000000000", "1;0;6;12;000000000000"},   // 20 characters: current format
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(Macro(line), expected) << line;

    for (const char* bad : {"1;0;6;5", "1;0;6", ";", "1;0;x;5;", "1;0;6;y;", "1;0;6;;"})
        ExpectConversionError([&] { Macro(bad); });
}

TEST_F(MacroTextConverterTest, OlderFormatMacroLinesAreConverted) {
    // code:device:argument:x:x:command text: (21 characters or more)
    auto older = [](const std::string& command) { return "10:17:3:0000:0000:" + command + ":"; };
    const std::pair<std::string, std::string> cases[] = {
        {older("TakeInAT"), "24;0;8;40;0;1;0;"},
        {older("xPutInATx"), "24;0;8;40;0;1;1;"},
        {older("ResetInAT"), "26;0;8;40;0;3;"},
        {older("ActUUCTime"), "22;0;7;-1;0;1;"},
        {older("ResetUU"), "22;0;7;-1;0;0;"},
        {older("ActUUReset"), "22;0;7;-1;0;2;"},
        {older("SetAcMode"), "32;0;6;-1;0;3;"},
        {older("ResetAlrm"), "27;0;6;-1;0;1;"},
        {older("EnableAcWish"), "32;0;6;-1;0;2;"},
        {older("SetPrmsAcMode"), "32;0;6;-1;0;2;"},
        {older("EnableAcQuery"), "32;0;6;-1;0;2;"},
        {older("takeinat"), "10;0;;17;0;3;"},   // case-sensitive; unknown commands keep their values
        {older("Other"), "10;0;;17;0;3;"},
        // The worked example: code 10, device 17, argument 0, TakeInAT; input 17 became 40.
        {"10:17:0:a:b:TakeInAT:", "24;0;8;40;0;1;0;"},
    };
    for (const auto& [line, expected] : cases) EXPECT_EQ(Macro(line), expected) << line;

    // The same text decides by its length: 20 characters are read as the current format.
    std::string at20 = "1:9:3:a:b:ResetAlrm:", at21 = "1:9:3:aa:b:ResetAlrm:";
    ASSERT_EQ(at20.size(), 20u);
    ASSERT_EQ(at21.size(), 21u);
    ExpectConversionError([&] { Macro(at20); });
    EXPECT_EQ(Macro(at21), "27;0;6;19;0;1;");

    for (const char* bad : {"10:17:3:0000:0000:TakeInAT", "10:17:3:0000000000000000000",
                            "x:17:3:0000:0000:TakeInAT:", "10::3:0000:0000:TakeInAT:",
                            "10:17:3 :0000:0000:TakeInAT:"})
        ExpectConversionError([&] { Macro(bad); });
}

TEST_F(MacroTextConverterTest, WholeTextsAndList) {
    MacroTextConverter p(maps);
    p.Lines = {"1;0;6;5;", "", "1;0;8;17;"};
    p.RemapMacroLines();
    EXPECT_EQ(p.Lines, (std::vector<std::string>{"1;0;6;12;", "", "1;0;8;40;"}));
    p.Lines = {"a]5", "b]9"};
    p.RemapReaderLines();
    EXPECT_EQ(p.Lines, (std::vector<std::string>{"a]12", "b]19"}));

    MacroTextConverters list;
    list.Add(nullptr);
    list.Add(std::make_unique<MacroTextConverter>(maps));
    EXPECT_EQ(list.Count(), 1);
}

TEST(TextLines, Join) {
    EXPECT_EQ(JoinTextLines({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(JoinTextLines({}), "");
}

} // namespace
} // namespace kestrix::transfer
