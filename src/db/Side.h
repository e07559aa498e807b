#pragma once
// One side of a transfer, the source or the destination: a statement that runs in a
// transaction on a connection. Engine routines that work on one database take the three
// together as one argument.
#include "db/Connection.h"
#include "db/Statement.h"

namespace kestrix::db {

struct Side {
    Statement& statement;
    Transaction& transaction;
    Connection& connection;

    // The transaction on the connection, then the statement in the transaction.
    void Bind() const {
        transaction.BindDatabase(connection);
        statement.BindTransaction(transaction);
    }
};

} // namespace kestrix::db
