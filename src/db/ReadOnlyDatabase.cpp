#include "db/ReadOnlyDatabase.h"

#include <algorithm>

#include "db/Strings.h"
#include "db/Work.h"

namespace kestrix::db {

ReadOnlyDatabase::ReadOnlyDatabase(const std::string& file, DatabaseRole role, const Credentials& login) {
    SetStandardParams(connection_, login);
    connection_.Role = role;
    connection_.SetDatabaseFile(file);
    transaction_.Params = {"read", "concurrency", "nowait"};
    transaction_.BindDatabase(connection_);
    sql_.BindTransaction(transaction_);
    connection_.Connect();
}

ReadOnlyDatabase::~ReadOnlyDatabase() {
    try {
        connection_.Disconnect();
    } catch (const std::exception&) {
    }
}

const std::optional<std::vector<std::string>>& ReadOnlyDatabase::Columns(const std::string& table) {
    const std::string name = UnquotedName(table);
    auto found = columns_.find(name);
    if (found != columns_.end()) return found->second;
    std::vector<std::string> names = Strings(
        "SELECT TRIM(RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = :N "
        "ORDER BY RDB$FIELD_POSITION", name);
    auto& entry = columns_[name];
    if (!names.empty()) entry = std::move(names);
    return entry;
}

bool ReadOnlyDatabase::HasColumn(const std::string& table, const std::string& column) {
    const auto& columns = Columns(table);
    return columns && std::find(columns->begin(), columns->end(), UnquotedName(column)) != columns->end();
}

bool ReadOnlyDatabase::HasGenerator(const std::string& name) {
    return !Strings("SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = :N",
                    UnquotedName(name)).empty();
}

std::vector<std::string> ReadOnlyDatabase::ResultColumns(const std::vector<std::string>& select) {
    WorkUnit work(sql_);
    sql_.ClearSql();
    for (const std::string& line : select) sql_.AddSqlLine(line);
    sql_.Prepare();
    std::vector<std::string> names;
    for (int i = 0; i < sql_.ColumnCount(); ++i) names.push_back(sql_.ColumnAt(i).Name());
    return names;
}

long long ReadOnlyDatabase::Count(const std::vector<std::string>& select, const DateTime* date) {
    std::string joined;
    for (const std::string& line : select) joined += (joined.empty() ? "" : " ") + line;
    WorkUnit work(sql_);
    sql_.ClearSql();
    sql_.AddSqlLine("SELECT COUNT(*) FROM (" + joined + ")");
    sql_.Prepare();
    if (date) sql_.ParameterAt(0).SetDateTime(*date);
    sql_.Execute();
    const long long count = std::stoll(sql_.ColumnAt(0).GetString());
    sql_.CloseCursor();
    return count;
}

std::vector<std::string> ReadOnlyDatabase::Strings(const std::string& select, const std::string& name) {
    WorkUnit work(sql_);
    sql_.ClearSql();
    sql_.AddSqlLine(select);
    sql_.Prepare();
    sql_.ParameterByName("N").SetString(name);
    sql_.Execute();
    std::vector<std::string> result;
    for (; !sql_.AtEnd(); sql_.FetchNext()) result.push_back(sql_.ColumnAt(0).GetString());
    sql_.CloseCursor();
    return result;
}

} // namespace kestrix::db
