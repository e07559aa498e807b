#pragma once
// Test fixtures: temporary folders and real dialect-1 WIN1251 databases made with the
// embedded engine, thrown away afterwards.
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Statement.h"

namespace kestrix::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }     // without a trailing separator
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Runs an isql script; the script is Windows-1251 (SET NAMES WIN1251 is in force) and may
// use SET TERM. Fails the current test with isql's output when isql fails.
void RunIsql(const std::string& script);
// Creates the database file and runs the script in it.
void CreateDatabase(const std::string& path, const std::string& script = {});
// A file of the samples folder, read whole.
std::string ReadSample(const std::string& relative);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// UTF-8 literal to Windows-1251, for test data.
std::string W(std::string_view utf8);

// One connection with its own transaction and statement, for setting up and checking.
class Db {
public:
    explicit Db(const std::string& path);
    ~Db();
    // Runs one statement (ParamCheck off) in its own committed transaction.
    void Exec(const std::string& sql);
    // All rows of a select, every value read with GetString; NULL reads as "<null>".
    std::vector<std::vector<std::string>> Rows(const std::string& sql);
    // The first column of the first row, "<none>" without a row.
    std::string Scalar(const std::string& sql);
    db::Connection& Connection() { return connection_; }

private:
    db::Connection connection_;
    db::Transaction transaction_;
    db::Statement statement_;
};

// Whether another thread can take the work lock, i.e. every BeginWork was ended.
bool WorkLockFree();

// The text of the error a statement raises through the helper, "<no error>" when it runs.
std::string ErrorOf(Db& db, const std::string& sql);

// The layer's error raised by f; a failure of the test when f raises nothing.
template <class F> Error Raised(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e;
    }
    ADD_FAILURE() << "no error raised";
    return Error(Error::Kind::File, -1, "<none>");
}

} // namespace kestrix::test
