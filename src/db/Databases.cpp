#include "db/Databases.h"

namespace kestrix::db {

void SetStandardParams(Connection& connection) {
    connection.Params = {"user_name=sysdba", "password=drowsyelk", "lc_ctype=WIN1251"};
    connection.SQLDialect = 1;
}

Databases::Databases() {
    SetStandardParams(source_);
    sourceTransaction_.BindDatabase(source_);
    source_.DefaultTransaction = &sourceTransaction_;
    sourceSql_.BindTransaction(sourceTransaction_);

    SetStandardParams(destination_);
    destinationTransaction_.Params = {""};
    destinationTransaction_.BindDatabase(destination_);
    destination_.DefaultTransaction = &destinationTransaction_;
    destinationSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.ParamCheck = false;

    SetStandardParams(secondDestination_);
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
