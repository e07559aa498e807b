#pragma once
// Engine test setup: run options whose program folder is a temporary folder with an empty
// run log, fresh identifier maps, and database sides made of a connection, a transaction
// and a statement, bound as the data module binds them.
#include <string>

#include "run/RunLog.h"
#include "run/RunOptions.h"
#include "run/RunState.h"
#include "db/Connection.h"
#include "db/Databases.h"
#include "db/Statement.h"
#include "db/Work.h"
#include "support/Fixtures.h"
#include "run/Context.h"
#include "run/IdMaps.h"
#include "support/TestRunState.h"

namespace kestrix::test {

// Owns its objects, unlike db::Side, which it hands to the engine routines.
struct Side {
    db::Connection connection;
    db::Transaction transaction;
    db::Statement statement;

    explicit Side(const std::string& path) {
        db::SetStandardParams(connection);
        connection.SetDatabaseFile(path);
        connection.DefaultTransaction = &transaction;
        transaction.BindDatabase(connection);
        statement.BindTransaction(transaction);
        connection.Connect();
    }
    ~Side() {
        try { connection.Disconnect(); } catch (...) {}
    }
    operator db::Side() { return {statement, transaction, connection}; }
};

struct EngineRun {
    TempDir dir;
    TestRunState state;
    RunOptions options;
    IdMaps maps;
    RunControl control;
    Context ctx{state, options, maps, control};

    EngineRun() {
        options.appDir = dir.Path() + "/";
        RunLog::Create(ctx.LogPath());
    }
    std::string Log() const { return ReadFile(ctx.LogPath()); }
};

} // namespace kestrix::test
