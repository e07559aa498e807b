#include "transfer/UpdPer.h"

#include <exception>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Work.h"

namespace kestrix::transfer {
namespace {

// Opens the table ordered by its key and tells whether the result has the column.
// The cursor stays open on the first row.
bool OpenAndFindColumn(db::Statement& sql, const std::string& table, const std::string& key,
                       const std::string& column) {
    sql.ClearSql();
    sql.AddSqlLine("select * from " + table + " Order BY " + key);
    sql.Prepare();
    sql.Execute();
    for (int i = 0; i < sql.ColumnCount(); ++i)
        if (sql.ColumnAt(i).Name() == column) return true;
    return false;
}

} // namespace

void UpdPer(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
            const std::string& Column) {
    Src.Bind();
    Dst.Bind();
    db::Statement& SrcSQL = Src.SQL;
    db::Statement& DstSQL = Dst.SQL;

    bool destinationHas;
    {
        db::WorkUnit destinationWork(DstSQL);
        destinationHas = OpenAndFindColumn(DstSQL, TableName, KeyColumn, Column);
    }
    if (!destinationHas) return;

    // The source result stays open, ordered by the key, while the updates run.
    db::WorkUnit sourceWork(SrcSQL);
    if (!OpenAndFindColumn(SrcSQL, TableName, KeyColumn, Column)) return;
    if (SrcSQL.RowsFetched() == 0) return;

    db::WorkUnit destinationWork(DstSQL);   // declared after the source work, so ended before it
    const std::string update =
        "UPDATE " + TableName + " SET " + Column + " = :PP Where " + KeyColumn + " = :ZZ";
    while (!SrcSQL.AtEnd()) {
        try {
            // Freshly prepared per row, so every row starts from the declared parameter types.
            DstSQL.ClearSql();
            DstSQL.AddSqlLine(update);
            DstSQL.Prepare();
            DstSQL.ParameterAt(0).CopyValueFrom(SrcSQL.ColumnByName(Column));
            DstSQL.ParameterAt(1).CopyValueFrom(SrcSQL.ColumnByName(KeyColumn));
            DstSQL.Execute();
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) throw;   // logged once by the sequence, which ends the run
            RunLog::Append(ctx.LogPath(), texts::kUpdateError + TableName + " " + KeyColumn + " =  " +
                                              SrcSQL.ColumnByName(KeyColumn).GetString() + " :  " + e.what());
        }
        SrcSQL.FetchNext();
    }
}

} // namespace kestrix::transfer
