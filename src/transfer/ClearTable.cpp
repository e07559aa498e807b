#include "transfer/ClearTable.h"

#include <exception>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Work.h"

namespace kestrix::transfer {

void ClearTable(Context& ctx, db::Side Dst, const std::string& TableName, const std::string& Where) {
    // The log stays open for the whole call.
    RunLog log(ctx.LogPath());

    Dst.Bind();
    db::Statement& DstSQL = Dst.statement;

    // Commits the deletion and releases the lock on every way out.
    db::WorkUnit work(DstSQL);

    DstSQL.ClearSql();
    DstSQL.AddSqlLine("Delete From " + TableName);
    if (!Where.empty()) DstSQL.AddSqlLine(" WHERE " + Where);
    try {
        DstSQL.Prepare();
        DstSQL.Execute();
    } catch (const Error& e) {
        log.Line(texts::kClearError + TableName + " :  " + e.what());
    }
}

} // namespace kestrix::transfer
