#include "transfer/Verification.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>

#include "db/Error.h"
#include "db/Work.h"
#include "run/IdMaps.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "run/TextFile.h"
#include "transfer/InsertBlock.h"
#include "transfer/MacroTextConverter.h"

namespace kestrix::transfer {
namespace {

using db::SqlValue;
using db::Statement;

// A column value as compared: NULL, or its text in full stored precision (a blob's content).
struct Value {
    bool null = true;
    std::string text;
    bool operator==(const Value&) const = default;
};

Value Read(const SqlValue& v) { return v.IsNull() ? Value{} : Value{false, v.StoredText()}; }
Value Number(int n) { return {false, std::to_string(n)}; }
// As the copy reads a parameter back as integer: NULL as 0.
int Integer(const Value& v) { return v.null ? 0 : StrToInt(v.text); }

// A source row as the copy wrote it: where it went and what each written column holds.
struct ExpectedRow {
    std::string key;      // the source key, as the copy logs it
    Value destKey;
    std::vector<Value> values;
    std::string error;    // why it could not be worked out; it then matches no row
};

// The working state of one table.
struct Reading {
    Context& ctx;
    const CopiedTable& copied;
    const CopyPlan& plan;
    Statement& src;
    Statement cursor, lookup;            // destination rows in key order, and by one key
    std::vector<std::string> columns;    // the written columns, compared by name
    std::vector<int> sourceIndex;        // source column of each written column
    std::vector<bool> asText;            // each written column: one the copy writes as text
    std::vector<int> destIndex;          // destination column of each, in both statements
    std::map<std::string, int> refused;  // source keys of refused rows, with their number
    bool numericKey = false;             // destination keys merged in order; else looked up
    bool cursorOpen = false;
    long long taken = LLONG_MIN;         // the last key taken from the cursor
    TableVerification result;
};

int IndexOf(Statement& sql, const std::string& name) { return sql.ColumnByName(name).Index(); }

void ApplyTranslations(Reading& r, ExpectedRow& row) {
    auto position = [&](const Translation& t) -> std::size_t {
        if (t.rule != Translation::Rule::MapIfPresent) return static_cast<std::size_t>(t.parameter);
        for (std::size_t j = 0; j < r.columns.size(); ++j)
            if (r.plan.parameterSources[j] == t.parameterName) return j;
        return r.columns.size();
    };
    auto source = [&](const std::string& column) { return r.src.ColumnByName(column).GetInteger(); };
    for (const Translation& t : r.plan.translations) {
        const std::size_t j = position(t);
        if (t.rule == Translation::Rule::MapIfPresent) {
            int old = 0;
            if (j < row.values.size() && !row.values[j].null && db::ParseInt(row.values[j].text, old))
                row.values[j] = Number(r.ctx.maps.RemapId(t.MapForRow(source), t.OldKey([&] { return old; }, source)));
            continue;
        }
        if (j >= row.values.size()) throw std::out_of_range("parameter " + std::to_string(j));
        const int map = t.MapForRow(source);
        if (map == 0) continue;
        row.values[j] = Number(r.ctx.maps.RemapId(map, t.OldKey([&] { return Integer(row.values[j]); }, source)));
    }
}

// The texts the copy renumbers: reader lists and macro texts.
void RewriteTexts(Reading& r, ExpectedRow& row) {
    for (std::size_t j = 0; j < r.columns.size(); ++j) {
        const std::string& column = r.plan.parameterSources[j];
        Value& v = row.values[j];
        if (r.plan.LeavesPhoto(column)) v = Value{};
        const bool readers = r.plan.readerRights && column == kReaderListColumn && !v.null &&
                             HoldsReaderList(r.src.ColumnByName(kSectionColumn).GetString(), v.null);
        const bool macro = r.plan.macroTexts && column == "MCR_FILL";
        if (!readers && !macro) continue;
        MacroTextConverter text(r.ctx.maps);
        text.Lines = SplitTextLines(v.text);
        if (readers) text.RemapReaderLines();
        else text.RemapMacroLines();
        v = Value{false, JoinTextLines(text.Lines)};
    }
}

// A source value as the copy writes it: a text column's value as its text.
Value Written(Reading& r, std::size_t j) {
    const SqlValue& v = r.src.ColumnAt(r.sourceIndex[j]);
    return r.asText[j] ? Value{false, AsWrittenText(v)} : Read(v);
}

// Which written columns the copy writes as text: found once, not for every row.
void FindTextColumns(Reading& r) {
    r.asText.clear();
    for (std::size_t j = 0; j < r.sourceIndex.size(); ++j)
        r.asText.push_back(ContainsColumn(r.plan.textColumns, r.plan.parameterSources[j]));
}

// Each written text as the destination column stores it.
void FitTexts(Reading& r, ExpectedRow& row) {
    for (std::size_t j = 0; j < row.values.size(); ++j)
        if (!row.values[j].null) row.values[j].text = StoredText(std::move(row.values[j].text), r.cursor.ColumnAt(r.destIndex[j]));
}

// `withDestKey`: false while an identifier table's row is copied, its new key not yet known.
ExpectedRow Expected(Reading& r, bool withDestKey = true) {
    ExpectedRow row;
    row.key = r.src.ColumnByName(r.copied.request.keyColumn).GetString();
    try {
        for (std::size_t j = 0; j < r.sourceIndex.size(); ++j) row.values.push_back(Written(r, j));
        RewriteTexts(r, row);
        ApplyTranslations(r, row);
        FitTexts(r, row);
        if (!withDestKey) return row;
        const Value sourceKey = Read(r.src.ColumnByName(r.plan.sourceKey));
        if (r.plan.tableNo > 0) {
            row.destKey = Number(r.ctx.maps.RemapId(r.plan.tableNo, Integer(sourceKey)));
        } else {
            row.destKey = sourceKey;
            for (std::size_t j = 0; j < r.columns.size(); ++j)
                if (r.columns[j] == r.plan.destKey) row.destKey = row.values[j];
        }
    } catch (const ConnectionLost&) {
        throw;
    } catch (const std::exception& e) {
        row.error = e.what();
    }
    return row;
}

std::vector<Value> DestValues(Reading& r, Statement& sql) {
    std::vector<Value> values;
    for (int index : r.destIndex) values.push_back(Read(sql.ColumnAt(index)));
    return values;
}

long long KeyOf(Statement& sql, const std::string& column) {
    const SqlValue& v = sql.ColumnByName(column);
    return v.IsNull() ? LLONG_MIN : v.GetInt64();   // an integer key: the cursor merges only those
}

// The destination rows of one key: from the cursor while the keys come in its order, else
// looked up on their own.
std::vector<std::vector<Value>> DestinationRows(Reading& r, const Value& key) {
    std::vector<std::vector<Value>> rows;
    if (key.null) return rows;
    const long long wanted = std::strtoll(key.text.c_str(), nullptr, 10);
    if (r.numericKey && wanted > r.taken) {
        if (!r.cursorOpen) {
            r.cursor.Execute();
            r.cursorOpen = true;
        }
        while (!r.cursor.AtEnd() && KeyOf(r.cursor, r.plan.destKey) < wanted) r.cursor.FetchNext();
        for (; !r.cursor.AtEnd() && KeyOf(r.cursor, r.plan.destKey) == wanted; r.cursor.FetchNext())
            rows.push_back(DestValues(r, r.cursor));
        r.taken = wanted;
        return rows;
    }
    r.lookup.ParameterAt(0).SetString(key.text);
    r.lookup.Execute();
    for (; !r.lookup.AtEnd(); r.lookup.FetchNext()) rows.push_back(DestValues(r, r.lookup));
    r.lookup.CloseCursor();
    return rows;
}

// A value as listed: short texts as they are, anything else by its size.
std::string Shown(const Value& v, const Value& other) {
    if (v.null) return "NULL";
    const bool plain = v.text.size() <= 60 &&
                       std::none_of(v.text.begin(), v.text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
    if (plain) return "'" + v.text + "'";
    std::string shown = std::to_string(v.text.size()) + " bytes";
    if (other.null) return shown;
    std::size_t at = 0;
    while (at < v.text.size() && at < other.text.size() && v.text[at] == other.text[at]) ++at;
    return shown + ", first difference at byte " + std::to_string(at);
}

void List(Reading& r, RowDifference difference) {
    if (r.result.listed.size() < kListedDifferences) r.result.listed.push_back(std::move(difference));
}

void Differs(Reading& r, const ExpectedRow& row, const std::vector<std::vector<Value>>& dest, const std::vector<bool>& used) {
    ++r.result.differ;
    if (!row.error.empty()) return List(r, {row.key, "", row.error, ""});
    std::size_t d = 0;
    while (d < dest.size() && used[d]) ++d;
    if (dest.empty()) return List(r, {row.key, "", "", "missing"});
    const std::vector<Value>& found = dest[d < dest.size() ? d : 0];
    for (std::size_t j = 0; j < r.columns.size(); ++j)
        if (!(row.values[j] == found[j]))
            List(r, {row.key, r.columns[j], Shown(row.values[j], found[j]), Shown(found[j], row.values[j])});
}

// The source rows that go to one destination key, against the destination's rows of it: each
// source row takes an equal row not yet taken; one that finds none differs, unless the copy
// refused a row of its key.
void Settle(Reading& r, std::vector<ExpectedRow>& group) {
    if (group.empty()) return;
    const std::vector<std::vector<Value>> dest = DestinationRows(r, group.front().destKey);
    std::vector<bool> used(dest.size(), false);
    std::vector<const ExpectedRow*> matched, unmatched;
    for (const ExpectedRow& row : group) {
        std::size_t d = 0;
        while (d < dest.size() && (used[d] || !row.error.empty() || dest[d] != row.values)) ++d;
        if (d < dest.size()) used[d] = true;
        (d < dest.size() ? matched : unmatched).push_back(&row);
    }
    // An update of a row the destination does not have changes nothing: no row is missing.
    if (dest.empty() && r.plan.kind != RowKind::Insert) unmatched.clear();
    // A refused row of a key is one that is not found, else one found that the copy did not
    // write (the destination held it before): never counted verified.
    auto takeRefused = [&](const ExpectedRow& row) {
        auto refused = r.refused.find(row.key);
        if (refused == r.refused.end() || refused->second == 0) return false;
        --refused->second;
        return true;
    };
    for (const ExpectedRow* row : unmatched)
        if (!takeRefused(*row)) Differs(r, *row, dest, used);
    for (const ExpectedRow* row : matched)
        if (!takeRefused(*row)) ++r.result.verified;
    group.clear();
}

// The values' part of a row's digest, as compared: each NULL or text in column order.
std::uint64_t ValuesDigest(const std::vector<Value>& values) {
    std::uint64_t digest = 0;
    for (const Value& v : values) digest = DigestValue(digest, v.null, v.text.data(), v.text.size());
    return digest;
}

// A whole decimal key; nothing for any other text.
std::optional<long long> WholeKey(const std::string& text) {
    long long key = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), key);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
    return key;
}

// The sizes of the maps a table's rows are translated through: a map that grows after the
// copy gives the read-back other values than the copy wrote.
std::vector<std::pair<std::size_t, std::size_t>> MapSizes(const IdMaps& maps, const CopyPlan& plan) {
    std::vector<int> used;
    for (const Translation& t : plan.translations)
        for (int type = 0; type < static_cast<int>(t.mapByType.size()); ++type)
            if (const int map = t.MapFor(type); map > 0) used.push_back(map);
    if (plan.readerRights) used.push_back(kReaders);
    std::sort(used.begin(), used.end());
    used.erase(std::unique(used.begin(), used.end()), used.end());
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    for (int map : used) sizes.emplace_back(maps.OldIds(map).size(), maps.NewIds(map).size());
    return sizes;
}

// Whether the source rows of a range of destination keys can be read on their own: a journal,
// whose source key is its destination key and whose select takes a key range.
bool ReadableByKeyRange(const CopiedTable& copied) {
    const CopyPlan& plan = copied.plan;
    return plan.tableNo == 0 && !copied.request.part && plan.sourceKey == copied.request.keyColumn &&
           plan.destKey == copied.request.keyColumn && !copied.queries.keyBounds.empty();
}

// The destination's agreement with the record: the rows of the chunks that agree, and the key
// ranges whose rows are to be read on both sides (chunks that differ, or hold refused rows).
struct DigestReading {
    TableVerification agreed;
    std::vector<KeyRange> bothSides;
};

// The read-back of a copy that recorded what it wrote: the destination's rows of the written
// keys, in the order the engine stores them (a chunk's digest is a sum, and an ordered read
// walks the key index row by row), against the record, chunk by chunk; a read cut short
// verifies none of the table. Nothing when the record cannot stand for the source (then both
// sides are read in full): a map grown since the copy, a destination key that is not a whole
// number, a chunk to read on both sides in a table whose source cannot be read by key range.
std::optional<DigestReading> FromWrittenDigest(Context& ctx, db::Side dst, const CopiedTable& copied) {
    const WrittenDigest& written = copied.digest;
    const CopyPlan& plan = copied.plan;
    if (!written.usable || written.keys.empty() || MapSizes(ctx.maps, plan) != written.mapSizes) return std::nullopt;
    const bool byRange = ReadableByKeyRange(copied);
    // A chunk that holds a refused row's key is read on both sides: the row is not counted there.
    std::vector<long long> recheck;
    for (const std::string& key : copied.refusedKeys) {
        if (plan.tableNo > 0) continue;   // a refused row of an identifier table got no key
        const std::optional<long long> k = WholeKey(key);
        if (!k || !byRange) return std::nullopt;
        recheck.push_back(WrittenDigest::ChunkOf(*k));
    }

    dst.Bind();
    db::WorkUnit destinationWork(dst.statement);
    Statement cursor;
    cursor.BindTransaction(*dst.statement.GetTransaction());
    cursor.InlineBlobBytes = static_cast<int>(kInlineBlobBytes);
    cursor.AddSqlLine("select * from " + copied.request.table + " Where " + plan.destKey + " between " +
                      std::to_string(written.keys.front().first) + " and " + std::to_string(written.keys.back().second));
    cursor.Prepare();
    if (!cursor.ColumnByName(plan.destKey).IsInteger()) return std::nullopt;
    std::vector<int> destIndex;
    for (const std::string& column : plan.WrittenColumns()) destIndex.push_back(IndexOf(cursor, column));
    const int keyIndex = IndexOf(cursor, plan.destKey);

    RunState& state = ctx.state;
    state.SetTablePosition(0);
    std::map<long long, ChunkDigest> found;
    // Whether a key is in one of the written key ranges, which are in key order.
    auto writtenKey = [&written](long long key) {
        auto after = std::upper_bound(written.keys.begin(), written.keys.end(), key,
                                      [](long long k, const auto& range) { return k < range.first; });
        return after != written.keys.begin() && std::prev(after)->second >= key;
    };
    std::vector<Value> values;
    cursor.Execute();
    for (int n = 0; !cursor.AtEnd() && !ctx.Cancelled(); cursor.FetchNext(), ++n) {
        if (n % 64 == 0) state.PumpMessages();
        const SqlValue& keyValue = cursor.ColumnAt(keyIndex);
        if (keyValue.IsNull()) continue;
        const long long key = keyValue.GetInt64();
        if (!writtenKey(key)) continue;
        state.StepTable();
        values.clear();
        for (int index : destIndex) values.push_back(Read(cursor.ColumnAt(index)));
        ChunkDigest& chunk = found[WrittenDigest::ChunkOf(key)];
        ++chunk.rows;
        chunk.sum += DigestRow(ValuesDigest(values), key);
    }
    DigestReading reading;
    TableVerification& result = reading.agreed;
    result.inFull = cursor.AtEnd();
    if (cursor.CursorOpen()) cursor.CloseCursor();
    if (!result.inFull) return reading;
    std::sort(recheck.begin(), recheck.end());
    for (const auto& [id, chunk] : written.chunks) {
        auto other = found.find(id);
        const bool agrees = other != found.end() && other->second == chunk && !std::binary_search(recheck.begin(), recheck.end(), id);
        if (agrees) {
            result.verified += static_cast<int>(chunk.rows);
        } else {
            if (!byRange) return std::nullopt;
            const KeyRange keys{id << WrittenDigest::kChunkShift, ((id + 1) << WrittenDigest::kChunkShift) - 1};
            if (!reading.bothSides.empty() && reading.bothSides.back().last + 1 == keys.first) reading.bothSides.back().last = keys.last;
            else reading.bothSides.push_back(keys);
        }
    }
    return reading;
}

// Source rows in key order; the destination's statements prepared beside them.
void Open(Reading& r, Statement& dst) {
    const CopiedTable& copied = r.copied;
    r.src.ClearSql();
    for (const std::string& line : copied.queries.selectInKeyOrder) r.src.AddSqlLine(line);
    r.src.Prepare();
    if (copied.queries.startDate) r.src.ParameterAt(0).SetDateTime(StartOfDay(r.ctx.options.startDate));
    r.src.Execute();
    for (std::size_t j = 0; j < r.columns.size(); ++j) r.sourceIndex.push_back(IndexOf(r.src, r.plan.parameterSources[j]));
    FindTextColumns(r);

    const std::string& table = copied.request.table;
    for (Statement* sql : {&r.cursor, &r.lookup}) sql->BindTransaction(*dst.GetTransaction());
    // Through a server the blobs come inside the rows, as the source's do.
    for (Statement* sql : {&r.cursor, &r.lookup}) sql->InlineBlobBytes = static_cast<int>(kInlineBlobBytes);
    std::string range;
    if (copied.request.part)
        range = " Where " + r.plan.destKey + " between " + std::to_string(copied.request.part->first) + " and " +
                std::to_string(copied.request.part->last);
    r.cursor.AddSqlLine("select * from " + table + range + " Order BY " + r.plan.destKey);
    r.lookup.AddSqlLine("select * from " + table + " Where " + r.plan.destKey + " = :K");
    r.cursor.Prepare();
    r.lookup.Prepare();
    for (const std::string& column : r.columns) r.destIndex.push_back(IndexOf(r.cursor, column));
    r.numericKey = r.cursor.ColumnByName(r.plan.destKey).IsInteger();
}

// Both sides read: the source rows as the copy read them against the destination's rows.
TableVerification ReadBothSides(Context& ctx, db::Side src, db::Side dst, const CopiedTable& copied) {
    src.Bind();
    dst.Bind();
    Reading r{ctx, copied, copied.plan, src.statement};
    r.columns = copied.plan.WrittenColumns();
    for (const std::string& key : copied.refusedKeys) ++r.refused[key];

    RunState& state = ctx.state;
    db::WorkUnit sourceWork(src.statement);
    const db::ClearSqlAtEnd release(src.statement);
    const InlineBlobReads inlineBlobs(src.statement, !PhotosLeftToPhotoTable(copied.request));
    db::WorkUnit destinationWork(dst.statement);
    Open(r, dst.statement);
    state.SetTablePosition(0);
    std::vector<ExpectedRow> group;   // consecutive rows of one destination key
    for (int n = 0; !src.statement.AtEnd() && !ctx.Cancelled(); src.statement.FetchNext(), ++n) {
        state.StepTable();
        if (n % 64 == 0) state.PumpMessages();
        ExpectedRow row = Expected(r);
        if (!group.empty() && !(group.front().destKey == row.destKey)) Settle(r, group);
        group.push_back(std::move(row));
    }
    r.result.inFull = src.statement.AtEnd();
    if (r.result.inFull) Settle(r, group);
    if (r.cursorOpen) r.cursor.CloseCursor();
    return r.result;
}

// The chunks that differ read on both sides, in key order, after those that agree.
TableVerification WithBothSides(Context& ctx, db::Side src, db::Side dst, const CopiedTable& copied, DigestReading reading) {
    TableVerification& result = reading.agreed;
    for (const KeyRange& keys : reading.bothSides) {
        CopiedTable part{copied.request, {}, copied.plan, copied.refusedKeys};
        part.request.part = keys;
        part.queries = PlanQueries(part.request);
        TableVerification found = ReadBothSides(ctx, src, dst, part);
        result.verified += found.verified;
        result.differ += found.differ;
        for (RowDifference& difference : found.listed)
            if (result.listed.size() < kListedDifferences) result.listed.push_back(std::move(difference));
        if (!found.inFull) {
            result.inFull = false;
            break;
        }
    }
    return result;
}

} // namespace

TableVerification VerifyTable(Context& ctx, db::Side src, db::Side dst, const CopiedTable& copied) {
    const auto start = std::chrono::steady_clock::now();
    std::optional<DigestReading> reading;
    try {
        reading = FromWrittenDigest(ctx, dst, copied);
    } catch (const ConnectionLost&) {
        throw;
    } catch (const std::exception&) {
        // Read back both sides, which tells what failed.
    }
    TableVerification result = reading ? WithBothSides(ctx, src, dst, copied, std::move(*reading))
                                       : ReadBothSides(ctx, src, dst, copied);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

struct WrittenRows::Reader {
    Reader(Context& ctx, Statement& src, CopiedTable table) : copied(std::move(table)), r{ctx, copied, copied.plan, src} {}
    CopiedTable copied;
    Reading r;
};

WrittenRows::WrittenRows(Context& ctx, Statement& src, Statement& dst, const CopyRequest& request, const CopyPlan& plan) {
    // An update finds its rows by a key the destination may not hold: read back both sides.
    if (plan.kind != RowKind::Insert) return;
    try {
        CopiedTable table;
        table.request = request;
        table.plan = plan;
        auto reader = std::make_unique<Reader>(ctx, src, std::move(table));
        Reading& r = reader->r;
        r.columns = plan.WrittenColumns();
        for (const std::string& column : r.columns) r.sourceIndex.push_back(IndexOf(src, column));
        FindTextColumns(r);
        // The destination's columns described, for the texts as it stores them; never executed.
        r.cursor.BindTransaction(*dst.GetTransaction());
        r.cursor.AddSqlLine("select * from " + request.table);
        r.cursor.Prepare();
        for (const std::string& column : r.columns) r.destIndex.push_back(IndexOf(r.cursor, column));
        if (!r.cursor.ColumnByName(plan.destKey).IsInteger()) return;
        digest_.mapSizes = MapSizes(ctx.maps, plan);
        digest_.usable = true;
        reader_ = std::move(reader);
    } catch (const ConnectionLost&) {
        throw;
    } catch (const std::exception&) {
        // Not recorded: the read-back reads both sides.
    }
}

WrittenRows::~WrittenRows() = default;

RowDigest WrittenRows::Row() {
    if (!reader_) return {};
    Reading& r = reader_->r;
    const bool newKey = r.plan.tableNo > 0;
    ExpectedRow row = Expected(r, !newKey);
    if (!row.error.empty()) return {};
    std::optional<long long> key;
    if (newKey) {
        const Value sourceKey = Read(r.src.ColumnByName(r.plan.sourceKey));
        if (!sourceKey.null) key = WholeKey(sourceKey.text);
    } else if (!row.destKey.null) {
        key = WholeKey(row.destKey.text);
    }
    if (!key) return {};
    return {true, ValuesDigest(row.values), *key};
}

void WrittenRows::Written(const RowDigest& row) {
    if (!digest_.usable) return;
    if (!row.known) {
        digest_.usable = false;
        return;
    }
    long long key = row.key;
    try {
        // The key the destination gave the row, as the read-back finds it.
        const Reading& r = reader_->r;
        if (r.plan.tableNo > 0) key = r.ctx.maps.RemapId(r.plan.tableNo, static_cast<int>(key));
    } catch (const std::exception&) {
        digest_.usable = false;
        return;
    }
    digest_.Add(key, DigestRow(row.values, key));
}

WrittenDigest WrittenRows::Take() {
    digest_.Close();
    return std::move(digest_);
}

void VerifyCopies(Context& ctx, db::Side src, db::Side dst, const std::vector<CopiedTable>& copies) {
    RunState& state = ctx.state;
    // Every copy is due until it is read back to its end.
    for (const CopiedTable& copied : copies) state.ReadBackDue(copied.accountRow);
    for (const CopiedTable& copied : copies) {
        if (ctx.Cancelled()) return;
        state.SetStatusText(texts::kStatusVerification + copied.request.table);
        state.StageStarted(RunStage::Verification, copied.request.table);
        state.PumpMessages();
        TableVerification result;
        try {
            result = VerifyTable(ctx, src, dst, copied);
        } catch (const ConnectionLost& e) {
            // A lost connection ends the run, logged once as the sequence logs it.
            LogRunEndingError(ctx.LogPath(), e);
            throw;
        } catch (const std::exception& e) {
            // A table that cannot be read back is not known to hold what was copied.
            result = TableVerification{0, 1, {{"", "", std::string("cannot be read back: ") + e.what(), ""}}, 0, false};
        }
        state.TableVerified(copied.accountRow, result);
    }
}

} // namespace kestrix::transfer
