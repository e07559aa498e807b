#include "transfer/UpdateColumn.h"

#include <algorithm>
#include <exception>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Strings.h"
#include "db/Work.h"

namespace kestrix::transfer {
namespace {

// Prepares the table's select ordered by its key and tells whether the result has the
// column; with open, the select is executed too and its cursor stays on the first row.
// The destination's probe needs only the description, not a sort of its rows.
bool FindColumn(db::Statement& sql, const std::string& table, const std::string& key, const std::string& column,
                bool open) {
    sql.ClearSql();
    sql.AddSqlLine("select * from " + table + " Order BY " + key);
    sql.Prepare();
    if (open) sql.Execute();
    std::vector<std::string> names;
    for (int i = 0; i < sql.ColumnCount(); ++i) names.push_back(sql.ColumnAt(i).Name());
    return MatchUpdateColumn(names, column) == ColumnMatch::Exact;
}

} // namespace

ColumnMatch MatchUpdateColumn(const std::vector<std::string>& columns, const std::string& column) {
    if (std::find(columns.begin(), columns.end(), column) != columns.end()) return ColumnMatch::Exact;
    const std::string unquoted = UnquotedName(column);
    for (const std::string& name : columns)
        if (UnquotedName(name) == unquoted) return ColumnMatch::OnlyLoosely;
    return ColumnMatch::Absent;
}

void UpdateColumn(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
            const std::string& Column) {
    Src.Bind();
    Dst.Bind();
    db::Statement& SrcSQL = Src.statement;
    db::Statement& DstSQL = Dst.statement;

    bool destinationHas;
    {
        db::WorkUnit destinationWork(DstSQL);
        destinationHas = FindColumn(DstSQL, TableName, KeyColumn, Column, false);
    }
    if (!destinationHas) return;

    // The source result stays open, ordered by the key, while the updates run.
    db::WorkUnit sourceWork(SrcSQL);
    if (!FindColumn(SrcSQL, TableName, KeyColumn, Column, true)) return;
    if (SrcSQL.RowsFetched() == 0) return;

    db::WorkUnit destinationWork(DstSQL);   // declared after the source work, so ended before it
    // Prepared once for the table; after a failed row it is prepared afresh, so that the
    // next row starts from the declared parameter types.
    const std::string update =
        "UPDATE " + TableName + " SET " + Column + " = :PP Where " + KeyColumn + " = :ZZ";
    DstSQL.ClearSql();
    DstSQL.AddSqlLine(update);
    const db::ClearSqlAtEnd release(DstSQL);
    // Each source row is counted in the table's account: updated, or refused and logged.
    while (!SrcSQL.AtEnd()) {
        ctx.state.RowRead();
        try {
            DstSQL.Prepare();
            DstSQL.ParameterAt(0).CopyValueFrom(SrcSQL.ColumnByName(Column));
            DstSQL.ParameterAt(1).CopyValueFrom(SrcSQL.ColumnByName(KeyColumn));
            DstSQL.Execute();
            ctx.state.RowDone(true);
        } catch (const Error& e) {
            ctx.state.RowDone(false);
            RunLog::Append(ctx.LogPath(), texts::kUpdateError + TableName + " " + KeyColumn + " =  " +
                                              SrcSQL.ColumnByName(KeyColumn).GetString() + " :  " + e.what());
            DstSQL.ClearSql();
            DstSQL.AddSqlLine(update);
        }
        SrcSQL.FetchNext();
    }
}

} // namespace kestrix::transfer
