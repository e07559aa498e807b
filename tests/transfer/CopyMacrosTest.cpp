#include "transfer/CopyMacros.h"

#include <optional>

#include <gtest/gtest.h>

#include "run/Texts.h"
#include "db/Error.h"
#include "transfer/EngineSides.h"

namespace kestrix::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using Ids = std::vector<std::string>;

// Keys come from a generator; in the destination the CHECK refuses the name BAD after the
// key is taken.
const char* const kMacroTable = R"(
CREATE TABLE MACROSES (MCR_ID INTEGER NOT NULL PRIMARY KEY, MCR_NAME VARCHAR(40),
  MCR_FILL BLOB SUB_TYPE 1 SEGMENT SIZE 80);
CREATE GENERATOR GEN_MACROSES;
SET TERM ^ ;
CREATE TRIGGER MACROSES_BI FOR MACROSES BEFORE INSERT AS
BEGIN
  IF (NEW.MCR_ID IS NULL) THEN NEW.MCR_ID = GEN_ID(GEN_MACROSES, 1);
END^
SET TERM ; ^
)";

class CopyMacrosTest : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDatabase(srcPath, kMacroTable);
        CreateDatabase(dstPath, kMacroTable + std::string("ALTER TABLE MACROSES ADD CHECK (MCR_NAME <> 'BAD');\n"
                                                          "INSERT INTO MACROSES VALUES (50, 'old', 'x');\n"));
    }

    void AddSource(int id, std::optional<std::string> name, const std::string& fill) {
        Side src(srcPath);
        src.transaction.BeginTransaction();
        src.statement.AddSqlLine("insert into MACROSES (MCR_ID,MCR_NAME,MCR_FILL) values (:I,:N,:F)");
        src.statement.ParameterByName("I").SetInteger(id);
        if (name) src.statement.ParameterByName("N").SetString(*name);
        else src.statement.ParameterByName("N").SetNull();
        src.statement.ParameterByName("F").WriteBlobFrom(fill);
        src.statement.Execute();
        src.transaction.CommitTransaction();
    }

    void Transfer() {
        Side src(srcPath), dst(dstPath);
        transfer::CopyMacros(run.ctx, src, dst);
    }

    Rows Destination() { return Db(dstPath).Rows("select MCR_ID, MCR_NAME, MCR_FILL from MACROSES order by MCR_ID"); }
    const Ids& OldIds() { return run.maps.OldIds(kMacroses); }
    const Ids& NewIds() { return run.maps.NewIds(kMacroses); }

    EngineRun run;
    std::string srcPath = run.dir.File("src.fdb");
    std::string dstPath = run.dir.File("dst.fdb");
};

TEST_F(CopyMacrosTest, ReplacesDestinationMacrosAndPairsTheKeys) {
    AddSource(5, W("Открыть дверь"), "1;0;1;5;0;0;\r\n");
    AddSource(9, std::nullopt, "");
    AddSource(12, "third", "");
    Db(srcPath).Exec("UPDATE MACROSES SET MCR_FILL = NULL WHERE MCR_ID = 12");

    Transfer();

    EXPECT_EQ(OldIds(), (Ids{"5", "9", "12"}));
    EXPECT_EQ(NewIds(), (Ids{"1", "2", "3"}));
    // The old macro is gone; an absent name or text is stored empty, an empty text stays empty.
    EXPECT_EQ(Destination(), (Rows{{"1", W("Открыть дверь"), "1;0;1;5;0;0;\r\n"}, {"2", "", ""}, {"3", "third", ""}}));
    EXPECT_EQ(run.Log(), "");
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(CopyMacrosTest, RenumbersTextsAndStoresThemWithCrLf) {
    auto map = [&](int k, const std::string& from, const std::string& to) {
        run.maps.AppendOld(k, from);
        run.maps.AppendNew(k, to);
    };
    map(kReaders, "3", "30");
    map(kOutputs, "4", "41");
    map(kInputs, "17", "40");
    // CR only, LF only, an empty line, the older format (21 characters) and no final break.
    AddSource(7, "m", "1;0;6;3;0;2;\r1;0;7;4;0;1;\n\r\n10:17:0:0:0:TakeInAT:\r\n1;0;8;99;0;1;");

    Transfer();

    EXPECT_EQ(Db(dstPath).Scalar("select MCR_FILL from MACROSES"),
              "1;0;6;30;0;2;\r\n1;0;7;41;0;1;\r\n\r\n24;0;8;40;0;1;0;\r\n1;0;8;-1;0;1;\r\n");
    EXPECT_EQ(run.Log(), "");
}

TEST_F(CopyMacrosTest, RefusedInsertIsLoggedAndMappedToMinusOne) {
    AddSource(5, "A", "");
    AddSource(9, "BAD", "");
    AddSource(12, "C", "");

    Transfer();

    // The refused insert still drew keys from the generator (in its block, and again alone):
    // C's key is whatever the destination gave it, and the map pairs it.
    const Rows rows = Destination();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1", "A", ""}));
    EXPECT_EQ(rows[1][1], "C");
    EXPECT_EQ(OldIds(), (Ids{"5", "9", "12"}));
    EXPECT_EQ(NewIds(), (Ids{"1", "-1", rows[1][0]}));
    EXPECT_EQ(run.maps.RemapId(kMacroses, 12), std::stoi(rows[1][0]));
    std::string log = run.Log();
    EXPECT_EQ(log.rfind(texts::kMacroInsertError, 0), 0u) << log;
    EXPECT_NE(log.find("CHECK"), std::string::npos) << log;
    EXPECT_EQ(log.find(texts::kMacroInsertError, 1), std::string::npos) << log;   // one error only
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(CopyMacrosTest, UnconvertibleTextIsLoggedWithItsNameAndTheTransferGoesOn) {
    AddSource(5, "A", "1;0;6;3;0;2;");
    AddSource(9, "B", "1;0;6;3;0;2;\r\n1;0;x;3;0;2;");
    AddSource(12, "C", "1;0;6;3;0;2;");
    AddSource(14, "D", "");

    // The rows the run is told of, as the summary counts them.
    struct Counting : test::TestRunState {
        int read = 0, written = 0;
        void RowDone(bool w) override { ++read, written += w; }
    } counting;
    Context ctx{counting, run.options, run.maps, run.control};
    {
        Side src(srcPath), dst(dstPath);
        transfer::CopyMacros(ctx, src, dst);
    }

    // The faulty macro is neither inserted nor given a key; the ones after it are.
    EXPECT_EQ(Destination(), (Rows{{"1", "A", "1;0;6;-1;0;2;\r\n"}, {"2", "C", "1;0;6;-1;0;2;\r\n"}, {"3", "D", ""}}));
    EXPECT_EQ(OldIds(), (Ids{"5", "9", "12", "14"}));
    EXPECT_EQ(NewIds(), (Ids{"1", "-1", "2", "3"}));
    EXPECT_EQ(run.Log(), texts::kMacroTextError + "B :  'x' is not a valid integer value\r\n");
    EXPECT_EQ(counting.read, 4);
    EXPECT_EQ(counting.written, 3);
    EXPECT_TRUE(WorkLockFree());
}

TEST_F(CopyMacrosTest, UnreadableSourceIsLoggedAndTheDestinationStillEmptied) {
    Db(srcPath).Exec("DROP TABLE MACROSES");

    Transfer();

    EXPECT_EQ(Destination(), Rows{});
    EXPECT_TRUE(OldIds().empty());
    EXPECT_TRUE(NewIds().empty());
    std::string log = run.Log();
    EXPECT_EQ(log.rfind(texts::kMacroReadError, 0), 0u) << log;
    EXPECT_NE(log.find("MACROSES"), std::string::npos) << log;
    EXPECT_TRUE(WorkLockFree());
}

} // namespace
} // namespace kestrix::test
