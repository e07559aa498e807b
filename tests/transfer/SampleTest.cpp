// The sample installation holds the cases the engine handles, consistently with its data files.
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include <gtest/gtest.h>

#include "generator/Sample.h"
#include "support/Fixtures.h"
#include "support/Sample.h"
#include "transfer/EngineSides.h"
#include "transfer/InsertBlock.h"

namespace kestrix::test {
namespace {

class SampleTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        MakeSampleSource(dir_->File("source.fdb"));
        MakeSampleDest(dir_->File("dest.fdb"));
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string Source() { return dir_->File("source.fdb"); }
    static std::string Dest() { return dir_->File("dest.fdb"); }

    static int Count(Db& db, const std::string& sql) { return std::stoi(db.Scalar(sql)); }
    static bool HasColumn(Db& db, const std::string& table, const std::string& column) {
        return Count(db, "select count(*) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = '" + table +
                             "' and RDB$FIELD_NAME = '" + column + "'") == 1;
    }
    static bool HasTable(Db& db, const std::string& table) {
        return Count(db, "select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = '" + table + "'") == 1;
    }
    static std::vector<std::string> SplitCrLf(const std::string& text) {
        std::vector<std::string> lines;
        std::size_t from = 0, at;
        while ((at = text.find("\r\n", from)) != std::string::npos) {
            lines.push_back(text.substr(from, at - from));
            from = at + 2;
        }
        if (from < text.size()) lines.push_back(text.substr(from));
        return lines;
    }

    static TempDir* dir_;
};
TempDir* SampleTest::dir_ = nullptr;

TEST_F(SampleTest, SourceReferencesResolveExceptTheDeliberatelyUnknownOnes) {
    Db db(Source());
    struct Ref {
        const char *table, *column, *target, *key;
        int unknown;
    };
    const Ref refs[] = {
        {"CONTROLLERS", "CT_HS_ID", "HOSTS", "HS_ID", 1},   {"PCN", "PC_CT_ID", "CONTROLLERS", "CT_ID", 0},
        {"CINPUTS", "CI_CT_ID", "CONTROLLERS", "CT_ID", 0}, {"SLAVES", "SL_CT_ID", "CONTROLLERS", "CT_ID", 0},
        {"OUTPUTS", "OU_SL_ID", "SLAVES", "SL_ID", 0},      {"INPUTS", "IN_SL_ID", "SLAVES", "SL_ID", 0},
        {"READERS", "RD_SL_ID", "SLAVES", "SL_ID", 0},      {"READERS", "RD_IN_1", "INPUTS", "IN_ID", 0},
        {"READERS", "RD_IN_3", "INPUTS", "IN_ID", 0},       {"READERS", "RD_IN_4", "INPUTS", "IN_ID", 1},
        {"READERS", "RD_OUT_IND1", "OUTPUTS", "OU_ID", 0},  {"READERS", "RD_OUT_CLOSE", "OUTPUTS", "OU_ID", 0},
        {"AGRIGHTS", "AR_RD_ID", "READERS", "RD_ID", 1},    {"AGSCH", "AS_RD_ID", "READERS", "RD_ID", 0},
        {"CARDSDEF", "CD_CT_ID", "CONTROLLERS", "CT_ID", 0}, {"DAYSCH", "DS_CT_ID", "CONTROLLERS", "CT_ID", 0},
        {"TIMERS", "TM_CT_ID", "CONTROLLERS", "CT_ID", 0},  {"PRGDEF", "PD_CT_ID", "CONTROLLERS", "CT_ID", 0},
        {"MAKROS_RIGHT", "MR_MCR_ID", "MACROSES", "MCR_ID", 1}, {"ROBOTS$ACTIONS", "RA_HS_ID", "HOSTS", "HS_ID", 0},
    };
    for (const Ref& r : refs) {
        std::string from = std::string(" from ") + r.table + " where " + r.column;
        EXPECT_GT(Count(db, "select count(*)" + from + " is not null"), 0) << r.table << "." << r.column;
        EXPECT_EQ(Count(db, "select count(*)" + from + " not in (select " + r.key + " from " + r.target + ")"),
                  r.unknown)
            << r.table << "." << r.column;
    }
    // PRGDEF: every device type 4..8 and one more, each device found in the table of its type.
    EXPECT_EQ(Count(db, "select count(distinct PD_TYPE) from PRGDEF where PD_TYPE between 4 and 8"), 5);
    EXPECT_GT(Count(db, "select count(*) from PRGDEF where PD_TYPE not between 4 and 8"), 0);
    EXPECT_EQ(Count(db, "select count(*) from PRGDEF where "
                        "(PD_TYPE = 4 and PD_DEV_ID not in (select RD_ID from READERS)) or "
                        "(PD_TYPE = 5 and PD_DEV_ID not in (select CI_ID from CINPUTS)) or "
                        "(PD_TYPE = 6 and PD_DEV_ID not in (select PC_ID from PCN)) or "
                        "(PD_TYPE = 7 and PD_DEV_ID not in (select IN_ID from INPUTS)) or "
                        "(PD_TYPE = 8 and PD_DEV_ID not in (select OU_ID from OUTPUTS))"),
              0);
    // Readers with some device columns NULL and others set.
    EXPECT_GT(Count(db, "select count(*) from READERS where RD_IN_2 is null and RD_IN_1 is not null"), 0);
    // Keys with gaps.
    EXPECT_LT(Count(db, "select count(*) from HOSTS"), Count(db, "select max(HS_ID) from HOSTS"));
}

TEST_F(SampleTest, SourceJournalsJoinTheirDescriptionsAroundTheStartDate) {
    Db db(Source());
    const std::string start = std::string("'") + sample::kDemoStartDate + "'";
    const char* const journals[][2] = {{"EVENTS", "EV_DATE"},     {"ALARM", "AL_DATE"},
                                       {"ACR$EVENTS", "AEV_DATE"}, {"ACR$ALARMS", "AAL_DATE"},
                                       {"STR_EVENTS", "EV_DATE"}, {"STR_ALARMS", "AL_DATE"}};
    for (const auto& j : journals) {
        EXPECT_GT(Count(db, std::string("select count(*) from ") + j[0] + " where " + j[1] + " < " + start), 0) << j[0];
        EXPECT_GT(Count(db, std::string("select count(*) from ") + j[0] + " where " + j[1] + " >= " + start), 0)
            << j[0];
    }
    EXPECT_EQ(Count(db, "select count(distinct ED_HARDTYPE) from EVDESC where ED_HARDTYPE between 0 and 8"), 9);
    EXPECT_GT(Count(db, "select count(*) from EVDESC where ED_HARDTYPE > 8"), 0);
    // The generated rows (from key 101) each find exactly one description, directly or by +256.
    for (const char* j : {"EVENTS E where E.EV_ID >= 101 and (select count(*) from EVDESC D where "
                          "D.ED_CODE = E.EV_CODE and (E.EV_ADDCODE = D.ED_ADDCODE or E.EV_ADDCODE - 256 = D.ED_ADDCODE))",
                          "ALARM E where E.AL_ID >= 101 and (select count(*) from EVDESC D where "
                          "D.ED_CODE = E.AL_CODE and (E.AL_ADDCODE = D.ED_ADDCODE or E.AL_ADDCODE - 256 = D.ED_ADDCODE))"})
        EXPECT_EQ(Count(db, std::string("select count(*) from ") + j + " <> 1"), 0) << j;
    EXPECT_GT(Count(db, "select count(*) from EVENTS E, EVDESC D where E.EV_CODE = D.ED_CODE and "
                        "E.EV_ADDCODE = D.ED_ADDCODE + 256 and E.EV_DATE >= " + start),
              0);
}

TEST_F(SampleTest, SourceOwnersMacrosAndSettingsCarryTheirSpecialCases) {
    Db db(Source());
    EXPECT_GT(Count(db, "select max(octet_length(OW_PHOTO)) from OWNER"), 16 * 1024);
    EXPECT_GT(Count(db, "select count(*) from OWNER where OW_PHOTO is null"), 0);
    EXPECT_GT(Count(db, "select count(*) from OWNER where OW_ARCHIVE = 1"), 0);
    EXPECT_EQ(Count(db, "select count(*) from OWNER where OW_LASTNAME = '" + W("Ёлкина") + "'"), 1);

    EXPECT_EQ(Count(db, "select count(*) from INIDATA where ID_SECTION in "
                        "('USER_CAN_FILTER', 'USER_FILTERS', 'CTRL_FILTERS')"),
              3);
    auto rights = db.Rows("select ID_BLOB from INIDATA where ID_SECTION = 'USERS_RD_RIGHTS'");
    ASSERT_FALSE(rights.empty());
    for (const auto& row : rights) {
        auto lines = SplitCrLf(row[0]);
        ASSERT_FALSE(lines.empty());
        for (const auto& line : lines) {
            std::size_t p = line.find(']');
            ASSERT_NE(p, std::string::npos) << line;
            EXPECT_TRUE(p + 1 < line.size() &&
                        std::all_of(line.begin() + p + 1, line.end(), [](char c) { return c >= '0' && c <= '9'; }))
                << line;
        }
    }

    std::map<std::string, std::string> fill;
    for (const auto& row : db.Rows("select MCR_ID, MCR_FILL from MACROSES")) fill[row[0]] = row[1];
    ASSERT_EQ(fill.count("5") + fill.count("9") + fill.count("12") + fill.count("13"), 4u);
    bool line20 = false, line21 = false;
    for (const auto& line : SplitCrLf(fill["5"])) {
        EXPECT_LE(line.size(), 20u) << line;
        line20 |= line.size() == 20;
    }
    for (const auto& line : SplitCrLf(fill["9"])) {
        EXPECT_GE(line.size(), 21u) << line;
        line21 |= line.size() == 21;
    }
    EXPECT_TRUE(line20 && line21);
    EXPECT_EQ(fill["12"], "");
    EXPECT_EQ(Count(db, "select count(*) from MACROSES where MCR_ID = 12 and MCR_FILL is not null"), 1);
    EXPECT_NE(fill["13"].find('\n'), std::string::npos);
    EXPECT_EQ(fill["13"].find('\r'), std::string::npos);
}

TEST_F(SampleTest, DestinationIsFreshAndHandsOutKeysBeyondTheSource) {
    std::map<std::string, std::string> sourceNames;
    std::map<std::string, int> sourceMax;
    const char* const idTables[][3] = {{"GEN_HOSTS", "HOSTS", "HS_ID"},       {"GEN_CONTROLLERS", "CONTROLLERS", "CT_ID"},
                                       {"GEN_PCN", "PCN", "PC_ID"},           {"GEN_CINPUTS", "CINPUTS", "CI_ID"},
                                       {"GEN_SLAVES", "SLAVES", "SL_ID"},     {"GEN_OUTPUTS", "OUTPUTS", "OU_ID"},
                                       {"GEN_INPUTS", "INPUTS", "IN_ID"},     {"GEN_READERS", "READERS", "RD_ID"},
                                       {"GEN_MACROSES", "MACROSES", "MCR_ID"}};
    {
        Db source(Source());
        for (const auto& row : source.Rows("select ED_ID, ED_USER_NAME from EVDESC")) sourceNames[row[0]] = row[1];
        for (const auto& t : idTables)
            sourceMax[t[0]] = Count(source, std::string("select max(") + t[2] + ") from " + t[1]);
    }
    Db dest(Dest());
    for (const char* table : {"HOSTS", "CONTROLLERS", "READERS", "MACROSES", "OWNER", "OWNERPHOTOS", "EVENTS"})
        EXPECT_EQ(Count(dest, std::string("select count(*) from ") + table), 0) << table;
    for (const auto& t : idTables)
        EXPECT_GT(Count(dest, std::string("select gen_id(") + t[0] + ", 0) from RDB$DATABASE"), sourceMax[t[0]]) << t[0];

    // Descriptions: the same keys on both sides (one extra each), other user columns.
    int shared = 0;
    for (const auto& row : dest.Rows("select ED_ID, ED_USER_NAME from EVDESC")) {
        auto it = sourceNames.find(row[0]);
        if (it == sourceNames.end()) continue;
        ++shared;
        EXPECT_NE(it->second, row[1]) << "ED_ID " << row[0];
    }
    EXPECT_EQ(shared, static_cast<int>(sourceNames.size()) - 1);
    EXPECT_EQ(Count(dest, "select count(*) from ACR$EVDESC"), 4);

    // A new host takes its key from the generator; a new owner gets its photo row.
    dest.Exec("insert into HOSTS (HS_NAME) values ('probe')");
    EXPECT_EQ(dest.Scalar("select HS_ID from HOSTS"), "1001");
    dest.Exec("insert into OWNER (OW_ID, OW_LASTNAME) values (7, 'probe')");
    EXPECT_EQ(dest.Rows("select OW_ID, OW_PHOTO from OWNERPHOTOS"),
              (std::vector<std::vector<std::string>>{{"7", "<null>"}}));
}

TEST_F(SampleTest, DataFilesNameWhatTheSchemasHoldInAUsableOrder) {
    TempDir app;
    CopySampleAppDir(app.Path());
    for (const char* name : {"Conv.txt", "Generator.txt", "SQL/_Upd.sql", "SQL/Upd.sql"}) {
        std::string text = ReadFile(app.File(name));
        ASSERT_FALSE(text.empty()) << name;
        std::size_t lf = std::count(text.begin(), text.end(), '\n');
        std::size_t crlf = 0;
        for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at + 2)) ++crlf;
        EXPECT_EQ(lf, crlf) << name;
    }
    EXPECT_NE(ReadFile(app.File("SQL/_Upd.sql")).find("\r\n{***}\r\n"), std::string::npos);

    Db source(Source());
    Db dest(Dest());
    std::map<std::string, std::size_t> position;
    std::size_t n = 0;
    for (const auto& line : SplitCrLf(ReadFile(app.File("Conv.txt")))) {
        ++n;
        if (!line.empty() && line[0] == '*') continue;
        std::size_t eq = line.find('=');
        std::size_t end = line.find_first_of("#%@&");
        ASSERT_NE(eq, std::string::npos) << line;
        std::string table = line.substr(0, eq);
        std::string key = line.substr(eq + 1, end == std::string::npos ? std::string::npos : end - eq - 1);
        EXPECT_TRUE(HasColumn(dest, table, key)) << line;
        if (table != "OWNERPHOTOS") {
            EXPECT_TRUE(HasColumn(source, table, key)) << line;
        }
        if (end != std::string::npos && line[end] == '&') {
            std::string column = line.substr(end + 1);
            EXPECT_TRUE(HasColumn(source, table, column) && HasColumn(dest, table, column)) << line;
            EXPECT_TRUE(position.count(table)) << "copied before its column update: " << line;
        }
        position.emplace(table, n);
    }
    const char* const order[][2] = {
        {"HOSTS", "CONTROLLERS"},  {"HOSTS", "ROBOTS$ACTIONS"}, {"CONTROLLERS", "PCN"},  {"CONTROLLERS", "CINPUTS"},
        {"CONTROLLERS", "SLAVES"}, {"SLAVES", "OUTPUTS"},       {"SLAVES", "INPUTS"},    {"INPUTS", "READERS"},
        {"OUTPUTS", "READERS"},    {"CONTROLLERS", "CARDSDEF"}, {"CONTROLLERS", "DAYSCH"}, {"CONTROLLERS", "TIMERS"},
        {"READERS", "PRGDEF"},     {"CINPUTS", "PRGDEF"},       {"PCN", "PRGDEF"},       {"READERS", "AGRIGHTS"},
        {"READERS", "AGSCH"},      {"READERS", "MACROSES"},     {"MACROSES", "MAKROS_RIGHT"}, {"OWNER", "OWNERPHOTOS"},
        {"READERS", "INIDATA"},
    };
    for (const auto& o : order) {
        ASSERT_TRUE(position.count(o[0]) && position.count(o[1])) << o[0] << " " << o[1];
        EXPECT_LT(position[o[0]], position[o[1]]) << o[0] << " before " << o[1];
    }
    for (const char* table : {"EVDESC", "ACR$EVDESC"}) EXPECT_TRUE(position.count(table)) << table;

    int generators = 0;
    for (const auto& line : SplitCrLf(ReadFile(app.File("Generator.txt")))) {
        if (!line.empty() && line[0] == '*') continue;
        std::size_t eq = line.find('='), slash = line.find('/');
        ASSERT_TRUE(eq != std::string::npos && slash != std::string::npos && eq < slash) << line;
        std::string generator = line.substr(0, eq);
        EXPECT_EQ(Count(dest, "select count(*) from RDB$GENERATORS where RDB$GENERATOR_NAME = '" + generator + "'"), 1)
            << line;
        EXPECT_TRUE(HasColumn(dest, line.substr(eq + 1, slash - eq - 1), line.substr(slash + 1))) << line;
        ++generators;
    }
    EXPECT_EQ(generators, Count(dest, "select count(*) from RDB$GENERATORS where coalesce(RDB$SYSTEM_FLAG, 0) = 0"));
}

TEST(SampleScript, IsDeterministicAndGrowsWithTheSize) {
    std::string one = sample::SourceDataScript(1);
    EXPECT_EQ(one, sample::SourceDataScript(1));
    EXPECT_TRUE(sample::SourceDataScript(0).empty());
    auto readers = [](const std::string& script) {
        std::size_t count = 0;
        for (std::size_t at = script.find("INSERT INTO READERS"); at != std::string::npos;
             at = script.find("INSERT INTO READERS", at + 1))
            ++count;
        return count;
    };
    std::size_t r1 = readers(one), r2 = readers(sample::SourceDataScript(2)), r3 = readers(sample::SourceDataScript(3));
    EXPECT_GT(r2, r1);
    EXPECT_EQ(r3 - r2, r2 - r1);
}

// Through a server, a table's rows go in blocks declared from its insert's parameters, and a
// table whose block cannot be declared quietly goes row by row: every column type of the
// destination schema must have a declaration.
TEST_F(SampleTest, EveryDestinationColumnHasABlockDeclaration) {
    Db dest(Dest());
    const auto tables = dest.Rows("select trim(RDB$RELATION_NAME) from RDB$RELATIONS "
                                  "where RDB$SYSTEM_FLAG = 0 and RDB$VIEW_BLR is null");
    ASSERT_GT(tables.size(), 20u);
    test::Side side(Dest());
    db::WorkUnit work(side.statement);
    for (const auto& table : tables) {
        side.statement.ClearSql();
        side.statement.AddSqlLine("select * from " + table[0]);
        side.statement.Prepare();
        for (int i = 0; i < side.statement.ColumnCount(); ++i)
            EXPECT_NO_THROW(side.statement.ColumnAt(i).Declaration()) << table[0] << "." << side.statement.ColumnAt(i).Name();
    }
}

} // namespace
} // namespace kestrix::test
