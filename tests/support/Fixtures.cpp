#include "support/Fixtures.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "db/Charset.h"
#include "db/Databases.h"
#include "db/Work.h"

namespace kestrix::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadSample(const std::string& relative) {
    return ReadFile(std::string(KESTRIX_SOURCE_DIR) + "/samples/" + relative);
}

void RunIsql(const std::string& script) {
    TempDir dir;
    std::string file = dir.File("script.sql");
    WriteFile(file, "SET NAMES WIN1251;\nSET SQL DIALECT 1;\n" + script + "\nCOMMIT;\n");
    std::string command = "isql-fb -q -b -ch WIN1251 -i '" + file + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
    ASSERT_EQ(status, 0) << "isql failed:\n" << output;
}

void CreateDatabase(const std::string& path, const std::string& script) {
    RunIsql("CREATE DATABASE '" + path +
            "' USER 'SYSDBA' PASSWORD 'drowsyelk' PAGE_SIZE 8192 DEFAULT CHARACTER SET WIN1251;\n" + script);
}

std::string W(std::string_view utf8) { return ToCp1251(utf8); }

Db::Db(const std::string& path) {
    db::SetStandardParams(connection_);
    connection_.SetDatabaseFile(path);
    transaction_.BindDatabase(connection_);
    statement_.BindTransaction(transaction_);
    connection_.Connect();
}

Db::~Db() {
    try { connection_.Disconnect(); } catch (...) {}
}

void Db::Exec(const std::string& sql) {
    statement_.ParamCheck = false;
    if (transaction_.IsActive()) transaction_.CommitTransaction();
    transaction_.BeginTransaction();
    statement_.ClearSql();
    statement_.AddSqlLine(sql);
    statement_.Execute();
    statement_.CloseCursor();
    transaction_.CommitTransaction();
}

std::vector<std::vector<std::string>> Db::Rows(const std::string& sql) {
    statement_.ParamCheck = false;
    if (transaction_.IsActive()) transaction_.CommitTransaction();
    transaction_.BeginTransaction();
    statement_.ClearSql();
    statement_.AddSqlLine(sql);
    statement_.Execute();
    std::vector<std::vector<std::string>> rows;
    while (!statement_.AtEnd()) {
        std::vector<std::string> row;
        for (int i = 0; i < statement_.ColumnCount(); ++i) {
            db::SqlValue& v = statement_.ColumnAt(i);
            row.push_back(v.IsNull() ? "<null>" : v.GetString());
        }
        rows.push_back(std::move(row));
        statement_.FetchNext();
    }
    statement_.CloseCursor();
    transaction_.CommitTransaction();
    return rows;
}

std::string Db::Scalar(const std::string& sql) {
    auto rows = Rows(sql);
    return rows.empty() || rows[0].empty() ? "<none>" : rows[0][0];
}

bool WorkLockFree() {
    bool free = false;
    std::thread other([&] {
        if (db::WorkLock().try_lock()) {
            free = true;
            db::WorkLock().unlock();
        }
    });
    other.join();
    return free;
}

std::string ErrorOf(Db& db, const std::string& sql) {
    try {
        db.Exec(sql);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<no error>";
}

} // namespace kestrix::test
