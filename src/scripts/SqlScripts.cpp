#include "scripts/SqlScripts.h"

#include <exception>
#include <thread>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
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
    } catch (const Error& error) {
        WriteError(log, error);
        return false;
    }
}

// What tells the two scripts apart.
struct ScriptKind {
    const char* file;
    db::Side (db::Databases::*side)();
    bool parseParameters;          // else the text is sent unchanged
    bool emptyStatementSucceeds;   // a statement without lines still logs the success line
    // Closing the cursor and pumping happen inside the statement's frame with failures logged,
    // and every statement is followed by the pause; else the cursor is closed after the frame.
    bool guardedCloseAndPause;
};

void EndFrame(RunLog& log) {
    log.Line("");
    log.Line(texts::kEndRuler);
}

void RunScriptStatement(Context& ctx, db::Databases& dm, const ScriptKind& kind, RunLog& log,
                        const std::vector<std::string>& lines) {
    const db::Side side = (dm.*kind.side)();
    side.Bind();
    db::Statement& sql = side.statement;
    db::WorkUnit work(sql);
    log.Line(texts::kBeginRuler);
    log.Line("");
    sql.ParamCheck = kind.parseParameters;
    LoadStatement(sql, log, lines);
    if (Run(sql, log) && (kind.emptyStatementSucceeds || sql.SqlLineCount() > 0)) {
        log.Line("");
        log.Line(texts::kSuccessLine);
    }
    if (!kind.guardedCloseAndPause) {
        EndFrame(log);
        sql.CloseCursor();
        work.End();
        return;
    }
    try {
        sql.CloseCursor();
        ctx.state.PumpMessages();
    } catch (const Error& error) {
        WriteError(log, error);
    }
    // Committed also when closing or pumping failed.
    work.End();
    EndFrame(log);
    std::this_thread::sleep_for(ctx.control.postScriptPause);
}

void RunScript(Context& ctx, db::Databases& dm, const ScriptKind& kind) {
    WaitCursor cursor(ctx.state);
    // Read whole before the log is touched: a missing script leaves no trace in the log.
    const auto statements = SplitScript(ReadTextLines(ctx.DataFile(kind.file)));
    RunLog log(ctx.LogPath());
    try {
        for (const auto& lines : statements) RunScriptStatement(ctx, dm, kind, log, lines);
    } catch (const ConnectionLost& e) {
        // The end of the run: logged here once, whichever statement met it.
        LogRunEndingError(ctx.LogPath(), e);
        throw;
    }
}

} // namespace

void RunPreTransferScript(Context& ctx, db::Databases& dm) {
    RunScript(ctx, dm, {kPreScriptFile, &db::Databases::PreScriptSide, true, true, false});
}

void RunPostTransferScript(Context& ctx, db::Databases& dm) {
    RunScript(ctx, dm, {kPostScriptFile, &db::Databases::PostScriptSide, false, false, true});
}

} // namespace kestrix::scripts
