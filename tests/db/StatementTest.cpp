#include <gtest/gtest.h>

#include "db/Databases.h"
#include "db/Error.h"
#include "db/ParameterScan.h"
#include "db/Work.h"
#include "support/Fixtures.h"

namespace kestrix::db {
namespace {

using test::CreateDatabase;
using test::TempDir;

using test::Raised;

std::vector<std::string> Names(const std::string& text, std::string* out = nullptr) {
    std::vector<std::string> names;
    std::string rewritten = ScanParameters(text, names);
    if (out) *out = rewritten;
    return names;
}

TEST(ParameterScan, RewritesMarkersAndCollectsNames) {
    std::string out;
    EXPECT_EQ(Names("SELECT * FROM T WHERE A = :ev_d AND B = :\"Quoted Name\" AND C = :ev_d\r\n", &out),
              (std::vector<std::string>{"ev_d", "Quoted Name", "ev_d"}));
    EXPECT_EQ(out, "SELECT * FROM T WHERE A = ? AND B = ? AND C = ?\r\n");

    // Quotes and comments hide colons; a doubled quote stays inside the string.
    EXPECT_TRUE(Names("SELECT ':x', \"it''s :y\", 'a'':b' /* :c */ FROM T\r\n", &out).empty());
    EXPECT_EQ(out, "SELECT ':x', \"it''s :y\", 'a'':b' /* :c */ FROM T\r\n");

    // The character right after a name is copied without a look: a second colon stays.
    EXPECT_EQ(Names("VALUES (:A:B)\r\n", &out), std::vector<std::string>{"A"});
    EXPECT_EQ(out, "VALUES (?:B)\r\n");

    // Line comments are not known to the scan.
    EXPECT_EQ(Names("SELECT 1 FROM T -- :note\r\n"), std::vector<std::string>{"note"});
}

TEST(ParameterScan, MalformedTexts) {
    auto argument = [](const std::string& text) {
        try {
            Names(text);
        } catch (const Error& e) {
            EXPECT_EQ(e.code(), 55);
            return e.text().substr(std::string("SQL Parse Error:\r\n\r\n").size());
        }
        return std::string("<no error>");
    };
    EXPECT_EQ(argument("SELECT 'abc FROM T\r\n"), "EOF in string detected");
    EXPECT_EQ(argument("SELECT 1 /* open\r\n"), "EOF in comment detected");
    EXPECT_EQ(argument("SELECT * FROM T WHERE A = :\r\n"), "Parameter name expected");
    EXPECT_EQ(argument("SELECT * FROM T WHERE A = ? \r\n"), "Parameter name expected");
    EXPECT_EQ(argument("SELECT * FROM T WHERE A = :\"open"), "EOF in string detected");
    EXPECT_EQ(argument("X :"), "Parameter name expected");
    EXPECT_EQ(argument("X :a"), "<no error>");
}

class StatementTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("db.fdb");
        CreateDatabase(path,
                       "CREATE TABLE T (ID INTEGER, NAME VARCHAR(20), ID_SECTION VARCHAR(30));\n"
                       "INSERT INTO T VALUES (1, 'one', 'A');\n"
                       "INSERT INTO T VALUES (2, 'two', 'B');\n"
                       "CREATE GENERATOR G;\n"
                       "SET TERM ^ ;\n"
                       "CREATE PROCEDURE NEXT_ID (STEP INTEGER) RETURNS (NEW_ID INTEGER) AS\n"
                       "BEGIN NEW_ID = GEN_ID(G, :STEP); END ^\n"
                       "SET TERM ; ^\n");
        SetStandardParams(connection);
        connection.SetDatabaseFile(path);
        transaction.BindDatabase(connection);
        statement.BindTransaction(transaction);
        connection.Connect();
        transaction.BeginTransaction();
    }
    void Text(const std::string& line) {
        statement.ClearSql();
        statement.AddSqlLine(line);
    }
    TempDir dir;
    std::string path;
    Connection connection;
    Transaction transaction;
    Statement statement;
};

TEST_F(StatementTest, SelectWithoutAndWithRows) {
    Text("SELECT ID FROM T WHERE ID = :ID");
    statement.ParameterByName("id").SetInteger(99);
    statement.Execute();
    EXPECT_EQ(statement.StatementKind(), Statement::Kind::Select);
    EXPECT_EQ(statement.RowsFetched(), 0);
    EXPECT_TRUE(statement.AtEnd());
    statement.FetchNext();
    EXPECT_EQ(statement.RowsFetched(), 0);
    statement.CloseCursor();

    statement.ParameterByName("ID").SetInteger(2);
    statement.Execute();
    EXPECT_EQ(statement.RowsFetched(), 1);
    EXPECT_FALSE(statement.AtEnd());
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 2);
    statement.FetchNext();
    EXPECT_TRUE(statement.AtEnd());
    EXPECT_EQ(statement.RowsFetched(), 1);

    // Executing again without closing the cursor is refused.
    Error e = Raised([&] { statement.Execute(); });
    EXPECT_EQ(e.code(), 31);
    EXPECT_EQ(e.text(), "IBSQL Open");
    statement.CloseCursor();
    EXPECT_EQ(statement.RowsFetched(), 0);
    EXPECT_EQ(Raised([&] { statement.FetchNext(); }).text(), "IBSQL Closed");

    // A text edit keeps the cursor state until it is closed.
    statement.Execute();
    Text("SELECT NAME FROM T");
    EXPECT_EQ(Raised([&] { statement.Execute(); }).code(), 31);
    statement.CloseCursor();
    statement.Execute();
    int rows = 0;
    while (!statement.AtEnd()) {
        ++rows;
        statement.FetchNext();
    }
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(statement.RowsFetched(), 2);
    statement.CloseCursor();
}

TEST_F(StatementTest, CommitClosesTheCursorAndTheStatementStaysPrepared) {
    Text("SELECT ID FROM T ORDER BY ID");
    statement.Execute();
    transaction.CommitTransaction();
    EXPECT_FALSE(statement.CursorOpen());
    EXPECT_TRUE(statement.Prepared());
    transaction.BeginTransaction();
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 1);
    statement.CloseCursor();
}

TEST_F(StatementTest, CommitOrRollbackStatementEndsTheCursorsOfItsTransaction) {
    // A script may end the transaction with a statement of its own; the cursors that
    // the server closed with it must not stay marked open ("IBSQL Open" on the next run).
    Statement other;
    other.BindTransaction(transaction);
    for (const char* end : {"COMMIT", "ROLLBACK"}) {
        Text("SELECT ID FROM T ORDER BY ID");
        statement.Execute();
        ASSERT_TRUE(statement.CursorOpen());
        other.ClearSql();
        other.AddSqlLine(end);
        other.Execute();
        EXPECT_FALSE(transaction.IsActive()) << end;
        EXPECT_FALSE(statement.CursorOpen()) << end;
        EXPECT_TRUE(statement.AtEnd()) << end;
        EXPECT_EQ(statement.RowsFetched(), 0) << end;
        BeginWork(statement);
        statement.Execute();
        EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 1) << end;
        statement.CloseCursor();
        EndWork(statement);
        transaction.BeginTransaction();
    }
}

TEST_F(StatementTest, NulByteInTheTextIsRefused) {
    // The client library ends a text at its first NUL byte: the DELETE below would run
    // without its condition and empty the table.
    for (bool check : {true, false}) {
        statement.ParamCheck = check;
        Text(std::string("DELETE FROM T\0 WHERE ID = 1", 27));
        Error e = Raised([&] { statement.Execute(); });
        EXPECT_EQ(e.code(), 55);
        EXPECT_EQ(e.text(), "SQL Parse Error:\r\n\r\nNUL character in statement text");
        EXPECT_FALSE(statement.Prepared());
    }
    statement.ParamCheck = true;
    Text("SELECT COUNT(*) FROM T");
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 2);
    statement.CloseCursor();
}

TEST_F(StatementTest, ColumnAndParameterLookup) {
    Text("SELECT ID, NAME AS ID, ID_SECTION, 1 + 1, 2 + 2, ID FROM T WHERE ID = :ev_d OR ID = :EV_D");
    statement.Prepare();
    ASSERT_EQ(statement.ColumnCount(), 6);
    std::vector<std::string> names;
    for (int i = 0; i < statement.ColumnCount(); ++i) names.push_back(statement.ColumnAt(i).Name());
    EXPECT_EQ(names[0], "ID");
    EXPECT_EQ(names[1], "ID1");
    EXPECT_EQ(names[2], "ID_SECTION");
    EXPECT_EQ(names[5], "ID2");
    // Expressions carry no alias from the server in this dialect, or one of its own.
    EXPECT_FALSE(names[3].empty());
    EXPECT_NE(names[3], names[4]);

    EXPECT_EQ(&statement.ColumnByName(" id_section  "), &statement.ColumnAt(2));
    Error e = Raised([&] { statement.ColumnAt(6); });
    EXPECT_EQ(e.code(), 46);
    EXPECT_EQ(e.text(), "Field \"6\" not found");
    EXPECT_EQ(Raised([&] { statement.ColumnAt(-1); }).text(), "Field \"-1\" not found");
    EXPECT_EQ(Raised([&] { statement.ColumnByName("NOPE"); }).text(), "Field \"NOPE\" not found");
    EXPECT_EQ(Raised([&] { statement.ParameterByName("NOPE"); }).text(), "Field \"NOPE\" not found");
    EXPECT_EQ(Raised([&] { statement.ParameterAt(2); }).text(), "XSQLDA index out of range");

    // One name at two positions: one SetInteger sets both.
    ASSERT_EQ(statement.ParameterCount(), 2);
    EXPECT_EQ(statement.ParameterAt(0).Name(), "EV_D");
    statement.ParameterByName("ev_d").SetInteger(2);
    EXPECT_EQ(statement.ParameterAt(1).GetInteger(), 2);
    statement.Execute();   // the failed look-ups changed nothing
    EXPECT_EQ(statement.RowsFetched(), 1);
    EXPECT_EQ(statement.ColumnByName("id1").GetString(), "two");
    statement.CloseCursor();
}

TEST_F(StatementTest, UnnamedColumnsAreNumbered) {
    Text("SELECT COUNT(*), MAX(ID) FROM T");
    statement.Prepare();
    ASSERT_EQ(statement.ColumnCount(), 2);
    // The server names aggregates itself; names stay unique either way.
    EXPECT_NE(statement.ColumnAt(0).Name(), statement.ColumnAt(1).Name());
    Text("SELECT ID || '', ID || '', ID || '' FROM T");
    statement.Prepare();
    EXPECT_EQ(statement.ColumnAt(0).Name(), "CONCATENATION");
    EXPECT_EQ(statement.ColumnAt(1).Name(), "CONCATENATION1");
    EXPECT_EQ(statement.ColumnAt(2).Name(), "CONCATENATION2");
}

TEST(ColumnNames, UnnamedAndRepeatedNames) {
    EXPECT_EQ(ColumnName("", {}), "F_1");
    EXPECT_EQ(ColumnName("", {"F_1"}), "F_2");
    EXPECT_EQ(ColumnName("", {"F_1", "F_2"}), "F_3");
    EXPECT_EQ(ColumnName("ID", {"F_1"}), "ID");
    EXPECT_EQ(ColumnName("ID", {"ID", "ID1"}), "ID2");
    std::string longName(31, 'N');
    EXPECT_EQ(ColumnName(longName, {longName}), std::string(30, 'N') + "1");
    std::vector<std::string> taken{longName};
    for (int i = 1; i <= 9; ++i) taken.push_back(std::string(30, 'N') + std::to_string(i));
    EXPECT_EQ(ColumnName(longName, taken), std::string(29, 'N') + "10");
}

TEST_F(StatementTest, ServerErrorsCarryTheServersText) {
    Text("SELECT * FROM NO_SUCH_TABLE");
    Error e = Raised([&] { statement.Execute(); });
    EXPECT_EQ(e.kind(), Error::Kind::Server);
    EXPECT_EQ(e.text(), "Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nNO_SUCH_TABLE\r\n"
                        "At line 1, column 15");
    EXPECT_EQ(e.sqlCode(), -204);
    EXPECT_EQ(e.code(), 335544569);   // isc_dsql_error
    EXPECT_FALSE(statement.Prepared());

    Text("SELEC ID FROM T");
    e = Raised([&] { statement.Prepare(); });
    EXPECT_EQ(e.text(), "Dynamic SQL Error\r\nSQL error code = -104\r\nToken unknown - line 1, column 1\r\nSELEC");
    EXPECT_EQ(e.sqlCode(), -104);

    Text("INSERT INTO T (ID) VALUES ('not a number')");
    e = Raised([&] { statement.Execute(); });
    EXPECT_EQ(e.kind(), Error::Kind::Server);
    EXPECT_NE(e.text().back(), '.');
    EXPECT_EQ(e.text().find(".\r\n"), std::string::npos);

    statement.ClearSql();
    EXPECT_EQ(Raised([&] { statement.Prepare(); }).text(), "Empty query");
    Text("SELECT 'open FROM T");
    EXPECT_EQ(Raised([&] { statement.Prepare(); }).text(), "SQL Parse Error:\r\n\r\nEOF in string detected");
}

TEST_F(StatementTest, ParamCheckOffSendsTheTextAsWritten) {
    statement.ParamCheck = false;
    // The colon is the server's own syntax here and must reach it unchanged.
    Text("SELECT ID FROM T WHERE ? IS NULL OR ID = ?");
    statement.Prepare();
    ASSERT_EQ(statement.ParameterCount(), 2);
    statement.ParameterAt(0).SetNull();
    statement.ParameterAt(1).SetInteger(1);
    statement.Execute();
    int rows = 0;
    for (; !statement.AtEnd(); statement.FetchNext()) ++rows;
    EXPECT_EQ(rows, 2);
    statement.CloseCursor();

    statement.ParameterAt(0).SetInteger(5);   // not NULL now: only the second condition counts
    statement.Execute();
    EXPECT_EQ(statement.RowsFetched(), 1);
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 1);
    statement.CloseCursor();

    statement.ParamCheck = true;
    Text("SELECT COUNT(*) FROM T WHERE :P IS NULL OR NAME = :P");
    statement.ParameterByName("P").SetString("two");
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 1);
    statement.CloseCursor();
    statement.ParameterByName("P").SetNull();
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 2);
    statement.CloseCursor();
}

TEST_F(StatementTest, StatementKinds) {
    auto kind = [&](const std::string& text) {
        Text(text);
        statement.Prepare();
        return statement.StatementKind();
    };
    EXPECT_EQ(kind("INSERT INTO T (ID) VALUES (3)"), Statement::Kind::Insert);
    EXPECT_EQ(kind("UPDATE T SET ID = 3 WHERE ID = 9"), Statement::Kind::Update);
    EXPECT_EQ(kind("DELETE FROM T WHERE ID = 9"), Statement::Kind::Delete);
    EXPECT_EQ(kind("SELECT ID FROM T FOR UPDATE"), Statement::Kind::SelectForUpdate);
    EXPECT_EQ(kind("SET GENERATOR G TO 5"), Statement::Kind::SetGenerator);
    EXPECT_EQ(kind("CREATE TABLE X (A INTEGER)"), Statement::Kind::DDL);
    EXPECT_EQ(kind("EXECUTE PROCEDURE NEXT_ID 1"), Statement::Kind::ExecProcedure);
    Text("SET TRANSACTION");
    EXPECT_EQ(Raised([&] { statement.Prepare(); }).text(), "Not permitted");
    EXPECT_FALSE(statement.Prepared());
}

TEST_F(StatementTest, ExecuteProcedureFillsTheColumnsAtOnce) {
    Text("EXECUTE PROCEDURE NEXT_ID :STEP");
    statement.ParameterByName("STEP").SetInteger(10);
    statement.Execute();
    EXPECT_EQ(statement.ColumnByName("NEW_ID").GetInteger(), 10);
    EXPECT_FALSE(statement.CursorOpen());
    statement.Execute();
    EXPECT_EQ(statement.ColumnByName("NEW_ID").GetInteger(), 20);

    Text("SET GENERATOR G TO 100");
    statement.Execute();
    Text("SELECT GEN_ID(G, 0) FROM RDB$DATABASE");
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 100);
    statement.CloseCursor();
}

TEST_F(StatementTest, InsertReturningGivesTheKeyAndARefusedOneIsNotTriedAgain) {
    Text("INSERT INTO T (ID, NAME) VALUES (GEN_ID(G, 1) / :D, 'n') RETURNING ID");
    statement.ParameterByName("D").SetInteger(1);
    statement.Execute();
    EXPECT_EQ(statement.StatementKind(), Statement::Kind::ExecProcedure);
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 1);
    // A division by zero refuses the row after the generator stepped: a second try would
    // step it again.
    statement.ParameterByName("D").SetInteger(0);
    EXPECT_THROW(statement.Execute(), Error);
    Text("SELECT GEN_ID(G, 0) FROM RDB$DATABASE");
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 2);
    statement.CloseCursor();
}

TEST_F(StatementTest, UnknownTypeIsRefused) {
    Text("SELECT TRUE FROM RDB$DATABASE");
    Error e = Raised([&] { statement.Prepare(); });
    EXPECT_EQ(e.code(), 35);
    EXPECT_EQ(e.text(), "Unknown SQL Data type (32764)");
    EXPECT_FALSE(statement.Prepared());
}

TEST_F(StatementTest, RebindingMovesTheStatementToTheOtherDatabase) {
    TempDir other;
    CreateDatabase(other.File("o.fdb"), "CREATE TABLE T (ID INTEGER);\nINSERT INTO T VALUES (42);");
    Connection second;
    Transaction secondTransaction;
    SetStandardParams(second);
    second.SetDatabaseFile(other.File("o.fdb"));
    second.Connect();
    secondTransaction.BindDatabase(second);
    secondTransaction.BeginTransaction();

    Text("SELECT MAX(ID) FROM T");
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 2);
    statement.BindTransaction(secondTransaction);   // the open cursor stays behind
    EXPECT_FALSE(statement.CursorOpen());
    statement.Execute();
    EXPECT_EQ(statement.ColumnAt(0).GetInteger(), 42);
    statement.CloseCursor();
    second.Disconnect();
    EXPECT_FALSE(statement.Prepared());
}

} // namespace
} // namespace kestrix::db
