#include "scripts/SqlScripts.h"

#include <exception>
#include <thread>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Work.h"
#include "scripts/ScriptReader.h"
#include "run/TextFile.h"

namespace kestrix::scripts {
namespace {

// The database-wait cursor for the length of a script, restored on every way out.
class WaitCursor {
public:
    explicit WaitCursor(RunState& state) : state_(state) { state_.SetWaitCursor(true); }
    ~WaitCursor() { state_.SetWaitCursor(false); }

private:
    RunState& state_;
};

void WriteError(RunLog& log, const std::exception& error) {
    log.Line("");
    log.Line(texts::kErrorHeading);
    log.Line("");
    log.Line(error.what());
}

// The statement's lines go to the log and become the statement text.
void LoadStatement(db::Statement& sql, RunLog& log, const std::vector<std::string>& lines) {
    sql.ClearSql();
    for (const auto& line : lines) {
        log.Line(line);
        sql.AddSqlLine(line);
    }
}

// Prepares and executes a statement that has lines; a failure goes to the log under the
// error heading. False when it failed.
bool Run(db::Statement& sql, RunLog& log) {
    if (sql.SqlLineCount() == 0) return true;
    try {
        sql.Prepare();
        sql.Execute();
        return true;
    } catch (const std::exception& error) {
        WriteError(log, error);
        return false;
    }
}

} // namespace

void RABSQL(Context& ctx, db::TDM1& dm) {
    WaitCursor cursor(ctx.state);
    // Read whole before the log is touched: a missing script leaves no trace in the log.
    const auto statements = SplitScript(ReadTextLines(ctx.DataFile(kPreScriptFile)));
    RunLog log(ctx.LogPath());
    db::Statement& sql = dm.IBSQL3;
    for (const auto& lines : statements) {
        dm.IBTransaction.BindDatabase(dm.IBDatabase1);
        sql.BindTransaction(dm.IBTransaction);
        db::WorkUnit work(sql);
        log.Line(texts::kBeginRuler);
        log.Line("");
        LoadStatement(sql, log, lines);
        if (Run(sql, log)) {
            log.Line("");
            log.Line(texts::kSuccessLine);
        }
        log.Line("");
        log.Line(texts::kEndRuler);
        sql.CloseCursor();
        work.End();
    }
}

void SucesSQL(Context& ctx, db::TDM1& dm) {
    WaitCursor cursor(ctx.state);
    const auto statements = SplitScript(ReadTextLines(ctx.DataFile(kPostScriptFile)));
    RunLog log(ctx.LogPath());
    db::Statement& sql = dm.IBSQL6;
    for (const auto& lines : statements) {
        dm.IBTransaction.BindDatabase(dm.IBDatabase1);
        sql.BindTransaction(dm.IBTransaction);
        db::WorkUnit work(sql);
        log.Line(texts::kBeginRuler);
        log.Line("");
        sql.ParamCheck = false;
        LoadStatement(sql, log, lines);
        if (Run(sql, log) && sql.SqlLineCount() > 0) {
            log.Line("");
            log.Line(texts::kSuccessLine);
        }
        try {
            sql.CloseCursor();
            ctx.state.PumpMessages();
        } catch (const std::exception& error) {
            WriteError(log, error);
        }
        // Committed also when closing or pumping failed.
        work.End();
        log.Line("");
        log.Line(texts::kEndRuler);
        std::this_thread::sleep_for(ctx.postScriptPause);
    }
}

} // namespace kestrix::scripts
