#include "transfer/MoveTables.h"

#include <vector>

#include "db/Error.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/ClearTable.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/CopyTable.h"
#include "transfer/JournalStreams.h"
#include "transfer/CopyMacros.h"
#include "transfer/TableList.h"
#include "run/TextFile.h"
#include "transfer/UpdateColumn.h"

namespace kestrix::transfer {
namespace {

// The journal block's fixed order.
const std::vector<JournalTable> kJournalBlock{
    {"EVENTS", "EV_ID"},
    {"ALARM", "AL_ID"},
    {"ACR$EVENTS", "AEV_ID"},
    {"STR_EVENTS", "EV_ID"},
    {"STR_ALARMS", "AL_ID"},
    {"ACR$ALARMS", "AAL_ID"},
};

void PassHeader(Context& ctx, const std::string& text) {
    RunLog log(ctx.LogPath());
    log.Line("");
    log.Line(Timestamp() + text);
}

// Returns false when the cancel flag ends the sequence.
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
        if (state.CancelFlag) return false;
        TableListLine line = ParseTableListLine(raw);
        if (!line.comment && !IsJournalOrDescriptionTable(line.table)) {
            try {
                ClearTable(ctx, dm.Destination(), line.table, line.condition);
                if (line.table == "READERS")
                    ClearTable(ctx, dm.Destination(), "ZONES", "");
            } catch (const Error&) {
            }
        }
        state.StepAll();
        state.PumpMessages();
        if (state.CancelFlag) return false;
    }
    return true;
}

void SecondClearing(Context& ctx, db::Databases& dm, const TableListLine& line) {
    try {
        RunLog::Append(ctx.LogPath(),
                       Timestamp() + (line.hasHash ? texts::kExtraClearing : texts::kClearing) + line.table);
        if (!IsJournalOrDescriptionTable(line.table))
            ClearTable(ctx, dm.Destination(), line.table, "");
    } catch (const Error&) {
    }
}

// A table's copy that fails goes unlogged and the sequence goes on; the run's account marks
// the table, so that the operator learns that its rows were not all read.
void CopyLine(Context& ctx, db::Databases& dm, const TableListLine& line, const PhotoTables& photos) {
    try {
        if (line.table == "MACROSES")
            CopyMacros(ctx, dm.Source(), dm.Destination());
        else if (!IsJournalTable(line.table) && !line.hasPercent && !line.hasAmp)
            CopyTable(ctx, dm.Source(), dm.Destination(),
                      CopyRequest{line.table, line.key, line.tail, photos.destination, photos.source,
                                  InsertBlockRows(dm.DestinationConnection())});
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    }
    if (!line.hasAmp) return;
    try {
        UpdateColumn(ctx, dm.Source(), dm.Destination(), line.table, line.key, line.tail);
    } catch (const Error& e) {
        ctx.state.TableFailed(e.what());
    }
}

// Returns false when the pass failed to start or the cancel flag ends the sequence.
bool CopyPass(Context& ctx, db::Databases& dm, const PhotoTables& photos) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(state.TotalSteps);
    std::vector<std::string> lines;
    try {
        lines = ReadTextLines(ctx.DataFile(kTableListFile));
        PassHeader(ctx, texts::kCopyPassHeader);
    } catch (const Error&) {
        return false;
    }

    for (const std::string& raw : lines) {
        if (state.CancelFlag) return false;
        state.PumpMessages();
        TableListLine line = ParseTableListLine(raw);
        if (!line.comment) {
            state.SetStatusText(line.table);
            state.StageStarted(RunStage::Table, line.table);
            if (line.hasHash || line.hasPercent) SecondClearing(ctx, dm, line);
            state.PumpMessages();
            CopyLine(ctx, dm, line, photos);
        }
        state.StepAll();
        state.PumpMessages();
        if (state.CancelFlag) return false;
    }
    return true;
}

void JournalBlock(Context& ctx, db::Databases& dm, const PhotoTables& photos) {
    RunState& state = ctx.state;
    if (!state.EventsOption) return;
    if (state.Jobs > 1 && StreamsPay(dm.SourceConnection(), dm.DestinationConnection())) {
        if (state.CancelFlag) return;
        std::vector<CopyRequest> journals;
        for (const JournalTable& journal : kJournalBlock)
            journals.push_back(CopyRequest{journal.table, journal.key, "", photos.destination, photos.source,
                                           InsertBlockRows(dm.DestinationConnection())});
        try {
            CopyJournalsInStreams(ctx, dm, journals);
        } catch (const Error& e) {
            state.TableFailed(e.what());
        }
        return;
    }
    // Not guarded table by table: an error ends the block and the later journals are not copied.
    try {
        for (const JournalTable& journal : kJournalBlock) {
            if (state.CancelFlag) return;
            state.SetStatusText(journal.table);
            state.StageStarted(RunStage::Table, journal.table);
            state.PumpMessages();
            CopyTable(ctx, dm.Source(), dm.Destination(),
                      CopyRequest{journal.table, journal.key, "", photos.destination, photos.source,
                                  InsertBlockRows(dm.DestinationConnection())});
            state.StepAll();
        }
        state.PumpMessages();
    } catch (const Error& e) {
        state.TableFailed(e.what());
    }
}

void Sequence(Context& ctx, db::Databases& dm) {
    RunState& state = ctx.state;
    state.AllToMin();
    state.SetAllMax(state.TotalSteps);
    const PhotoTables photos{ProbeOwnerPhotos(dm.Destination()), ProbeOwnerPhotos(dm.Source())};

    if (!ClearingPass(ctx, dm)) return;
    if (!CopyPass(ctx, dm, photos)) return;
    JournalBlock(ctx, dm, photos);
}

} // namespace

void MoveTables(Context& ctx, db::Databases& dm) {
    try {
        Sequence(ctx, dm);
    } catch (const std::exception& e) {
        // An error that ends the sequence, a lost connection, is logged here once, whichever
        // operation met it, and is the reason why the open table is not accounted for.
        LogRunEndingError(ctx.LogPath(), e);
        ctx.state.TableFailed(e.what());
        throw;
    }
}

} // namespace kestrix::transfer
