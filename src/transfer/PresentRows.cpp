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

} // namespace

PresentRows CountPresentRows(db::Side src, db::Side dst, const JournalTable& journal, db::DateTime startDate) {
    const std::string table(journal.table), key(journal.key);
    PresentRows result{table, 0, 0, startDate};
    src.Bind();
    dst.Bind();
    db::WorkUnit destinationWork(dst.statement);
    const db::ClearSqlAtEnd releaseDestination(dst.statement);
    dst.statement.ClearSql();
    dst.statement.AddSqlLine("select " + key + " from " + table + " Order BY " + key);
    dst.statement.Execute();
    if (dst.statement.AtEnd()) return result;   // a new destination: nothing to compare

    const CopyQueries queries = PlanQueries({table, key, ""});
    db::WorkUnit sourceWork(src.statement);
    const db::ClearSqlAtEnd releaseSource(src.statement);
    src.statement.ClearSql();
    src.statement.AddSqlLine("select " + key + " from (" + Joined(queries.select) + ") Order BY " + key);
    src.statement.Prepare();
    if (queries.startDate) src.statement.ParameterAt(0).SetDateTime(StartOfDay(startDate));
    src.statement.Execute();
    for (; !src.statement.AtEnd(); src.statement.FetchNext()) {
        ++result.rows;
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
