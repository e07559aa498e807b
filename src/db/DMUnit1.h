#pragma once
// The data module: the fixed connections, transactions and statements of the program.
#include "db/Connection.h"
#include "db/Side.h"
#include "db/Statement.h"

namespace kestrix::db {

class TDM1 {
public:
    TDM1();   // binds everything; raises client error 1 without the client library
    ~TDM1();  // disconnects, swallowing errors

    Connection IBDatabase3;     // source
    Transaction IBTransaction;
    Statement IBSQL4;
    Connection IBDatabase1;     // destination
    Transaction IBTransaction1;
    Statement IBSQL3;
    Statement IBSQL6;           // post-transfer script, ParamCheck off
    Connection IBDatabase2;     // second destination connection, used by no statement
    Transaction IBTransaction2;

    // The same objects by their roles in a run.
    Connection& SourceDB() { return IBDatabase3; }
    Connection& DestinationDB() { return IBDatabase1; }
    Connection& SecondDestinationDB() { return IBDatabase2; }
    Side Source() { return {IBSQL4, IBTransaction, IBDatabase3}; }
    Side Destination() { return {IBSQL3, IBTransaction1, IBDatabase1}; }
    // The scripts run on the destination connection in the transaction object IBTransaction,
    // which they bind there: the pre-transfer script through IBSQL3, the post-transfer one
    // through IBSQL6.
    Side PreScriptSide() { return {IBSQL3, IBTransaction, IBDatabase1}; }
    Side PostScriptSide() { return {IBSQL6, IBTransaction, IBDatabase1}; }
};

// The fixed connection parameter lines.
void SetStandardParams(Connection& connection);

} // namespace kestrix::db
