#include "db/Databases.h"

#include <filesystem>

namespace kestrix::db {

namespace {

std::string ProgramFile() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("kestrix") : exe.string();
}

} // namespace

const Credentials& FixedCredentials() {
    static const Credentials fixed{"sysdba", "drowsyelk"};
    return fixed;
}

void SetStandardParams(Connection& connection, const Credentials& login) {
    connection.Params = {"user_name=" + login.user, "password=" + login.password, "lc_ctype=WIN1251"};
    connection.SQLDialect = 1;
    connection.ProcessName = ProgramFile();
}

std::string WriterProcessName() {
    // The mark stays whole however long the program's folder name is.
    const std::string mark = kWriterMark;
    std::string name = ProgramFile();
    if (name.size() + mark.size() > 255) name = name.substr(name.size() + mark.size() - 255);
    return name + mark;
}

void Databases::SetLogins(const Credentials& source, const Credentials& destination) {
    SetStandardParams(source_, source);
    SetStandardParams(destination_, destination);
    SetStandardParams(secondDestination_, destination);
    destination_.ProcessName = secondDestination_.ProcessName = WriterProcessName();
}

Databases::Databases() {
    SetStandardParams(source_);
    sourceTransaction_.BindDatabase(source_);
    source_.DefaultTransaction = &sourceTransaction_;
    sourceSql_.BindTransaction(sourceTransaction_);

    SetStandardParams(destination_);
    destination_.ProcessName = WriterProcessName();
    destination_.Role = DatabaseRole::Destination;
    destinationTransaction_.Params = {""};
    destinationTransaction_.BindDatabase(destination_);
    destination_.DefaultTransaction = &destinationTransaction_;
    destinationSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.ParamCheck = false;

    SetStandardParams(secondDestination_);
    secondDestination_.ProcessName = WriterProcessName();
    secondDestination_.Role = DatabaseRole::Destination;
    secondTransaction_.BindDatabase(secondDestination_);
    secondDestination_.DefaultTransaction = &secondTransaction_;
}

Databases::~Databases() {
    for (Connection* connection : Connections()) {
        try {
            connection->Disconnect();
        } catch (const std::exception&) {
            // Ending the program: a failed detach changes nothing any more.
        }
    }
}

} // namespace kestrix::db
