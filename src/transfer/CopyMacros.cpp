#include "transfer/CopyMacros.h"

#include <exception>
#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "db/Error.h"
#include "db/Work.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/CopyTable.h"
#include "transfer/InsertBlock.h"
#include "transfer/MacroTextConverter.h"

namespace kestrix::transfer {
namespace {

using db::Statement;

// Key recorded for a macro whose new key is unknown, so that the map stays paired.
const char* const kNoKey = "-1";

// Every source macro into memory, its old key into the map.
void ReadSourceMacros(Context& ctx, Statement& src, const std::string& select, MacroTextConverters& macros) {
    db::WorkUnit sourceWork(src);
    const InlineBlobReads inlineBlobs(src, true);
    try {
        src.ClearSql();
        src.AddSqlLine(select);
        src.Prepare();
        src.Execute();
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroReadError + e.what());
        return;
    }
    std::string buffer;
    while (!src.AtEnd()) {
        ctx.maps.AppendOld(kMacroses, src.ColumnByName("MCR_ID").GetString());
        auto macro = std::make_unique<MacroTextConverter>(ctx.maps);
        macro->MacroName = AsWrittenText(src.ColumnAt(0));
        buffer.clear();
        const db::SqlValue& fill = src.ColumnAt(1);
        // An absent text is read as an empty one.
        if (!fill.IsNull()) fill.ReadBlobTo(buffer);
        macro->Lines = SplitTextLines(buffer);
        macros.Add(std::move(macro));
        src.FetchNext();
    }
    src.CloseCursor();
}

void ClearDestinationMacros(Context& ctx, Statement& dst) {
    try {
        dst.ClearSql();
        dst.AddSqlLine("delete from MACROSES");
        dst.Prepare();
        dst.Execute();
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroClearError + e.what());
    }
}

// Prepares the insert, once for all macros: its text is set before the first. False, after
// its log line, when it cannot be.
bool PrepareInsert(Context& ctx, Statement& dst) {
    try {
        dst.Prepare();
        return true;
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroInsertError + e.what());
        return false;
    }
}

// Renumbers a macro's text; the error, when it cannot be.
std::optional<std::string> RemapError(MacroTextConverter& macro) {
    try {
        macro.RemapMacroLines();
    } catch (const Error& e) {
        return std::string(e.what());
    }
    return std::nullopt;
}

void LogRemapError(Context& ctx, const MacroTextConverter& macro, const std::string& error) {
    RunLog::Append(ctx.LogPath(), texts::kMacroTextError + macro.MacroName + " :  " + error);
}

// Inserts one macro whose text is renumbered; false, after its log line, when it is not.
bool InsertRenumbered(Context& ctx, Statement& dst, MacroTextConverter& macro) {
    if (!PrepareInsert(ctx, dst)) return false;
    try {
        dst.ParameterByName("E").SetString(macro.MacroName);
        dst.ParameterByName("F").WriteBlobFrom(JoinTextLines(macro.Lines));
        dst.Execute();
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroInsertError + e.what());
        return false;
    }
    return true;
}

// The key the destination gave the macro just inserted, as the insert returned it.
void LearnMacroKey(Context& ctx, Statement& dst) {
    try {
        ctx.maps.AppendNew(kMacroses, dst.ColumnAt(0).GetString());
    } catch (const Error& e) {
        ctx.maps.AppendNew(kMacroses, kNoKey);
        RunLog::Append(ctx.LogPath(), texts::kMacroMaxIdError + e.what());
    }
}

// The inserts of one run of macros, and their account.
struct MacroInserts {
    Context& ctx;
    Statement& dst;
    MacroTextConverters& macros;
    CopiedTable& copied;
    std::size_t firstKey = 0;   // the first macro's place in the MACROSES map
    int written = 0;
    RowBlock full, other;       // through a server: blocks of the full size and of any other
};

// Macro i inserted (its new key as `returned` gives it) or not.
void MacroDone(MacroInserts& run, int i, Statement* returned) {
    run.ctx.state.RowDone(returned != nullptr);
    if (returned) {
        ++run.written;
        LearnMacroKey(run.ctx, *returned);
        return;
    }
    // Without an insert the maximum would be the key of the macro inserted before this one.
    run.ctx.maps.AppendNew(kMacroses, kNoKey);
    run.copied.refusedKeys.push_back(run.ctx.maps.OldIds(kMacroses)[run.firstKey + static_cast<std::size_t>(i)]);
}

// Macro i on its own: its insert prepared, its text renumbered, then inserted, each step
// logged when it fails.
void InsertAlone(MacroInserts& run, int i) {
    MacroTextConverter& macro = run.macros.Items(i);
    bool inserted = PrepareInsert(run.ctx, run.dst);
    if (inserted) {
        if (const auto error = RemapError(macro)) {
            LogRemapError(run.ctx, macro, *error);
            inserted = false;
        } else {
            inserted = InsertRenumbered(run.ctx, run.dst, macro);
        }
    }
    MacroDone(run, i, inserted ? &run.dst : nullptr);
}

// The macros of a group whose texts were renumbered (`errors`: the renumbering error of
// each), from its k-th on, one at a time, with the log lines of the macro alone.
void GroupOneByOne(MacroInserts& run, int from, const std::vector<std::optional<std::string>>& errors, std::size_t k) {
    for (; k < errors.size(); ++k) {
        const int i = from + static_cast<int>(k);
        bool inserted = false;
        if (errors[k]) LogRemapError(run.ctx, run.macros.Items(i), *errors[k]);
        else inserted = InsertRenumbered(run.ctx, run.dst, run.macros.Items(i));
        MacroDone(run, i, inserted ? &run.dst : nullptr);
    }
}

// The block for `rows` macros: the full one, or the other one, prepared when its size changes.
RowBlock* MacroBlock(MacroInserts& run, int rows, int fullRows) {
    RowBlock& block = rows == fullRows ? run.full : run.other;
    if (block.Rows() == rows) return &block;
    try {
        block.Prepare(run.dst, run.copied.plan.rowSql, rows, run.copied.plan.returnedKey);
    } catch (const Error&) {
        return nullptr;
    }
    return &block;
}

// Runs the block of the group's renumbered macros; how many of the group were handled
// (written, or refused for their text), in group order: all of them, or those before the
// first insert of the block that failed. 0 when the block could not run: nothing of it was
// written. Only the filling and the execute, and the fetches, are guarded: once a macro is
// counted written, no failure sends it again.
std::size_t RunMacroBlock(MacroInserts& run, RowBlock& block, int from,
                          const std::vector<std::optional<std::string>>& errors) {
    const int name = run.dst.ParameterByName("E").Index();
    const int text = run.dst.ParameterByName("F").Index();
    Statement& sql = block.Statement();
    try {
        int row = 0;
        for (std::size_t k = 0; k < errors.size(); ++k) {
            if (errors[k]) continue;
            MacroTextConverter& macro = run.macros.Items(from + static_cast<int>(k));
            block.Input(row, name).SetString(macro.MacroName);
            block.SetBlob(row++, text, JoinTextLines(macro.Lines));
        }
        sql.Execute();
    } catch (const Error&) {
        return 0;   // nothing of the block was written
    }
    std::size_t k = 0;
    for (; k < errors.size(); ++k) {
        if (errors[k]) {
            LogRemapError(run.ctx, run.macros.Items(from + static_cast<int>(k)), *errors[k]);
            MacroDone(run, from + static_cast<int>(k), nullptr);
            continue;
        }
        if (sql.AtEnd()) break;   // this macro's insert failed
        MacroDone(run, from + static_cast<int>(k), &sql);
        try {
            sql.FetchNext();
        } catch (const Error&) {
            ++k;
            break;
        }
    }
    sql.CloseCursor();
    return k;
}

// Macros [from, from + rows) through one block: their texts renumbered first, the renumbered
// ones inserted by the block; the log lines and the account are those of the macros one by
// one, in order. When the block fails, the macros it did not write go one at a time.
void InsertGroup(MacroInserts& run, int from, int rows, int fullRows) {
    try {
        run.dst.Prepare();
    } catch (const Error&) {
        for (int i = from; i < from + rows; ++i) InsertAlone(run, i);   // each logs the prepare's error
        return;
    }
    std::vector<std::optional<std::string>> errors;
    for (int i = from; i < from + rows; ++i) errors.push_back(RemapError(run.macros.Items(i)));
    const auto renumbered = std::count(errors.begin(), errors.end(), std::nullopt);
    RowBlock* block = renumbered >= 2 ? MacroBlock(run, static_cast<int>(renumbered), fullRows) : nullptr;
    GroupOneByOne(run, from, errors, block ? RunMacroBlock(run, *block, from, errors) : 0);
}

// Every macro, in blocks of `blockRows` through a server (the last one of the macros left),
// else one at a time.
void InsertMacros(MacroInserts& run, int blockRows) {
    const int count = run.macros.Count();
    const int fullRows = std::min(blockRows, count);
    for (int from = 0; from < count;) {
        const int rows = std::min(blockRows, count - from);
        if (rows < 2) InsertAlone(run, from);
        else InsertGroup(run, from, rows, fullRows);
        from += rows;
    }
}

} // namespace

CopiedTable CopyMacros(Context& ctx, db::Side Src, db::Side Dst) {
    Src.Bind();
    Dst.Bind();
    CopiedTable copied = PlanMacros();
    const std::size_t firstKey = ctx.maps.OldIds(kMacroses).size();
    MacroTextConverters macros;
    ReadSourceMacros(ctx, Src.SQL, copied.queries.select.front(), macros);

    // Replace the destination's macros; the deletion and the inserts commit together.
    db::WorkUnit destinationWork(Dst.SQL);
    ClearDestinationMacros(ctx, Dst.SQL);
    // The insert returns the new key itself; it does not outlive the table.
    Dst.SQL.ClearSql();
    Dst.SQL.AddSqlLine(copied.plan.rowSql);
    const db::ClearSqlAtEnd release(Dst.SQL);
    MacroInserts run{ctx, Dst.SQL, macros, copied, firstKey};
    try {
        InsertMacros(run, InsertBlockRows(Dst.DB));
    } catch (...) {
        EndFailedWrittenUnit(ctx.state, destinationWork, Dst.SQL, run.written);
        throw;
    }
    EndWrittenUnit(ctx.state, destinationWork, run.written);
    return copied;
}

} // namespace kestrix::transfer
