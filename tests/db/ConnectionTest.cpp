#include <sys/wait.h>
#include <unistd.h>

#include <vector>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "db/Charset.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "db/Work.h"
#include "support/Fixtures.h"
#include "support/Process.h"

namespace kestrix::db {
namespace {

using test::CreateDatabase;
using test::TempDir;

using test::Raised;

bool LockHeldElsewhere() {
    bool held = false;
    std::thread other([&] {
        if (WorkLock().try_lock()) WorkLock().unlock();
        else held = true;
    });
    other.join();
    return held;
}

class ConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.File("db.fdb");
        CreateDatabase(path, "CREATE TABLE T (ID INTEGER, NAME VARCHAR(20));");
        SetStandardParams(connection);
        connection.SetDatabaseFile(path);
        transaction.BindDatabase(connection);
        statement.BindTransaction(transaction);
    }
    TempDir dir;
    std::string path;
    Connection connection;
    Transaction transaction;
    Statement statement;
};

TEST(ErrorTexts, ClientErrorsFillTheirPlaceholders) {
    EXPECT_EQ(ClientError(ClientCode::FieldNotFound, "7").text(), "Field \"7\" not found");
    EXPECT_EQ(ClientError(ClientCode::UnknownSqlType, "32764").text(), "Unknown SQL Data type (32764)");
    EXPECT_EQ(ClientError(ClientCode::SqlParseError, "EOF in string detected").text(), "SQL Parse Error:\r\n\r\nEOF in string detected");
    EXPECT_EQ(ClientError(ClientCode::DatabaseNameMissing).code(), 17);
    EXPECT_EQ(ClientError(ClientCode::DatabaseNameMissing).kind(), Error::Kind::Client);
    EXPECT_EQ(ClientError(ClientCode::LibraryNotFound).text(),
              "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality");
}

TEST(ErrorTexts, StrToIntTakesOnlyWholeDecimalNumbers) {
    EXPECT_EQ(StrToInt("-2147483648"), -2147483648LL);
    EXPECT_EQ(StrToInt("+17"), 17);
    EXPECT_EQ(StrToInt("  \t-12"), -12);
    for (const char* bad : {"", "-", " ", "12a", "- 12", "12 ", "2147483648", "99999999999999999999", "1.5"}) {
        EXPECT_THROW(StrToInt(bad), Error) << bad;
    }
    EXPECT_EQ(ConversionError("x").kind(), Error::Kind::Conversion);
}

TEST_F(ConnectionTest, ConnectReadsDialectAndDisconnectCommits) {
    connection.SQLDialect = 3;
    connection.Connect();
    EXPECT_TRUE(connection.IsConnected());
    EXPECT_EQ(connection.SQLDialect, 1);
    EXPECT_TRUE(connection.CheckConnection());
    connection.Connect();   // connected: nothing happens

    transaction.BeginTransaction();
    statement.ClearSql();
    statement.AddSqlLine("INSERT INTO T (ID, NAME) VALUES (1, 'one')");
    statement.Execute();
    statement.ClearSql();
    statement.AddSqlLine("SELECT ID FROM T");
    statement.Execute();
    EXPECT_TRUE(statement.CursorOpen());
    connection.Disconnect();
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_FALSE(transaction.IsActive());
    EXPECT_FALSE(statement.Prepared());
    EXPECT_FALSE(statement.CursorOpen());
    EXPECT_FALSE(connection.CheckConnection());
    connection.Disconnect();   // not connected: nothing happens

    test::Db check(path);
    EXPECT_EQ(check.Scalar("SELECT COUNT(*) FROM T"), "1");
}

TEST_F(ConnectionTest, SetDatabaseFileOnAnOpenConnection) {
    connection.Connect();
    connection.SetDatabaseFile(path);   // same name: nothing
    Error e = Raised([&] { connection.SetDatabaseFile(dir.File("other.fdb")); });
    EXPECT_EQ(e.code(), 16);
    EXPECT_EQ(e.text(), "Cannot perform operation -- DB is currently open");
    EXPECT_EQ(connection.DatabaseName(), path);
    connection.Disconnect();
    connection.SetDatabaseFile(dir.File("other.fdb"));
    EXPECT_EQ(connection.DatabaseName(), dir.File("other.fdb"));
}

TEST_F(ConnectionTest, RefusedConnectsAndTransactions) {
    Connection unnamed;
    EXPECT_EQ(Raised([&] { unnamed.Connect(); }).code(), 17);

    connection.SetDatabaseFile(dir.File("missing.fdb"));
    Error e = Raised([&] { connection.Connect(); });
    EXPECT_EQ(e.kind(), Error::Kind::Server);
    EXPECT_EQ(e.text(), "I/O error during \"open\" operation for file \"" + dir.File("missing.fdb") +
                            "\"\r\nError while trying to open file\r\nNo such file or directory");
    EXPECT_EQ(e.sqlCode(), -902);
    EXPECT_EQ(e.code(), 335544344);   // isc_io_error
    EXPECT_FALSE(connection.IsConnected());

    EXPECT_EQ(Raised([&] { transaction.BeginTransaction(); }).text(), "Cannot perform operation -- DB is not open");
    EXPECT_EQ(Raised([&] { transaction.CommitTransaction(); }).text(), "Transaction is not active");
    Transaction unbound;
    EXPECT_EQ(Raised([&] { unbound.BeginTransaction(); }).code(), 24);

    connection.SetDatabaseFile(path);
    connection.Params = {"user_name=sysdba", "password=drowsyelk", "lc_ctype=NO_SUCH_CHARSET"};
    EXPECT_EQ(Raised([&] { connection.Connect(); }).kind(), Error::Kind::Server);
    EXPECT_FALSE(connection.IsConnected());

    SetStandardParams(connection);
    connection.Connect();
    transaction.BeginTransaction();
    EXPECT_EQ(Raised([&] { transaction.BeginTransaction(); }).text(), "Transaction is active");
    Connection second;
    EXPECT_EQ(Raised([&] { transaction.BindDatabase(second); }).code(), 19);
    EXPECT_EQ(transaction.Database(), &connection);
}

TEST_F(ConnectionTest, FileNamesStayUtf8AndIdentitiesAndLocalFilesTellOneDatabaseUnderAnyName) {
    namespace fs = std::filesystem;
    // Russian letters, a blank, and a letter Windows-1251 lacks.
    const std::string folder = dir.File("Базы И данные Ω");
    fs::create_directory(folder);
    const std::string moved = folder + "/база.fdb";
    fs::rename(path, moved);
    auto identity = [](const std::string& name) {
        Connection c;
        SetStandardParams(c);
        c.SetDatabaseFile(name);
        c.Connect();
        if (fs::exists(name)) { EXPECT_TRUE(fs::equivalent(c.LocalFile(), name)) << c.LocalFile(); }
        return c.Identity();
    };
    const std::string own = identity(moved);

    fs::create_symlink(moved, dir.File("link.fdb"));
    fs::create_hard_link(moved, dir.File("hard.fdb"));
    for (const std::string& name : {dir.File("link.fdb"), dir.File("hard.fdb"), folder + "/./база.fdb",
                                    folder + "//база.fdb", fs::relative(moved).string()})
        EXPECT_EQ(identity(name), own) << name;

    fs::copy_file(moved, dir.File("copy.fdb"));   // the same creation time, another file
    CreateDatabase(dir.File("other.fdb"));
    for (const std::string& name : {dir.File("copy.fdb"), dir.File("other.fdb")})
        EXPECT_NE(identity(name), own) << name;

    // A refused name comes back in the Windows-1251 text of the error.
    const std::string missing = dir.File("Базы И/нет.fdb");
    connection.SetDatabaseFile(missing);
    EXPECT_EQ(Raised([&] { connection.Connect(); }).text(),
              "I/O error during \"open\" operation for file \"" + ToCp1251(missing) +
                  "\"\r\nError while trying to open file\r\nNo such file or directory");
    EXPECT_EQ(Raised([&] { connection.Identity(); }).code(), 15);
}

// Whether an attachment goes through a server is the client library's answer at attach,
// however the name is spelled.
TEST_F(ConnectionTest, AttachmentTellsWhetherItGoesThroughAServer) {
    test::PrivateServer server;
    const std::string port = std::to_string(server.Port());
    for (const auto& [name, remote] : {std::pair{path, false}, {server.Remote(path), true},
                                       {"127.0.0.1/" + port + ":" + path, true}}) {
        Connection c;
        SetStandardParams(c);
        c.SetDatabaseFile(name);
        c.Connect();
        EXPECT_EQ(c.ThroughServer(), remote) << name;
    }
}

TEST_F(ConnectionTest, TransactionParameterLines) {
    connection.Connect();
    transaction.Params = {""};
    transaction.BeginTransaction();
    transaction.CommitTransaction();
    transaction.Params = {"read_committed", "rec_version", "nowait"};
    transaction.BeginTransaction();
    transaction.CommitTransaction();
    transaction.Params = {"no_such_option"};
    EXPECT_EQ(Raised([&] { transaction.BeginTransaction(); }).code(), 4);
    EXPECT_FALSE(transaction.IsActive());
}

TEST_F(ConnectionTest, WorkLockIsRecursiveAndHeldUntilTheLastEndWork) {
    connection.Connect();
    BeginWork(statement);
    EXPECT_TRUE(transaction.IsActive());
    BeginWork(statement);   // same thread: taken again, transaction renewed
    EXPECT_TRUE(transaction.IsActive());
    EXPECT_TRUE(LockHeldElsewhere());
    EndWork(statement);
    EXPECT_FALSE(transaction.IsActive());
    EXPECT_TRUE(LockHeldElsewhere());
    EndWork(statement);
    EXPECT_FALSE(LockHeldElsewhere());
}

TEST_F(ConnectionTest, BeginWorkCommitsWhatTheTransactionStillHolds) {
    connection.Connect();
    transaction.BeginTransaction();
    statement.ClearSql();
    statement.AddSqlLine("INSERT INTO T (ID) VALUES (5)");
    statement.Execute();
    BeginWork(statement);   // commits the insert and starts anew
    {
        Connection other;
        Transaction otherTransaction;
        Statement otherStatement;
        SetStandardParams(other);
        other.SetDatabaseFile(path);
        otherTransaction.BindDatabase(other);
        otherStatement.BindTransaction(otherTransaction);
        other.Connect();
        otherTransaction.BeginTransaction();
        otherStatement.AddSqlLine("SELECT COUNT(*) FROM T");
        otherStatement.Execute();
        EXPECT_EQ(otherStatement.ColumnAt(0).GetInteger(), 1);
    }
    EndWork(statement);
}

TEST_F(ConnectionTest, BeginWorkOnAClosedConnectionRaisesNothing) {
    BeginWork(statement);
    EXPECT_FALSE(transaction.IsActive());
    statement.ClearSql();
    statement.AddSqlLine("SELECT ID FROM T");
    Error e = Raised([&] { statement.Execute(); });
    EXPECT_EQ(e.code(), 15);
    EXPECT_EQ(e.text(), "Cannot perform operation -- DB is not open");
    EndWork(statement);
    EXPECT_FALSE(LockHeldElsewhere());

    // Open connection, transaction not started: the text cannot be prepared.
    connection.Connect();
    EXPECT_EQ(Raised([&] { statement.Prepare(); }).text(), "Transaction is not active");
}

TEST_F(ConnectionTest, StillPreparedStatementGetsTheServersErrorWithoutTransaction) {
    connection.Connect();
    BeginWork(statement);
    statement.ClearSql();
    statement.AddSqlLine("SELECT ID FROM T");
    statement.Execute();
    EndWork(statement);
    EXPECT_TRUE(statement.Prepared());
    Error e = Raised([&] { statement.Execute(); });
    EXPECT_EQ(e.kind(), Error::Kind::Server);
    EXPECT_NE(e.text().find("transaction"), std::string::npos) << e.text();
}

TEST_F(ConnectionTest, LostAttachmentIsSeenByCheckConnectionAndSwallowedByEndWork) {
    connection.Connect();
    BeginWork(statement);
    statement.ClearSql();
    statement.AddSqlLine("INSERT INTO T (ID) VALUES (1)");
    statement.Execute();
    {
        // A second attachment in this process throws the first one out.
        test::Db killer(path);
        killer.Exec("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION");
    }
    EndWork(statement);
    EXPECT_FALSE(LockHeldElsewhere());
    EXPECT_TRUE(transaction.IsActive());   // the failed commit leaves it marked active
    EXPECT_FALSE(connection.CheckConnection());
    EXPECT_FALSE(connection.IsConnected());
    EXPECT_FALSE(transaction.IsActive());
    connection.Connect();   // usable again after the forced close
    EXPECT_TRUE(connection.CheckConnection());
}

// Destroyed while connected with an active transaction: the work is committed.
TEST(DataModule, DestroyedWhileWorkIsOpenCommitsIt) {
    TempDir dir;
    CreateDatabase(dir.File("d.fdb"), "CREATE TABLE T (ID INTEGER);");
    {
        Databases open;
        open.DestinationConnection().SetDatabaseFile(dir.File("d.fdb"));
        open.SecondDestinationConnection().SetDatabaseFile(dir.File("d.fdb"));
        open.DestinationConnection().Connect();
        open.SecondDestinationConnection().Connect();
        Statement& sql = open.Destination().statement;
        BeginWork(sql);
        sql.AddSqlLine("INSERT INTO T VALUES (3)");
        sql.Execute();
        WorkLock().unlock();   // the unit of work is left unended on purpose
    }
    test::Db check(dir.File("d.fdb"));
    EXPECT_EQ(check.Scalar("SELECT ID FROM T"), "3");
}

// Runs in a child process whose library name is bogus (see the test below).
TEST(ClientLibrary, MissingLibraryChild) {
    if (!std::getenv("KESTRIX_MISSING_LIBRARY_CHILD")) GTEST_SKIP() << "runs only as the child process";
    const std::string text =
        "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality";
    for (int i = 0; i < 2; ++i) {   // every creation reports it, not only the first
        Error e = Raised([] { Connection c; });
        EXPECT_EQ(e.code(), 1);
        EXPECT_EQ(e.kind(), Error::Kind::Client);
        EXPECT_EQ(e.text(), text);
    }
    EXPECT_EQ(Raised([] { Transaction t; }).text(), text);
    EXPECT_EQ(Raised([] { Statement s; }).text(), text);
    EXPECT_EQ(Raised([] { Databases dm; }).text(), text);
}

TEST(ClientLibrary, MissingLibraryGivesClientError1) {
    // The library is loaded once per process, so the check runs in a fresh process.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.emplace_back("KESTRIX_FBCLIENT=libkestrix-no-such-client.so");
    env.emplace_back("KESTRIX_MISSING_LIBRARY_CHILD=1");
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string filter = "--gtest_filter=ClientLibrary.MissingLibraryChild";
    char* argv[] = {const_cast<char*>("test_db"), filter.data(), nullptr};

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execve("/proc/self/exe", argv, envp.data());
        _exit(127);
    }
    close(out[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test."), std::string::npos) << output;
    EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
}

} // namespace
} // namespace kestrix::db
