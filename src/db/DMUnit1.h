#pragma once
// The data module: the fixed connections, transactions and statements of the program.
#include "db/Connection.h"
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
};

// The fixed connection parameter lines.
void SetStandardParams(Connection& connection);

} // namespace kestrix::db
