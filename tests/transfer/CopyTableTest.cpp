#include "transfer/CopyTable.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <tuple>

#include <gtest/gtest.h>

#include "run/Texts.h"
#include "db/Error.h"
#include "support/Process.h"
#include "support/Sample.h"
#include "transfer/EngineSides.h"
#include "transfer/InsertBlock.h"
#include "transfer/MacroTextConverter.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/CopyMacros.h"
#include "transfer/TableList.h"
#include "run/TextFile.h"

namespace kestrix::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// A line of the run log for a row, up to the message.
std::string Line(const std::string& text, const std::string& table, const std::string& key, const std::string& value) {
    return text + table + " " + key + " =  " + value + " :  ";
}

// An older-version source: no host port, a controller column the destination dropped,
// photos kept in OWNER.
const char* const kSourceSchema = R"(
CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(30));
CREATE TABLE CONTROLLERS (CT_ID INTEGER NOT NULL PRIMARY KEY, CT_HOST INTEGER, CT_NAME VARCHAR(30), CT_OLD INTEGER);
CREATE TABLE PCN (PC_ID INTEGER NOT NULL PRIMARY KEY, PC_CTRL INTEGER, PC_NAME VARCHAR(30));
CREATE TABLE SLAVES (SL_ID INTEGER NOT NULL PRIMARY KEY, SL_CTRL INTEGER, SL_NAME VARCHAR(30));
CREATE TABLE OWNER (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_NAME VARCHAR(40), OW_PHOTO BLOB, OW_ARCHIVE SMALLINT);
CREATE TABLE EMPTY_T (E_ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE ONLY_SRC (S_ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE ZONES (ZN_ID INTEGER NOT NULL PRIMARY KEY, ZN_NAME VARCHAR(30), ZN_AT DATE, ZN_K NUMERIC(9,2));
)";

// The newer destination: identifier tables numbered by their own generators, a host port,
// a new controller column with a default, and the separate photo table filled by a trigger.
const char* const kDestSchema = R"(
CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(30), HS_PORT INTEGER DEFAULT 0);
CREATE TABLE CONTROLLERS (CT_ID INTEGER NOT NULL PRIMARY KEY, CT_HOST INTEGER, CT_NAME VARCHAR(30),
  CT_NEW VARCHAR(10) DEFAULT 'new', CHECK (CT_NAME <> 'bad'));
CREATE TABLE PCN (PC_ID COMPUTED BY (CAST('x' AS INTEGER)), PC_CTRL INTEGER, PC_NAME VARCHAR(30));
CREATE TABLE SLAVES (SL_ID INTEGER NOT NULL PRIMARY KEY, SL_CTRL INTEGER, SL_NAME VARCHAR(30));
CREATE TABLE OWNER (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_NAME VARCHAR(40), OW_PHOTO BLOB,
  OW_ARCHIVE SMALLINT DEFAULT 0, CHECK (OW_NAME <> 'bad'));
CREATE TABLE OWNERPHOTOS (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_PHOTO BLOB);
CREATE TABLE EMPTY_T (E_ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE ZONES (ZN_ID INTEGER NOT NULL PRIMARY KEY, ZN_NAME VARCHAR(30), ZN_AT DATE, ZN_K NUMERIC(9,2),
  CHECK (ZN_NAME <> 'bad'));
CREATE GENERATOR GEN_HS; SET GENERATOR GEN_HS TO 100;
CREATE GENERATOR GEN_CT; SET GENERATOR GEN_CT TO 200;
CREATE GENERATOR GEN_SL; SET GENERATOR GEN_SL TO 300;
SET TERM ^ ;
CREATE TRIGGER HOSTS_BI FOR HOSTS BEFORE INSERT AS BEGIN NEW.HS_ID = GEN_ID(GEN_HS, 1); END^
CREATE TRIGGER CONTROLLERS_BI FOR CONTROLLERS BEFORE INSERT AS BEGIN NEW.CT_ID = GEN_ID(GEN_CT, 1); END^
CREATE TRIGGER SLAVES_BI FOR SLAVES BEFORE INSERT AS BEGIN NEW.SL_ID = GEN_ID(GEN_SL, 1); END^
CREATE TRIGGER OWNER_AI FOR OWNER AFTER INSERT AS BEGIN INSERT INTO OWNERPHOTOS (OW_ID) VALUES (NEW.OW_ID); END^
SET TERM ; ^
)";

// Source keys deliberately out of insertion order; the copy goes by key.
const char* const kDeviceRows = R"(
INSERT INTO HOSTS VALUES (7, 'h7');
INSERT INTO HOSTS VALUES (3, 'h3');
INSERT INTO HOSTS VALUES (5, 'h5');
INSERT INTO CONTROLLERS VALUES (20, 5, 'c20', 1);
INSERT INTO CONTROLLERS VALUES (10, 3, 'c10', 1);
INSERT INTO CONTROLLERS VALUES (30, 99, 'c30', 1);
INSERT INTO CONTROLLERS VALUES (25, 7, 'bad', 1);
INSERT INTO PCN VALUES (1, 20, 'p1');
INSERT INTO SLAVES VALUES (1, 10, 's1');
INSERT INTO SLAVES VALUES (2, 25, 's2');
INSERT INTO SLAVES VALUES (3, 30, 's3');
)";

class CopyTableTest : public ::testing::Test {
protected:
    void Make(const std::string& sourceRows) {
        CreateDatabase(srcPath, std::string(kSourceSchema) + sourceRows);
        CreateDatabase(dstPath, kDestSchema);
    }
    void Copy(const std::string& table, const std::string& key, const std::string& where = {}) {
        if (!src) {
            src = std::make_unique<Side>(srcPath);
            dst = std::make_unique<Side>(dstPath);
        }
        transfer::CopyTable(run.ctx, *src, *dst, {table, key, where, photos.destination, photos.source});
    }
    Rows Dest(const std::string& sql) { return Db(dstPath).Rows(sql); }

    EngineRun run;
    std::string srcPath = run.dir.File("src.fdb");
    std::string dstPath = run.dir.File("dst.fdb");
    std::unique_ptr<Side> src, dst;
    transfer::PhotoTables photos;
};

TEST_F(CopyTableTest, RefusedRowIsLoggedAndLeavesLaterReferencesRight) {
    Make(kDeviceRows);
    for (auto [table, key] : {std::pair{"HOSTS", "HS_ID"}, {"CONTROLLERS", "CT_ID"}, {"SLAVES", "SL_ID"}})
        Copy(table, key);
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.state.TableProgress().Max(), 3);
    EXPECT_EQ(run.state.TableProgress().Position(), 3);

    // The dropped source column is not written, the new destination column takes its default.
    EXPECT_EQ(Dest("select C.CT_NAME, H.HS_NAME, C.CT_NEW from CONTROLLERS C "
                   "left join HOSTS H on H.HS_ID = C.CT_HOST order by C.CT_NAME"),
              (Rows{{"c10", "h3", "new"}, {"c20", "h5", "new"}, {"c30", "<null>", "new"}}));

    // The refused controller 25 has no new key: the slave that refers to it gets -1, and the
    // controller after it keeps its own key rather than its predecessor's.
    EXPECT_EQ(run.maps.OldIds(2), (std::vector<std::string>{"10", "20", "25", "30"}));
    EXPECT_EQ(run.maps.NewIds(2)[2], "-1");
    EXPECT_EQ(Dest("select S.SL_NAME, C.CT_NAME, S.SL_CTRL from SLAVES S "
                   "left join CONTROLLERS C on C.CT_ID = S.SL_CTRL order by S.SL_NAME"),
              (Rows{{"s1", "c10", run.maps.NewIds(2)[0]}, {"s2", "<null>", "-1"}, {"s3", "c30", run.maps.NewIds(2)[3]}}));

    Db check(dstPath);
    std::string refused = ErrorOf(check, "Insert into CONTROLLERS( CT_HOST,CT_NAME ) Values ( 1,'bad' )");
    EXPECT_NE(refused.find("CHECK"), std::string::npos);
    EXPECT_EQ(run.Log(), Line(texts::kInsertError, "CONTROLLERS", "CT_ID", "25") + refused + "\r\n");
}

TEST_F(CopyTableTest, WrittenReferencesThatBecameMinusOneAreReported) {
    Make(kDeviceRows);
    struct Counting : test::TestRunState {
        std::vector<std::pair<std::string, std::string>> unmapped;
        void ReferenceUnmapped(const std::string& table, const std::string& column) override {
            unmapped.emplace_back(table, column);
        }
    } counting;
    Context ctx{counting, run.options, run.maps, run.control};
    Side src(srcPath), dst(dstPath);
    for (auto [table, key] : {std::pair{"HOSTS", "HS_ID"}, {"CONTROLLERS", "CT_ID"}, {"SLAVES", "SL_ID"}})
        transfer::CopyTable(ctx, src, dst, {table, key, ""});
    // Controller 30's host 99 is unknown; slave 2's controller was refused. The refused
    // controller itself wrote nothing.
    EXPECT_EQ(counting.unmapped, (std::vector<std::pair<std::string, std::string>>{{"CONTROLLERS", "CT_HOST"},
                                                                                    {"SLAVES", "SL_CTRL"}}));
}

TEST_F(CopyTableTest, NewKeysComeFromTheInsertItself) {
    Make(kDeviceRows);
    // A destination host that the clearing pass kept, with a key above every new one.
    Db(dstPath).Exec("INSERT INTO HOSTS (HS_NAME) VALUES ('kept')");
    Db(dstPath).Exec("UPDATE HOSTS SET HS_ID = 1000 WHERE HS_NAME = 'kept'");
    Copy("HOSTS", "HS_ID");
    Copy("CONTROLLERS", "CT_ID");
    RunLog::Create(run.ctx.LogPath());
    Copy("PCN", "PC_ID");   // the destination's key column cannot be read
    EXPECT_TRUE(WorkLockFree());

    // Each controller points at the host inserted for its own, not at the kept one.
    EXPECT_EQ(run.maps.NewIds(1), (std::vector<std::string>{"102", "103", "104"}));
    EXPECT_EQ(Dest("select C.CT_NAME, H.HS_NAME from CONTROLLERS C "
                   "left join HOSTS H on H.HS_ID = C.CT_HOST order by C.CT_NAME"),
              (Rows{{"c10", "h3"}, {"c20", "h5"}, {"c30", "<null>"}}));

    // A key that cannot be returned refuses its row, which maps to -1.
    EXPECT_EQ(run.maps.OldIds(3), (std::vector<std::string>{"1"}));
    EXPECT_EQ(run.maps.NewIds(3), (std::vector<std::string>{"-1"}));
    EXPECT_EQ(Dest("select count(*) from PCN"), (Rows{{"0"}}));
    Db check(dstPath);
    std::string message = ErrorOf(check, "Insert into PCN( PC_CTRL,PC_NAME ) Values ( 101,'p1' ) RETURNING PC_ID");
    EXPECT_NE(message.find("conversion"), std::string::npos);
    EXPECT_EQ(run.Log(), Line(texts::kInsertError, "PCN", "PC_ID", "1") + message + "\r\n");
}

TEST_F(CopyTableTest, OwnersLeavePhotosToThePhotoTableAndKeepTheirArchiveFlag) {
    Make(R"(
INSERT INTO OWNER VALUES (1, 'o1', 'PHOTO1', 1);
INSERT INTO OWNER VALUES (2, 'o2', 'PHOTO2', 0);
INSERT INTO OWNER VALUES (3, 'bad', 'PHOTO3', 1);
INSERT INTO OWNER VALUES (4, 'o4', NULL, 0);
)");
    photos = {true, false};
    Copy("OWNER", "OW_ID");
    Copy("OWNERPHOTOS", "OW_ID");
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.state.TableProgress().Max(), 4);   // rows of the source OWNER
    // The refused owner 3 must not archive owner 2, the newest owner at that moment.
    EXPECT_EQ(Dest("select OW_ID, OW_NAME, OW_PHOTO, OW_ARCHIVE from OWNER order by OW_ID"),
              (Rows{{"1", "o1", "<null>", "1"}, {"2", "o2", "<null>", "0"}, {"4", "o4", "<null>", "0"}}));
    EXPECT_EQ(Dest("select OW_ID, OW_PHOTO from OWNERPHOTOS order by OW_ID"),
              (Rows{{"1", "PHOTO1"}, {"2", "PHOTO2"}, {"4", "<null>"}}));
    Db check(dstPath);
    std::string refused = ErrorOf(check, "insert into OWNER (OW_ID, OW_NAME) values (3, 'bad')");
    EXPECT_EQ(run.Log(), Line(texts::kInsertError, "OWNER", "OW_ID", "3") + refused + "\r\n");
}

TEST_F(CopyTableTest, SourceOwnersWithoutArchiveFlagAreAllCopied) {
    CreateDatabase(srcPath, R"(
CREATE TABLE OWNER (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_NAME VARCHAR(40), OW_PHOTO BLOB);
INSERT INTO OWNER VALUES (1, 'o1', 'P1');
INSERT INTO OWNER VALUES (2, 'o2', NULL);
INSERT INTO OWNER VALUES (3, 'o3', 'P3');
)");
    CreateDatabase(dstPath, kDestSchema);
    Copy("OWNER", "OW_ID");
    EXPECT_TRUE(WorkLockFree());
    // Without the photo table flag the photos stay with the owners.
    EXPECT_EQ(Dest("select OW_ID, OW_PHOTO, OW_ARCHIVE from OWNER order by OW_ID"),
              (Rows{{"1", "P1", "0"}, {"2", "<null>", "0"}, {"3", "P3", "0"}}));
    EXPECT_EQ(run.Log(), "");
}

TEST_F(CopyTableTest, CancelStopsAfterTheCurrentRowAndEndsTheWork) {
    Make(kDeviceRows);
    run.state.OnPump = [this](test::TestRunState& s) {
        if (s.PumpCount == 2) run.control.cancel.Request();
    };
    Copy("HOSTS", "HS_ID");
    EXPECT_TRUE(WorkLockFree());
    EXPECT_FALSE(src->transaction.IsActive());
    EXPECT_FALSE(dst->transaction.IsActive());
    EXPECT_EQ(run.state.PumpCount, 2);
    EXPECT_EQ(Dest("select HS_NAME from HOSTS order by HS_ID"), (Rows{{"h3"}, {"h5"}}));
    EXPECT_EQ(run.maps.OldIds(1).size(), 2u);
    EXPECT_EQ(run.maps.NewIds(1).size(), 2u);

    // Cancelled before the first row: nothing written, nothing left begun.
    Copy("CONTROLLERS", "CT_ID");
    EXPECT_EQ(Dest("select count(*) from CONTROLLERS"), (Rows{{"0"}}));
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(CopyTableTest, EmptyTableAndFailedSetUpLeaveNoWorkBegun) {
    Make(kDeviceRows);
    Copy("EMPTY_T", "E_ID");
    EXPECT_EQ(run.state.TableProgress().Max(), 0);
    EXPECT_EQ(run.state.PumpCount, 0);
    EXPECT_TRUE(WorkLockFree());

    EXPECT_THROW(Copy("NO_SUCH", "X_ID"), Error);          // no destination table
    EXPECT_TRUE(WorkLockFree());
    EXPECT_THROW(Copy("HOSTS", "NO_COLUMN"), Error);       // no key column
    EXPECT_TRUE(WorkLockFree());
    EXPECT_THROW(Copy("OWNERPHOTOS", "OW_ID"), Error);     // the source has no such table
    EXPECT_TRUE(WorkLockFree());
    EXPECT_THROW(Copy("ONLY_SRC", "S_ID"), Error);
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.Log(), "");

    // The row filter applies to the rows, and the statements still work after the failures.
    Copy("HOSTS", "HS_ID", "HS_NAME <> \"h5\"");
    EXPECT_EQ(Dest("select HS_NAME from HOSTS order by HS_ID"), (Rows{{"h3"}, {"h7"}}));
    EXPECT_EQ(run.state.TableProgress().Max(), 3);   // the count ignores the filter
    EXPECT_TRUE(WorkLockFree());
}

// Through a server the rows go in blocks: a refused row in the middle of a block (one that
// returns keys, one that does not) still gets its own log line in row order, every other
// row is written, and the maps pair as they do row by row, embedded.
TEST_F(CopyTableTest, ThroughAServerBlocksGiveTheRowsLogAndMapsOfTheRowCopy) {
    std::string rows = kDeviceRows;
    for (int i = 0; i < 250; ++i) {
        const std::string n = std::to_string(i);
        rows += "INSERT INTO CONTROLLERS VALUES (" + std::to_string(1000 + i) + ", " + std::to_string(3 + 2 * (i % 3)) +
                ", '" + (i == 150 ? "bad" : "k" + n) + "', 1);\n";
        rows += "INSERT INTO SLAVES VALUES (" + std::to_string(100 + i) + ", " + std::to_string(1000 + i) + ", 's" + n + "');\n";
        rows += "INSERT INTO ZONES VALUES (" + n + ", '" + (i == 120 || i == 230 ? "bad" : "z" + n) + "', '2026-01-" +
                std::to_string(1 + i % 28) + " 10:00', " + std::to_string(i) + ".25);\n";
        if (i < 150)
            rows += "INSERT INTO OWNER VALUES (" + n + ", '" + (i == 77 ? "bad" : "o" + n) + "', " +
                    (i % 2 ? "'P" + n + "'" : "NULL") + ", " + (i % 7 == 0 ? "1" : "0") + ");\n";
    }
    Make(rows);
    const std::string serverPath = run.dir.File("dst-server.fdb");
    CreateDatabase(serverPath, kDestSchema);
    PrivateServer server;
    struct Result {
        std::string log;
        std::vector<std::string> oldIds, unknownNew;
        Rows controllers, slaves, zones, owners;
    };
    auto copyAll = [&](const std::string& destName) {
        EngineRun engine;
        Side source(srcPath), dest(destName);
        for (auto [table, key] : {std::pair{"HOSTS", "HS_ID"}, {"CONTROLLERS", "CT_ID"}, {"SLAVES", "SL_ID"}, {"ZONES", "ZN_ID"},
                                  {"OWNER", "OW_ID"}})
            transfer::CopyTable(engine.ctx, source, dest, {table, key, "", false, false, transfer::InsertBlockRows(dest.connection)});
        Result r{engine.Log(), engine.maps.OldIds(2), {}, {}, {}, {}, {}};
        for (std::size_t i = 0; i < r.oldIds.size(); ++i)
            if (engine.maps.NewIds(2).at(i) == "-1") r.unknownNew.push_back(r.oldIds[i]);
        Db check(destName);
        r.controllers = check.Rows("select C.CT_NAME, H.HS_NAME from CONTROLLERS C "
                                   "left join HOSTS H on H.HS_ID = C.CT_HOST order by C.CT_NAME");
        r.slaves = check.Rows("select S.SL_NAME, C.CT_NAME, S.SL_CTRL from SLAVES S "
                              "left join CONTROLLERS C on C.CT_ID = S.SL_CTRL order by S.SL_NAME");
        r.zones = check.Rows("select ZN_ID, ZN_NAME, ZN_AT, ZN_K from ZONES order by ZN_ID");
        r.owners = check.Rows("select OW_ID, OW_NAME, OW_PHOTO, OW_ARCHIVE from OWNER order by OW_ID");
        return r;
    };
    const Result embedded = copyAll(dstPath);
    const Result served = copyAll(server.Remote(serverPath));

    EXPECT_EQ(served.log, embedded.log);
    Db check(dstPath);
    const std::string badController = ErrorOf(check, "Insert into CONTROLLERS( CT_HOST,CT_NAME ) Values ( 1,'bad' )");
    const std::string badZone = ErrorOf(check, "Insert into ZONES( ZN_ID,ZN_NAME ) Values ( 9999,'bad' )");
    const std::string badOwner = ErrorOf(check, "Insert into OWNER( OW_ID,OW_NAME ) Values ( 9999,'bad' )");
    EXPECT_EQ(embedded.log, Line(texts::kInsertError, "CONTROLLERS", "CT_ID", "25") + badController + "\r\n" +
                                Line(texts::kInsertError, "CONTROLLERS", "CT_ID", "1150") + badController + "\r\n" +
                                Line(texts::kInsertError, "ZONES", "ZN_ID", "120") + badZone + "\r\n" +
                                Line(texts::kInsertError, "ZONES", "ZN_ID", "230") + badZone + "\r\n" +
                                Line(texts::kInsertError, "OWNER", "OW_ID", "77") + badOwner + "\r\n");
    EXPECT_EQ(served.oldIds, embedded.oldIds);
    EXPECT_EQ(served.unknownNew, (std::vector<std::string>{"25", "1150"}));
    EXPECT_EQ(embedded.unknownNew, served.unknownNew);
    EXPECT_EQ(served.controllers.size(), 252u);
    EXPECT_EQ(served.controllers, embedded.controllers);
    // Every slave points at its own controller; the refused one's slave at -1.
    ASSERT_EQ(served.slaves.size(), embedded.slaves.size());
    for (std::size_t i = 0; i < served.slaves.size(); ++i) {
        EXPECT_EQ(served.slaves[i][1], embedded.slaves[i][1]) << served.slaves[i][0];
        EXPECT_EQ(served.slaves[i][2] == "-1", embedded.slaves[i][2] == "-1") << served.slaves[i][0];
    }
    EXPECT_EQ(served.zones.size(), 248u);
    EXPECT_EQ(served.zones, embedded.zones);
    // Owners keep their photos; the archived ones, and only they, are marked.
    EXPECT_EQ(served.owners.size(), 149u);
    EXPECT_EQ(served.owners, embedded.owners);
    EXPECT_EQ(std::count_if(served.owners.begin(), served.owners.end(), [](auto& o) { return o[3] == "1"; }), 21);
}

// Content of exactly `size` bytes, every byte value in turn from `seed` on.
std::string Bytes(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((seed + 7 * i) & 0xFF);
    return bytes;
}

// A macro text whose renumbered form has exactly `size` bytes: leading empty lines and
// current-format lines the renumbering leaves as they are ("1;0;5;3;0;1;", 12 bytes, and
// "1;0;5;3;0;12;", 13, each with CR LF).
std::string MacroText(std::size_t size) {
    if (size % 2 && size < 15) ++size;   // no line is shorter than its CR LF
    const std::size_t odd = size % 2 ? 15 : 0;
    const std::size_t even = size - odd;
    std::string text;
    for (std::size_t i = 0; i < (even % 14) / 2; ++i) text += "\r\n";
    if (odd) text += "1;0;5;3;0;12;\r\n";
    for (std::size_t i = 0; i < even / 14; ++i) text += "1;0;5;3;0;1;\r\n";
    return text;
}

// A reader list whose renumbered form has exactly `size` bytes (at least 6): every reader
// is unknown and becomes -1, so a line "[head]7" is written "[head]-1" with CR LF.
std::string ReaderList(std::size_t size) {
    std::string list;
    std::size_t left = size;
    while (left >= 20) {
        list += "[operator]7\r\n";   // 14 bytes renumbered
        left -= 14;
    }
    return list + "[" + std::string(left - 6, 'o') + "]7\r\n";
}

// Blobs inside the server's rows and blocks: photos (inserted with the owner, and moved into
// the photo table by update), plain blobs, reader lists and macro texts, NULL and from 0 bytes
// to past the largest that goes inside a row, read through the server and written through it
// arrive byte for byte as the embedded row copy writes them.
TEST_F(CopyTableTest, BlobsInsideServerBlocksArriveAsTheRowCopyWritesThem) {
    const std::string tables = R"(
CREATE TABLE INIDATA (ID_ID INTEGER NOT NULL PRIMARY KEY, ID_SECTION VARCHAR(40), ID_KEY VARCHAR(40), ID_BLOB BLOB SUB_TYPE 1);
CREATE TABLE MACROSES (MCR_ID INTEGER NOT NULL PRIMARY KEY, MCR_NAME VARCHAR(40), MCR_FILL BLOB SUB_TYPE 1);
)";
    // The third macro is refused in the middle of its block, which then goes on one by one.
    const std::string macroKeys = R"(
ALTER TABLE MACROSES ADD CONSTRAINT MCR_NOT_M3 CHECK (MCR_NAME <> 'm3');
CREATE GENERATOR GEN_MCR; SET GENERATOR GEN_MCR TO 40;
SET TERM ^ ;
CREATE TRIGGER MACROSES_BI FOR MACROSES BEFORE INSERT AS BEGIN NEW.MCR_ID = GEN_ID(GEN_MCR, 1); END^
SET TERM ; ^
)";
    CreateDatabase(srcPath, std::string(kSourceSchema) + tables);
    CreateDatabase(dstPath, std::string(kDestSchema) + tables + macroKeys);
    const std::string serverPath = run.dir.File("dst-server.fdb");
    CreateDatabase(serverPath, std::string(kDestSchema) + tables + macroKeys);
    const std::size_t edge = transfer::kInlineBlobBytes;
    const std::vector<std::optional<std::size_t>> sizes{std::nullopt, 0, 1, edge - 1, edge, edge + 1, 70000};
    {
        Side src(srcPath);
        db::WorkUnit work(src.statement);
        auto insert = [&](const std::string& sql, int key, const std::string& text, const std::optional<std::string>& blob) {
            src.statement.ClearSql();
            src.statement.AddSqlLine(sql);
            src.statement.ParameterAt(0).SetInteger(key);
            src.statement.ParameterAt(1).SetString(text);
            if (blob) src.statement.ParameterAt(2).WriteBlobFrom(*blob);
            else src.statement.ParameterAt(2).SetNull();
            src.statement.Execute();
        };
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            const int key = static_cast<int>(i) + 1;
            const auto content = [&](auto make) { return sizes[i] ? std::optional(make(*sizes[i])) : std::nullopt; };
            insert("insert into OWNER (OW_ID, OW_NAME, OW_PHOTO, OW_ARCHIVE) values (:K, :T, :B, 0)", key, "o",
                   content([&](std::size_t n) { return Bytes(n, key); }));
            insert("insert into INIDATA values (:K, :T, 'k', :B)", key, "MAIN", content([&](std::size_t n) { return Bytes(n, key); }));
            insert("insert into INIDATA values (:K, :T, 'k', :B)", 100 + key, "USERS_RD_RIGHTS",
                   sizes[i] && *sizes[i] >= 6 ? std::optional(ReaderList(*sizes[i])) : std::nullopt);
            insert("insert into MACROSES values (:K, :T, :B)", key, "m" + std::to_string(key),
                   content([](std::size_t n) { return MacroText(n); }));
        }
        ASSERT_TRUE(work.Commit());
    }
    PrivateServer server;
    auto copyAll = [&](const std::string& sourceName, const std::string& destName) {
        EngineRun engine;
        Side source(sourceName), dest(destName);
        const int blockRows = transfer::InsertBlockRows(dest.connection);
        transfer::CopyTable(engine.ctx, source, dest, {"OWNER", "OW_ID", "", false, false, blockRows});
        transfer::CopyTable(engine.ctx, source, dest, {"OWNERPHOTOS", "OW_ID", "", true, false, blockRows});
        transfer::CopyTable(engine.ctx, source, dest, {"INIDATA", "ID_ID", "", false, false, blockRows});
        transfer::CopyMacros(engine.ctx, source, dest);
        return engine.Log();
    };
    const std::string rowLog = copyAll(srcPath, dstPath);
    EXPECT_NE(rowLog.find(texts::kMacroInsertError), std::string::npos) << rowLog;
    EXPECT_EQ(copyAll(server.Remote(srcPath), server.Remote(serverPath)), rowLog);

    const char* const queries[] = {
        "select OW_ID, OW_PHOTO, octet_length(OW_PHOTO) from OWNER order by OW_ID",
        "select OW_ID, OW_PHOTO, octet_length(OW_PHOTO) from OWNERPHOTOS order by OW_ID",
        "select ID_ID, ID_BLOB, octet_length(ID_BLOB) from INIDATA order by ID_ID",
        // By name: a refused insert retried alone draws one more key from the generator.
        "select MCR_NAME, MCR_FILL, octet_length(MCR_FILL) from MACROSES order by MCR_NAME"};
    Db embedded(dstPath), served(serverPath);
    for (const char* query : queries) {
        const Rows written = embedded.Rows(query);
        EXPECT_EQ(served.Rows(query), written) << query;
        // The sizes around the largest inside a block are there, as the row copy wrote them.
        std::set<std::string> lengths;
        for (const auto& row : written) lengths.insert(row[2]);
        for (std::size_t n : {edge, edge + 1}) EXPECT_TRUE(lengths.count(std::to_string(n))) << query << " " << n;
        EXPECT_TRUE(lengths.count("<null>") || lengths.count("0")) << query;
    }
}

// The sample installation copied table by table in table-list order from an older-version
// source into a fresh newer-version destination, then the journals from the demo start
// date. Built once; every test below checks one aspect of the result.
class SampleCopy : public ::testing::Test {
protected:
    struct World {
        EngineRun run;
        std::string srcPath = run.dir.File("src.fdb");
        std::string dstPath = run.dir.File("dst.fdb");
        std::string freshPath = run.dir.File("fresh.fdb");
        std::vector<std::string> tables;

        World() {
            MakeSampleSource(srcPath);
            MakeSampleDest(dstPath);
            MakeSampleDest(freshPath);
            run.options.startDate = db::DateTime{2026, 1, 1, 9, 45, 0, 0};
            Side src(srcPath), dst(dstPath);
            auto copyTable = [&](const std::string& table, const std::string& key, const std::string& where) {
                tables.push_back(table);
                transfer::CopyTable(run.ctx, src, dst, {table, key, where, true, false});
            };
            for (const std::string& raw : ReadTextLines(SampleAppDir() + "Conv.txt")) {
                transfer::TableListLine line = transfer::ParseTableListLine(raw);
                if (line.comment || line.hasPercent || (line.hasAmp && !line.hasAt)) continue;
                if (line.table == "MACROSES")
                    transfer::CopyMacros(run.ctx, src, dst);
                else
                    copyTable(line.table, line.key, line.condition);
            }
            for (auto [table, key] : {std::pair{"EVENTS", "EV_ID"}, {"ALARM", "AL_ID"}, {"ACR$EVENTS", "AEV_ID"},
                                      {"STR_EVENTS", "EV_ID"}, {"STR_ALARMS", "AL_ID"}, {"ACR$ALARMS", "AAL_ID"}})
                copyTable(table, key, "");
        }
    };
    static void SetUpTestSuite() { world = new World; }
    static void TearDownTestSuite() { delete world; world = nullptr; }
    static World* world;

    // Kinds of device, numbered as the hardware types of the event descriptions.
    static const char* IdentityQuery(int kind) {
        switch (kind) {
        case 1: return "select HS_ID, HS_NAME from HOSTS";
        case 2: return "select CT_ID, CT_NAME from CONTROLLERS";
        case 3: return "select SL_ID, SL_NAME from SLAVES";
        case 4: return "select RD_ID, RD_NAME from READERS";
        case 5: return "select C.CI_ID, T.CT_NAME || '/' || C.CI_NAME from CINPUTS C "
                       "left join CONTROLLERS T on T.CT_ID = C.CI_CT_ID";
        case 6: return "select PC_ID, PC_NAME from PCN";
        case 7: return "select I.IN_ID, S.SL_NAME || '/' || I.IN_NAME from INPUTS I left join SLAVES S on S.SL_ID = I.IN_SL_ID";
        case 8: return "select O.OU_ID, S.SL_NAME || '/' || O.OU_NAME from OUTPUTS O left join SLAVES S on S.SL_ID = O.OU_SL_ID";
        }
        return nullptr;
    }
    // Every device of a kind by key, named so that it can be recognised in either database.
    static std::map<std::string, std::string> Identities(const std::string& path, int kind) {
        std::map<std::string, std::string> ids;
        for (auto& row : Db(path).Rows(IdentityQuery(kind))) ids[row[0]] = row[1];
        return ids;
    }
    // What a reference means: NULL, the device it names, or nothing known. In the
    // destination an unknown reference must be exactly -1.
    static std::string Meaning(const std::map<std::string, std::string>& ids, const std::string& value, bool dest) {
        if (value == "<null>") return "NULL";
        if (auto it = ids.find(value); it != ids.end()) return "=" + it->second;
        return dest && value != "-1" ? "stray " + value : "unknown";
    }

    // The rows of a table in both databases, paired: through the map for an identifier
    // table, by the unchanged key otherwise. Each pair is {source row, destination row}.
    static std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> Pairs(
        const std::string& table, const std::string& key, const std::string& columns, int mapNo) {
        std::map<std::string, std::vector<std::string>> dest;
        for (auto& row : Db(world->dstPath).Rows("select " + key + ", " + columns + " from " + table))
            dest[row[0]] = row;
        std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> pairs;
        const auto& maps = world->run.maps;
        for (auto& row : Db(world->srcPath).Rows("select " + key + ", " + columns + " from " + table + " order by " + key)) {
            std::string newKey = row[0];
            if (mapNo > 0) {
                const auto& olds = maps.OldIds(mapNo);
                auto it = std::find(olds.begin(), olds.end(), row[0]);
                newKey = it == olds.end() ? "<absent>" : maps.NewIds(mapNo)[it - olds.begin()];
            }
            auto found = dest.find(newKey);
            pairs.push_back({row, found == dest.end() ? std::vector<std::string>{} : found->second});
        }
        return pairs;
    }

    // Each listed column refers to a device of the given kind; source and destination rows
    // must mean the same device, NULL stays NULL, an unknown reference becomes -1.
    static void ExpectReferences(const std::string& table, const std::string& key, int mapNo,
                                 const std::vector<std::pair<std::string, int>>& columns) {
        std::string list;
        for (auto& [column, kind] : columns) list += (list.empty() ? "" : ", ") + column;
        auto pairs = Pairs(table, key, list, mapNo);
        ASSERT_FALSE(pairs.empty()) << table;
        for (std::size_t c = 0; c < columns.size(); ++c) {
            auto srcIds = Identities(world->srcPath, columns[c].second);
            auto dstIds = Identities(world->dstPath, columns[c].second);
            for (auto& [s, d] : pairs) {
                ASSERT_EQ(d.size(), columns.size() + 1) << table << " row " << s[0] << " was not copied";
                EXPECT_EQ(Meaning(srcIds, s[c + 1], false), Meaning(dstIds, d[c + 1], true))
                    << table << " " << s[0] << " " << columns[c].first << ": " << s[c + 1] << " -> " << d[c + 1];
            }
        }
    }
};
SampleCopy::World* SampleCopy::world = nullptr;

TEST_F(SampleCopy, MapsHoldOnePairPerSourceRowInKeyOrderAndHostsGetPortOne) {
    constexpr int kKindOfMap[] = {0, 1, 2, 6, 5, 3, 8, 7, 4};
    const char* const tables[] = {nullptr, "HOSTS", "CONTROLLERS", "PCN", "CINPUTS", "SLAVES", "OUTPUTS", "INPUTS",
                                  "READERS"};
    const char* const keys[] = {nullptr, "HS_ID", "CT_ID", "PC_ID", "CI_ID", "SL_ID", "OU_ID", "IN_ID", "RD_ID"};
    for (int k = 1; k <= 8; ++k) {
        std::vector<std::string> sourceKeys, destKeys;
        for (auto& row : Db(world->srcPath).Rows(std::string("select ") + keys[k] + " from " + tables[k] + " order by 1"))
            sourceKeys.push_back(row[0]);
        for (auto& row : Db(world->dstPath).Rows(std::string("select ") + keys[k] + " from " + tables[k] + " order by 1"))
            destKeys.push_back(row[0]);
        EXPECT_EQ(world->run.maps.OldIds(k), sourceKeys) << tables[k];
        EXPECT_EQ(world->run.maps.NewIds(k), destKeys) << tables[k];
        EXPECT_NE(sourceKeys, destKeys) << tables[k];
        // And each pair names the same device on both sides.
        const int kind = kKindOfMap[k];
        auto srcIds = Identities(world->srcPath, kind), dstIds = Identities(world->dstPath, kind);
        for (std::size_t i = 0; i < sourceKeys.size() && i < destKeys.size(); ++i)
            EXPECT_EQ(srcIds[sourceKeys[i]], dstIds[destKeys[i]]) << tables[k] << " " << sourceKeys[i];
    }
    EXPECT_EQ(Db(world->dstPath).Rows("select distinct HS_PORT from HOSTS"), (Rows{{"1"}}));
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(SampleCopy, ReferencesPointAtTheSameDevices) {
    ExpectReferences("CONTROLLERS", "CT_ID", 2, {{"CT_HS_ID", 1}});
    ExpectReferences("PCN", "PC_ID", 3, {{"PC_CT_ID", 2}});
    ExpectReferences("CINPUTS", "CI_ID", 4, {{"CI_CT_ID", 2}});
    ExpectReferences("SLAVES", "SL_ID", 5, {{"SL_CT_ID", 2}});
    ExpectReferences("OUTPUTS", "OU_ID", 6, {{"OU_SL_ID", 3}});
    ExpectReferences("INPUTS", "IN_ID", 7, {{"IN_SL_ID", 3}});
    ExpectReferences("READERS", "RD_ID", 8,
                     {{"RD_SL_ID", 3}, {"RD_IN_1", 7}, {"RD_IN_2", 7}, {"RD_IN_3", 7}, {"RD_IN_4", 7},
                      {"RD_OUT_IND0", 8}, {"RD_OUT_IND1", 8}, {"RD_OUT_IND2", 8}, {"RD_OUT_IND3", 8},
                      {"RD_OUT_OPEN", 8}, {"RD_OUT_CLOSE", 8}});
    ExpectReferences("CARDSDEF", "CD_ID", 0, {{"CD_CT_ID", 2}});
    ExpectReferences("DAYSCH", "DS_ID", 0, {{"DS_CT_ID", 2}});
    ExpectReferences("TIMERS", "TM_ID", 0, {{"TM_CT_ID", 2}});
    ExpectReferences("AGRIGHTS", "AR_ID", 0, {{"AR_RD_ID", 4}});
    ExpectReferences("AGSCH", "AS_ID", 0, {{"AS_RD_ID", 4}});
    ExpectReferences("ROBOTS$ACTIONS", "RA_ID", 0, {{"RA_HS_ID", 1}});
    ExpectReferences("PRGDEF", "PD_ID", 0, {{"PD_CT_ID", 2}});

    // The sample's known unknowns and NULLs, in the destination.
    Db dst(world->dstPath);
    EXPECT_EQ(dst.Scalar("select count(*) from CONTROLLERS where CT_HS_ID = -1"), "1");
    EXPECT_EQ(dst.Scalar("select count(*) from AGRIGHTS where AR_RD_ID = -1"), "1");
    EXPECT_EQ(dst.Scalar("select count(*) from READERS where RD_IN_4 = -1"), "1");
    EXPECT_EQ(dst.Scalar("select count(*) from READERS where RD_IN_1 is null and RD_OUT_OPEN is null"), "1");
}

TEST_F(SampleCopy, ProgramDevicesFollowTheirType) {
    std::map<std::string, std::string> typeOf;
    for (auto& row : Db(world->srcPath).Rows("select PD_ID, PD_TYPE from PRGDEF")) typeOf[row[0]] = row[1];
    std::set<std::string> types;
    for (auto& [s, d] : Pairs("PRGDEF", "PD_ID", "PD_DEV_ID", 0)) {
        ASSERT_EQ(d.size(), 2u);
        int kind = std::stoi(typeOf[s[0]]);
        types.insert(typeOf[s[0]]);
        if (kind >= 4 && kind <= 8)
            EXPECT_EQ(Meaning(Identities(world->srcPath, kind), s[1], false),
                      Meaning(Identities(world->dstPath, kind), d[1], true)) << "PRGDEF " << s[0];
        else
            EXPECT_EQ(s[1], d[1]) << "PRGDEF " << s[0];
    }
    EXPECT_EQ(types.size(), 6u);
}

TEST_F(SampleCopy, IniDataDropsFilterSectionsAndRewritesReaderRights) {
    Db dst(world->dstPath);
    EXPECT_EQ(dst.Scalar("select count(*) from INIDATA where ID_SECTION in ('USER_CAN_FILTER', 'USER_FILTERS', "
                         "'CTRL_FILTERS')"),
              "0");
    Rows sourceRest = Db(world->srcPath).Rows(
        "select ID_ID, ID_SECTION, ID_KEY, ID_BLOB from INIDATA where ID_SECTION not in ('USER_CAN_FILTER', "
        "'USER_FILTERS', 'CTRL_FILTERS', 'USERS_RD_RIGHTS') order by ID_ID");
    EXPECT_EQ(dst.Rows("select ID_ID, ID_SECTION, ID_KEY, ID_BLOB from INIDATA where ID_SECTION <> "
                       "'USERS_RD_RIGHTS' order by ID_ID"),
              sourceRest);

    auto srcReaders = Identities(world->srcPath, 4), dstReaders = Identities(world->dstPath, 4);
    auto pairs = Pairs("INIDATA", "ID_ID", "ID_SECTION, ID_BLOB", 0);
    int rights = 0, unknown = 0;
    for (auto& [s, d] : pairs) {
        if (s[1] != "USERS_RD_RIGHTS") continue;
        ++rights;
        ASSERT_EQ(d.size(), 3u) << "INIDATA " << s[0];
        auto before = SplitTextLines(s[2]), after = SplitTextLines(d[2]);
        ASSERT_EQ(before.size(), after.size());
        EXPECT_EQ(d[2].substr(d[2].size() - 2), "\r\n");
        for (std::size_t i = 0; i < before.size(); ++i) {
            std::size_t b = before[i].find(']'), a = after[i].find(']');
            ASSERT_NE(a, std::string::npos);
            EXPECT_EQ(before[i].substr(0, b + 1), after[i].substr(0, a + 1));
            std::string meaning = Meaning(dstReaders, after[i].substr(a + 1), true);
            EXPECT_EQ(Meaning(srcReaders, before[i].substr(b + 1), false), meaning) << before[i] << " -> " << after[i];
            unknown += meaning == "unknown";
        }
    }
    EXPECT_GT(rights, 1);
    EXPECT_EQ(unknown, 1);
}

TEST_F(SampleCopy, PhotosLandInThePhotoTable) {
    Rows sourcePhotos = Db(world->srcPath).Rows("select OW_ID, OW_PHOTO from OWNER order by OW_ID");
    Db dst(world->dstPath);
    EXPECT_EQ(dst.Rows("select OW_ID, OW_PHOTO from OWNERPHOTOS order by OW_ID"), sourcePhotos);
    EXPECT_EQ(dst.Scalar("select count(*) from OWNER where OW_PHOTO is not null"), "0");
    EXPECT_EQ(dst.Rows("select OW_ID, OW_LASTNAME, OW_ARCHIVE from OWNER order by OW_ID"),
              Db(world->srcPath).Rows("select OW_ID, OW_LASTNAME, OW_ARCHIVE from OWNER order by OW_ID"));
    std::size_t large = 0;
    for (auto& row : sourcePhotos) large = std::max(large, row[1].size());
    EXPECT_GT(large, 16384u);   // a photo of more than one blob segment came over whole
}

TEST_F(SampleCopy, DescriptionsTakeTheirLastFiveColumnsAndGainNoRows) {
    for (auto [table, key, first] : {std::tuple{"EVDESC", "ED_ID", 15}, {"ACR$EVDESC", "AED_ID", 6}}) {
        std::map<std::string, std::vector<std::string>> source;
        for (auto& row : Db(world->srcPath).Rows(std::string("select * from ") + table)) source[row[0]] = row;
        Rows fresh = Db(world->freshPath).Rows(std::string("select * from ") + table + " order by " + key);
        Rows copied = Db(world->dstPath).Rows(std::string("select * from ") + table + " order by " + key);
        ASSERT_EQ(copied.size(), fresh.size()) << table;
        int updated = 0;
        for (std::size_t r = 0; r < fresh.size(); ++r) {
            std::vector<std::string> expected = fresh[r];
            if (auto it = source.find(expected[0]); it != source.end()) {
                ++updated;
                for (int c = first; c < first + 5; ++c) expected[c] = it->second[c];
            }
            EXPECT_EQ(copied[r], expected) << table;
        }
        EXPECT_GT(updated, 0) << table;
    }
}

TEST_F(SampleCopy, JournalsStartAtTheStartDayWithDevicesTranslatedByHardwareType) {
    for (auto [table, key, date, code, addcode, dev] :
         {std::tuple{"EVENTS", "EV_ID", "EV_DATE", "EV_CODE", "EV_ADDCODE", "EV_DEV_ID"},
          {"ALARM", "AL_ID", "AL_DATE", "AL_CODE", "AL_ADDCODE", "AL_DEV_ID"}}) {
        std::string t = table;
        std::string join = " from " + t + " E, EVDESC ED where E." + code + " = ED.ED_CODE and (E." + addcode +
                           " = ED.ED_ADDCODE or E." + addcode + " - 256 = ED.ED_ADDCODE) and E." + date +
                           " >= '2026-01-01'";
        Rows expectedKeys = Db(world->srcPath).Rows("select distinct E." + std::string(key) + join + " order by 1");
        EXPECT_EQ(Db(world->dstPath).Rows("select " + std::string(key) + " from " + t + " order by 1"), expectedKeys);
        std::map<std::string, std::string> hardType;
        for (auto& row : Db(world->srcPath).Rows("select E." + std::string(key) + ", ED.ED_HARDTYPE" + join))
            hardType[row[0]] = row[1];
        std::map<int, std::map<std::string, std::string>> srcIds, dstIds;
        for (int kind = 1; kind <= 8; ++kind) {
            srcIds[kind] = Identities(world->srcPath, kind);
            dstIds[kind] = Identities(world->dstPath, kind);
        }
        int translated = 0;
        for (auto& [s, d] : Pairs(t, key, dev, 0)) {
            if (d.empty()) continue;
            int kind = std::stoi(hardType[s[0]]);
            if (kind >= 1 && kind <= 8) {
                EXPECT_EQ(Meaning(srcIds[kind], s[1], false), Meaning(dstIds[kind], d[1], true)) << t << " " << s[0];
                ++translated;
            } else {
                EXPECT_EQ(s[1], d[1]) << t << " " << s[0];
            }
        }
        EXPECT_GT(translated, 0) << t;
    }
    for (auto [table, date] : {std::pair{"ACR$EVENTS", "AEV_DATE"}, {"ACR$ALARMS", "AAL_DATE"},
                               {"STR_EVENTS", "EV_DATE"}, {"STR_ALARMS", "AL_DATE"}}) {
        std::string sql = std::string("select count(*) from ") + table + " where " + date + " >= '2026-01-01'";
        EXPECT_EQ(Db(world->dstPath).Scalar(std::string("select count(*) from ") + table),
                  Db(world->srcPath).Scalar(sql)) << table;
    }
    Db dst(world->dstPath);
    EXPECT_EQ(dst.Scalar("select count(*) from EVENTS where EV_ID in (1, 6)"), "0");   // before the day; no description
    EXPECT_EQ(dst.Scalar("select count(*) from EVENTS where EV_ID = 2"), "1");         // exactly at its start
}

TEST_F(SampleCopy, RefusedJournalRowsAreLoggedAndTheCopyGoesOn) {
    // An event that joins two descriptions is inserted twice; the second insert is refused.
    Rows twice = Db(world->srcPath).Rows(
        "select E.EV_ID from EVENTS E, EVDESC ED where E.EV_CODE = ED.ED_CODE and (E.EV_ADDCODE = ED.ED_ADDCODE "
        "or E.EV_ADDCODE - 256 = ED.ED_ADDCODE) and E.EV_DATE >= '2026-01-01' group by E.EV_ID having count(*) > 1 "
        "order by 1");
    ASSERT_FALSE(twice.empty());
    EXPECT_EQ(twice[0][0], "5");
    Db dst(world->dstPath);
    std::string expected;
    for (auto& row : twice)
        expected += Line(texts::kInsertError, "EVENTS", "EV_ID", row[0]) +
                    ErrorOf(dst, "insert into EVENTS (EV_ID, EV_DATE) values (" + row[0] + ", '2026-01-01')") + "\r\n";
    EXPECT_EQ(world->run.Log(), expected);
}

} // namespace
} // namespace kestrix::test
