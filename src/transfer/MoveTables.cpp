#include "transfer/MoveTables.h"

#include <optional>
#include <vector>

#include "db/Error.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/ClearTable.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/CopyTable.h"
#include "transfer/JournalStreams.h"
#include "transfer/LoadIndexes.h"
#include "transfer/CopyMacros.h"
#include "transfer/TableList.h"
#include "run/TextFile.h"
#include "transfer/UpdateColumn.h"

namespace kestrix::transfer {
namespace {

void PassHeader(Context& ctx, const std::string& text) {
    RunLog log(ctx.LogPath());
    log.Line("");
    log.Line(Timestamp() + text);
}

// Returns false when a cancel ends the sequence.
bool ClearingPass(Context& ctx, db::Databases& dm) {
    RunState& state = ctx.state;
    std::vector<std::string> lines;
    try {
        PassHeader(ctx, texts::kClearPassHeader);
        lines = ReadTextLines(ctx.DataFile(kTableListFile));
    } catch (const Error&) {
        return true;  // the pass ends here; the copy pass follows as usual
    }
    state.SetStatusText(texts::kClearPassStatus);
    state.StageStarted(RunStage::ClearPass, "");

    for (const std::string& raw : lines) {
        if (ctx.Cancelled()) return false;
        const TableListLine line = ParseTableListLine(raw);
        const LineSteps steps = StepsOf(line);
        if (steps.clear) {
            try {
                ClearTable(ctx, dm.Destination(), line.table, line.condition);
                if (steps.clearZones) ClearTable(ctx, dm.Destination(), "ZONES", "");
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
void CopyLine(Context& ctx, db::Databases& dm, const TableListLine& line, const LineSteps& steps,
              const PhotoTables& photos, std::vector<CopiedTable>& copies) {
    try {
        if (steps.macros)
            Copied(ctx, CopyMacros(ctx, dm.Source(), dm.Destination()), copies);
        else if (steps.copy)
            Copied(ctx,
                   CopyTable(ctx, dm.Source(), dm.Destination(),
                             CopyRequest{line.table, line.key, line.tail, photos.destination, photos.source,
                                         InsertBlockRows(dm.DestinationConnection())}),
                   copies);
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
bool CopyPass(Context& ctx, db::Databases& dm, const PhotoTables& photos, std::vector<CopiedTable>& copies) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(ctx.options.TotalSteps());
    std::vector<std::string> lines;
    try {
        lines = ReadTextLines(ctx.DataFile(kTableListFile));
        PassHeader(ctx, texts::kCopyPassHeader);
    } catch (const Error&) {
        return false;
    }

    for (const std::string& raw : lines) {
        if (ctx.Cancelled()) return false;
        state.PumpMessages();
        const TableListLine line = ParseTableListLine(raw);
        if (!line.comment) {
            const LineSteps steps = StepsOf(line);
            state.SetStatusText(line.table);
            state.StageStarted(RunStage::Table, line.table);
            if (steps.logClearing) SecondClearing(ctx, dm, line, steps);
            state.PumpMessages();
            CopyLine(ctx, dm, line, steps, photos, copies);
        }
        state.LineDone(ctx.Cancelled());
        state.StepAll();
        state.PumpMessages();
        if (ctx.Cancelled()) return false;
    }
    return true;
}

// The journals' plain indexes are built after their load; where they cannot be made inactive,
// the load keeps them.
void JournalIndexesOff(db::Databases& dm, std::optional<IndexesOffWhileLoading>& off) {
    std::vector<std::string> tables;
    for (const JournalTable& journal : JournalTables())
        if (IndexesBuiltAfterLoad(std::string(journal.table))) tables.emplace_back(journal.table);
    try {
        off.emplace(dm.Destination(), tables);
    } catch (const Error&) {
    }
}

// The journal tables over ctx.options.jobs streams, one stream as well as several.
void JournalBlock(Context& ctx, db::Databases& dm, const PhotoTables& photos, std::vector<CopiedTable>& copies) {
    if (!ctx.options.events || ctx.Cancelled()) return;
    // Active again however the block ends; a lost connection leaves them to the next run.
    std::optional<IndexesOffWhileLoading> indexesOff;
    JournalIndexesOff(dm, indexesOff);
    std::vector<CopyRequest> journals;
    for (const JournalTable& journal : JournalTables())
        journals.push_back(CopyRequest{std::string(journal.table), std::string(journal.key), "", photos.destination,
                                       photos.source, InsertBlockRows(dm.DestinationConnection())});
    try {
        for (CopiedTable& copied : CopyJournalsInStreams(ctx, dm, journals)) Copied(ctx, std::move(copied), copies);
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    }
}

void Sequence(Context& ctx, db::Databases& dm, std::vector<CopiedTable>& copies) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(ctx.options.TotalSteps());
    const PhotoTables photos{ProbeOwnerPhotos(dm.Destination()), ProbeOwnerPhotos(dm.Source())};

    if (!ClearingPass(ctx, dm)) return;
    if (!CopyPass(ctx, dm, photos, copies)) return;
    JournalBlock(ctx, dm, photos, copies);
}

} // namespace

std::vector<CopiedTable> MoveTables(Context& ctx, db::Databases& dm) {
    std::vector<CopiedTable> copies;
    try {
        Sequence(ctx, dm, copies);
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
