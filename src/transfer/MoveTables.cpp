#include "transfer/MoveTables.h"

#include <optional>
#include <vector>

#include "db/Error.h"
#include "db/Strings.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/ClearTable.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/CopyTable.h"
#include "transfer/JournalStreams.h"
#include "transfer/BulkLoad.h"
#include "transfer/CopyMacros.h"
#include "transfer/TableList.h"
#include "transfer/UpdateColumn.h"

namespace kestrix::transfer {
namespace {

void PassHeader(Context& ctx, const std::string& text) {
    RunLog log(ctx.LogPath());
    log.Line("");
    log.Line(Timestamp() + text);
}

// Returns false when a cancel ends the sequence.
bool ClearingPass(Context& ctx, db::Databases& dm, const RunPlan& plan) {
    RunState& state = ctx.state;
    try {
        PassHeader(ctx, texts::kClearPassHeader);
    } catch (const Error&) {
        return true;  // the pass ends here; the copy pass follows as usual
    }
    if (plan.tableListUnreadable) return true;
    state.SetStatusText(texts::kClearPassStatus);
    state.StageStarted(RunStage::ClearPass, "");

    for (const PlannedLine& planned : plan.lines) {
        if (ctx.Cancelled()) return false;
        const TableListLine& line = planned.line;
        const LineSteps& steps = planned.steps;
        if (steps.clear) {
            try {
                ClearTable(ctx, dm.Destination(), line.table, line.condition);
                if (steps.clearZones) ClearTable(ctx, dm.Destination(), kZonesTable, "");
            } catch (const Error&) {
            }
        }
        state.StepAll();
        state.PumpMessages();
        if (ctx.Cancelled()) return false;
    }
    return true;
}

void SecondClearing(Context& ctx, db::Databases& dm, const TableListLine& line, const LineSteps& steps) {
    try {
        RunLog::Append(ctx.LogPath(),
                       Timestamp() + (line.hasHash ? texts::kExtraClearing : texts::kClearing) + line.table);
        if (steps.clearAgain) ClearTable(ctx, dm.Destination(), line.table, "");
    } catch (const Error&) {
    }
}

// The copy joins the run's list, with the row of the account it was counted in.
// The account row of a copy is the table's latest: a stream's copies reach the account in the
// block's order, after their tables have all been copied.
void Copied(Context& ctx, CopiedTable copied, std::vector<CopiedTable>& copies) {
    if (copied.request.table.empty()) return;   // never started
    const auto& tables = ctx.state.Account().Tables();
    for (std::size_t row = tables.size(); row-- > 0;)
        if (tables[row].table == copied.request.table) {
            copied.accountRow = row;
            break;
        }
    copies.push_back(std::move(copied));
}

// A table's copy that fails goes unlogged and the sequence goes on; the run's account marks
// the table, so that the operator learns that its rows were not all read.
void CopyLine(Context& ctx, db::Databases& dm, const PlannedLine& planned, const DatabaseFacts& facts,
              std::vector<CopiedTable>& copies) {
    const TableListLine& line = planned.line;
    const LineSteps& steps = planned.steps;
    try {
        if (steps.macros)
            Copied(ctx, CopyMacros(ctx, dm.Source(), dm.Destination()), copies);
        else if (steps.copy)
            Copied(ctx, CopyTable(ctx, dm.Source(), dm.Destination(), planned.Request(facts)), copies);
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    }
    if (!steps.update) return;
    try {
        UpdateColumn(ctx, dm.Source(), dm.Destination(), line.table, line.key, line.tail);
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    }
}

// Returns false when the pass failed to start or a cancel ends the sequence.
bool CopyPass(Context& ctx, db::Databases& dm, const RunPlan& plan, const DatabaseFacts& facts,
              std::vector<CopiedTable>& copies) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(ctx.options.TotalSteps());
    if (plan.tableListUnreadable) return false;
    try {
        PassHeader(ctx, texts::kCopyPassHeader);
    } catch (const Error&) {
        return false;
    }

    for (const PlannedLine& planned : plan.lines) {
        if (ctx.Cancelled()) return false;
        state.PumpMessages();
        const TableListLine& line = planned.line;
        if (!line.comment) {
            state.SetStatusText(line.table);
            state.StageStarted(RunStage::Table, line.table);
            if (planned.steps.logClearing) SecondClearing(ctx, dm, line, planned.steps);
            state.PumpMessages();
            CopyLine(ctx, dm, planned, facts, copies);
        }
        state.LineDone(ctx.Cancelled());
        state.StepAll();
        state.PumpMessages();
        if (ctx.Cancelled()) return false;
    }
    return true;
}

// The journals' plain indexes are built after their load. Where another client is attached
// (it would meet the tables without them, and its locks could hold up their build) or they
// cannot be made inactive, the load keeps them, and the log says why.
void JournalIndexesOff(Context& ctx, db::Databases& dm, const RunPlan& plan, std::optional<IndexesOffWhileLoading>& off) {
    std::vector<std::string> tables;
    for (const PlannedLine& journal : plan.journals)
        if (IndexesBuiltAfterLoad(journal.line.table)) tables.push_back(journal.line.table);
    if (tables.empty()) return;
    try {
        std::vector<long> own;
        for (db::Connection* mine : {&dm.DestinationConnection(), &dm.SecondDestinationConnection()})
            if (mine->IsConnected()) own.push_back(mine->AttachmentId());
        if (AttachedElsewhere(dm.Destination(), own)) return;
        off.emplace(dm.Destination(), tables);
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), Timestamp() + texts::kIndexesKeptActive + OneLine(e.what()));
    }
}

// The journals' indexes active again, each on its own; one that cannot be is logged with the
// engine's reason and told to the run as left. Raises nothing: a lost connection leaves the
// rest marked, for the check and the next run.
void JournalIndexesOn(Context& ctx, IndexesOffWhileLoading& off) noexcept {
    try {
        TellIndexesLeft(ctx, off.Restore(WaitToldTo(ctx)));
    } catch (...) {
    }
}

// The journal tables over ctx.options.jobs streams, one stream as well as several.
void JournalBlock(Context& ctx, db::Databases& dm, const RunPlan& plan, const DatabaseFacts& facts,
                  std::vector<CopiedTable>& copies) {
    if (plan.journals.empty() || ctx.Cancelled()) return;
    std::optional<IndexesOffWhileLoading> indexesOff;
    JournalIndexesOff(ctx, dm, plan, indexesOff);
    std::vector<CopyRequest> journals;
    for (const PlannedLine& journal : plan.journals) journals.push_back(journal.Request(facts));
    try {
        for (CopiedTable& copied : CopyJournalsInStreams(ctx, dm, journals)) Copied(ctx, std::move(copied), copies);
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    } catch (...) {
        // A lost connection or an interruption: the indexes are set back before the run ends.
        if (indexesOff) JournalIndexesOn(ctx, *indexesOff);
        throw;
    }
    if (indexesOff) JournalIndexesOn(ctx, *indexesOff);
}

void Sequence(Context& ctx, db::Databases& dm, const RunPlan& plan, std::vector<CopiedTable>& copies) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(ctx.options.TotalSteps());
    const DatabaseFacts facts{ProbeOwnerPhotos(dm.Destination()), ProbeOwnerPhotos(dm.Source()),
                              InsertBlockRows(dm.DestinationConnection())};

    if (!ClearingPass(ctx, dm, plan)) return;
    if (!CopyPass(ctx, dm, plan, facts, copies)) return;
    JournalBlock(ctx, dm, plan, facts, copies);
}

} // namespace

std::vector<CopiedTable> MoveTables(Context& ctx, db::Databases& dm, const RunPlan& plan) {
    std::vector<CopiedTable> copies;
    try {
        Sequence(ctx, dm, plan, copies);
        return copies;
    } catch (const std::exception& e) {
        // An error that ends the sequence, a lost connection, is logged here once, whichever
        // operation met it, and is the reason why the open table is not accounted for.
        LogRunEndingError(ctx.LogPath(), e);
        ctx.state.TableFailed(e.what());
        throw;
    }
}

} // namespace kestrix::transfer
