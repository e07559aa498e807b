#include <cstdio>

#include <gtest/gtest.h>

#include "db/Client.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "db/Work.h"
#include "support/Fixtures.h"

namespace kestrix::db {
namespace {

using test::CreateDatabase;
using test::TempDir;
using test::W;

template <class F> int ClientCode(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.kind() == Error::Kind::Client ? e.code() : -e.code();
    }
    return 0;
}

const char* kSchema =
    "CREATE TABLE V (ID INTEGER NOT NULL, C CHAR(10), VC VARCHAR(40), B BLOB SUB_TYPE 1, BB BLOB,\n"
    "  N NUMERIC(9,2), N18 NUMERIC(18,4), S SMALLINT, D DATE, DBL DOUBLE PRECISION, F FLOAT);\n";

// One side of a transfer: a connection with its transaction and statement, inside a unit of work.
struct Side {
    explicit Side(const std::string& path) {
        SetStandardParams(connection);
        connection.SetDatabaseFile(path);
        transaction.BindDatabase(connection);
        statement.BindTransaction(transaction);
        connection.Connect();
        BeginWork(statement);
    }
    ~Side() {
        EndWork(statement);
        connection.Disconnect();
    }
    void Text(const std::string& line) {
        statement.ClearSql();
        statement.AddSqlLine(line);
    }
    Connection connection;
    Transaction transaction;
    Statement statement;
};

class ValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("v.fdb");
        CreateDatabase(path, kSchema);
    }
    TempDir dir;
    std::string path;
};

TEST_F(ValueTest, CyrillicTextRoundTrip) {
    const std::string text = W("Иванов Пётр Ёжикович");
    const std::string shortText = W("Юля");
    {
        Side s(path);
        s.Text("INSERT INTO V (ID, C, VC, B) VALUES (1, :C, :VC, :B)");
        s.statement.ParameterByName("C").SetString(shortText);
        s.statement.ParameterByName("VC").SetString(text + " ");
        s.statement.ParameterByName("B").SetString(text);
        s.statement.Execute();
    }
    Side s(path);
    s.Text("SELECT C, VC, B FROM V");
    s.statement.Execute();
    EXPECT_EQ(s.statement.ColumnByName("C").GetString(), shortText);            // padding removed
    EXPECT_EQ(s.statement.ColumnByName("VC").GetString(), text + " ");          // as stored
    EXPECT_EQ(s.statement.ColumnByName("B").GetString(), text);
    std::string stream = "prefix:";
    s.statement.ColumnByName("B").ReadBlobTo(stream);
    EXPECT_EQ(stream, "prefix:" + text);
    EXPECT_EQ(ClientCode([&] { s.statement.ColumnByName("VC").GetInteger(); }), 38);
    EXPECT_EQ(ClientCode([&] { s.statement.ColumnByName("C").ReadBlobTo(stream); }), 38);
    s.statement.CloseCursor();

    // CHAR drops trailing control characters too.
    s.Text("SELECT CAST('AB' || ASCII_CHAR(9) || ASCII_CHAR(10) AS CHAR(6)) FROM RDB$DATABASE");
    s.statement.Execute();
    EXPECT_EQ(s.statement.ColumnAt(0).GetString(), "AB");
    s.statement.CloseCursor();
}

// Dates and times decoded as the client library decodes them: every day from 1 January 1 to
// 31 December 9999 and every second of a day, with the texts the library's fields give.
TEST(ValueText, DatesAndTimesDecodeAsTheClientLibrary) {
    const client::Api& api = client::Load();
    int wrong = 0;
    for (ISC_DATE day = -678575; day <= 2973483 && wrong < 5; ++day) {
        std::tm mine{}, theirs{};
        DecodeDate(day, mine);
        api.decode_sql_date(&day, &theirs);
        char text[48];
        std::snprintf(text, sizeof text, "%02d.%02d.%04d", theirs.tm_mday, theirs.tm_mon + 1, theirs.tm_year + 1900);
        if (mine.tm_year != theirs.tm_year || mine.tm_mon != theirs.tm_mon || mine.tm_mday != theirs.tm_mday ||
            DateText(mine) != text) {
            ADD_FAILURE() << "day " << day << ": " << DateText(mine) << ", the library " << text;
            ++wrong;
        }
    }
    for (ISC_TIME time = 1234; time < 86400u * 10000 && wrong < 5; time += 10000) {
        std::tm mine{}, theirs{};
        DecodeTime(time, mine);
        api.decode_sql_time(&time, &theirs);
        char text[48];
        std::snprintf(text, sizeof text, "%d:%02d:%02d", theirs.tm_hour, theirs.tm_min, theirs.tm_sec);
        if (TimeText(mine) != text) {
            ADD_FAILURE() << "time " << time << ": " << TimeText(mine) << ", the library " << text;
            ++wrong;
        }
    }
}

TEST_F(ValueTest, NumbersAndNulls) {
    Side s(path);
    s.Text("INSERT INTO V (ID, N, N18, S, DBL, F, VC) VALUES (1, 12.99, 123456789012.5, -7, 2.5e10, -3.75, ' 42')");
    s.statement.Execute();
    s.Text("INSERT INTO V (ID, N, N18, DBL) VALUES (2, -12.99, -0.0001, 0.1)");
    s.statement.Execute();
    s.Text("INSERT INTO V (ID) VALUES (3)");
    s.statement.Execute();
    s.Text("SELECT N, N18, S, DBL, F, VC, C, ID FROM V ORDER BY ID");
    s.statement.Execute();
    auto& st = s.statement;
    EXPECT_EQ(st.ColumnByName("N").GetInteger(), 12);
    EXPECT_EQ(st.ColumnByName("N").GetString(), "12.99");
    EXPECT_EQ(st.ColumnByName("N18").GetString(), "123456789012.5");
    EXPECT_EQ(ClientCode([&] { st.ColumnByName("N18").GetInteger(); }), 38);   // does not fit 32 bits
    EXPECT_EQ(st.ColumnByName("S").GetInteger(), -7);
    EXPECT_EQ(st.ColumnByName("S").GetString(), "-7");
    EXPECT_EQ(st.ColumnByName("DBL").GetString(), "25000000000");
    EXPECT_EQ(ClientCode([&] { st.ColumnByName("DBL").GetInteger(); }), 38);
    EXPECT_EQ(st.ColumnByName("F").GetInteger(), -3);
    EXPECT_EQ(st.ColumnByName("F").GetString(), "-3.75");
    EXPECT_EQ(st.ColumnByName("VC").GetInteger(), 42);
    st.FetchNext();
    EXPECT_EQ(st.ColumnByName("N").GetInteger(), -12);
    EXPECT_EQ(st.ColumnByName("N").GetString(), "-12.99");
    EXPECT_EQ(st.ColumnByName("N18").GetString(), "-0.0001");
    EXPECT_EQ(st.ColumnByName("DBL").GetString(), "0.1");
    st.FetchNext();
    EXPECT_TRUE(st.ColumnByName("N").IsNull());
    EXPECT_EQ(st.ColumnByName("N").GetInteger(), 0);
    EXPECT_EQ(st.ColumnByName("C").GetString(), "");
    EXPECT_FALSE(st.ColumnByName("ID").IsNull());
    st.CloseCursor();

    s.Text("SELECT CAST(1200 AS NUMERIC(9,2)), CAST(-0.05 AS NUMERIC(9,2)), CAST(1.5 AS NUMERIC(15,6)) "
           "FROM RDB$DATABASE");
    st.Execute();
    EXPECT_EQ(st.ColumnAt(0).GetString(), "1200");
    EXPECT_EQ(st.ColumnAt(1).GetString(), "-0.05");
    EXPECT_EQ(st.ColumnAt(1).GetInteger(), 0);
    EXPECT_EQ(st.ColumnAt(2).GetString(), "1.5");
    st.CloseCursor();

    // Whole numbers as the engine holds them, to their limits; a scaled number is refused.
    s.Text("SELECT CAST(-32768 AS SMALLINT), CAST(2147483647 AS INTEGER), CAST(-2147483648 AS INTEGER), "
           "CAST(NULL AS INTEGER), CAST(12 AS NUMERIC(9,2)) FROM RDB$DATABASE");
    st.Execute();
    EXPECT_EQ(st.ColumnAt(0).GetInt64(), -32768);
    EXPECT_EQ(st.ColumnAt(1).GetInt64(), 2147483647);
    EXPECT_EQ(st.ColumnAt(2).GetInt64(), -2147483648LL);
    EXPECT_EQ(st.ColumnAt(3).GetInt64(), 0);
    EXPECT_EQ(ClientCode([&] { st.ColumnAt(4).GetInt64(); }), 38);
    st.CloseCursor();
}

TEST_F(ValueTest, SetStringFollowsTheParameterType) {
    Side s(path);
    s.Text("INSERT INTO V (ID, VC, N, D) VALUES (:ID, :VC, :N, :D)");
    auto& st = s.statement;
    st.ParameterByName("ID").SetInteger(1);
    st.ParameterByName("VC").SetString("");
    st.ParameterByName("N").SetString("");
    st.ParameterByName("D").SetString("07.12.2026 9:05:03");
    EXPECT_FALSE(st.ParameterByName("VC").IsNull());
    EXPECT_TRUE(st.ParameterByName("N").IsNull());
    EXPECT_EQ(st.ParameterByName("D").GetString(), "07.12.2026 9:05:03");
    st.Execute();
    st.ParameterByName("ID").SetString("2");   // INTEGER now: sent as text, converted by the server
    st.ParameterByName("N").SetString("3.25");
    st.ParameterByName("D").SetString("31.01.2020");
    st.Execute();
    EXPECT_EQ(ClientCode([&] { st.ParameterByName("D").SetString("31.02.2020"); }), 38);
    EXPECT_EQ(ClientCode([&] { st.ParameterByName("D").SetString("tomorrow"); }), 38);

    test::Db check(path);   // same process: a second attachment is fine
    EndWork(st);
    EXPECT_EQ(check.Rows("SELECT ID, VC, N, D FROM V ORDER BY ID"),
              (std::vector<std::vector<std::string>>{{"1", "", "<null>", "07.12.2026 9:05:03"},
                                                     {"2", "", "3.25", "31.01.2020"}}));
    BeginWork(st);
}

TEST_F(ValueTest, SetDateTimeDropsFractionsAndSetVariantDispatches) {
    Side s(path);
    s.Text("INSERT INTO V (ID, D, DBL, N18, S, VC) VALUES (1, :D, :DBL, :N18, :S, :VC)");
    auto& st = s.statement;
    st.ParameterByName("D").SetDateTime(DateTime{2026, 12, 7, 10, 15, 30, 750});
    EXPECT_EQ(ClientCode([&] { st.ParameterByName("D").SetDateTime(DateTime{2026, 13, 1}); }), 38);
    st.ParameterByName("DBL").SetVariant(0.5f);
    st.ParameterByName("N18").SetVariant(Currency{-123456});
    EXPECT_EQ(st.ParameterByName("N18").GetString(), "-12.3456");
    st.ParameterByName("S").SetVariant(true);
    st.ParameterByName("VC").SetVariant(std::string("text"));
    EXPECT_EQ(ClientCode([&] { st.ParameterByName("VC").SetVariant(ArrayValue{}); }), 4);
    EXPECT_EQ(ClientCode([&] { st.ParameterByName("VC").SetVariant(OtherValue{}); }), 5);
    st.Execute();
    st.ParameterByName("D").SetVariant(std::monostate{});
    EXPECT_TRUE(st.ParameterByName("D").IsNull());

    s.Text("SELECT D, DBL, N18, S, VC, EXTRACT(MILLISECOND FROM D) FROM V");
    st.Execute();
    EXPECT_EQ(st.ColumnAt(0).GetString(), "07.12.2026 10:15:30");
    EXPECT_EQ(st.ColumnAt(1).GetString(), "0.5");
    EXPECT_EQ(st.ColumnAt(2).GetString(), "-12.3456");
    EXPECT_EQ(st.ColumnAt(3).GetInteger(), 1);
    EXPECT_EQ(st.ColumnAt(4).GetString(), "text");
    EXPECT_EQ(st.ColumnAt(5).GetString(), "0");
    EXPECT_EQ(ClientCode([&] { st.ColumnAt(0).GetInteger(); }), 38);
    st.CloseCursor();
}

TEST_F(ValueTest, BlobsAreRecreatedInTheOtherDatabase) {
    std::string big(100 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    {
        Side src(path);
        src.Text("INSERT INTO V (ID, B, BB, VC) VALUES (:ID, :B, :BB, :VC)");
        auto& st = src.statement;
        st.ParameterByName("ID").SetInteger(1);
        st.ParameterByName("BB").WriteBlobFrom(big);
        st.ParameterByName("B").SetString(W("фото"));
        st.ParameterByName("VC").SetString(W("строка"));
        st.Execute();
        st.ParameterByName("ID").SetInteger(2);
        st.ParameterByName("BB").WriteBlobFrom("");
        st.ParameterByName("B").SetNull();
        st.ParameterByName("VC").SetNull();
        st.Execute();
        EXPECT_EQ(ClientCode([&] { st.ParameterByName("ID").WriteBlobFrom("x"); }), 38);
    }
    std::string destPath = dir.File("dest.fdb");
    CreateDatabase(destPath, kSchema);
    {
        Side src(path);
        Side dst(destPath);
        src.Text("SELECT ID, B, BB, VC FROM V ORDER BY ID");
        // The VARCHAR goes into a BLOB and the text BLOB into a VARCHAR on the way.
        dst.Text("INSERT INTO V (ID, B, BB, VC) VALUES (:ID, :VC, :BB, :B)");
        src.statement.Execute();
        int rows = 0;
        for (; !src.statement.AtEnd(); src.statement.FetchNext()) {
            for (const char* name : {"ID", "B", "BB", "VC"})
                dst.statement.ParameterByName(name).CopyValueFrom(src.statement.ColumnByName(name));
            if (rows == 0) {
                EXPECT_EQ(dst.statement.ParameterByName("BB").GetString(), big);
                EXPECT_EQ(dst.statement.ParameterByName("VC").GetString(), W("строка"));
                EXPECT_EQ(dst.statement.ParameterByName("B").GetString(), W("фото"));
            } else {
                EXPECT_TRUE(dst.statement.ParameterByName("VC").IsNull());
                EXPECT_FALSE(dst.statement.ParameterByName("BB").IsNull());
            }
            dst.statement.Execute();
            ++rows;
        }
        EXPECT_EQ(rows, 2);
        src.statement.CloseCursor();
    }
    Side check(destPath);
    check.Text("SELECT ID, B, BB, VC FROM V ORDER BY ID");
    auto& st = check.statement;
    st.Execute();
    EXPECT_EQ(st.ColumnByName("BB").GetString().size(), big.size());
    EXPECT_TRUE(st.ColumnByName("BB").GetString() == big);
    EXPECT_EQ(st.ColumnByName("B").GetString(), W("строка"));   // the stored text, no length prefix
    EXPECT_EQ(st.ColumnByName("VC").GetString(), W("фото"));
    st.FetchNext();
    EXPECT_FALSE(st.ColumnByName("BB").IsNull());
    EXPECT_EQ(st.ColumnByName("BB").GetString(), "");
    EXPECT_TRUE(st.ColumnByName("B").IsNull());
    st.FetchNext();
    EXPECT_TRUE(st.AtEnd());
    st.CloseCursor();
}

TEST_F(ValueTest, CopyValueFromTakesTheColumnsDescription) {
    Side s(path);
    s.Text("INSERT INTO V (ID, VC, N) VALUES (1, 'AB ', 12.5)");
    s.statement.Execute();
    Statement source;
    source.BindTransaction(s.transaction);
    source.AddSqlLine("SELECT ID, VC, N, C, B FROM V");
    source.Execute();
    s.Text("INSERT INTO V (ID, VC, N, C, B) VALUES (:ID + 1, :VC, :N, :N, :B)");
    auto& dst = s.statement;
    dst.ParameterByName("N").CopyValueFrom(source.ColumnByName("C"));   // NULL column
    EXPECT_TRUE(dst.ParameterByName("N").IsNull());
    EXPECT_TRUE(dst.ParameterAt(3).IsNull());
    dst.ParameterByName("N").CopyValueFrom(source.ColumnByName("N"));
    EXPECT_FALSE(dst.ParameterAt(3).IsNull());
    EXPECT_EQ(dst.ParameterAt(3).GetString(), "12.5");
    dst.ParameterByName("ID").CopyValueFrom(source.ColumnByName("ID"));   // NOT NULL column
    EXPECT_FALSE(dst.ParameterByName("ID").IsNull());
    dst.ParameterByName("VC").CopyValueFrom(source.ColumnByName("VC"));
    EXPECT_EQ(dst.ParameterByName("VC").GetString(), "AB ");
    dst.ParameterByName("B").CopyValueFrom(source.ColumnByName("B"));
    EXPECT_TRUE(dst.ParameterByName("B").IsNull());
    dst.ParameterByName("B").CopyValueFrom(source.ColumnByName("VC"));   // non-NULL again
    EXPECT_FALSE(dst.ParameterByName("B").IsNull());
    source.CloseCursor();
    dst.Execute();
    s.Text("SELECT VC, N, C, B FROM V WHERE ID = 2");
    dst.Execute();
    EXPECT_EQ(dst.ColumnAt(0).GetString(), "AB ");
    EXPECT_EQ(dst.ColumnAt(1).GetString(), "12.5");
    EXPECT_EQ(dst.ColumnAt(2).GetString(), "12.50");   // converted to CHAR by the server
    EXPECT_EQ(dst.ColumnAt(3).GetString(), "AB ");
    dst.CloseCursor();
}

} // namespace
} // namespace kestrix::db
