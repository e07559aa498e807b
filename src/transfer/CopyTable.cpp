#include "transfer/CopyTable.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <vector>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Work.h"
#include "run/IdMaps.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "transfer/InsertBlock.h"
#include "transfer/MacroTextConverter.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {
namespace {

using db::SqlValue;
using db::Statement;

// Rows per block through a server: from about 50 rows on a block is bound by the engine's
// own insert work, and the prepare of a block grows with its size.
constexpr int kServerBatch = 100;
// A block's input message stays far below the server's request size limit.
constexpr std::size_t kBlockMessageBytes = 4'000'000;

// A row read into a slot of the block and not yet written.
struct PendingRow {
    std::string key;                     // the source key as text, for its log line
    std::vector<std::string> unmapped;   // columns that became -1
    bool archived = false;               // OWNER: to be marked archived once written
    std::string archiveError;            // OWNER: why its archive flag could not be read
};

// Through a server, rows go to the destination a block at a time: the block inserts `size`
// rows, each with the single-row insert's parameters, filled straight from the source row.
struct Batch {
    Statement block;
    int size = 0;     // rows per block; 0: row by row
    int params = 0;   // parameters of one row
    std::vector<PendingRow> rows;
};

// The working state of one call: the plan, the two statements, and the source column of
// each parameter, found once while the row select stays prepared through the loop.
struct TableCopy {
    Context& ctx;
    const CopyRequest& request;
    Statement& src;
    Statement& dst;
    CopyPlan plan;
    std::vector<const SqlValue*> sources;    // nullptr: looked up again per row, to fail as before
    std::vector<std::string> unmapped;       // columns of the current row that became -1
    Statement archive{};                     // OWNER: the archive mark, prepared once
    int expectedRows = 0;                    // the source count
    Batch batch{};
    bool inSlot = false;                     // the row's values go to the block's next slot
};

// Parameter j of the row being filled: of the single-row insert, or of the row's slot in the
// block. A position the insert does not have fails as it does in the insert.
SqlValue& Param(TableCopy& copy, int j) {
    SqlValue& single = copy.dst.ParameterAt(j);
    if (!copy.inSlot) return single;
    const auto slot = static_cast<int>(copy.batch.rows.size());
    return copy.batch.block.ParameterAt(slot * copy.batch.params + j);
}

SqlValue& ParamByName(TableCopy& copy, const std::string& name) {
    return Param(copy, copy.dst.ParameterByName(name).Index());
}

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
    copy.expectedRows = copy.src.ColumnAt(0).GetInteger();
    copy.ctx.state.SetTableMax(copy.expectedRows);
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

void LogError(TableCopy& copy, const std::string& text, const std::string& message, const std::string& keyText) {
    const std::string& table = copy.request.table;
    const std::string& key = copy.request.keyColumn;
    RunLog::Append(copy.ctx.LogPath(), text + table + " " + key + " =  " + keyText + " :  " + message);
}

void LogError(TableCopy& copy, const std::string& text, const std::exception& error, const std::string& keyText) {
    LogError(copy, text, std::string(error.what()), keyText);
}

void LogError(TableCopy& copy, const std::string& text, const std::exception& error) {
    LogError(copy, text, error, SourceKeyText(copy.src, copy.request.keyColumn));
}

// Prepares the row statement (its text is set once per table), unless the one prepared for
// the row before is still there: on journals of millions of rows, preparing once per row
// would dominate the copy. True when it was reused.
bool PrepareRowStatement(TableCopy& copy) {
    const bool reused = copy.dst.Prepared();
    copy.dst.Prepare();
    return reused;
}

// INIDATA: whether the current row holds a reader list, which is written renumbered.
bool HoldsReaderList(const TableCopy& copy) {
    return copy.src.ColumnByName("ID_SECTION").GetString() == "USERS_RD_RIGHTS" &&
           !copy.src.ColumnByName("ID_BLOB").IsNull();
}

// Whether the current row's reader list is left to RewriteReaderRights rather than copied
// first only to be replaced: the list is read and written once. When the row's columns cannot
// be read, it is copied as any column, and the rewrite then refuses the row.
bool ReaderListRewritten(const TableCopy& copy) {
    if (!copy.plan.readerRights) return false;
    try {
        return HoldsReaderList(copy);
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        return false;
    }
}

// An insert's single copies are guarded: a failed one leaves the parameter as a freshly
// prepared parameter would be, without a value from an earlier row. An update's are not.
void CopyParameters(TableCopy& copy, bool reused) {
    const bool listRewritten = copy.plan.kind == RowKind::Insert && ReaderListRewritten(copy);
    for (std::size_t j = 0; j < copy.plan.parameterSources.size(); ++j) {
        SqlValue& parameter = Param(copy, static_cast<int>(j));
        if (copy.plan.kind != RowKind::Insert) {
            parameter.CopyValueFrom(SourceOf(copy, j));
            continue;
        }
        // A photo the photo table takes is not copied only to be dropped: a blob per owner.
        if (copy.plan.clearPhoto && copy.plan.parameterSources[j] == "OW_PHOTO") {
            parameter.SetNull();
            continue;
        }
        if (listRewritten && copy.plan.parameterSources[j] == "ID_BLOB") continue;
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
    if (!HoldsReaderList(copy)) return;   // a NULL list stays as copied
    std::string content;
    copy.src.ColumnByName("ID_BLOB").ReadBlobTo(content);
    MacroTextConverter text(copy.ctx.maps);
    text.Lines = SplitTextLines(content);
    text.RemapReaderLines();
    for (int i = 0; i < text.UnmappedCount; ++i) copy.unmapped.emplace_back("ID_BLOB");
    ParamByName(copy, "ID_BLOB").WriteBlobFrom(JoinTextLines(text.Lines));
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
            SqlValue& p = ParamByName(copy, t.parameterName);
            if (!p.IsNull()) Remap(copy, p, t.map, p.GetInteger(), t.column);
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) throw;
        }
    } else if (t.rule == Rule::MapByType) {
        // A type outside the list, or mapped to 0, leaves the parameter as copied.
        const int type = copy.src.ColumnByName(t.typeColumn).GetInteger();
        if (type < 0 || type >= static_cast<int>(t.mapByType.size()) || t.mapByType[type] == 0) return;
        SqlValue& p = Param(copy, t.parameter);
        const int old = t.valueColumn.empty() ? p.GetInteger() : copy.src.ColumnByName(t.valueColumn).GetInteger();
        Remap(copy, p, t.mapByType[type], old, t.column);
    } else if (t.rule == Rule::Text) {
        SqlValue& p = Param(copy, t.parameter);
        p.SetString(p.GetString());
    } else {
        SqlValue& p = Param(copy, t.parameter);
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
    for (const Translation& t : copy.plan.translations) Translate(copy, t);
}

// The per-row execution: the row statement with the row's values.
void WriteRow(TableCopy& copy) {
    const bool reused = PrepareRowStatement(copy);
    CopyParameters(copy, reused);
    if (copy.plan.kind == RowKind::Insert) InsertSteps(copy);
    copy.dst.Execute();
}

// The source key of a row for its log lines: kept with a pending row, else read from the
// current source row only when a line needs it, not for every row written.
struct RowKey {
    const std::string* kept = nullptr;
    std::string Text(TableCopy& copy) const {
        return kept ? *kept : SourceKeyText(copy.src, copy.request.keyColumn);
    }
};

// The key the destination gave the row just inserted, as its insert returned it.
void LearnNewKey(TableCopy& copy, Statement& insert, RowKey key) {
    IdMaps& maps = copy.ctx.maps;
    try {
        maps.AppendNew(copy.plan.tableNo, insert.ColumnAt(0).GetString());
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        maps.AppendNew(copy.plan.tableNo, "-1");
        LogError(copy, texts::kMaxIdError, e, key.Text(copy));
    }
}

// Keeps the two lists of the table's map paired: a row without a new key maps its old key,
// if it could be read, to -1.
void RecordKeys(TableCopy& copy, bool written, std::size_t oldIdsBefore) {
    const int tableNo = copy.plan.tableNo;
    if (tableNo == 0) return;
    if (written) {
        LearnNewKey(copy, copy.dst, RowKey{});
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

// Marks the owner just inserted, by the key `insert` returned. The update is prepared once
// per table, beside the row statement.
void MarkArchived(TableCopy& copy, Statement& insert, RowKey key) {
    try {
        Statement& archive = copy.archive;
        if (archive.SqlLineCount() == 0) {
            archive.BindTransaction(*copy.dst.GetTransaction());
            archive.AddSqlLine(copy.plan.archiveSql);
        }
        archive.ParameterAt(0).CopyValueFrom(insert.ColumnAt(0));
        archive.Execute();
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        LogError(copy, texts::kArchiveError, e, key.Text(copy));
    }
}

// Whether the current source owner is archived; "" in `error` when its flag could be read.
bool SourceArchived(TableCopy& copy, std::string& error) {
    try {
        return copy.src.ColumnByName("OW_ARCHIVE").GetInteger() == 1;
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        error = e.what();
        return false;
    }
}

// A failed insert marks none.
void MarkArchivedOwner(TableCopy& copy) {
    std::string error;
    if (SourceArchived(copy, error)) MarkArchived(copy, copy.dst, RowKey{});
    else if (!error.empty()) LogError(copy, texts::kArchiveError, error, RowKey{}.Text(copy));
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

// "host:" or "host/port:" before the file name: the database is reached through a server.
bool ThroughServer(const std::string& name) {
    const std::size_t colon = name.find(':');
    if (colon == std::string::npos) return false;
    const std::string prefix = name.substr(0, colon);
    const std::size_t slash = prefix.find('/');
    const std::string host = prefix.substr(0, slash);
    if (host.size() < 2 || host.find('\\') != std::string::npos) return false;   // not a drive letter
    if (slash == std::string::npos) return true;
    const std::string port = prefix.substr(slash + 1);
    return !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
}

int BatchSize(const TableCopy& copy, std::size_t rowBytes) {
    const int params = std::max(copy.batch.params, 1);
    return std::min({kServerBatch, copy.expectedRows, 32767 / params,
                     static_cast<int>(kBlockMessageBytes / std::max<std::size_t>(rowBytes, 1))});
}

// Through a server, the inserts are sent in blocks; a table whose block cannot be built
// stays row by row. Embedded, rows go one by one: a block gains little there.
void SetUpBatch(TableCopy& copy) {
    const CopyPlan& plan = copy.plan;
    if (plan.kind != RowKind::Insert) return;
    const db::Connection* database = copy.dst.Database();
    if (!database || !ThroughServer(database->DatabaseName())) return;
    Batch& batch = copy.batch;
    try {
        PrepareRowStatement(copy);
        batch.params = copy.dst.ParameterCount();
        std::vector<std::string> inputs;
        std::size_t rowBytes = 0;
        for (int j = 0; j < batch.params; ++j) {
            inputs.push_back(DeclaredType(copy.dst.ParameterAt(j)));
            rowBytes += static_cast<std::size_t>(copy.dst.ParameterAt(j).SqlLength()) + 4;
        }
        const int size = BatchSize(copy, rowBytes);
        if (size < 2) return;
        const bool returns = !plan.returnedKey.empty();
        const std::string returnedType = returns ? DeclaredType(copy.dst.ColumnAt(0)) : std::string();
        batch.block.ParamCheck = false;   // the block's own variables are written :NAME
        batch.block.BindTransaction(*copy.dst.GetTransaction());
        for (const std::string& line : InsertBlockLines(plan.rowSql, inputs, size, plan.returnedKey, returnedType))
            batch.block.AddSqlLine(line);
        batch.block.Prepare();
        if (returns && batch.block.StatementKind() != Statement::Kind::Select)
            throw Error(Error::Kind::Client, 0, "the block returns no rows");
        batch.size = size;
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) throw;
        batch.size = 0;
        batch.block.ClearSql();
    }
}

// A pending row that the destination took: its progress, references and new key.
void PendingWritten(TableCopy& copy, const PendingRow& row, Statement& insert) {
    RunState& state = copy.ctx.state;
    state.RowDone(true);
    for (const std::string& column : row.unmapped) state.ReferenceUnmapped(copy.request.table, column);
    if (copy.plan.tableNo > 0) LearnNewKey(copy, insert, RowKey{&row.key});
    if (row.archived) MarkArchived(copy, insert, RowKey{&row.key});
    else if (!row.archiveError.empty()) LogError(copy, texts::kArchiveError, row.archiveError, row.key);
}

// The pending rows from `from` on, one by one through the single-row insert, each with
// its own result and log line, in row order. The values are taken from the block's slots
// (a blob is written anew from the content its slot keeps).
void PendingOneByOne(TableCopy& copy, std::size_t from) {
    Batch& batch = copy.batch;
    for (std::size_t i = from; i < batch.rows.size(); ++i) {
        const PendingRow& row = batch.rows[i];
        bool written = false;
        try {
            for (int j = 0; j < batch.params; ++j)
                copy.dst.ParameterAt(j).CopyValueFrom(batch.block.ParameterAt(static_cast<int>(i) * batch.params + j));
            copy.dst.Execute();
            written = true;
        } catch (const std::exception& e) {
            if (IsConnectionLost(e)) {
                for (; i < batch.rows.size(); ++i) copy.ctx.state.RowDone(false);
                batch.rows.clear();
                throw;
            }
            LogError(copy, texts::kInsertError, e, row.key);
        }
        if (written) {
            PendingWritten(copy, row, copy.dst);
        } else {
            copy.ctx.state.RowDone(false);
            if (copy.plan.tableNo > 0) copy.ctx.maps.AppendNew(copy.plan.tableNo, "-1");
        }
    }
    batch.rows.clear();
}

// The pending rows from `from` on were not written: a lost connection ends the copy.
[[noreturn]] void PendingLost(TableCopy& copy, std::size_t from) {
    for (std::size_t i = from; i < copy.batch.rows.size(); ++i) copy.ctx.state.RowDone(false);
    copy.batch.rows.clear();
    throw;
}

// A full block in one execute. A block that returns keys gives one row per insert, in
// order; when one insert fails, the rows before it stay written and the rest go one by one.
// A block without results is undone as a whole when one of its inserts fails. Only the
// block's own execute and fetches are guarded: a failure after a row was written (its log
// line, say) is no failed insert and leaves the copy.
void ExecuteBlock(TableCopy& copy) {
    Batch& batch = copy.batch;
    Statement& block = batch.block;
    try {
        block.Execute();
    } catch (const std::exception& e) {
        if (IsConnectionLost(e)) PendingLost(copy, 0);
        PendingOneByOne(copy, 0);
        return;
    }
    std::size_t written = 0;
    if (copy.plan.returnedKey.empty()) {
        for (; written < batch.rows.size(); ++written) PendingWritten(copy, batch.rows[written], block);
    } else {
        // Read to its end, so that the block has run to its last statement.
        while (!block.AtEnd()) {
            if (written < batch.rows.size()) PendingWritten(copy, batch.rows[written++], block);
            try {
                block.FetchNext();   // a failed fetch closes the cursor
            } catch (const std::exception& e) {
                if (IsConnectionLost(e)) PendingLost(copy, written);
                break;
            }
        }
        block.CloseCursor();
    }
    PendingOneByOne(copy, written);
}

// One source row into the block's next slot; the block runs when it is full. A row whose
// values cannot be set is refused and logged after the rows before it are written.
void QueueRow(TableCopy& copy) {
    const int tableNo = copy.plan.tableNo;
    const std::size_t oldIdsBefore = tableNo > 0 ? copy.ctx.maps.OldIds(tableNo).size() : 0;
    copy.unmapped.clear();
    copy.inSlot = true;
    try {
        CopyParameters(copy, true);
        InsertSteps(copy);
    } catch (const std::exception& e) {
        copy.inSlot = false;
        if (IsConnectionLost(e)) {
            copy.ctx.state.RowDone(false);
            throw;
        }
        PendingOneByOne(copy, 0);
        LogError(copy, texts::kInsertError, e);
        copy.ctx.state.RowDone(false);
        RecordKeys(copy, false, oldIdsBefore);
        return;
    }
    copy.inSlot = false;
    PendingRow row{SourceKeyText(copy.src, copy.request.keyColumn), copy.unmapped};
    if (!copy.plan.archiveSql.empty()) row.archived = SourceArchived(copy, row.archiveError);
    copy.batch.rows.push_back(std::move(row));
    if (static_cast<int>(copy.batch.rows.size()) == copy.batch.size) ExecuteBlock(copy);
}

void NextSourceRow(TableCopy& copy) {
    try {
        copy.src.FetchNext();
    } catch (const std::exception& e) {
        // The rows read before the failure are still written.
        if (!IsConnectionLost(e)) PendingOneByOne(copy, 0);
        throw;
    }
}

void RowLoop(TableCopy& copy) {
    RunState& state = copy.ctx.state;
    state.SetTablePosition(0);
    SetUpBatch(copy);
    while (!state.CancelFlag) {
        state.StepTable();
        state.PumpMessages();
        if (copy.batch.size > 0) QueueRow(copy);
        else CopyRow(copy);
        NextSourceRow(copy);
        if (state.CancelFlag || copy.src.AtEnd()) break;
    }
    // The rows of a last, partial block; after a cancel, the rows read up to it.
    PendingOneByOne(copy, 0);
}

} // namespace

void CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request) {
    Src.Bind();
    Dst.Bind();
    RunState& state = ctx.state;
    const CopyQueries queries = PlanQueries(request);
    TableCopy copy{ctx, request, Src.SQL, Dst.SQL, {}, {}, {}, {}};
    // No statement of the table outlives it: the row statement's prepared form goes with it.
    const db::ClearSqlAtEnd release(copy.dst);

    const std::vector<std::string> destColumns = DestinationColumns(copy.dst, queries);
    if (state.CancelFlag) return;

    db::WorkUnit srcWork(copy.src);
    OpenSource(copy, queries);
    copy.plan = PlanRows(request, destColumns, ColumnNames(copy.src));
    if (state.CancelFlag) return;

    FindParameterSources(copy);
    copy.dst.ClearSql();
    copy.dst.AddSqlLine(copy.plan.rowSql);
    db::WorkUnit dstWork(copy.dst);
    if (copy.src.RowsFetched() < 1) return;
    RowLoop(copy);
}

} // namespace kestrix::transfer
