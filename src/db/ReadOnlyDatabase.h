#pragma once
// A database only read: an attachment of its own with a read-only transaction, and what its
// catalogue says of tables, columns and generators. What looks at both databases without
// writing either (the check before a run) reads through it.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/Databases.h"
#include "db/Side.h"

namespace kestrix::db {

class ReadOnlyDatabase {
public:
    // Attaches the database `file` (LoginRefused names `role` when the server refuses `login`).
    ReadOnlyDatabase(const std::string& file, DatabaseRole role, const Credentials& login);
    ~ReadOnlyDatabase();   // detaches, swallowing errors
    ReadOnlyDatabase(const ReadOnlyDatabase&) = delete;
    ReadOnlyDatabase& operator=(const ReadOnlyDatabase&) = delete;

    Side Sql() { return {sql_, transaction_, connection_}; }

    // Columns in the order of "select *"; nothing when the table does not exist. Names as
    // SQL takes them unquoted (UnquotedName).
    const std::optional<std::vector<std::string>>& Columns(const std::string& table);
    bool HasColumn(const std::string& table, const std::string& column);
    bool HasGenerator(const std::string& name);
    // The result columns of a select, learnt by preparing it.
    std::vector<std::string> ResultColumns(const std::vector<std::string>& select);
    // Rows of a select, counted by the server; date fills the select's one parameter.
    long long Count(const std::vector<std::string>& select, const DateTime* date = nullptr);

private:
    std::vector<std::string> Strings(const std::string& select, const std::string& name);

    Connection connection_;
    Transaction transaction_;
    Statement sql_;
    std::map<std::string, std::optional<std::vector<std::string>>> columns_;
};

} // namespace kestrix::db
