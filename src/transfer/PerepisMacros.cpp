#include "transfer/PerepisMacros.h"

#include <exception>
#include <memory>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Work.h"
#include "transfer/Peregonner.h"

namespace kestrix::transfer {
namespace {

// Key recorded for a macro whose new key is unknown, so that the map stays paired.
const char* const kNoKey = "-1";

} // namespace

void PerepisMacros(Context& ctx, db::Side Src, db::Side Dst) {
    Src.Bind();
    Dst.Bind();
    db::Statement& SrcSQL = Src.SQL;
    db::Statement& DstSQL = Dst.SQL;

    TPeregonnerList macros;
    std::string buffer;
    IdMaps& maps = ctx.maps;

    // Read every source macro into memory.
    {
        db::WorkUnit sourceWork(SrcSQL);
        bool opened = true;
        try {
            SrcSQL.ClearSql();
            SrcSQL.AddSqlLine("Select MCR_NAME,MCR_FILL,MCR_ID from MACROSES ");
            SrcSQL.Prepare();
            SrcSQL.Execute();
        } catch (const std::exception& e) {
            RunLog::Append(ctx.LogPath(), texts::kMacroReadError + e.what());
            opened = false;
        }
        while (opened && !SrcSQL.AtEnd()) {
            maps.AppendOld(kMacroses, SrcSQL.ColumnByName("MCR_ID").GetString());
            auto macro = std::make_unique<Tperegonner>(ctx.maps);
            macro->MacroName = SrcSQL.ColumnAt(0).GetString();
            buffer.clear();
            const db::SqlValue& fill = SrcSQL.ColumnAt(1);
            // An absent text is read as an empty one.
            if (!fill.IsNull()) fill.ReadBlobTo(buffer);
            macro->Lines = SplitTextLines(buffer);
            macros.Add(std::move(macro));
            SrcSQL.FetchNext();
        }
        SrcSQL.CloseCursor();
    }

    // Replace the destination's macros; the deletion and the inserts commit together.
    db::WorkUnit destinationWork(DstSQL);
    try {
        DstSQL.ClearSql();
        DstSQL.AddSqlLine("delete from MACROSES");
        DstSQL.Prepare();
        DstSQL.Execute();
    } catch (const std::exception& e) {
        RunLog::Append(ctx.LogPath(), texts::kMacroClearError + e.what());
    }

    for (int i = 0; i < macros.Count(); ++i) {
        Tperegonner& macro = macros.Items(i);
        bool inserted = true;
        try {
            DstSQL.CloseCursor();
            DstSQL.ClearSql();
            DstSQL.AddSqlLine("insert into MACROSES (MCR_NAME,MCR_FILL) values (:E,:F)");
            DstSQL.Prepare();
        } catch (const std::exception& e) {
            RunLog::Append(ctx.LogPath(), texts::kMacroInsertError + e.what());
            inserted = false;
        }
        if (inserted) {
            // A text that cannot be rewritten ends the transfer here, unlogged.
            macro.RemapMacroLines();
            try {
                DstSQL.ParameterByName("E").SetString(macro.MacroName);
                buffer = JoinTextLines(macro.Lines);
                DstSQL.ParameterByName("F").WriteBlobFrom(buffer);
                DstSQL.Execute();
            } catch (const std::exception& e) {
                RunLog::Append(ctx.LogPath(), texts::kMacroInsertError + e.what());
                inserted = false;
            }
        }
        ctx.state.RowDone(inserted);
        if (!inserted) {
            // The maximum would be the key of the macro inserted before this one.
            maps.AppendNew(kMacroses, kNoKey);
            continue;
        }
        try {
            DstSQL.CloseCursor();
            DstSQL.ClearSql();
            DstSQL.AddSqlLine("Select MAX(MCR_ID) from MACROSES");
            DstSQL.Prepare();
            DstSQL.Execute();
            std::string newId = DstSQL.ColumnAt(0).GetString();
            maps.AppendNew(kMacroses, std::move(newId));
        } catch (const std::exception& e) {
            maps.AppendNew(kMacroses, kNoKey);
            RunLog::Append(ctx.LogPath(), texts::kMacroMaxIdError + e.what());
        }
    }
}

} // namespace kestrix::transfer
