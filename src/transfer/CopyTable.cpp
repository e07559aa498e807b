#include "transfer/CopyTable.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Work.h"
#include "run/IdMaps.h"
#include "run/Texts.h"
#include "transfer/InsertBlock.h"
#include "transfer/MacroTextConverter.h"
#include "transfer/TablePlan.h"
#include "transfer/Verification.h"

namespace kestrix::transfer {
namespace {

using db::SqlValue;
using db::Statement;

// A block's declared input message stays far below the server's request size limit: a
// block of 310 inputs of VARCHAR(32765) (10.2 MB) was prepared, one of 320 (10.5 MB) was
// refused with "request size limit exceeded". Within this size the declared length costs
// little: 6,000 rows of 300-byte photos took 0.055 s in blocks of 100 declared at 32,765
// bytes a photo (3.3 MB) against 0.044 s declared at 400 bytes, and blocks of 25 to 100 rows
// cost about the same; a row of one blob goes 100 to a block, one of two blobs 60.
constexpr std::size_t kBlockMessageBytes = 4'000'000;

// A row whose values are set and that is not yet written.
struct PendingRow {
    std::string key;                     // the source key as text, for its log lines ...
    bool keyKept = false;                // ... else read from the current source row when needed
    std::vector<std::string> unmapped;   // columns that became -1
    bool archived = false;               // OWNER: to be marked archived once written
    std::string archiveError;            // OWNER: why its archive flag could not be read
    RowDigest digest{};                  // what it holds, for the read-back
};

// Rows go to the destination a block at a time, each row's values filled straight from the
// source row into the block's next row. Blocks have the full size while the source count
// leaves a full block, and the last one the size of the rows left; without a block (none
// built, or one row left) a row goes alone through the single-row statement, written before
// the next source row is fetched.
struct Batch {
    int fullRows = 0;              // rows of a full block; 0: no block
    RowBlock full;
    RowBlock last;
    bool lastRefused = false;      // the last block could not be built: its rows go alone
    RowBlock* filling = nullptr;   // the block the pending rows are in; nullptr: one row alone
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
    int rowsRead = 0;                        // source rows handed to the copy so far
    Batch batch{};
    int written = 0;                         // rows written in the destination's open unit
    std::vector<std::string> refused;        // source keys of the refused rows
    std::unique_ptr<WrittenRows> digests;    // with a read-back to come: what the written rows hold
};

// The row being filled: its row in the block.
int Slot(const TableCopy& copy) { return static_cast<int>(copy.batch.rows.size()); }

// Parameter j of the row being filled, in the row's slot of the block. A position the
// single-row statement does not have fails as it does there.
SqlValue& Param(TableCopy& copy, int j) {
    SqlValue& single = copy.dst.ParameterAt(j);
    if (!copy.batch.filling) return single;
    return copy.batch.filling->Input(Slot(copy), j);
}

// Parameter j of the row being filled takes a source value, a NULL, or a blob's content:
// through a block a blob rides inside it when it is small enough.
void CopyInto(TableCopy& copy, int j, const SqlValue& source) {
    Param(copy, j);   // fails for a position the statement does not have
    if (copy.batch.filling) copy.batch.filling->Copy(Slot(copy), j, source);
    else copy.dst.ParameterAt(j).CopyValueFrom(source);
}

void NullInto(TableCopy& copy, int j) {
    if (copy.batch.filling) copy.batch.filling->SetNull(Slot(copy), j);
    else Param(copy, j).SetNull();
}

void BlobInto(TableCopy& copy, int j, const std::string& content) {
    if (copy.batch.filling) copy.batch.filling->SetBlob(Slot(copy), j, content);
    else Param(copy, j).WriteBlobFrom(content);
}

SqlValue& ParamByName(TableCopy& copy, const std::string& name) {
    return Param(copy, copy.dst.ParameterByName(name).Index());
}

std::vector<std::string> ColumnNames(Statement& sql) {
    std::vector<std::string> names;
    for (int i = 0; i < sql.ColumnCount(); ++i) names.push_back(sql.ColumnAt(i).Name());
    return names;
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
    if (startDate) copy.src.ParameterAt(0).SetDateTime(StartOfDay(copy.ctx.options.startDate));
    copy.src.Execute();
}

int CountRows(TableCopy& copy, const CopyQueries& queries) {
    RunSourceQuery(copy, {queries.count}, queries.startDate);
    const int rows = copy.src.ColumnAt(0).GetInteger();
    copy.src.CloseCursor();
    return rows;
}

// Counts the source rows for the table progress, unless the caller did, then opens the row
// select on its first row.
void OpenSource(TableCopy& copy, const CopyQueries& queries, std::optional<int> sourceRows) {
    copy.expectedRows = sourceRows ? *sourceRows : CountRows(copy, queries);
    copy.ctx.state.SetTableMax(copy.expectedRows);
    RunSourceQuery(copy, queries.select, queries.startDate);
}

void FindParameterSources(TableCopy& copy) {
    for (const std::string& name : copy.plan.parameterSources) {
        try {
            copy.sources.push_back(&copy.src.ColumnByName(name));
        } catch (const Error&) {
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
    } catch (const Error&) {
        return {};
    }
}

void LogError(TableCopy& copy, const std::string& text, const std::string& message, const std::string& keyText) {
    const std::string& table = copy.request.table;
    const std::string& key = copy.request.keyColumn;
    copy.ctx.LogLine(text + table + " " + key + " =  " + keyText + " :  " + message);
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
    } catch (const Error&) {
        return false;
    }
}

// An insert's single copies are guarded: a failed one leaves the parameter as a freshly
// prepared parameter would be, without a value from an earlier row. An update's are not.
void CopyParameters(TableCopy& copy, bool reused) {
    const bool listRewritten = copy.plan.kind == RowKind::Insert && ReaderListRewritten(copy);
    for (std::size_t j = 0; j < copy.plan.parameterSources.size(); ++j) {
        const int parameter = static_cast<int>(j);
        if (copy.plan.kind != RowKind::Insert) {
            CopyInto(copy, parameter, SourceOf(copy, j));
            continue;
        }
        // A photo the photo table takes is not copied only to be dropped: a blob per owner.
        if (copy.plan.clearPhoto && copy.plan.parameterSources[j] == "OW_PHOTO") {
            NullInto(copy, parameter);
            continue;
        }
        if (listRewritten && copy.plan.parameterSources[j] == "ID_BLOB") continue;
        try {
            CopyInto(copy, parameter, SourceOf(copy, j));
        } catch (const Error&) {
            if (reused) NullInto(copy, parameter);
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
    BlobInto(copy, copy.dst.ParameterByName("ID_BLOB").Index(), JoinTextLines(text.Lines));
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
        } catch (const Error&) {
        }
    } else if (t.rule == Rule::MapByType) {
        // A type outside the list, or mapped to 0, leaves the parameter as copied.
        const int map = t.MapFor(copy.src.ColumnByName(t.typeColumn).GetInteger());
        if (map == 0) return;
        SqlValue& p = Param(copy, t.parameter);
        const int old = t.valueColumn.empty() ? p.GetInteger() : copy.src.ColumnByName(t.valueColumn).GetInteger();
        Remap(copy, p, map, old, t.column);
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

// The source key of a row for its log lines: kept with the row, else read from the current
// source row only when a line needs it, not for every row written.
std::string KeyText(TableCopy& copy, const PendingRow& row) {
    return row.keyKept ? row.key : SourceKeyText(copy.src, copy.request.keyColumn);
}

// The key the destination gave the row just inserted, as its insert returned it.
void LearnNewKey(TableCopy& copy, Statement& insert, const PendingRow& row) {
    IdMaps& maps = copy.ctx.maps;
    try {
        maps.AppendNew(copy.plan.tableNo, insert.ColumnAt(0).GetString());
    } catch (const Error& e) {
        maps.AppendNew(copy.plan.tableNo, "-1");
        LogError(copy, texts::kMaxIdError, e.what(), KeyText(copy, row));
    }
}

// Marks the owner just inserted, by the key `insert` returned. The update is prepared once
// per table, beside the row statement.
void MarkArchived(TableCopy& copy, Statement& insert, const PendingRow& row) {
    try {
        Statement& archive = copy.archive;
        if (archive.SqlLineCount() == 0) {
            archive.BindTransaction(*copy.dst.GetTransaction());
            archive.AddSqlLine(copy.plan.archiveSql);
        }
        archive.ParameterAt(0).CopyValueFrom(insert.ColumnAt(0));
        archive.Execute();
    } catch (const Error& e) {
        LogError(copy, texts::kArchiveError, e.what(), KeyText(copy, row));
    }
}

// Whether the current source owner is archived; "" in `error` when its flag could be read.
bool SourceArchived(TableCopy& copy, std::string& error) {
    try {
        return copy.src.ColumnByName("OW_ARCHIVE").GetInteger() == 1;
    } catch (const Error& e) {
        error = e.what();
        return false;
    }
}

// After a write, once for every way a row is written. Written: its progress, references, new
// key and archive mark, by what `insert` returned for it.
void Written(TableCopy& copy, const PendingRow& row, Statement& insert) {
    RunState& state = copy.ctx.state;
    state.RowDone(true);
    ++copy.written;
    for (const std::string& column : row.unmapped) state.ReferenceUnmapped(copy.request.table, column);
    if (copy.plan.tableNo > 0) LearnNewKey(copy, insert, row);
    if (row.archived) MarkArchived(copy, insert, row);
    else if (!row.archiveError.empty()) LogError(copy, texts::kArchiveError, row.archiveError, KeyText(copy, row));
    if (copy.digests) copy.digests->Written(row.digest);
}

// Refused: its log line and progress; its old key, when it could be read, maps to -1 so
// that the two lists of the table's map stay paired. A row that was set recorded its old key
// then; one whose values could not be set is the current source row.
void Refused(TableCopy& copy, const PendingRow& row, const std::string& message, bool oldKeyRecorded) {
    copy.refused.push_back(KeyText(copy, row));   // kept for the read-back of the copy
    LogError(copy, texts::kInsertError, message, copy.refused.back());
    copy.ctx.state.RowDone(false);
    const int tableNo = copy.plan.tableNo;
    if (tableNo == 0) return;
    if (!oldKeyRecorded) {
        try {
            copy.ctx.maps.AppendOld(tableNo, OldKey(copy));
            oldKeyRecorded = true;
        } catch (const Error&) {
        }
    }
    if (oldKeyRecorded) copy.ctx.maps.AppendNew(tableNo, "-1");
}

// Lost: the pending rows not yet written or refused were never tried, and are neither; the
// copy ends, and the caller raises the lost connection.
void Lost(TableCopy& copy) { copy.batch.rows.clear(); }

// The pending rows from `from` on, one by one through the single-row statement, each with
// its own result and log line, in row order. The values are taken from the block's slots
// (a blob is written anew from the content its slot keeps).
void PendingOneByOne(TableCopy& copy, std::size_t from) {
    Batch& batch = copy.batch;
    // Without a block, the one pending row was written or refused by its execute already.
    for (std::size_t i = from; i < batch.rows.size() && batch.filling; ++i) {
        try {
            batch.filling->CopyRowTo(static_cast<int>(i), copy.dst);
            copy.dst.Execute();
        } catch (const ConnectionLost&) {
            Lost(copy);
            throw;
        } catch (const Error& e) {
            Refused(copy, batch.rows[i], e.what(), true);
            continue;
        }
        Written(copy, batch.rows[i], copy.dst);
    }
    batch.rows.clear();
}

// The rows of a block that returns keys, as its result rows come, one per insert in order;
// read to its end, so that the block has run to its last statement. How many were written.
std::size_t WrittenByKeys(TableCopy& copy, Statement& block) {
    std::size_t written = 0;
    while (!block.AtEnd()) {
        if (written < copy.batch.rows.size()) Written(copy, copy.batch.rows[written++], block);
        try {
            block.FetchNext();   // a failed fetch closes the cursor
        } catch (const ConnectionLost&) {
            Lost(copy);
            throw;
        } catch (const Error&) {
            break;
        }
    }
    block.CloseCursor();
    return written;
}

// The pending rows in one execute. A block of one is its row's only try. A larger block
// that returns keys gives one row per insert, in order; when one insert fails, the rows
// before it stay written and the rest go one by one. A block without results is undone as a
// whole when one of its inserts fails. Only the execute and fetches are guarded: a failure
// after a row was written (its log line, say) is no failed insert and leaves the copy.
void ExecuteBlock(TableCopy& copy) {
    Batch& batch = copy.batch;
    const bool single = batch.filling == nullptr;
    Statement& block = single ? copy.dst : batch.filling->Statement();
    try {
        block.Execute();
    } catch (const ConnectionLost&) {
        Lost(copy);
        throw;
    } catch (const Error& e) {
        if (single) {
            Refused(copy, batch.rows[0], e.what(), true);
            batch.rows.clear();
        } else {
            PendingOneByOne(copy, 0);
        }
        return;
    }
    std::size_t written = 0;
    if (single || copy.plan.returnedKey.empty()) {
        for (; written < batch.rows.size(); ++written) Written(copy, batch.rows[written], block);
    } else {
        written = WrittenByKeys(copy, block);
    }
    PendingOneByOne(copy, written);
}

// The block a row that starts one goes in: the full one while the source count leaves a
// full block, else one of the rows left, prepared once; nothing for one row left, or where
// no block can be built.
RowBlock* BlockFor(TableCopy& copy, int rowsLeft) {
    Batch& batch = copy.batch;
    if (batch.fullRows < 2 || rowsLeft < 2) return nullptr;
    const bool full = rowsLeft >= batch.fullRows;
    RowBlock& block = full ? batch.full : batch.last;
    if (block.Rows() == (full ? batch.fullRows : rowsLeft)) return &block;
    if (!full && batch.lastRefused) return nullptr;
    try {
        block.Prepare(copy.dst, copy.plan.rowSql, full ? batch.fullRows : rowsLeft, copy.plan.returnedKey);
    } catch (const Error&) {
        // Not tried again for every row: a full block that cannot be built leaves the table row by row.
        if (full) batch.fullRows = 0;
        else batch.lastRefused = true;
        return nullptr;
    }
    return &block;
}

// Sets the current source row's values into the block's next slot: a block of one prepares
// its statement, unless the one of the row before is still there.
void SetRowValues(TableCopy& copy) {
    const bool reused = copy.batch.filling || PrepareRowStatement(copy);
    CopyParameters(copy, reused);
    if (copy.plan.kind == RowKind::Insert) InsertSteps(copy);
}

// One source row into the block's next slot; the block runs when it is full. A row whose
// values cannot be set is refused and logged after the rows before it are written.
void CopyRow(TableCopy& copy) {
    const int tableNo = copy.plan.tableNo;
    const std::size_t oldIdsBefore = tableNo > 0 ? copy.ctx.maps.OldIds(tableNo).size() : 0;
    copy.unmapped.clear();
    if (copy.batch.rows.empty()) copy.batch.filling = BlockFor(copy, copy.expectedRows - copy.rowsRead);
    ++copy.rowsRead;
    try {
        SetRowValues(copy);
    } catch (const ConnectionLost&) {
        Lost(copy);
        throw;
    } catch (const Error& e) {
        PendingOneByOne(copy, 0);
        Refused(copy, PendingRow{}, e.what(), tableNo > 0 && copy.ctx.maps.OldIds(tableNo).size() > oldIdsBefore);
        return;
    }
    PendingRow row{{}, false, copy.unmapped};
    if (copy.batch.filling) {
        row.key = SourceKeyText(copy.src, copy.request.keyColumn);
        row.keyKept = true;
    }
    if (!copy.plan.archiveSql.empty()) row.archived = SourceArchived(copy, row.archiveError);
    if (copy.digests) row.digest = copy.digests->Row();
    copy.batch.rows.push_back(std::move(row));
    if (!copy.batch.filling || static_cast<int>(copy.batch.rows.size()) == copy.batch.filling->Rows())
        ExecuteBlock(copy);
}

// Rows of a full block: the request's, as far as the source rows, the block's parameter
// count (inputs, a blob counting two) and its declared message size allow.
int BlockSize(const TableCopy& copy) {
    const int inputs = RowBlock::InputsPerRow(copy.dst);
    const std::size_t rowBytes = std::max<std::size_t>(RowBlock::RowBytes(copy.dst), 1);
    return std::min({copy.request.blockRows, copy.expectedRows, 32767 / std::max(inputs, 1),
                     static_cast<int>(kBlockMessageBytes / rowBytes)});
}

// Rows go in blocks of the request's size, as far as BlockSize allows; a table whose block
// cannot be built goes row by row. The single-row statement is prepared for the inputs'
// types and the one-by-one rows.
void SetUpBlock(TableCopy& copy) {
    if (copy.request.blockRows < 2) return;
    try {
        PrepareRowStatement(copy);
        copy.batch.fullRows = BlockSize(copy);
    } catch (const Error&) {
        copy.batch.fullRows = 0;
    }
}

void NextSourceRow(TableCopy& copy) {
    try {
        copy.src.FetchNext();
    } catch (const Error&) {
        // The rows read before the failure are still written.
        PendingOneByOne(copy, 0);
        throw;
    }
}

void RowLoop(TableCopy& copy) {
    RunState& state = copy.ctx.state;
    state.SetTablePosition(0);
    SetUpBlock(copy);
    while (!state.CancelFlag) {
        state.StepTable();
        state.PumpMessages();
        CopyRow(copy);
        NextSourceRow(copy);
        if (state.CancelFlag || copy.src.AtEnd()) break;
    }
    // The rows of a last, partial block; after a cancel, the rows read up to it.
    PendingOneByOne(copy, 0);
}

} // namespace

int CountSourceRows(Context& ctx, db::Side Src, const CopyRequest& request) {
    Src.Bind();
    Statement unused;
    TableCopy copy{ctx, request, Src.SQL, unused, {}, {}, {}, {}};
    db::WorkUnit work(copy.src);
    return CountRows(copy, PlanQueries(request));
}

std::optional<KeyRange> SourceKeyBounds(Context& ctx, db::Side Src, const CopyRequest& request) {
    const CopyQueries queries = PlanQueries(request);
    if (queries.keyBounds.empty()) return std::nullopt;
    Src.Bind();
    Statement unused;
    TableCopy copy{ctx, request, Src.SQL, unused, {}, {}, {}, {}};
    db::WorkUnit work(copy.src);
    RunSourceQuery(copy, {queries.keyBounds}, queries.startDate);
    std::optional<KeyRange> bounds;
    if (!copy.src.ColumnAt(0).IsNull())
        bounds = KeyRange{std::stoll(copy.src.ColumnAt(0).GetString()), std::stoll(copy.src.ColumnAt(1).GetString())};
    copy.src.CloseCursor();
    return bounds;
}

void EndWrittenUnit(RunState& state, db::WorkUnit& work, int written) {
    bool committed = false;
    try {
        committed = work.Commit();
    } catch (...) {
        state.WrittenUndone(written);
        throw;
    }
    if (!committed) state.WrittenUndone(written);
}

void EndFailedWrittenUnit(RunState& state, db::WorkUnit& work, const db::Statement& dst, int written) noexcept {
    work.End();   // what was written before an interruption commits, as it would have
    if (dst.GetTransaction()->IsActive()) state.WrittenUndone(written);
}

int InsertBlockRows(const db::Connection& destination) { return destination.ThroughServer() ? kServerBlockRows : 1; }

CopiedTable CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request, std::optional<int> sourceRows) {
    Src.Bind();
    Dst.Bind();
    RunState& state = ctx.state;
    const CopyQueries queries = PlanQueries(request);
    TableCopy copy{ctx, request, Src.SQL, Dst.SQL, {}, {}, {}, {}};
    // No statement of the table outlives it: the row statement's prepared form goes with it.
    const db::ClearSqlAtEnd release(copy.dst);

    const std::vector<std::string> destColumns = DestinationColumns(copy.dst, queries);
    if (state.CancelFlag) return {};

    db::WorkUnit srcWork(copy.src);
    const InlineBlobReads inlineBlobs(copy.src, !PhotosLeftToPhotoTable(request));
    OpenSource(copy, queries, sourceRows);
    copy.plan = PlanRows(request, destColumns, ColumnNames(copy.src));
    if (state.CancelFlag) return {};

    FindParameterSources(copy);
    copy.dst.ClearSql();
    copy.dst.AddSqlLine(copy.plan.rowSql);
    db::WorkUnit dstWork(copy.dst);
    if (copy.src.RowsFetched() < 1) return {request, queries, std::move(copy.plan), {}};
    if (ctx.options.verify) copy.digests = std::make_unique<WrittenRows>(ctx, copy.src, copy.dst, request, copy.plan);
    try {
        RowLoop(copy);
    } catch (...) {
        EndFailedWrittenUnit(state, dstWork, copy.dst, copy.written);
        throw;
    }
    EndWrittenUnit(state, dstWork, copy.written);
    CopiedTable copied{request, queries, std::move(copy.plan), std::move(copy.refused)};
    if (copy.digests) copied.digest = copy.digests->Take();
    return copied;
}

} // namespace kestrix::transfer
