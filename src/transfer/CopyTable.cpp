#include "transfer/CopyTable.h"

#include <deque>
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

// A row whose values are set and that is not yet written.
struct PendingRow {
    std::string key;                     // the source key as text, for its log lines ...
    bool keyKept = false;                // ... else read from the current source row when needed
    std::vector<std::string> unmapped;   // columns that became -1
    bool archived = false;               // OWNER: to be marked archived once written
    std::string archiveError;            // OWNER: why its archive flag could not be read
    RowDigest digest{};                  // what it holds, for the read-back
};

// The working state of one call: the plan, the two statements, and the source column of
// each parameter, found once while the row select stays prepared through the loop. Rows go
// to the destination through the writer, each row's values set straight from the source row;
// a row that goes alone is written before the next source row is fetched.
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
    std::optional<BlockWriter> writer;       // once the row statement's text is set
    std::deque<PendingRow> pending;          // rows set and not yet written or refused, in order
    int written = 0;                         // rows written in the destination's open unit
    std::vector<std::string> refused;        // source keys of the refused rows
    std::unique_ptr<WrittenRows> digests;    // with a read-back to come: what the written rows hold
};

// Parameter j of the row being set. A position the single-row statement does not have fails
// as it does there.
SqlValue& Param(TableCopy& copy, int j) { return copy.writer->Input(j); }

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

// INIDATA: whether the current row holds a reader list, which is written renumbered.
bool HoldsReaderList(const TableCopy& copy) {
    return transfer::HoldsReaderList(copy.src.ColumnByName(kSectionColumn).GetString(),
                                     copy.src.ColumnByName(kReaderListColumn).IsNull());
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
            copy.writer->Copy(parameter, SourceOf(copy, j));
            continue;
        }
        // A photo the photo table takes is not copied only to be dropped: a blob per owner.
        if (copy.plan.LeavesPhoto(copy.plan.parameterSources[j])) {
            copy.writer->SetNull(parameter);
            continue;
        }
        if (listRewritten && copy.plan.parameterSources[j] == "ID_BLOB") continue;
        try {
            copy.writer->Copy(parameter, SourceOf(copy, j));
        } catch (const Error&) {
            if (reused) copy.writer->SetNull(parameter);
        }
    }
}

// The reader list of a row that holds one, with its readers renumbered.
void RewriteReaderRights(TableCopy& copy) {
    if (!HoldsReaderList(copy)) return;   // a NULL list stays as copied
    std::string content;
    copy.src.ColumnByName("ID_BLOB").ReadBlobTo(content);
    MacroTextConverter text(copy.ctx.maps);
    text.Lines = SplitTextLines(content);
    text.RemapReaderLines();
    for (int i = 0; i < text.UnmappedCount; ++i) copy.unmapped.emplace_back("ID_BLOB");
    copy.writer->SetBlob(copy.dst.ParameterByName("ID_BLOB").Index(), JoinTextLines(text.Lines));
}

// Translates and records a reference that the maps do not hold.
void Remap(TableCopy& copy, SqlValue& parameter, int map, int old, const std::string& column) {
    const int translated = copy.ctx.maps.RemapId(map, old);
    parameter.SetInteger(translated);
    if (translated == -1) copy.unmapped.push_back(column);
}

void Translate(TableCopy& copy, const Translation& t) {
    using Rule = Translation::Rule;
    auto source = [&](const std::string& column) { return copy.src.ColumnByName(column).GetInteger(); };
    if (t.rule == Rule::MapIfPresent) {
        try {
            SqlValue& p = ParamByName(copy, t.parameterName);
            if (!p.IsNull()) Remap(copy, p, t.MapForRow(source), t.OldKey([&] { return p.GetInteger(); }, source), t.column);
        } catch (const Error&) {
        }
    } else if (t.rule == Rule::Text) {
        SqlValue& p = Param(copy, t.parameter);
        p.SetString(p.GetString());
    } else {
        const int map = t.MapForRow(source);
        if (map == 0) return;
        SqlValue& p = Param(copy, t.parameter);
        Remap(copy, p, map, t.OldKey([&] { return p.GetInteger(); }, source), t.column);
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

// The outcomes of the rows the writer was given, in the order given.
RowOutcomes PendingOutcomes(TableCopy& copy) {
    auto next = [&copy] {
        PendingRow row = std::move(copy.pending.front());
        copy.pending.pop_front();
        return row;
    };
    return {[&copy, next](Statement& insert) { Written(copy, next(), insert); },
            [&copy, next](const std::string& error) { Refused(copy, next(), error, true); }};
}

// Sets the current source row's values into the writer's next row: a row that goes alone
// prepares its statement, unless the one of the row before is still there.
void SetRowValues(TableCopy& copy) {
    const bool reused = copy.writer->StartRow(copy.expectedRows - copy.rowsRead);
    ++copy.rowsRead;
    CopyParameters(copy, reused);
    if (copy.plan.kind == RowKind::Insert) InsertSteps(copy);
}

// One source row into the writer's next row; its block runs when it is full. A row whose
// values cannot be set is refused and logged after the rows before it are written.
void CopyRow(TableCopy& copy) {
    const int tableNo = copy.plan.tableNo;
    const std::size_t oldIdsBefore = tableNo > 0 ? copy.ctx.maps.OldIds(tableNo).size() : 0;
    copy.unmapped.clear();
    try {
        SetRowValues(copy);
    } catch (const Error& e) {
        copy.writer->WriteOneByOne();
        Refused(copy, PendingRow{}, e.what(), tableNo > 0 && copy.ctx.maps.OldIds(tableNo).size() > oldIdsBefore);
        return;
    }
    PendingRow row{{}, false, copy.unmapped};
    if (!copy.writer->RowAlone()) {
        row.key = SourceKeyText(copy.src, copy.request.keyColumn);
        row.keyKept = true;
    }
    if (!copy.plan.archiveSql.empty()) row.archived = SourceArchived(copy, row.archiveError);
    if (copy.digests) row.digest = copy.digests->Row();
    copy.pending.push_back(std::move(row));
    copy.writer->EndRow();
}

void NextSourceRow(TableCopy& copy) {
    try {
        copy.src.FetchNext();
    } catch (const Error&) {
        // The rows read before the failure are still written.
        copy.writer->WriteOneByOne();
        throw;
    }
}

// Rows go in blocks of the request's size, as far as the writer allows; a table whose block
// cannot be built goes row by row.
void RowLoop(TableCopy& copy) {
    RunState& state = copy.ctx.state;
    state.SetTablePosition(0);
    copy.writer.emplace(copy.dst, copy.plan.rowSql, copy.plan.returnedKey, PendingOutcomes(copy));
    copy.writer->SetUp(copy.request.blockRows, copy.expectedRows);
    while (!copy.ctx.Cancelled()) {
        state.StepTable();
        state.RowRead();
        state.PumpMessages();
        CopyRow(copy);
        NextSourceRow(copy);
        if (copy.ctx.Cancelled() || copy.src.AtEnd()) break;
    }
    // The rows of a last, partial block; after a cancel, the rows read up to it.
    copy.writer->WriteOneByOne();
}

} // namespace

int CountSourceRows(Context& ctx, db::Side Src, const CopyRequest& request) {
    Src.Bind();
    Statement unused;
    TableCopy copy{ctx, request, Src.statement, unused, {}, {}, {}, {}};
    db::WorkUnit work(copy.src);
    return CountRows(copy, PlanQueries(request));
}

std::optional<KeyRange> SourceKeyBounds(Context& ctx, db::Side Src, const CopyRequest& request) {
    const CopyQueries queries = PlanQueries(request);
    if (queries.keyBounds.empty()) return std::nullopt;
    Src.Bind();
    Statement unused;
    TableCopy copy{ctx, request, Src.statement, unused, {}, {}, {}, {}};
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

int InsertBlockRows(const db::Connection& destination) { return destination.ThroughServer() ? kServerBlockRows : kEmbeddedBlockRows; }

CopiedTable CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request, std::optional<int> sourceRows) {
    Src.Bind();
    Dst.Bind();
    RunState& state = ctx.state;
    const CopyQueries queries = PlanQueries(request);
    TableCopy copy{ctx, request, Src.statement, Dst.statement, {}, {}, {}, {}};
    // No statement of the table outlives it: the row statement's prepared form goes with it.
    const db::ClearSqlAtEnd release(copy.dst);

    const std::vector<std::string> destColumns = DestinationColumns(copy.dst, queries);
    if (ctx.Cancelled()) return {};

    db::WorkUnit srcWork(copy.src);
    const InlineBlobReads inlineBlobs(copy.src, !PhotosLeftToPhotoTable(request));
    OpenSource(copy, queries, sourceRows);
    copy.plan = PlanRows(request, destColumns, ColumnNames(copy.src));
    if (ctx.Cancelled()) return {};

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
