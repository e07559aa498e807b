#include "transfer/CopyMacros.h"

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

// Renumbers a macro's text; the error, when it cannot be.
std::optional<std::string> RemapError(MacroTextConverter& macro) {
    try {
        macro.RemapMacroLines();
    } catch (const Error& e) {
        return std::string(e.what());
    }
    return std::nullopt;
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

// The inserts of the macros, and their account.
struct MacroInserts {
    Context& ctx;
    Statement& dst;
    MacroTextConverters& macros;
    CopiedTable& copied;
    std::size_t firstKey = 0;   // the first macro's place in the MACROSES map
    int written = 0;
    int done = 0;               // macros inserted or not, in order
};

// The next macro inserted (its new key as `returned` gives it) or not.
void MacroDone(MacroInserts& run, Statement* returned) {
    const auto i = static_cast<std::size_t>(run.done++);
    run.ctx.state.RowDone(returned != nullptr);
    if (returned) {
        ++run.written;
        LearnMacroKey(run.ctx, *returned);
        return;
    }
    // Without an insert the maximum would be the key of the macro inserted before this one.
    run.ctx.maps.AppendNew(kMacroses, kNoKey);
    run.copied.refusedKeys.push_back(run.ctx.maps.OldIds(kMacroses)[run.firstKey + i]);
}

void MacroRefused(MacroInserts& run, const std::string& line) {
    RunLog::Append(run.ctx.LogPath(), line);
    MacroDone(run, nullptr);
}

// Macro i into the writer's next row, its text renumbered first. One whose insert cannot be
// prepared or whose text cannot be renumbered is not inserted: its log line follows those of
// the macros before it.
void InsertMacro(MacroInserts& run, BlockWriter& writer, int i) {
    MacroTextConverter& macro = run.macros.Items(i);
    std::optional<std::string> remapError;
    try {
        writer.StartRow(run.macros.Count() - i);
        remapError = RemapError(macro);
        if (!remapError) {
            writer.Input(run.dst.ParameterByName("E").Index()).SetString(macro.MacroName);
            writer.SetBlob(run.dst.ParameterByName("F").Index(), JoinTextLines(macro.Lines));
        }
    } catch (const Error& e) {
        writer.WriteOneByOne();
        MacroRefused(run, texts::kMacroInsertError + e.what());
        return;
    }
    if (!remapError) {
        writer.EndRow();
        return;
    }
    writer.WriteOneByOne();
    MacroRefused(run, texts::kMacroTextError + macro.MacroName + " :  " + *remapError);
}

} // namespace

CopiedTable CopyMacros(Context& ctx, db::Side Src, db::Side Dst) {
    Src.Bind();
    Dst.Bind();
    CopiedTable copied = PlanMacros();
    const std::size_t firstKey = ctx.maps.OldIds(kMacroses).size();
    MacroTextConverters macros;
    ReadSourceMacros(ctx, Src.statement, copied.queries.select.front(), macros);

    // Replace the destination's macros; the deletion and the inserts commit together.
    db::WorkUnit destinationWork(Dst.statement);
    ClearDestinationMacros(ctx, Dst.statement);
    // The insert returns the new key itself; it does not outlive the table.
    Dst.statement.ClearSql();
    Dst.statement.AddSqlLine(copied.plan.rowSql);
    const db::ClearSqlAtEnd release(Dst.statement);
    MacroInserts run{ctx, Dst.statement, macros, copied, firstKey};
    // Through a server, blocks of macros; the last one of the macros left.
    BlockWriter writer(Dst.statement, copied.plan.rowSql, copied.plan.returnedKey,
                       {[&run](Statement& insert) { MacroDone(run, &insert); },
                        [&run](const std::string& error) { MacroRefused(run, texts::kMacroInsertError + error); }});
    try {
        writer.SetUp(InsertBlockRows(Dst.connection), macros.Count());
        for (int i = 0; i < macros.Count(); ++i) InsertMacro(run, writer, i);
        writer.WriteOneByOne();
    } catch (...) {
        EndFailedWrittenUnit(ctx.state, destinationWork, Dst.statement, run.written);
        throw;
    }
    EndWrittenUnit(ctx.state, destinationWork, run.written);
    return copied;
}

} // namespace kestrix::transfer
