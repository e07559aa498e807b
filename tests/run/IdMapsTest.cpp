#include <gtest/gtest.h>

#include <stdexcept>

#include "db/Error.h"
#include "run/IdMaps.h"

namespace kestrix {
namespace {

TEST(IdMaps, TableNumbersAreExactNames) {
    const std::pair<std::string, int> cases[] = {
        {"HOSTS", 1}, {"CONTROLLERS", 2}, {"PCN", 3}, {"CINPUTS", 4}, {"SLAVES", 5}, {"OUTPUTS", 6},
        {"INPUTS", 7}, {"READERS", 8}, {"MACROSES", 9}, {"hosts", 0}, {"HOSTS ", 0}, {"ZONES", 0}, {"", 0}};
    for (const auto& [name, k] : cases) EXPECT_EQ(MapNumberOf(name), k) << name;
}

TEST(IdMaps, RemapsByFirstEqualEntry) {
    IdMaps maps;
    EXPECT_EQ(maps.RemapId(kReaders, 5), -1);   // empty map

    for (const char* id : {"3", "5", "5", "-7"}) maps.AppendOld(kReaders, id);
    for (const char* id : {"30", "12", "99", "70"}) maps.AppendNew(kReaders, id);
    EXPECT_EQ(maps.RemapId(kReaders, 5), 12);
    EXPECT_EQ(maps.RemapId(kReaders, -7), 70);
    EXPECT_EQ(maps.RemapId(kReaders, 4), -1);
    EXPECT_EQ(maps.RemapId(kInputs, 5), -1);    // maps are separate

    maps.Clear();
    EXPECT_TRUE(maps.OldIds(kReaders).empty());
    EXPECT_TRUE(maps.NewIds(kReaders).empty());
}

TEST(IdMaps, LookupsFollowTheListsAsTheyGrow) {
    IdMaps maps;
    for (int i = 0; i < 5000; ++i) {
        maps.AppendOld(kInputs, std::to_string(i * 3));
        maps.AppendNew(kInputs, std::to_string(i + 100000));
        if (i % 1000 == 0) {
            EXPECT_EQ(maps.RemapId(kInputs, i * 3), i + 100000);
        }
    }
    maps.AppendOld(kInputs, "0");   // a repeated old key never hides the first
    maps.AppendNew(kInputs, "7");
    EXPECT_EQ(maps.RemapId(kInputs, 0), 100000);
    EXPECT_EQ(maps.RemapId(kInputs, 14997), 104999);
    EXPECT_EQ(maps.RemapId(kInputs, 1), -1);
    maps.Clear();
    EXPECT_EQ(maps.RemapId(kInputs, 3), -1);
    maps.AppendOld(kInputs, "3");
    maps.AppendNew(kInputs, "9");
    EXPECT_EQ(maps.RemapId(kInputs, 3), 9);
}

TEST(IdMaps, NewIdThatIsNoNumberIsAConversionError) {
    IdMaps maps;
    for (const char* id : {"1", "2", "3"}) maps.AppendOld(kHosts, id);
    for (const char* id : {"", "x1"}) maps.AppendNew(kHosts, id);   // an empty entry, a text, and one missing
    for (int old : {1, 2, 3}) {
        try {
            maps.RemapId(kHosts, old);
            ADD_FAILURE() << "no error for " << old;
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), Error::Kind::Conversion);
        }
    }
}

TEST(IdMaps, MapNumbersOutsideOneToTenAreRefused) {
    IdMaps maps;
    maps.AppendOld(10, "1");
    maps.AppendNew(10, "2");
    EXPECT_EQ(maps.RemapId(10, 1), 2);
    EXPECT_THROW(maps.OldIds(0), std::out_of_range);
    EXPECT_THROW(maps.NewIds(11), std::out_of_range);
    EXPECT_THROW(maps.RemapId(-1, 1), std::out_of_range);
}

TEST(IdMaps, KeyMapQuotesOnlyFieldsThatNeedIt) {
    const std::pair<std::string, std::string> fields[] = {
        {"ACR$EVENTS", "ACR$EVENTS"},   {"12", "12"},     {"", ""},
        {"a,b", "\"a,b\""},             {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\"", "\"\"\"\""},             {"two\nlines", "\"two\nlines\""}, {"cr\r", "\"cr\r\""},
        {"$1,\"x\"", "\"$1,\"\"x\"\"\""}};
    for (const auto& [field, written] : fields) EXPECT_EQ(CsvField(field), written) << field;

    // Keys are Windows-1251 in the maps and UTF-8 in the file; a row without a new key gets -1.
    IdMaps maps;
    maps.AppendOld(kHosts, "7");
    maps.AppendNew(kHosts, "1001");
    maps.AppendOld(kMacroses, "\xCA,1");
    EXPECT_EQ(KeyMapCsv(maps), "table,old_key,new_key\nHOSTS,7,1001\nMACROSES,\"К,1\",-1\n");
}

} // namespace
} // namespace kestrix
