#include "transfer/PresentRows.h"

#include "db/Error.h"
#include "db/Work.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {
namespace {

long long Key(db::Statement& sql) { return sql.ColumnAt(0).GetInt64(); }

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : " ") + line;
    return text;
}

// Runs `sql` on the source with the start date the copy's select takes, when it takes one.
void RunOnSource(db::Statement& statement, const std::string& sql, const CopyQueries& queries, db::DateTime startDate) {
    statement.ClearSql();
    statement.AddSqlLine(sql);
    statement.Prepare();
    if (queries.startDate) statement.ParameterAt(0).SetDateTime(StartOfDay(startDate));
    statement.Execute();
}

} // namespace

PresentRows CountPresentRows(db::Side src, db::Side dst, const JournalTable& journal, db::DateTime startDate) {
    const std::string table(journal.table), key(journal.key);
    PresentRows result{table, 0, 0, startDate};
    src.Bind();
    dst.Bind();
    db::WorkUnit destinationWork(dst.statement);
    const db::ClearSqlAtEnd releaseDestination(dst.statement);
    dst.statement.ClearSql();
    dst.statement.AddSqlLine("select min(" + key + "), max(" + key + ") from " + table);
    dst.statement.Execute();
    if (dst.statement.ColumnAt(0).IsNull()) return result;   // a new destination: nothing to compare
    const std::string lowest = std::to_string(dst.statement.ColumnAt(0).GetInt64());
    const std::string highest = std::to_string(dst.statement.ColumnAt(1).GetInt64());
    dst.statement.CloseCursor();
    dst.statement.ClearSql();
    dst.statement.AddSqlLine("select " + key + " from " + table + " Order BY " + key);
    dst.statement.Execute();

    // All the source rows are counted; only those within the destination's keys are read, in
    // key order.
    const CopyQueries queries = PlanQueries({table, key, ""});
    const std::string select = "(" + Joined(queries.select) + ")";
    db::WorkUnit sourceWork(src.statement);
    const db::ClearSqlAtEnd releaseSource(src.statement);
    RunOnSource(src.statement, "select count(*) from " + select, queries, startDate);
    result.rows = src.statement.ColumnAt(0).GetInt64();
    src.statement.CloseCursor();
    RunOnSource(src.statement,
                "select " + key + " from " + select + " where " + key + " between " + lowest + " and " + highest +
                    " Order BY " + key,
                queries, startDate);
    for (; !src.statement.AtEnd(); src.statement.FetchNext()) {
        const long long wanted = Key(src.statement);
        while (!dst.statement.AtEnd() && Key(dst.statement) < wanted) dst.statement.FetchNext();
        if (!dst.statement.AtEnd() && Key(dst.statement) == wanted) ++result.present;
    }
    return result;
}

std::vector<PresentRows> JournalRowsPresent(db::Side src, db::Side dst, db::DateTime startDate) {
    std::vector<PresentRows> found;
    for (const JournalTable& journal : JournalTables()) {
        try {
            PresentRows rows = CountPresentRows(src, dst, journal, startDate);
            if (rows.present > 0) found.push_back(std::move(rows));
        } catch (const ConnectionLost&) {
            throw;
        } catch (const std::exception&) {
            // A journal that cannot be read (missing on one side): its copy fails and says so.
        }
    }
    return found;
}

} // namespace kestrix::transfer
