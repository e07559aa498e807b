#include "transfer/Perepis.h"

#include <exception>
#include <string_view>
#include <vector>

#include "db/Error.h"
#include "db/Work.h"
#include "run/IdMaps.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/Peregonner.h"
#include "transfer/PerepisPlan.h"

namespace kestrix::transfer {
namespace {

using db::SqlValue;
using db::Statement;

// The working state of one call: the plan, the two statements, and the source column of
// each parameter, found once while the row select stays prepared through the loop.
struct TableCopy {
    Context& ctx;
    const CopyRequest& request;
    Statement& src;
    Statement& dst;
    CopyPlan plan;
    std::string rowText;                     // the row statement as the statement holds it
    std::vector<const SqlValue*> sources;    // nullptr: looked up again per row, to fail as before
    std::vector<std::string> unmapped;       // columns of the current row that became -1
    Statement archive{};                     // OWNER: the archive mark, prepared once
};

std::vector<std::string> ColumnNames(Statement& sql) {
    std::vector<std::string> names;
    for (int i = 0; i < sql.ColumnCount(); ++i) names.push_back(sql.ColumnAt(i).Name());
    return names;
}

db::DateTime StartOfDay(db::DateTime date) {
    date.hour = date.minute = date.second = date.millisecond = 0;
    return date;
}

// Destination columns, from the description of a select; the rows are not read.
std::vector<std::string> DestinationColumns(Statement& dst, const CopyQueries& queries) {
    db::WorkUnit work(dst);
    dst.ClearSql();
    dst.AddSqlLine(queries.destColumns);
    dst.Prepare();   // not executed: a large uncleared table is not sorted for its names
    return ColumnNames(dst);
}

void RunSourceQuery(TableCopy& copy, const std::vector<std::string>& lines, bool startDate) {
    copy.src.ClearSql();
    for (const std::string& line : lines) copy.src.AddSqlLine(line);
    copy.src.Prepare();
    if (startDate) copy.src.ParameterAt(0).SetDateTime(StartOfDay(copy.ctx.state.StartDate));
    copy.src.Execute();
}

// Counts the source rows for the table progress, then opens the row select on its first row.
void OpenSource(TableCopy& copy, const CopyQueries& queries) {
    RunSourceQuery(copy, {queries.count}, queries.startDate);
    copy.ctx.state.SetTableMax(copy.src.ColumnAt(0).GetInteger());
    copy.src.CloseCursor();
    RunSourceQuery(copy, queries.select, queries.startDate);
}

void FindParameterSources(TableCopy& copy) {
    for (const std::string& name : copy.plan.parameterSources) {
        try {
            copy.sources.push_back(&copy.src.ColumnByName(name));
        } catch (const std::exception&) {
            copy.sources.push_back(nullptr);
        }
    }
}

const SqlValue& SourceOf(TableCopy& copy, std::size_t j) {
    return copy.sources[j] ? *copy.sources[j] : copy.src.ColumnByName(copy.plan.parameterSources[j]);
}

std::string SourceKeyText(Statement& src, const std::string& keyColumn) {
    try {
        return src.ColumnByName(keyColumn).GetString();
    } catch (const std::exception&) {
        return {};
    }
}

void LogError(TableCopy& copy, const std::string& text, const std::exception& error) {
    const std::string& table = copy.request.table;
    const std::string& key = copy.request.keyColumn;
    RunLog::Append(copy.ctx.LogPath(),
                   text + table + " " + key + " =  " + SourceKeyText(copy.src, key) + " :  " + error.what());
}

// Prepares the row statement, unless the one prepared for the row before is still there:
// on journals of millions of rows, preparing once per row would dominate the copy. True
// when it was reused.
bool PrepareRowStatement(TableCopy& copy) {
    const bool reused =
        copy.dst.Prepared() && copy.dst.SqlLineCount() == 1 && copy.dst.SqlText() == copy.rowText;
    if (!reused) {
        copy.dst.ClearSql();
        copy.dst.AddSqlLine(copy.plan.rowSql);
    }
    copy.dst.Prepare();
    return reused;
}

// An insert's single copies are guarded: a failed one leaves the parameter as a freshly
// prepared parameter would be, without a value from an earlier row. An update's are not.
void CopyParameters(TableCopy& copy, bool reused) {
    for (std::size_t j = 0; j < copy.plan.parameterSources.size(); ++j) {
        SqlValue& parameter = copy.dst.ParameterAt(static_cast<int>(j));
        if (copy.plan.kind != RowKind::Insert) {
            parameter.CopyValueFrom(SourceOf(copy, j));
            continue;
        }
        try {
            parameter.CopyValueFrom(SourceOf(copy, j));
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) throw;
            if (reused) parameter.SetNull();
        }
    }
}

// The reader list of a "USERS_RD_RIGHTS" row, with its readers renumbered.
void RewriteReaderRights(TableCopy& copy) {
    if (copy.src.ColumnByName("ID_SECTION").GetString() != "USERS_RD_RIGHTS") return;
    const SqlValue& blob = copy.src.ColumnByName("ID_BLOB");
    if (blob.IsNull()) return;   // no list to rewrite; the copied NULL stays
    std::string content;
    blob.ReadBlobTo(content);
    Tperegonner text(copy.ctx.maps);
    text.Lines = SplitTextLines(content);
    text.RemapReaderLines();
    for (int i = 0; i < text.UnmappedCount; ++i) copy.unmapped.emplace_back("ID_BLOB");
    copy.dst.ParameterByName("ID_BLOB").WriteBlobFrom(JoinTextLines(text.Lines));
}

// Translates and records a reference that the maps do not hold.
void Remap(TableCopy& copy, SqlValue& parameter, int map, int old, const std::string& column) {
    const int translated = copy.ctx.maps.RemapId(map, old);
    parameter.SetInteger(translated);
    if (translated == -1) copy.unmapped.push_back(column);
}

void Translate(TableCopy& copy, const Translation& t) {
    using Rule = Translation::Rule;
    if (t.rule == Rule::MapIfPresent) {
        try {
            SqlValue& p = copy.dst.ParameterByName(t.parameterName);
            if (!p.IsNull()) Remap(copy, p, t.map, p.GetInteger(), t.column);
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) throw;
        }
    } else if (t.rule == Rule::MapByType) {
        // A type outside the list, or mapped to 0, leaves the parameter as copied.
        const int type = copy.src.ColumnByName(t.typeColumn).GetInteger();
        if (type < 0 || type >= static_cast<int>(t.mapByType.size()) || t.mapByType[type] == 0) return;
        SqlValue& p = copy.dst.ParameterAt(t.parameter);
        const int old = t.valueColumn.empty() ? p.GetInteger() : copy.src.ColumnByName(t.valueColumn).GetInteger();
        Remap(copy, p, t.mapByType[type], old, t.column);
    } else if (t.rule == Rule::Text) {
        SqlValue& p = copy.dst.ParameterAt(t.parameter);
        p.SetString(p.GetString());
    } else {
        SqlValue& p = copy.dst.ParameterAt(t.parameter);
        Remap(copy, p, t.map, p.GetInteger(), t.column);
    }
}

// The old key of an identifier table's row: its first copied column.
std::string OldKey(TableCopy& copy) {
    if (copy.plan.oldKeyColumn.empty()) throw Error(Error::Kind::Client, 0, "List index out of bounds (0)");
    return copy.src.ColumnByName(copy.plan.oldKeyColumn).GetString();
}

void InsertSteps(TableCopy& copy) {
    if (copy.plan.readerRights) RewriteReaderRights(copy);
    if (copy.plan.tableNo > 0) copy.ctx.maps.AppendOld(copy.plan.tableNo, OldKey(copy));
    if (copy.plan.clearPhoto) copy.dst.ParameterByName("OW_PHOTO").SetNull();
    for (const Translation& t : copy.plan.translations) Translate(copy, t);
}

// The per-row execution: the row statement with the row's values.
void WriteRow(TableCopy& copy) {
    const bool reused = PrepareRowStatement(copy);
    CopyParameters(copy, reused);
    if (copy.plan.kind == RowKind::Insert) InsertSteps(copy);
    copy.dst.Execute();
}

// The key the destination gave the row just inserted, as its insert returned it.
void LearnNewKey(TableCopy& copy) {
    IdMaps& maps = copy.ctx.maps;
    try {
        maps.AppendNew(copy.plan.tableNo, copy.dst.ColumnAt(0).GetString());
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        maps.AppendNew(copy.plan.tableNo, "-1");
        LogError(copy, texts::kMaxIdError, e);
    }
}

// Keeps the two lists of the table's map paired: a row without a new key maps its old key,
// if it could be read, to -1.
void RecordKeys(TableCopy& copy, bool written, std::size_t oldIdsBefore) {
    const int tableNo = copy.plan.tableNo;
    if (tableNo == 0) return;
    if (written) {
        LearnNewKey(copy);
        return;
    }
    IdMaps& maps = copy.ctx.maps;
    if (maps.OldIds(tableNo).size() == oldIdsBefore) {
        try {
            maps.AppendOld(tableNo, OldKey(copy));
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) throw;
        }
    }
    if (maps.OldIds(tableNo).size() > oldIdsBefore) maps.AppendNew(tableNo, "-1");
}

// Marks the owner just inserted, by the key its insert returned; a failed insert marks none.
// The update is prepared once per table, beside the row statement.
void MarkArchivedOwner(TableCopy& copy) {
    try {
        if (copy.src.ColumnByName("OW_ARCHIVE").GetInteger() != 1) return;
        Statement& archive = copy.archive;
        if (archive.SqlLineCount() == 0) {
            archive.BindTransaction(*copy.dst.GetTransaction());
            archive.AddSqlLine(copy.plan.archiveSql);
        }
        archive.ParameterAt(0).CopyValueFrom(copy.dst.ColumnAt(0));
        archive.Execute();
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        LogError(copy, texts::kArchiveError, e);
    }
}

// One source row: written or refused and logged, its keys recorded, its owner marked.
// A lost connection counts the row as refused and ends the copy, unlogged: the sequence
// logs it once.
void CopyRow(TableCopy& copy) {
    RunState& state = copy.ctx.state;
    const int tableNo = copy.plan.tableNo;
    const std::size_t oldIdsBefore = tableNo > 0 ? copy.ctx.maps.OldIds(tableNo).size() : 0;
    copy.unmapped.clear();
    bool written = false;
    std::exception_ptr lost;
    try {
        WriteRow(copy);
        written = true;
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) lost = std::current_exception();
        else LogError(copy, texts::kInsertError, e);
    }
    state.RowDone(written);
    if (lost) std::rethrow_exception(lost);
    if (written)
        for (const std::string& column : copy.unmapped) state.ReferenceUnmapped(copy.request.table, column);
    RecordKeys(copy, written, oldIdsBefore);
    if (written && !copy.plan.archiveSql.empty()) MarkArchivedOwner(copy);
}

void RowLoop(TableCopy& copy) {
    RunState& state = copy.ctx.state;
    state.SetTablePosition(0);
    while (!state.CancelFlag) {
        state.StepTable();
        state.PumpMessages();
        CopyRow(copy);
        copy.src.FetchNext();
        if (state.CancelFlag || copy.src.AtEnd()) return;
    }
}

} // namespace

void Perepis(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
             const std::string& Where) {
    Src.Bind();
    Dst.Bind();
    RunState& state = ctx.state;
    const CopyRequest request{TableName, KeyColumn, Where, state.DestHasPhotos, state.SourceHasPhotos};
    const CopyQueries queries = PlanQueries(request);
    TableCopy copy{ctx, request, Src.SQL, Dst.SQL, {}, {}, {}, {}};
    // No statement of the table outlives it: the row statement's prepared form goes with it.
    struct Release {
        Statement& row;
        ~Release() { row.ClearSql(); }
    } release{copy.dst};

    const std::vector<std::string> destColumns = DestinationColumns(copy.dst, queries);
    if (state.CancelFlag) return;

    db::WorkUnit srcWork(copy.src);
    OpenSource(copy, queries);
    copy.plan = PlanRows(request, destColumns, ColumnNames(copy.src));
    copy.rowText = copy.plan.rowSql + "\r\n";
    if (state.CancelFlag) return;

    FindParameterSources(copy);
    db::WorkUnit dstWork(copy.dst);
    if (copy.src.RowsFetched() < 1) return;
    RowLoop(copy);
}

} // namespace kestrix::transfer
