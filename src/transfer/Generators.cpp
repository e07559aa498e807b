#include "transfer/Generators.h"

#include <exception>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Work.h"

namespace kestrix::transfer {
namespace {

void RunLine(db::Statement& sql, const std::string& text) {
    sql.ClearSql();
    sql.AddSqlLine(text);
    sql.Prepare();
    sql.Execute();
}

} // namespace

void SetGenerator(Context& ctx, db::Side side, const std::string& table, const std::string& column,
                  const std::string& generator) {
    RunLog log(ctx.LogPath());
    side.Bind();
    db::Statement& sql = side.statement;

    int value = 0;
    {
        db::WorkUnit work(sql);
        // Reading the value belongs to the query: a column that is no number (a date) fails there.
        try {
            RunLine(sql, "SELECT MAX(" + column + ")+1 FROM " + table);
            value = sql.ColumnAt(0).GetInteger();   // NULL of an empty table reads as 0
        } catch (const Error& error) {
            log.Line(texts::kGeneratorMaxError + table + " :  " + error.what());
            return;
        }
    }

    db::WorkUnit work(sql);
    try {
        RunLine(sql, "SET GENERATOR " + generator + " to " + std::to_string(value));
    } catch (const Error& error) {
        log.Line(texts::kGeneratorSetError + generator + " :  " + error.what());
    }
}

void RestoreGenerators(Context& ctx, db::Databases& dm, const RunPlan& plan) {
    if (plan.generatorListUnreadable) std::rethrow_exception(plan.generatorListUnreadable);
    for (const GeneratorLine& line : plan.generators) {
        if (line.comment) continue;
        try {
            SetGenerator(ctx, dm.Destination(), line.table, line.column, line.generator);
        } catch (const ConnectionLost& e) {
            LogRunEndingError(ctx.LogPath(), e);
            throw;
        }
    }
}

} // namespace kestrix::transfer
