#include "transfer/CopyMacros.h"

#include <exception>
#include <memory>

#include "db/Error.h"
#include "db/Work.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/CopyTable.h"
#include "transfer/MacroTextConverter.h"

namespace kestrix::transfer {
namespace {

using db::Statement;

// Key recorded for a macro whose new key is unknown, so that the map stays paired.
const char* const kNoKey = "-1";

// Every source macro into memory, its old key into the map.
void ReadSourceMacros(Context& ctx, Statement& src, MacroTextConverters& macros) {
    db::WorkUnit sourceWork(src);
    try {
        src.ClearSql();
        src.AddSqlLine("Select MCR_NAME,MCR_FILL,MCR_ID from MACROSES ");
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
        macro->MacroName = src.ColumnAt(0).GetString();
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

// Inserts one macro with its text renumbered; false, after its log line, when it is not.
bool InsertMacro(Context& ctx, Statement& dst, MacroTextConverter& macro) {
    try {
        dst.Prepare();   // once for all macros: the text is set before the first
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroInsertError + e.what());
        return false;
    }
    try {
        macro.RemapMacroLines();
    } catch (const Error& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroTextError + macro.MacroName + " :  " + e.what());
        return false;
    }
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

} // namespace

void CopyMacros(Context& ctx, db::Side Src, db::Side Dst) {
    Src.Bind();
    Dst.Bind();
    MacroTextConverters macros;
    ReadSourceMacros(ctx, Src.SQL, macros);

    // Replace the destination's macros; the deletion and the inserts commit together.
    db::WorkUnit destinationWork(Dst.SQL);
    ClearDestinationMacros(ctx, Dst.SQL);
    // The insert returns the new key itself; it does not outlive the table.
    Dst.SQL.ClearSql();
    Dst.SQL.AddSqlLine("insert into MACROSES (MCR_NAME,MCR_FILL) values (:E,:F) RETURNING MCR_ID");
    const db::ClearSqlAtEnd release(Dst.SQL);
    int written = 0;
    try {
        for (int i = 0; i < macros.Count(); ++i) {
            const bool inserted = InsertMacro(ctx, Dst.SQL, macros.Items(i));
            ctx.state.RowDone(inserted);
            written += inserted ? 1 : 0;
            // Without an insert the maximum would be the key of the macro inserted before this one.
            if (inserted) LearnMacroKey(ctx, Dst.SQL);
            else ctx.maps.AppendNew(kMacroses, kNoKey);
        }
    } catch (...) {
        EndFailedWrittenUnit(ctx.state, destinationWork, Dst.SQL, written);
        throw;
    }
    EndWrittenUnit(ctx.state, destinationWork, written);
}

} // namespace kestrix::transfer
