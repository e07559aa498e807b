// Small databases of their own, copied and read back by the run driver, embedded and through
// a server with blocks: texts keep their bytes in every character set, and the read-back
// neither reports what the copy was required to write nor passes what it was not.
#include <filesystem>

#include <gtest/gtest.h>

#include "app/StartupChecks.h"
#include "support/Fixtures.h"
#include "support/ReadBackRun.h"

namespace kestrix {
namespace {

using test::Db;
using test::TempDir;
using test::W;

class ReadBackTest : public test::ReadBackRunTest {
protected:
    // Both databases from their scripts, the table list, and a run.
    void Run(const std::string& sourceScript, const std::string& destScript, const std::string& conv) {
        test::CreateDatabase(dir.File("source.fdb"), sourceScript);
        test::CreateDatabase(dir.File("dest.fdb"), destScript);
        std::filesystem::create_directories(appDir + "/SQL");
        test::WriteFile(appDir + "/Conv.txt", conv);
        test::WriteFile(appDir + "/Generator.txt", "");
        test::WriteFile(appDir + "/SQL/_Upd.sql", "");
        test::WriteFile(appDir + "/SQL/Upd.sql", "");
        ASSERT_EQ(RunStartupChecks(state, options, appDir), std::nullopt);
        driver.Run(options);
    }
    const TableAccount& Table(const std::string& name) const {
        for (const TableAccount& t : state.Account().Tables())
            if (t.table == name) return t;
        throw std::runtime_error("no account of " + name);
    }
};

// A blob column of every character set, and a binary one, holding 4, 32,764 and 70,000 bytes
// of one Cyrillic letter: on both sides of the largest text a block carries.
TEST_P(ReadBackTest, TextBlobsKeepTheirBytesInEveryCharacterSet) {
    const char* columns[] = {"BN", "BW", "BU", "BO", "B0"};
    const std::string table =
        "CREATE TABLE T_U (ID INTEGER NOT NULL PRIMARY KEY, BN BLOB SUB_TYPE 1 CHARACTER SET NONE, "
        "BW BLOB SUB_TYPE 1 CHARACTER SET WIN1251, BU BLOB SUB_TYPE 1 CHARACTER SET UTF8, "
        "BO BLOB SUB_TYPE 1 CHARACTER SET OCTETS, B0 BLOB SUB_TYPE 0);\n";
    const std::string rows = W(
        "SET TERM ^;\n"
        "CREATE PROCEDURE SH (N INTEGER) RETURNS (B BLOB SUB_TYPE 1 CHARACTER SET UTF8) AS\n"
        "DECLARE I INTEGER = 0;\n"
        "BEGIN B = ''; WHILE (I < N) DO BEGIN\n"
        "  IF (N - I >= 1000) THEN BEGIN B = B || RPAD('', 1000, 'Ш'); I = I + 1000; END\n"
        "  ELSE BEGIN B = B || 'Ш'; I = I + 1; END END SUSPEND; END^\n"
        "SET TERM ;^\n"
        "COMMIT;\n"
        "INSERT INTO T_U (ID, BU) SELECT 1, B FROM SH(2);\n"
        "INSERT INTO T_U (ID, BU) SELECT 2, B FROM SH(16382);\n"
        "INSERT INTO T_U (ID, BU) SELECT 3, B FROM SH(35000);\n"
        // The same bytes in the other columns, none transliterated.
        "UPDATE T_U SET BN = CAST(BU AS BLOB SUB_TYPE 1 CHARACTER SET OCTETS), "
        "BO = CAST(BU AS BLOB SUB_TYPE 1 CHARACTER SET OCTETS), B0 = CAST(BU AS BLOB SUB_TYPE 0);\n"
        "UPDATE T_U SET BW = BO;\n");
    Run(table + rows, table, "T_U=ID\r\n");

    EXPECT_EQ(Table("T_U").written, 3);
    Db source(Name("source.fdb")), dest(Name("dest.fdb"));
    for (const char* column : columns) {
        const std::string sql = std::string("SELECT LIST(ID || ':' || OCTET_LENGTH(") + column + ") || ':' || HASH(" +
                                column + ")) FROM (SELECT * FROM T_U ORDER BY ID)";
        EXPECT_EQ(source.Scalar(sql), "1:4:898472,2:32764:916296330695430232,3:70000:386542095670737144") << column;
        EXPECT_EQ(dest.Scalar(sql), source.Scalar(sql)) << column;
    }
    EXPECT_EQ(Table("T_U").verification->verified, 3);
    EXPECT_EQ(state.Account().Differ(), 0);
}

// What the copy was required to write is no difference: a macro without a name has the empty
// one, a CHAR written into a VARCHAR keeps its padding and a VARCHAR written into a CHAR gets
// it; the rows a destination refused because it held them already are not verified.
TEST_P(ReadBackTest, WhatTheCopyMustWriteIsNoDifferenceAndRefusedRowsAreNotVerified) {
    const std::string macros =
        "CREATE TABLE MACROSES (MCR_ID INTEGER NOT NULL PRIMARY KEY, MCR_NAME VARCHAR(60), MCR_FILL BLOB SUB_TYPE 1);\n"
        "CREATE GENERATOR GEN_MACROSES;\n"
        "SET TERM ^;\n"
        "CREATE TRIGGER MACROSES_BI FOR MACROSES BEFORE INSERT AS BEGIN\n"
        "  IF (NEW.MCR_ID IS NULL) THEN NEW.MCR_ID = GEN_ID(GEN_MACROSES, 1); END^\n"
        "SET TERM ;^\n";
    const std::string kept =
        "CREATE TABLE T_R (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));\n"
        "INSERT INTO T_R VALUES (1, 'one');\n"
        "INSERT INTO T_R VALUES (2, 'two');\n";
    const std::string source = macros + kept +
                               "CREATE TABLE T_C (ID INTEGER NOT NULL PRIMARY KEY, C CHAR(10), V VARCHAR(10));\n"
                               "INSERT INTO T_C VALUES (1, 'ab', 'ab');\n"
                               "INSERT INTO T_C VALUES (2, 'cd ', 'cd  ');\n"
                               "INSERT INTO MACROSES VALUES (5, NULL, '');\n"
                               "INSERT INTO MACROSES VALUES (9, 'NAME', NULL);\n";
    // The destination's CHAR and VARCHAR swapped; its journal-like table cannot be emptied.
    const std::string dest = macros + kept +
                             "CREATE TABLE T_C (ID INTEGER NOT NULL PRIMARY KEY, C VARCHAR(10), V CHAR(10));\n"
                             "CREATE EXCEPTION E_KEPT 'kept';\n"
                             "SET TERM ^;\n"
                             "CREATE TRIGGER T_R_BD FOR T_R BEFORE DELETE AS BEGIN EXCEPTION E_KEPT; END^\n"
                             "SET TERM ;^\n";
    Run(source, dest, "T_C=ID\r\nT_R=ID\r\nMACROSES=MCR_ID\r\n");

    const struct { const char* table; int written, refused, verified; } expected[] = {
        {"T_C", 2, 0, 2}, {"T_R", 0, 2, 0}, {"MACROSES", 2, 0, 2}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.table);
        const TableAccount& t = Table(e.table);
        EXPECT_EQ(t.written, e.written);
        EXPECT_EQ(t.refused, e.refused);
        ASSERT_TRUE(t.verification);
        EXPECT_EQ(t.verification->verified, e.verified);
        EXPECT_EQ(t.verification->differ, 0);
        for (const RowDifference& d : t.verification->listed) ADD_FAILURE() << d.key << " " << d.column << " " << d.source << " " << d.destination;
    }
    EXPECT_EQ(VerifiedLine(state.Account()), "Verified: the 4 rows written are in the destination as written; 2 refused rows were not written.");
}

// A destination trigger changes each row below the precision of a display text: every change is
// found, and the difference shows it.
TEST_P(ReadBackTest, ChangesBelowDisplayPrecisionAreFound) {
    const std::string table =
        "CREATE TABLE T_M (ID INTEGER NOT NULL PRIMARY KEY, TS DATE, D DOUBLE PRECISION, N NUMERIC(18,6), "
        "C CHAR(10), V VARCHAR(10));\n";
    const std::string source = table +
                               "INSERT INTO T_M VALUES (1, '2026-01-02 10:00:00', 1.234567890123456, 1.5, 'ab', 'ab');\n"
                               "INSERT INTO T_M SELECT 2, TS, D, N, C, V FROM T_M WHERE ID = 1;\n"
                               "INSERT INTO T_M SELECT 3, TS, D, N, C, V FROM T_M WHERE ID = 1;\n"
                               "INSERT INTO T_M SELECT 4, TS, D, N, 'ab' || ASCII_CHAR(9), V FROM T_M WHERE ID = 1;\n"
                               "INSERT INTO T_M SELECT 5, TS, D, N, C, 'ab' || ASCII_CHAR(9) FROM T_M WHERE ID = 1;\n"
                               "INSERT INTO T_M SELECT 6, TS, D, N, C, V FROM T_M WHERE ID = 1;\n";
    const std::string dest = table +
                             "SET TERM ^;\n"
                             "CREATE TRIGGER T_M_BI FOR T_M BEFORE INSERT AS BEGIN\n"
                             "  IF (NEW.ID = 1) THEN NEW.TS = DATEADD(500 MILLISECOND TO NEW.TS);\n"
                             "  IF (NEW.ID = 2) THEN NEW.D = NEW.D + 0.000000000000001;\n"
                             "  IF (NEW.ID = 3) THEN NEW.N = NEW.N + 0.000001;\n"
                             "  IF (NEW.ID = 4) THEN NEW.C = 'ab';\n"
                             "  IF (NEW.ID = 5) THEN NEW.V = 'ab';\n"
                             "END^\n"
                             "SET TERM ;^\n";
    Run(source, dest, "T_M=ID\r\n");

    const TableVerification& v = *Table("T_M").verification;
    EXPECT_EQ(v.verified, 1);
    EXPECT_EQ(v.differ, 5);
    const struct { const char* key; const char* column; const char* source; const char* destination; } found[] = {
        {"1", "TS", "'02.01.2026 10:00:00'", "'02.01.2026 10:00:00.5000'"},
        {"2", "D", "'1.234567890123456'", "'1.2345678901234571'"},
        // NUMERIC(18,6) is a double in dialect 1.
        {"3", "N", "'1.5'", "'1.5000009999999999'"},
        {"4", "C", "10 bytes, first difference at byte 2", "'ab        '"},
        {"5", "V", "3 bytes, first difference at byte 2", "'ab'"}};
    ASSERT_EQ(v.listed.size(), std::size(found));
    for (std::size_t i = 0; i < std::size(found); ++i) {
        EXPECT_EQ(v.listed[i].key, found[i].key);
        EXPECT_EQ(v.listed[i].column, found[i].column);
        EXPECT_EQ(v.listed[i].source, found[i].source) << found[i].column;
        EXPECT_EQ(v.listed[i].destination, found[i].destination) << found[i].column;
    }
}

// A read-back cut short claims nothing of the tables it did not read to their end: cancelled
// after the first table, or with the server gone.
TEST_P(ReadBackTest, ACutShortReadBackNamesTheTablesNotVerified) {
    const std::string tables =
        "CREATE TABLE T_A (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));\n"
        "CREATE TABLE T_B (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));\n";
    const std::string rows = "INSERT INTO T_A VALUES (1, 'a');\nINSERT INTO T_B VALUES (1, 'b');\n";
    int pumps = -1;   // pumps of the read-back: the third is the second table's start
    driver.Control().beforeReadBack = [&] { pumps = 0; };
    state.OnPump = [&](test::TestRunState&) {
        if (pumps >= 0 && ++pumps == 3) driver.Control().cancel.Request();
    };
    Run(tables + rows, tables, "T_A=ID\r\nT_B=ID\r\n");
    EXPECT_TRUE(Table("T_A").VerifiedInFull());
    EXPECT_FALSE(Table("T_B").VerifiedInFull());
    EXPECT_EQ(VerifiedLine(state.Account()), "Not verified: T_B (the read-back was interrupted)");
    const std::string json = AccountJson(state.Account(), 130);
    EXPECT_NE(json.find("\"name\": \"T_A\""), std::string::npos);
    EXPECT_NE(json.find("\"verified_in_full\": true"), std::string::npos);
    EXPECT_NE(json.find("\"verified_in_full\": false"), std::string::npos);
}

TEST_P(ReadBackTest, AServerGoneDuringTheReadBackLeavesEveryTableNotVerified) {
    if (!server) GTEST_SKIP() << "through a server only";
    const std::string tables =
        "CREATE TABLE T_A (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));\n"
        "CREATE TABLE T_B (ID INTEGER NOT NULL PRIMARY KEY, V VARCHAR(10));\n";
    const std::string rows = "INSERT INTO T_A VALUES (1, 'a');\nINSERT INTO T_B VALUES (1, 'b');\n";
    driver.Control().beforeReadBack = [&] { server->Kill(); };
    try {
        Run(tables + rows, tables, "T_A=ID\r\nT_B=ID\r\n");
    } catch (const std::exception&) {
        // The run ends on the lost connection; its account stays.
    }
    EXPECT_EQ(VerifiedLine(state.Account()), "Not verified: T_A, T_B (the read-back was interrupted)");
}

INSTANTIATE_TEST_SUITE_P(Routes, ReadBackTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "Embedded"; });

} // namespace
} // namespace kestrix
