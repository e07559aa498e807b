#include "db/DMUnit1.h"

namespace kestrix::db {

void SetStandardParams(Connection& connection) {
    connection.Params = {"user_name=sysdba", "password=drowsyelk", "lc_ctype=WIN1251"};
    connection.LoginPrompt = false;
    connection.SQLDialect = 1;
}

TDM1::TDM1() {
    SetStandardParams(IBDatabase3);
    IBTransaction.BindDatabase(IBDatabase3);
    IBDatabase3.DefaultTransaction = &IBTransaction;
    IBSQL4.BindTransaction(IBTransaction);

    SetStandardParams(IBDatabase1);
    IBTransaction1.Params = {""};
    IBTransaction1.BindDatabase(IBDatabase1);
    IBDatabase1.DefaultTransaction = &IBTransaction1;
    IBSQL3.BindTransaction(IBTransaction1);
    IBSQL6.BindTransaction(IBTransaction1);
    IBSQL6.ParamCheck = false;

    SetStandardParams(IBDatabase2);
    IBTransaction2.BindDatabase(IBDatabase2);
    IBDatabase2.DefaultTransaction = &IBTransaction2;
}

TDM1::~TDM1() {
    for (Connection* connection : {&IBDatabase3, &IBDatabase1, &IBDatabase2}) {
        try {
            connection->Disconnect();
        } catch (const std::exception&) {
            // Ending the program: a failed detach changes nothing any more.
        }
    }
}

} // namespace kestrix::db
