#pragma once
// One side of a transfer: a statement that runs in a transaction on a connection. Engine
// routines that work on one database take these three together as one argument.
#include "db/Connection.h"
#include "db/Statement.h"

namespace kestrix::db {

struct Side {
    Statement& SQL;
    Transaction& Tr;
    Connection& DB;

    // BindDatabase of the transaction to the connection, then BindTransaction of the
    // statement to the transaction.
    void Bind() const {
        Tr.BindDatabase(DB);
        SQL.BindTransaction(Tr);
    }
};

} // namespace kestrix::db
