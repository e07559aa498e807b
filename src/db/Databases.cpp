#include "db/Databases.h"

namespace kestrix::db {

const Credentials& FixedCredentials() {
    static const Credentials fixed{"sysdba", "drowsyelk"};
    return fixed;
}

void SetStandardParams(Connection& connection, const Credentials& login) {
    connection.Params = {"user_name=" + login.user, "password=" + login.password, "lc_ctype=WIN1251"};
    connection.SQLDialect = 1;
}

void Databases::SetLogins(const Credentials& source, const Credentials& destination) {
    SetStandardParams(source_, source);
    SetStandardParams(destination_, destination);
    SetStandardParams(secondDestination_, destination);
}

Databases::Databases() {
    SetStandardParams(source_);
    sourceTransaction_.BindDatabase(source_);
    source_.DefaultTransaction = &sourceTransaction_;
    sourceSql_.BindTransaction(sourceTransaction_);

    SetStandardParams(destination_);
    destination_.Role = DatabaseRole::Destination;
    destinationTransaction_.Params = {""};
    destinationTransaction_.BindDatabase(destination_);
    destination_.DefaultTransaction = &destinationTransaction_;
    destinationSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.BindTransaction(destinationTransaction_);
    postScriptSql_.ParamCheck = false;

    SetStandardParams(secondDestination_);
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
