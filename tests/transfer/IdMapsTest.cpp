#include <gtest/gtest.h>

#include <stdexcept>

#include "db/Error.h"
#include "transfer/IdMaps.h"

namespace kestrix::transfer {
namespace {

TEST(IdMaps, TableNumbersAreExactNames) {
    const std::pair<std::string, int> cases[] = {
        {"HOSTS", 1}, {"CONTROLLERS", 2}, {"PCN", 3}, {"CINPUTS", 4}, {"SLAVES", 5}, {"OUTPUTS", 6},
        {"INPUTS", 7}, {"READERS", 8}, {"MACROSES", 9}, {"hosts", 0}, {"HOSTS ", 0}, {"ZONES", 0}, {"", 0}};
    for (const auto& [name, k] : cases) EXPECT_EQ(TableNo(name), k) << name;
}

TEST(IdMaps, RemapsByFirstEqualEntry) {
    IdMaps maps;
    EXPECT_EQ(maps.RemapId(kReaders, 5), -1);   // empty map

    maps.OldIds(kReaders) = {"3", "5", "5", "-7"};
    maps.NewIds(kReaders) = {"30", "12", "99", "70"};
    EXPECT_EQ(maps.RemapId(kReaders, 5), 12);
    EXPECT_EQ(maps.RemapId(kReaders, -7), 70);
    EXPECT_EQ(maps.RemapId(kReaders, 4), -1);
    EXPECT_EQ(maps.RemapId(kInputs, 5), -1);    // maps are separate

    maps.Clear();
    EXPECT_TRUE(maps.OldIds(kReaders).empty());
    EXPECT_TRUE(maps.NewIds(kReaders).empty());
}

TEST(IdMaps, NewIdThatIsNoNumberIsAConversionError) {
    IdMaps maps;
    maps.OldIds(kHosts) = {"1", "2", "3"};
    maps.NewIds(kHosts) = {"", "x1"};   // an empty entry, a text, and one missing
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
    maps.OldIds(10).push_back("1");
    maps.NewIds(10).push_back("2");
    EXPECT_EQ(maps.RemapId(10, 1), 2);
    EXPECT_THROW(maps.OldIds(0), std::out_of_range);
    EXPECT_THROW(maps.NewIds(11), std::out_of_range);
    EXPECT_THROW(maps.RemapId(-1, 1), std::out_of_range);
}

} // namespace
} // namespace kestrix::transfer
