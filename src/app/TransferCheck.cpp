#include "app/TransferCheck.h"

#include <cstdio>
#include <filesystem>
#include <utility>

#include "app/RunDriver.h"
#include "db/ReadOnlyDatabase.h"
#include "db/Strings.h"
#include "transfer/BulkLoad.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/PresentRows.h"
#include "transfer/RunPlan.h"
#include "transfer/UpdateColumn.h"

namespace kestrix {
namespace {

using transfer::ColumnMatch;
using transfer::CopyPlan;
using transfer::CopyRequest;
using transfer::LineAction;
using transfer::PlannedLine;
using Args = std::vector<std::string>;

std::string DateText(const db::DateTime& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

// Both databases, only read, and what the run learns of them before its first table.
struct Reading {
    db::ReadOnlyDatabase& src;
    db::ReadOnlyDatabase& dst;
    const RunOptions& options;
    transfer::DatabaseFacts facts;
};

// The phrase of each planned action, in the order of LineAction.
constexpr CheckSays kActionSays[] = {
    CheckSays::Clear,       CheckSays::ClearWhere,        CheckSays::ClearZones,   CheckSays::ClearAgain,
    CheckSays::ClearOnly,   CheckSays::Macros,            CheckSays::Copy,         CheckSays::CopyNewKeys,
    CheckSays::UpdateFiveColumns, CheckSays::UpdatePhotos, CheckSays::UpdateColumn, CheckSays::NeverCleared,
    CheckSays::JournalNotHere, CheckSays::NotCopied,      CheckSays::JournalCopy,
};

CheckText Said(const Reading& r, const PlannedLine& planned, LineAction action) {
    const transfer::TableListLine& line = planned.line;
    CheckText text(kActionSays[static_cast<int>(action)]);
    Args& args = text.phrases[0].args;
    switch (action) {
    case LineAction::ClearWhere: args = {line.condition}; break;
    case LineAction::UpdateColumn: args = {line.tail, line.key}; break;
    case LineAction::JournalCopy: args = {DateText(r.options.startDate)}; break;
    case LineAction::Copy:
    case LineAction::CopyNewKeys:
    case LineAction::UpdateFiveColumns:
    case LineAction::UpdatePhotos:
        if (!line.tail.empty()) text += {CheckSays::OfRowsWhere, {line.tail}};
        // Photos of a source without the photo table come from its owners.
        if (transfer::OwnerPhotoCase(planned.Request(r.facts))) text += {CheckSays::PhotosFromOwner, {}};
        break;
    default: break;
    }
    return text;
}

void PresenceProblems(CheckedLine& out, bool needSource, bool needKey) {
    std::vector<CheckText>& problems = out.problems;
    if (out.table.empty()) {
        problems.emplace_back(CheckSays::NoTableName);
        return;
    }
    if (!out.dest.table) problems.emplace_back(CheckSays::TableMissingDest, Args{out.table});
    if (needSource && !out.source.table) problems.emplace_back(CheckSays::TableMissingSource, Args{out.table});
    if (!needKey) return;
    if (out.source.table && !out.source.key) problems.emplace_back(CheckSays::KeyMissingSource, Args{out.key, out.table});
    if (out.dest.table && !out.dest.key) problems.emplace_back(CheckSays::KeyMissingDest, Args{out.key, out.table});
}

void CountRows(Reading& r, const std::vector<std::string>& select, bool startDate, CheckedLine& out) {
    try {
        const db::DateTime date = transfer::StartOfDay(r.options.startDate);
        out.rows = r.src.Count(select, startDate ? &date : nullptr);
    } catch (const std::exception& e) {
        out.problems.emplace_back(CheckSays::RowsUnreadable, Args{e.what()});
    }
}

// What the plan leaves out: source columns the destination lacks (a translation's type column
// is read, not copied) and, for an insert, destination columns no source column fills.
void LeftOut(const CopyRequest& request, const CopyPlan& plan, const Args& from, const Args& to, CheckedLine& out) {
    if (transfer::OwnerPhotoCase(request)) return;
    std::vector<std::string> read;
    for (const transfer::Translation& t : plan.translations) read.push_back(t.typeColumn);
    for (const std::string& c : from)
        if (!transfer::ContainsColumn(to, c) && !transfer::ContainsColumn(read, c)) out.notArriving.push_back(c);
    if (plan.kind != transfer::RowKind::Insert) return;
    for (const std::string& c : to) {
        if (transfer::ContainsColumn(from, c) || (plan.tableNo > 0 && c == UnquotedName(request.keyColumn))) continue;
        out.noValue.push_back(c);
        out.portSetToOne = out.portSetToOne || (c == "HS_PORT" && plan.portSetToOne);
    }
}

// The copy as the run plans it: its select and the destination's columns prepared, the
// columns chosen by the plan, the rows counted over the select.
void PlannedCopy(Reading& r, const CopyRequest& request, CheckedLine& out) {
    const transfer::CopyQueries queries = transfer::PlanQueries(request);
    std::vector<std::string> from, to;
    try {
        to = r.dst.ResultColumns({queries.destColumns});
        from = r.src.ResultColumns(queries.select);
    } catch (const std::exception& e) {
        out.problems.emplace_back(CheckSays::RowsUnreadable, Args{e.what()});
        return;
    }
    CopyPlan plan;
    try {
        plan = transfer::PlanRows(request, to, from);
    } catch (const std::exception&) {
        out.problems.emplace_back(CheckSays::TooFewColumns);
        return;
    }
    out.copied = plan.WrittenColumns();
    LeftOut(request, plan, from, to, out);
    if (plan.tableNo > 0 && plan.oldKeyColumn != UnquotedName(request.keyColumn))
        out.problems.emplace_back(CheckSays::KeyNotFirst, Args{plan.oldKeyColumn});
    const transfer::JournalTable* journal = transfer::FindJournal(request.table);
    out.rowsFilter = !request.where.empty() ? request.where
                     : journal ? std::string(journal->dateColumn) + " >= " + DateText(r.options.startDate)
                               : std::string();
    CountRows(r, queries.select, queries.startDate, out);
}

// The update column judged by the run's own rule: a name that matches only loosely updates nothing.
void PlannedUpdate(Reading& r, const transfer::TableListLine& line, CheckedLine& out) {
    bool updates = true, loosely = false;
    for (auto [side, missing] : {std::pair{&r.src, CheckSays::UpdateMissingSource},
                                 std::pair{&r.dst, CheckSays::UpdateMissingDest}}) {
        const auto& columns = side->Columns(line.table);
        const ColumnMatch match = columns ? transfer::MatchUpdateColumn(*columns, line.tail) : ColumnMatch::Absent;
        if (match == ColumnMatch::Absent) out.problems.emplace_back(missing, Args{line.tail, line.table});
        loosely = loosely || match == ColumnMatch::OnlyLoosely;
        updates = updates && match == ColumnMatch::Exact;
    }
    if (loosely) out.problems.emplace_back(CheckSays::UpdateColumnNotExact, Args{line.tail, UnquotedName(line.table)});
    if (updates) out.copied = {line.tail};
    if (!out.rows) CountRows(r, {"select * from " + line.table}, false, out);
}

// Columns and rows of a line that reads the source.
void Inspect(Reading& r, const PlannedLine& planned, CheckedLine& out) {
    const transfer::LineSteps& steps = planned.steps;
    const CopyRequest request = planned.Request(r.facts);
    const bool photosFromOwners = steps.copy && transfer::OwnerPhotoCase(request);
    if (!out.dest.table || (!out.source.table && !photosFromOwners)) return;
    if (steps.macros) {
        const transfer::CopiedTable macros = transfer::PlanMacros();
        out.copied = macros.plan.WrittenColumns();
        CountRows(r, macros.queries.select, false, out);
    }
    // Without the key column on both sides the copy fails before it reads a row.
    if (steps.copy && (photosFromOwners || (out.source.key && out.dest.key))) PlannedCopy(r, request, out);
    if (steps.update) PlannedUpdate(r, planned.line, out);
}

CheckedLine CheckLine(Reading& r, const PlannedLine& planned) {
    CheckedLine out;
    out.number = planned.number;
    out.text = planned.text;
    out.comment = planned.line.comment;
    if (out.comment) return out;
    out.table = planned.line.table;
    out.key = planned.line.key;
    for (LineAction action : planned.actions) out.actions.push_back(Said(r, planned, action));
    out.reads = planned.reads;
    const transfer::LineSteps& steps = planned.steps;
    if (!steps.clear && !out.reads) return out;   // a journal named in the list: the passes leave it
    out.source = {r.src.Columns(out.table).has_value(), r.src.HasColumn(out.table, out.key)};
    out.dest = {r.dst.Columns(out.table).has_value(), r.dst.HasColumn(out.table, out.key)};
    const bool photosFromOwners = steps.copy && transfer::OwnerPhotoCase(planned.Request(r.facts));
    PresenceProblems(out, out.reads && !photosFromOwners, steps.copy || steps.update);
    if (!planned.specialNameMissed.empty())
        out.problems.emplace_back(CheckSays::NotWrittenExactly, Args{out.table, planned.specialNameMissed});
    for (char flag : planned.flagsInCondition) out.problems.emplace_back(CheckSays::FlagInCondition, Args{std::string(1, flag)});
    if (!out.table.empty()) Inspect(r, planned, out);
    return out;
}

// The journals are never cleared: destination rows with the keys of the copy's rows make
// the copy refuse those.
void PresentProblem(Reading& r, const transfer::JournalTable& journal, CheckedLine& out) {
    try {
        const PresentRows rows = transfer::CountPresentRows(r.src.Sql(), r.dst.Sql(), journal, r.options.startDate);
        if (rows.present > 0)
            out.problems.emplace_back(CheckSays::RowsPresent, Args{rows.table, std::to_string(rows.present),
                                                                  std::to_string(rows.rows), DateText(rows.from)});
    } catch (const std::exception& e) {
        out.problems.emplace_back(CheckSays::PresentUncountable, Args{e.what()});
    }
}

// What the plan says of the run's order: references that become -1, tables left empty.
void OrderProblems(const PlannedLine& planned, CheckedLine& out) {
    for (const std::string& device : planned.unfilledMaps)
        out.problems.emplace_back(CheckSays::ReferencesBecomeMinusOne, Args{device});
    for (const std::string& table : planned.neverRefilled)
        out.problems.emplace_back(CheckSays::ClearedNeverRefilled, Args{table});
}

void GeneratorProblems(db::ReadOnlyDatabase& dst, const transfer::RunPlan& plan, CheckResult& result) {
    for (std::size_t i = 0; i < plan.generators.size(); ++i) {
        const transfer::GeneratorLine& g = plan.generators[i];
        if (g.comment) continue;
        const std::string file = kGeneratorListFile, number = std::to_string(i + 1);
        if (!dst.Columns(g.table))
            result.fileProblems.emplace_back(CheckSays::GeneratorTableMissing, Args{file, number, g.table});
        else if (!dst.HasColumn(g.table, g.column))
            result.fileProblems.emplace_back(CheckSays::GeneratorColumnMissing,
                                             Args{file, number, g.column, UnquotedName(g.table)});
        if (!dst.HasGenerator(g.generator))
            result.fileProblems.emplace_back(CheckSays::GeneratorMissing, Args{file, number, g.generator});
    }
}

} // namespace

CheckResult CheckTransfer(const RunOptions& options) {
    const transfer::RunPlan plan = transfer::PlanRun(options);
    for (const std::exception_ptr& unreadable : {plan.tableListUnreadable, plan.generatorListUnreadable})
        if (unreadable) std::rethrow_exception(unreadable);
    db::ReadOnlyDatabase src(StripQuotes(options.sourceName), DatabaseRole::Source, options.sourceLogin);
    db::ReadOnlyDatabase dst(StripQuotes(options.destName), DatabaseRole::Destination, options.destLogin);
    // A destination another run is writing changes under the check: refused as the run would be.
    RefuseOtherWriter(dst.Sql(), {});
    Reading r{src, dst, options, {}};
    r.facts.destHasPhotos = transfer::ProbeOwnerPhotos(dst.Sql());
    r.facts.sourceHasPhotos = transfer::ProbeOwnerPhotos(src.Sql());

    CheckResult result;
    for (const PlannedLine& planned : plan.lines) result.lines.push_back(CheckLine(r, planned));
    // The journal block's copies, each checked as a line of its own.
    for (const PlannedLine& planned : plan.journals) {
        CheckedLine out = CheckLine(r, planned);
        if (out.source.key && out.dest.key) PresentProblem(r, *transfer::FindJournal(out.table), out);
        result.lines.push_back(std::move(out));
    }
    std::size_t at = 0;
    for (const auto* part : {&plan.lines, &plan.journals})
        for (const PlannedLine& planned : *part) OrderProblems(planned, result.lines[at++]);
    GeneratorProblems(dst, plan, result);
    for (const transfer::PlannedScript& script : plan.scripts) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(script.path, ec))
            result.fileProblems.emplace_back(CheckSays::ScriptMissing, Args{script.name});
    }
    for (const transfer::LoadIndex& index : transfer::IndexesLeftInactive(dst.Sql()))
        result.fileProblems.emplace_back(CheckSays::IndexLeftInactive, Args{index.name, index.table});
    // Only where they are off: a mark over forced writes that are on is only taken off.
    if (transfer::ForcedWritesLeftOff(dst.Sql()) && !dst.Sql().connection.ForcedWrites()) result.fileProblems.emplace_back(CheckSays::ForcedWritesLeftOff, Args{});
    return result;
}

} // namespace kestrix
