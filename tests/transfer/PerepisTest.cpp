#include "transfer/Perepis.h"

#include <memory>

#include <gtest/gtest.h>

#include "app/Texts.h"
#include "db/Error.h"
#include "transfer/EngineSides.h"

namespace kestrix::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// An older-version source: no host port, a controller column the destination dropped,
// photos kept in OWNER.
const char* const kSourceSchema = R"(
CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(30));
CREATE TABLE CONTROLLERS (CT_ID INTEGER NOT NULL PRIMARY KEY, CT_HOST INTEGER, CT_NAME VARCHAR(30), CT_OLD INTEGER);
CREATE TABLE PCN (PC_ID INTEGER NOT NULL PRIMARY KEY, PC_CTRL INTEGER, PC_NAME VARCHAR(30));
CREATE TABLE SLAVES (SL_ID INTEGER NOT NULL PRIMARY KEY, SL_CTRL INTEGER, SL_NAME VARCHAR(30));
CREATE TABLE INPUTS (IN_ID INTEGER NOT NULL PRIMARY KEY, IN_SLAVE INTEGER, IN_NAME VARCHAR(30));
CREATE TABLE OUTPUTS (OU_ID INTEGER NOT NULL PRIMARY KEY, OU_SLAVE INTEGER, OU_NAME VARCHAR(30));
CREATE TABLE READERS (RD_ID INTEGER NOT NULL PRIMARY KEY, RD_SLAVE INTEGER, RD_NAME VARCHAR(30),
  RD_IN_1 INTEGER, RD_IN_2 INTEGER, RD_OUT_OPEN INTEGER, RD_OUT_CLOSE INTEGER);
CREATE TABLE PRGDEF (PD_ID INTEGER NOT NULL PRIMARY KEY, PD_NAME VARCHAR(20), PD_CTRL INTEGER, PD_A INTEGER,
  PD_TYPE INTEGER, PD_DEV_ID INTEGER);
CREATE TABLE INIDATA (ID_ID INTEGER NOT NULL PRIMARY KEY, ID_SECTION VARCHAR(40), ID_BLOB BLOB SUB_TYPE 1);
CREATE TABLE OWNER (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_NAME VARCHAR(40), OW_PHOTO BLOB, OW_ARCHIVE SMALLINT);
CREATE TABLE EMPTY_T (E_ID INTEGER NOT NULL PRIMARY KEY);
CREATE TABLE ONLY_SRC (S_ID INTEGER NOT NULL PRIMARY KEY);
)";

// The newer destination: identifier tables numbered by their own generators, a host port,
// a new controller column with a default, and the separate photo table filled by a trigger.
const char* const kDestSchema = R"(
CREATE TABLE HOSTS (HS_ID INTEGER NOT NULL PRIMARY KEY, HS_NAME VARCHAR(30), HS_PORT INTEGER DEFAULT 0);
CREATE TABLE CONTROLLERS (CT_ID INTEGER NOT NULL PRIMARY KEY, CT_HOST INTEGER, CT_NAME VARCHAR(30),
  CT_NEW VARCHAR(10) DEFAULT 'new', CHECK (CT_NAME <> 'bad'));
CREATE TABLE PCN (PC_ID COMPUTED BY (CAST('x' AS INTEGER)), PC_CTRL INTEGER, PC_NAME VARCHAR(30));
CREATE TABLE SLAVES (SL_ID INTEGER NOT NULL PRIMARY KEY, SL_CTRL INTEGER, SL_NAME VARCHAR(30));
CREATE TABLE INPUTS (IN_ID INTEGER NOT NULL PRIMARY KEY, IN_SLAVE INTEGER, IN_NAME VARCHAR(30));
CREATE TABLE OUTPUTS (OU_ID INTEGER NOT NULL PRIMARY KEY, OU_SLAVE INTEGER, OU_NAME VARCHAR(30));
CREATE TABLE READERS (RD_ID INTEGER NOT NULL PRIMARY KEY, RD_SLAVE INTEGER, RD_NAME VARCHAR(30),
  RD_IN_1 INTEGER, RD_IN_2 INTEGER, RD_OUT_OPEN INTEGER, RD_OUT_CLOSE INTEGER);
CREATE TABLE PRGDEF (PD_ID INTEGER NOT NULL PRIMARY KEY, PD_NAME VARCHAR(20), PD_CTRL INTEGER, PD_A INTEGER,
  PD_TYPE INTEGER, PD_DEV_ID INTEGER);
CREATE TABLE INIDATA (ID_ID INTEGER NOT NULL PRIMARY KEY, ID_SECTION VARCHAR(40), ID_BLOB BLOB SUB_TYPE 1);
CREATE TABLE OWNER (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_NAME VARCHAR(40), OW_PHOTO BLOB,
  OW_ARCHIVE SMALLINT DEFAULT 0, CHECK (OW_NAME <> 'bad'));
CREATE TABLE OWNERPHOTOS (OW_ID INTEGER NOT NULL PRIMARY KEY, OW_PHOTO BLOB);
CREATE TABLE EMPTY_T (E_ID INTEGER NOT NULL PRIMARY KEY);
CREATE GENERATOR GEN_HS; SET GENERATOR GEN_HS TO 100;
CREATE GENERATOR GEN_CT; SET GENERATOR GEN_CT TO 200;
CREATE GENERATOR GEN_SL; SET GENERATOR GEN_SL TO 300;
CREATE GENERATOR GEN_IN; SET GENERATOR GEN_IN TO 400;
CREATE GENERATOR GEN_OU; SET GENERATOR GEN_OU TO 500;
CREATE GENERATOR GEN_RD; SET GENERATOR GEN_RD TO 600;
SET TERM ^ ;
CREATE TRIGGER HOSTS_BI FOR HOSTS BEFORE INSERT AS BEGIN NEW.HS_ID = GEN_ID(GEN_HS, 1); END^
CREATE TRIGGER CONTROLLERS_BI FOR CONTROLLERS BEFORE INSERT AS BEGIN NEW.CT_ID = GEN_ID(GEN_CT, 1); END^
CREATE TRIGGER SLAVES_BI FOR SLAVES BEFORE INSERT AS BEGIN NEW.SL_ID = GEN_ID(GEN_SL, 1); END^
CREATE TRIGGER INPUTS_BI FOR INPUTS BEFORE INSERT AS BEGIN NEW.IN_ID = GEN_ID(GEN_IN, 1); END^
CREATE TRIGGER OUTPUTS_BI FOR OUTPUTS BEFORE INSERT AS BEGIN NEW.OU_ID = GEN_ID(GEN_OU, 1); END^
CREATE TRIGGER READERS_BI FOR READERS BEFORE INSERT AS BEGIN NEW.RD_ID = GEN_ID(GEN_RD, 1); END^
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
INSERT INTO INPUTS VALUES (1, 1, 'i1');
INSERT INTO INPUTS VALUES (2, 3, 'i2');
INSERT INTO OUTPUTS VALUES (1, 1, 'o1');
INSERT INTO OUTPUTS VALUES (2, 1, 'o2');
INSERT INTO READERS VALUES (1, 1, 'r1', 2, NULL, 1, 77);
INSERT INTO PRGDEF VALUES (1, 'pd1', 20, 0, 4, 1);
INSERT INTO PRGDEF VALUES (2, 'pd2', 10, 0, 8, 2);
INSERT INTO PRGDEF VALUES (3, 'pd3', 10, 0, 3, 55);
)";

class PerepisTest : public ::testing::Test {
protected:
    void Make(const std::string& sourceRows, const std::string& destRows = {}) {
        CreateDatabase(srcPath, std::string(kSourceSchema) + sourceRows);
        CreateDatabase(dstPath, std::string(kDestSchema) + destRows);
    }
    void Copy(const std::string& table, const std::string& key, const std::string& where = {}) {
        if (!src) {
            src = std::make_unique<Side>(srcPath);
            dst = std::make_unique<Side>(dstPath);
        }
        transfer::Perepis(run.ctx, src->SQL, dst->SQL, src->Tr, dst->Tr, src->DB, dst->DB, table, key, where);
    }
    Rows Dest(const std::string& sql) { return Db(dstPath).Rows(sql); }
    // A line of the run log for a row, up to the message.
    static std::string Line(const std::string& text, const std::string& table, const std::string& key,
                            const std::string& value) {
        return text + table + " " + key + " =  " + value + " :  ";
    }

    EngineRun run;
    std::string srcPath = run.dir.File("src.fdb");
    std::string dstPath = run.dir.File("dst.fdb");
    std::unique_ptr<Side> src, dst;
};

TEST_F(PerepisTest, DeviceTablesGetNewKeysAndTranslatedReferences) {
    Make(kDeviceRows);
    for (auto [table, key] : {std::pair{"HOSTS", "HS_ID"}, {"CONTROLLERS", "CT_ID"}, {"SLAVES", "SL_ID"},
                              {"INPUTS", "IN_ID"}, {"OUTPUTS", "OU_ID"}, {"READERS", "RD_ID"},
                              {"PRGDEF", "PD_ID"}})
        Copy(table, key);
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.state.TableProgress().Max(), 3);       // PRGDEF
    EXPECT_EQ(run.state.TableProgress().Position(), 3);

    // Hosts: new keys in source-key order, the missing port column set to 1.
    EXPECT_EQ(Dest("select HS_NAME, HS_PORT from HOSTS order by HS_ID"),
              (Rows{{"h3", "1"}, {"h5", "1"}, {"h7", "1"}}));
    EXPECT_EQ(run.maps.OldIds(1), (std::vector<std::string>{"3", "5", "7"}));
    std::vector<std::string> hostKeys;
    for (auto& row : Dest("select HS_ID from HOSTS order by HS_NAME")) hostKeys.push_back(row[0]);
    EXPECT_EQ(run.maps.NewIds(1), hostKeys);
    EXPECT_NE(hostKeys[0], "3");

    // Controllers refer to the host of the same name; an unknown host becomes -1; the
    // dropped column is not written and the new one takes its default.
    EXPECT_EQ(Dest("select C.CT_NAME, H.HS_NAME, C.CT_HOST, C.CT_NEW from CONTROLLERS C "
                   "left join HOSTS H on H.HS_ID = C.CT_HOST order by C.CT_NAME"),
              (Rows{{"c10", "h3", hostKeys[0], "new"}, {"c20", "h5", hostKeys[1], "new"},
                    {"c30", "<null>", "-1", "new"}}));

    // The refused controller (key 25) is logged and has no new key, so the slave that
    // refers to it gets -1 and the later controller keeps its own key.
    EXPECT_EQ(run.maps.OldIds(2), (std::vector<std::string>{"10", "20", "25", "30"}));
    EXPECT_EQ(run.maps.NewIds(2)[2], "-1");
    EXPECT_EQ(Dest("select S.SL_NAME, C.CT_NAME, S.SL_CTRL from SLAVES S "
                   "left join CONTROLLERS C on C.CT_ID = S.SL_CTRL order by S.SL_NAME"),
              (Rows{{"s1", "c10", run.maps.NewIds(2)[0]}, {"s2", "<null>", "-1"}, {"s3", "c30", run.maps.NewIds(2)[3]}}));

    // Reader device columns point at the right inputs and outputs; NULL stays; an unknown
    // output becomes -1.
    Rows readers = Dest("select S.SL_NAME, I.IN_NAME, R.RD_IN_2, O.OU_NAME, R.RD_OUT_CLOSE from READERS R "
                        "left join SLAVES S on S.SL_ID = R.RD_SLAVE left join INPUTS I on I.IN_ID = R.RD_IN_1 "
                        "left join OUTPUTS O on O.OU_ID = R.RD_OUT_OPEN");
    EXPECT_EQ(readers, (Rows{{"s1", "i2", "<null>", "o1", "-1"}}));
    EXPECT_EQ(Dest("select I.IN_NAME, S.SL_NAME from INPUTS I join SLAVES S on S.SL_ID = I.IN_SLAVE order by 1"),
              (Rows{{"i1", "s1"}, {"i2", "s3"}}));

    // Program definitions: controller translated, the device by its type (4 reader,
    // 8 output), another type left as copied.
    EXPECT_EQ(Dest("select P.PD_NAME, C.CT_NAME, P.PD_DEV_ID, R.RD_NAME, O.OU_NAME from PRGDEF P "
                   "left join CONTROLLERS C on C.CT_ID = P.PD_CTRL left join READERS R on R.RD_ID = P.PD_DEV_ID "
                   "left join OUTPUTS O on O.OU_ID = P.PD_DEV_ID order by P.PD_ID"),
              (Rows{{"pd1", "c20", run.maps.NewIds(8)[0], "r1", "<null>"},
                    {"pd2", "c10", run.maps.NewIds(6)[1], "<null>", "o2"},
                    {"pd3", "c10", "55", "<null>", "<null>"}}));

    Db check(dstPath);
    std::string refused = ErrorOf(check, "Insert into CONTROLLERS( CT_HOST,CT_NAME ) Values ( 1,'bad' )");
    EXPECT_NE(refused.find("CHECK"), std::string::npos);
    EXPECT_EQ(run.Log(), Line(texts::kInsertError, "CONTROLLERS", "CT_ID", "25") + refused + "\r\n");
}

TEST_F(PerepisTest, FailedMaximumQueryRecordsMinusOneAndIsLogged) {
    Make(kDeviceRows);
    Copy("HOSTS", "HS_ID");
    Copy("CONTROLLERS", "CT_ID");
    RunLog::Create(run.ctx.LogPath());
    Copy("PCN", "PC_ID");   // the destination's key column cannot be read
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.maps.OldIds(3), (std::vector<std::string>{"1"}));
    EXPECT_EQ(run.maps.NewIds(3), (std::vector<std::string>{"-1"}));
    EXPECT_EQ(Dest("select C.CT_NAME from PCN P join CONTROLLERS C on C.CT_ID = P.PC_CTRL"), (Rows{{"c20"}}));
    Db check(dstPath);
    std::string message = ErrorOf(check, "Select MAX(PC_ID) from PCN");
    EXPECT_NE(message.find("conversion"), std::string::npos);
    EXPECT_EQ(run.Log(), Line(texts::kMaxIdError, "PCN", "PC_ID", "1") + message + "\r\n");
}

TEST_F(PerepisTest, IniDataSkipsFilterSectionsAndRewritesReaderRights) {
    Make(R"(
INSERT INTO INIDATA VALUES (1, 'USER_CAN_FILTER', 'a');
INSERT INTO INIDATA VALUES (2, 'USER_FILTERS', 'b');
INSERT INTO INIDATA VALUES (3, 'CTRL_FILTERS', 'c');
INSERT INTO INIDATA VALUES (4, 'USERS_RD_RIGHTS', '[Door A]5' || ASCII_CHAR(13) || ASCII_CHAR(10) || '[Door B]6');
INSERT INTO INIDATA VALUES (5, 'USERS_RD_RIGHTS', '[Door C]abc');
INSERT INTO INIDATA VALUES (6, 'OTHER', '[keep]5');
)");
    run.maps.OldIds(8) = {"5"};
    run.maps.NewIds(8) = {"12"};
    Copy("INIDATA", "ID_ID");
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.state.TableProgress().Max(), 3);
    EXPECT_EQ(Dest("select ID_ID, ID_SECTION, ID_BLOB from INIDATA order by ID_ID"),
              (Rows{{"4", "USERS_RD_RIGHTS", "[Door A]12\r\n[Door B]-1\r\n"}, {"6", "OTHER", "[keep]5"}}));
    // The unreadable reader number fails the whole row, with one log line.
    std::string log = run.Log();
    std::string prefix = Line(texts::kInsertError, "INIDATA", "ID_ID", "5");
    EXPECT_EQ(log.substr(0, prefix.size()), prefix);
    EXPECT_EQ(log.find("\r\n"), log.size() - 2);
}

TEST_F(PerepisTest, OwnersLeavePhotosToThePhotoTableAndKeepTheirArchiveFlag) {
    Make(R"(
INSERT INTO OWNER VALUES (1, 'o1', 'PHOTO1', 1);
INSERT INTO OWNER VALUES (2, 'o2', 'PHOTO2', 0);
INSERT INTO OWNER VALUES (3, 'bad', 'PHOTO3', 1);
INSERT INTO OWNER VALUES (4, 'o4', NULL, 0);
)");
    run.state.DestHasPhotos = true;
    run.state.SourceHasPhotos = false;
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

TEST_F(PerepisTest, SourceOwnersWithoutArchiveFlagAreAllCopied) {
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

const char* const kJournalSchema = R"(
CREATE TABLE EVDESC (ED_ID INTEGER NOT NULL PRIMARY KEY, ED_CODE INTEGER, ED_ADDCODE INTEGER, ED_HARDTYPE INTEGER,
  ED_C4 VARCHAR(8), ED_C5 INTEGER, ED_C6 INTEGER, ED_C7 INTEGER, ED_C8 INTEGER, ED_C9 INTEGER, ED_C10 INTEGER,
  ED_C11 INTEGER, ED_C12 INTEGER, ED_C13 INTEGER, ED_C14 INTEGER,
  ED_C15 VARCHAR(8), ED_C16 VARCHAR(8), ED_C17 VARCHAR(8), ED_C18 VARCHAR(8), ED_C19 VARCHAR(8));
CREATE TABLE EVENTS (EV_ID INTEGER NOT NULL PRIMARY KEY, EV_DATE DATE, EV_CODE INTEGER, EV_ADDCODE INTEGER,
  EV_DEV INTEGER);
)";

std::string Description(int id, int code, int addCode, int hardType, const std::string& tag) {
    std::string row = "INSERT INTO EVDESC VALUES (" + std::to_string(id) + ", " + std::to_string(code) + ", " +
                      std::to_string(addCode) + ", " + std::to_string(hardType) + ", '" + tag + "4'";
    for (int i = 5; i <= 14; ++i) row += ", 0";
    for (int i = 15; i <= 19; ++i) row += ", '" + tag + std::to_string(i) + "'";
    return row + ");\n";
}

TEST_F(PerepisTest, JournalsFromTheStartDayWithDevicesTranslatedByHardwareType) {
    std::string descriptions = Description(1, 10, 0, 4, "s") + Description(2, 11, 1, 0, "s") +
                               Description(3, 12, 2, 7, "s") + Description(5, 10, 256, 4, "s") +
                               Description(9, 99, 0, 1, "s");
    CreateDatabase(srcPath, std::string(kJournalSchema) + descriptions + R"(
INSERT INTO EVENTS VALUES (1, '2026-02-28 23:59:59', 10, 0, 5);
INSERT INTO EVENTS VALUES (2, '2026-03-01 10:00:00', 10, 0, 5);
INSERT INTO EVENTS VALUES (3, '2026-03-02 00:00:00', 11, 1, 77);
INSERT INTO EVENTS VALUES (4, '2026-03-03 00:00:00', 12, 2, 8);
INSERT INTO EVENTS VALUES (5, '2026-03-04 00:00:00', 10, 256, 5);
)");
    CreateDatabase(dstPath, std::string(kJournalSchema) + Description(1, 10, 0, 4, "d") +
                                Description(2, 11, 1, 0, "d") + Description(3, 12, 2, 7, "d") +
                                Description(5, 10, 256, 4, "d"));
    run.maps.OldIds(8) = {"5"};
    run.maps.NewIds(8) = {"12"};
    run.maps.OldIds(7) = {"3"};
    run.maps.NewIds(7) = {"30"};
    run.state.StartDate = db::DateTime{2026, 3, 1, 15, 30, 0, 0};   // counts from the start of that day

    // Descriptions take the five columns at positions 15 to 19 and gain no rows.
    Copy("EVDESC", "ED_ID");
    EXPECT_EQ(Dest("select ED_ID, ED_C4, ED_C14, ED_C15, ED_C16, ED_C19 from EVDESC order by ED_ID"),
              (Rows{{"1", "d4", "0", "s15", "s16", "s19"}, {"2", "d4", "0", "s15", "s16", "s19"},
                    {"3", "d4", "0", "s15", "s16", "s19"}, {"5", "d4", "0", "s15", "s16", "s19"}}));
    EXPECT_EQ(run.Log(), "");

    Copy("EVENTS", "EV_ID");
    EXPECT_TRUE(WorkLockFree());
    EXPECT_EQ(run.state.TableProgress().Max(), 4);
    // Reader 5 through READERS, hardware type 0 left as copied, input 8 unknown to INPUTS.
    EXPECT_EQ(Dest("select EV_ID, EV_DEV from EVENTS order by EV_ID"),
              (Rows{{"2", "12"}, {"3", "77"}, {"4", "-1"}, {"5", "12"}}));
    // Event 5 matches two descriptions (directly and less 256): its second insert is refused.
    Db check(dstPath);
    std::string refused = ErrorOf(check, "insert into EVENTS (EV_ID) values (5)");
    EXPECT_EQ(run.Log(), Line(texts::kInsertError, "EVENTS", "EV_ID", "5") + refused + "\r\n");
}

TEST_F(PerepisTest, CancelStopsAfterTheCurrentRowAndEndsTheWork) {
    Make(kDeviceRows);
    run.state.OnPump = [](HeadlessRunState& s) {
        if (s.PumpCount == 2) s.CancelFlag = true;
    };
    Copy("HOSTS", "HS_ID");
    EXPECT_TRUE(WorkLockFree());
    EXPECT_FALSE(src->Tr.IsActive());
    EXPECT_FALSE(dst->Tr.IsActive());
    EXPECT_EQ(run.state.PumpCount, 2);
    EXPECT_EQ(Dest("select HS_NAME from HOSTS order by HS_ID"), (Rows{{"h3"}, {"h5"}}));
    EXPECT_EQ(run.maps.OldIds(1).size(), 2u);
    EXPECT_EQ(run.maps.NewIds(1).size(), 2u);

    // Cancelled before the first row: nothing written, nothing left begun.
    Copy("CONTROLLERS", "CT_ID");
    EXPECT_EQ(Dest("select count(*) from CONTROLLERS"), (Rows{{"0"}}));
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(PerepisTest, EmptyTableAndFailedSetUpLeaveNoWorkBegun) {
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

} // namespace
} // namespace kestrix::test
