#include "app/TransferCheck.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "app/RunDriver.h"
#include "db/Strings.h"
#include "db/Connection.h"
#include "db/Databases.h"
#include "db/Work.h"
#include "run/DataFiles.h"
#include "run/IdMaps.h"
#include "db/Charset.h"
#include "run/TextFile.h"
#include "run/Texts.h"
#include "transfer/GeneratorList.h"
#include "transfer/LoadIndexes.h"
#include "transfer/OwnerPhoto.h"
#include "transfer/PresentRows.h"
#include "transfer/TableList.h"
#include "transfer/TablePlan.h"

namespace kestrix {
namespace {

using transfer::CopyPlan;
using transfer::CopyRequest;
using transfer::IsJournalOrDescriptionTable;
using transfer::IsJournalTable;
using transfer::LineSteps;
using transfer::TableListLine;

// Tables the run treats by their exact name; written any other way they are ordinary tables.
constexpr std::string_view kSpecialTables[] = {
    "HOSTS",  "CONTROLLERS", "PCN",         "CINPUTS", "SLAVES",       "OUTPUTS",        "INPUTS",
    "READERS", "ZONES",      "MACROSES",    "AGRIGHTS", "AGSCH",       "CARDSDEF",       "DAYSCH",
    "TIMERS", "MAKROS_RIGHT", "PRGDEF",     "ROBOTS$ACTIONS", "INIDATA", "OWNER",        "OWNERPHOTOS",
    "EVDESC", "ACR$EVDESC",  "EVENTS",      "ALARM",   "ACR$EVENTS",   "ACR$ALARMS",     "STR_EVENTS",
    "STR_ALARMS"};

// The name an unquoted identifier stands for in SQL: blanks trimmed, ASCII letters upper-cased.
std::string SqlName(const std::string& name) {
    std::string result = TrimBlanksAndControls(name);
    for (char& c : result)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return result;
}

std::string DateText(const db::DateTime& d) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", d.year, d.month, d.day);
    return text;
}

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

// One database, read through a read-only transaction.
class Side {
public:
    Side(const std::string& name, DatabaseRole role, const db::Credentials& login) {
        db::SetStandardParams(connection_, login);
        connection_.Role = role;
        connection_.SetDatabaseFile(StripQuotes(name));
        transaction_.Params = {"read", "concurrency", "nowait"};
        transaction_.BindDatabase(connection_);
        sql_.BindTransaction(transaction_);
        connection_.Connect();
    }
    ~Side() {
        try {
            connection_.Disconnect();
        } catch (const std::exception&) {
        }
    }

    db::Side Sql() { return {sql_, transaction_, connection_}; }

    // Indexes an earlier run left inactive, which the next run makes active first.
    std::vector<transfer::LoadIndex> IndexesLeftInactive() {
        return transfer::IndexesLeftInactive({sql_, transaction_, connection_});
    }

    // The owner-photo probe of the run.
    bool HasOwnerPhotos() { return transfer::ProbeOwnerPhotos({sql_, transaction_, connection_}); }

    // Columns in the order of "select *"; nothing when the table does not exist.
    const std::optional<std::vector<std::string>>& Columns(const std::string& table) {
        const std::string name = SqlName(table);
        auto found = columns_.find(name);
        if (found != columns_.end()) return found->second;
        std::vector<std::string> names = Strings(
            "SELECT TRIM(RDB$FIELD_NAME) FROM RDB$RELATION_FIELDS WHERE RDB$RELATION_NAME = :N "
            "ORDER BY RDB$FIELD_POSITION", name);
        auto& entry = columns_[name];
        if (!names.empty()) entry = std::move(names);
        return entry;
    }
    bool HasColumn(const std::string& table, const std::string& column) {
        const auto& columns = Columns(table);
        return columns && std::find(columns->begin(), columns->end(), SqlName(column)) != columns->end();
    }
    bool HasGenerator(const std::string& name) {
        return !Strings("SELECT TRIM(RDB$GENERATOR_NAME) FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = :N",
                        SqlName(name)).empty();
    }
    // The result columns of a select, learnt by preparing it, as the copy learns them.
    std::vector<std::string> ResultColumns(const std::vector<std::string>& select) {
        db::WorkUnit work(sql_);
        sql_.ClearSql();
        for (const std::string& line : select) sql_.AddSqlLine(line);
        sql_.Prepare();
        std::vector<std::string> names;
        for (int i = 0; i < sql_.ColumnCount(); ++i) names.push_back(sql_.ColumnAt(i).Name());
        return names;
    }
    // Rows of a select, counted by the server; date fills the select's one parameter.
    long long Count(const std::vector<std::string>& select, const db::DateTime* date = nullptr) {
        db::WorkUnit work(sql_);
        sql_.ClearSql();
        sql_.AddSqlLine("SELECT COUNT(*) FROM (" + Joined(select, " ") + ")");
        sql_.Prepare();
        if (date) sql_.ParameterAt(0).SetDateTime(*date);
        sql_.Execute();
        long long count = std::stoll(sql_.ColumnAt(0).GetString());
        sql_.CloseCursor();
        return count;
    }

private:
    std::vector<std::string> Strings(const std::string& select, const std::string& name) {
        db::WorkUnit work(sql_);
        sql_.ClearSql();
        sql_.AddSqlLine(select);
        sql_.Prepare();
        sql_.ParameterByName("N").SetString(name);
        sql_.Execute();
        std::vector<std::string> result;
        for (; !sql_.AtEnd(); sql_.FetchNext()) result.push_back(sql_.ColumnAt(0).GetString());
        sql_.CloseCursor();
        return result;
    }

    db::Connection connection_;
    db::Transaction transaction_;
    db::Statement sql_;
    std::map<std::string, std::optional<std::vector<std::string>>> columns_;
};

// Both databases and what the run learns of them before its first table.
struct Reading {
    Side& src;
    Side& dst;
    const CheckOptions& options;
    bool destHasPhotos = false, sourceHasPhotos = false;

    CopyRequest Request(const TableListLine& line) const {
        return {line.table, line.key, line.tail, destHasPhotos, sourceHasPhotos};
    }
};

// A line's steps, and whether its "%" is the line's own flag rather than part of its condition.
struct LineUse {
    LineSteps steps;
    bool clearOnly = false;
};

LineUse UseOf(const std::string& raw, const TableListLine& line) {
    LineUse use{transfer::StepsOf(line)};
    use.clearOnly = line.hasPercent && (!line.hasAt || raw.find('%') < raw.find('@'));
    return use;
}

CheckSays CopySays(const std::string& table) {
    if (table == "EVDESC" || table == "ACR$EVDESC") return CheckSays::UpdateFiveColumns;
    if (table == "OWNERPHOTOS") return CheckSays::UpdatePhotos;
    return MapNumberOf(table) > 0 ? CheckSays::CopyNewKeys : CheckSays::Copy;
}

std::vector<CheckText> Actions(const TableListLine& line, const LineSteps& steps) {
    std::vector<CheckText> actions;
    if (steps.clear)
        actions.push_back(line.condition.empty() ? CheckText(CheckSays::Clear)
                                                 : CheckText(CheckSays::ClearWhere, {line.condition}));
    if (steps.clearZones) actions.emplace_back(CheckSays::ClearZones);
    if (steps.clearAgain) actions.emplace_back(line.hasHash ? CheckSays::ClearAgain : CheckSays::ClearOnly);
    if (steps.macros) actions.emplace_back(CheckSays::Macros);
    if (steps.copy) {
        CheckText copy(CopySays(line.table));
        if (!line.tail.empty()) copy += {CheckSays::OfRowsWhere, {line.tail}};
        actions.push_back(copy);
    }
    if (steps.update) actions.emplace_back(CheckSays::UpdateColumn, std::vector<std::string>{line.tail, line.key});
    if (IsJournalOrDescriptionTable(line.table)) actions.emplace_back(CheckSays::NeverCleared);
    if (IsJournalTable(line.table)) actions.emplace_back(CheckSays::JournalNotHere);
    if (line.hasPercent && !steps.macros) actions.emplace_back(CheckSays::NotCopied);
    return actions;
}

void Presence(Reading& r, CheckedLine& out) {
    out.source = {r.src.Columns(out.table).has_value(), r.src.HasColumn(out.table, out.key)};
    out.dest = {r.dst.Columns(out.table).has_value(), r.dst.HasColumn(out.table, out.key)};
}

void PresenceProblems(CheckedLine& out, bool needSource, bool needKey) {
    std::vector<CheckText>& problems = out.problems;
    if (out.table.empty()) {
        problems.emplace_back(CheckSays::NoTableName);
        return;
    }
    if (!out.dest.table) problems.emplace_back(CheckSays::TableMissingDest, std::vector<std::string>{out.table});
    if (needSource && !out.source.table)
        problems.emplace_back(CheckSays::TableMissingSource, std::vector<std::string>{out.table});
    if (!needKey) return;
    if (out.source.table && !out.source.key)
        problems.emplace_back(CheckSays::KeyMissingSource, std::vector<std::string>{out.key, out.table});
    if (out.dest.table && !out.dest.key)
        problems.emplace_back(CheckSays::KeyMissingDest, std::vector<std::string>{out.key, out.table});
}

void NameProblems(const std::string& raw, const TableListLine& line, std::vector<CheckText>& problems) {
    const std::string name = SqlName(line.table);
    for (std::string_view special : kSpecialTables)
        if (special == name && line.table != special)
            problems.emplace_back(CheckSays::NotWrittenExactly, std::vector<std::string>{line.table, name});
    const std::size_t at = raw.find('@');
    if (at == std::string::npos) return;
    for (char marker : {'#', '%', '&'})
        if (raw.find(marker) > at && raw.find(marker) != std::string::npos)
            problems.emplace_back(CheckSays::FlagInCondition, std::vector<std::string>{std::string(1, marker)});
}

void CountRows(Reading& r, const std::vector<std::string>& select, bool startDate, CheckedLine& out) {
    try {
        const db::DateTime date = transfer::StartOfDay(r.options.startDate);
        out.rows = r.src.Count(select, startDate ? &date : nullptr);
    } catch (const std::exception& e) {
        out.problems.emplace_back(CheckSays::RowsUnreadable, std::vector<std::string>{e.what()});
    }
}

// What the plan leaves out: source columns the destination lacks (a translation's type column
// is read, not copied) and, for an insert, destination columns no source column fills.
void LeftOut(const CopyRequest& request, const CopyPlan& plan, const std::vector<std::string>& from,
             const std::vector<std::string>& to, CheckedLine& out) {
    if (transfer::OwnerPhotoCase(request)) return;
    std::vector<std::string> read;
    for (const transfer::Translation& t : plan.translations) read.push_back(t.typeColumn);
    for (const std::string& c : from)
        if (!transfer::ContainsColumn(to, c) && !transfer::ContainsColumn(read, c)) out.notArriving.push_back(c);
    if (plan.kind != transfer::RowKind::Insert) return;
    for (const std::string& c : to) {
        if (transfer::ContainsColumn(from, c) || (plan.tableNo > 0 && c == SqlName(request.keyColumn))) continue;
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
        out.problems.emplace_back(CheckSays::RowsUnreadable, std::vector<std::string>{e.what()});
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
    if (plan.tableNo > 0 && plan.oldKeyColumn != SqlName(request.keyColumn))
        out.problems.emplace_back(CheckSays::KeyNotFirst, std::vector<std::string>{plan.oldKeyColumn});
    const transfer::JournalTable* journal = transfer::FindJournal(request.table);
    out.rowsFilter = !request.where.empty() ? request.where
                     : journal ? std::string(journal->dateColumn) + " >= " + DateText(r.options.startDate)
                               : std::string();
    CountRows(r, queries.select, queries.startDate, out);
}

void PlannedUpdate(Reading& r, const TableListLine& line, CheckedLine& out) {
    bool bothHave = true;
    for (auto [side, missing] : {std::pair{&r.src, CheckSays::UpdateMissingSource},
                                 std::pair{&r.dst, CheckSays::UpdateMissingDest}})
        if (!side->HasColumn(line.table, line.tail)) {
            bothHave = false;
            out.problems.emplace_back(missing, std::vector<std::string>{line.tail, line.table});
        }
    if (bothHave) out.copied = {SqlName(line.tail)};
    if (!out.rows) CountRows(r, {"select * from " + line.table}, false, out);
}

// Columns and rows of a line that reads the source.
void Inspect(Reading& r, const TableListLine& line, const LineSteps& steps, CheckedLine& out) {
    const CopyRequest request = r.Request(line);
    const bool photosFromOwners = steps.copy && transfer::OwnerPhotoCase(request);
    if (!out.dest.table || (!out.source.table && !photosFromOwners)) return;
    if (steps.macros) {
        const transfer::CopiedTable macros = transfer::PlanMacros();
        out.copied = macros.plan.WrittenColumns();
        CountRows(r, macros.queries.select, false, out);
    }
    // Without the key column on both sides the copy fails before it reads a row.
    if (steps.copy && (photosFromOwners || (out.source.key && out.dest.key))) PlannedCopy(r, request, out);
    if (steps.update) PlannedUpdate(r, line, out);
}

CheckedLine CheckLine(Reading& r, const std::string& raw, const TableListLine& line, const LineSteps& steps) {
    CheckedLine out;
    out.text = raw;
    out.comment = line.comment;
    if (line.comment) return out;
    out.table = line.table;
    out.key = line.key;
    out.actions = Actions(line, steps);
    out.reads = steps.copy || steps.macros || steps.update;
    if (!steps.clear && !out.reads) return out;   // a journal named in the list: the passes leave it
    Presence(r, out);
    // Photos of a source without the photo table come from its owners.
    bool needSource = out.reads;
    if (steps.copy && transfer::OwnerPhotoCase(r.Request(line))) {
        needSource = false;
        out.actions.back() += {CheckSays::PhotosFromOwner, {}};
    }
    PresenceProblems(out, needSource, steps.copy || steps.update);
    NameProblems(raw, line, out.problems);
    if (!out.table.empty()) Inspect(r, line, steps, out);
    return out;
}

// Device references translated before their device table was copied, and tables the run
// leaves empty after clearing them.
void OrderProblems(CheckResult& result, const std::vector<LineUse>& uses) {
    std::set<std::string> copied;                  // exact names: the identifier maps are keyed by them
    std::map<std::string, std::size_t> lastClear, lastCopy, firstClearing;   // by SQL name
    for (std::size_t i = 0; i < result.lines.size(); ++i) {
        CheckedLine& line = result.lines[i];
        const LineSteps& steps = uses[i].steps;
        const std::string name = SqlName(line.table);
        if (steps.copy || steps.macros) {
            for (int map : transfer::ReferencedMaps(line.table)) {
                const std::string device = MapTable(map);
                if (!copied.count(device))
                    line.problems.emplace_back(CheckSays::ReferencesBecomeMinusOne, std::vector<std::string>{device});
            }
            copied.insert(line.table);
        }
        auto clears = [&](const std::string& table, bool intended) {
            if (!intended && !firstClearing.count(table)) firstClearing[table] = i;
        };
        if (steps.clear) clears(name, uses[i].clearOnly);
        if (steps.clearZones) clears("ZONES", false);
        if (steps.clearAgain) lastClear[name] = i + 1;
        if (steps.copy || steps.macros) lastCopy[name] = i + 1;
    }
    for (const auto& [table, at] : firstClearing) {
        auto copy = lastCopy.find(table);
        auto clear = lastClear.find(table);
        if (copy == lastCopy.end() || (clear != lastClear.end() && copy->second < clear->second))
            result.lines[at].problems.emplace_back(CheckSays::ClearedNeverRefilled, std::vector<std::string>{table});
    }
}

// The journals are never cleared: destination rows with the keys of the copy's rows make
// the copy refuse those.
void PresentProblem(Reading& r, const transfer::JournalTable& journal, CheckedLine& out) {
    try {
        const PresentRows rows = transfer::CountPresentRows(r.src.Sql(), r.dst.Sql(), journal, r.options.startDate);
        if (rows.present > 0)
            out.problems.emplace_back(CheckSays::RowsPresent,
                                      std::vector<std::string>{rows.table, std::to_string(rows.present),
                                                               std::to_string(rows.rows), DateText(rows.from)});
    } catch (const std::exception& e) {
        out.problems.emplace_back(CheckSays::PresentUncountable, std::vector<std::string>{e.what()});
    }
}

// The journal block's copies, each checked as a line of its own.
void JournalBlock(Reading& r, CheckResult& result, std::vector<LineUse>& uses) {
    for (const transfer::JournalTable& j : transfer::JournalTables()) {
        const std::string text = std::string(j.table) + "=" + std::string(j.key);
        LineUse use;
        use.steps.copy = true;
        CheckedLine out = CheckLine(r, text, transfer::ParseTableListLine(text), use.steps);
        out.actions = {CheckText(CheckSays::JournalCopy, {DateText(r.options.startDate)})};
        if (out.source.key && out.dest.key) PresentProblem(r, j, out);
        result.lines.push_back(std::move(out));
        uses.push_back(use);
    }
}

void GeneratorProblems(Side& dst, const std::vector<std::string>& lines, CheckResult& result) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        transfer::GeneratorLine g = transfer::ParseGeneratorLine(lines[i]);
        if (g.comment) continue;
        const std::string file = kGeneratorListFile, number = std::to_string(i + 1);
        if (!dst.Columns(g.table))
            result.fileProblems.emplace_back(CheckSays::GeneratorTableMissing, std::vector<std::string>{file, number, g.table});
        else if (!dst.HasColumn(g.table, g.column))
            result.fileProblems.emplace_back(CheckSays::GeneratorColumnMissing,
                                             std::vector<std::string>{file, number, g.column, SqlName(g.table)});
        if (!dst.HasGenerator(g.generator))
            result.fileProblems.emplace_back(CheckSays::GeneratorMissing, std::vector<std::string>{file, number, g.generator});
    }
}

void ScriptProblems(const std::string& appDir, CheckResult& result) {
    for (const char* script : {kPreScriptFile, kPostScriptFile}) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(FindDataFile(appDir, script), ec))
            result.fileProblems.emplace_back(CheckSays::ScriptMissing, std::vector<std::string>{script});
    }
}

} // namespace

int CheckResult::ProblemCount() const {
    std::size_t count = fileProblems.size();
    for (const CheckedLine& line : lines) count += line.problems.size();
    return static_cast<int>(count);
}

CheckResult CheckTransfer(const CheckOptions& options) {
    const std::vector<std::string> list = ReadTextLines(FindDataFile(options.appDir, kTableListFile));
    const std::vector<std::string> generators = ReadTextLines(FindDataFile(options.appDir, kGeneratorListFile));
    Side src(options.source, DatabaseRole::Source, options.sourceLogin);
    Side dst(options.dest, DatabaseRole::Destination, options.destLogin);
    // A destination another run is writing changes under the check: refused as the run would be.
    RefuseOtherWriter(dst.Sql(), {});
    Reading r{src, dst, options};
    r.destHasPhotos = dst.HasOwnerPhotos();
    r.sourceHasPhotos = src.HasOwnerPhotos();

    CheckResult result;
    std::vector<LineUse> uses;
    for (std::size_t i = 0; i < list.size(); ++i) {
        const TableListLine line = transfer::ParseTableListLine(list[i]);
        uses.push_back(UseOf(list[i], line));
        result.lines.push_back(CheckLine(r, list[i], line, uses.back().steps));
        result.lines.back().number = static_cast<int>(i + 1);
    }
    if (options.events) JournalBlock(r, result, uses);
    OrderProblems(result, uses);
    GeneratorProblems(dst, generators, result);
    ScriptProblems(options.appDir, result);
    for (const transfer::LoadIndex& index : dst.IndexesLeftInactive())
        result.fileProblems.emplace_back(CheckSays::IndexLeftInactive, std::vector<std::string>{index.name, index.table});
    return result;
}

} // namespace kestrix

namespace kestrix {
namespace {

// Each phrase of the check in both languages, in the order of CheckSays.
struct PhraseText {
    CheckSays says;
    const char* english;
    const std::string& russian;   // Windows-1251
};
const std::string kProblemsFound = texts::kCheckProblems + "%1";
const PhraseText kPhrases[] = {
    {CheckSays::Clear, "clear", texts::kCheckClear},
    {CheckSays::ClearWhere, "clear rows where %1", texts::kCheckClearWhere},
    {CheckSays::ClearZones, "clear ZONES", texts::kCheckClearZones},
    {CheckSays::ClearAgain, "clear again (all rows)", texts::kCheckClearAgain},
    {CheckSays::ClearOnly, "clear only (all rows)", texts::kCheckClearOnly},
    {CheckSays::Macros, "macro transfer (all macros, new keys, device keys in the texts translated)", texts::kCheckMacros},
    {CheckSays::Copy, "copy", texts::kCheckCopy},
    {CheckSays::CopyNewKeys, "copy with new keys", texts::kCheckCopyNewKeys},
    {CheckSays::UpdateFiveColumns, "update five columns in place", texts::kCheckUpdateFiveColumns},
    {CheckSays::UpdatePhotos, "update the photos of the copied owners", texts::kCheckUpdatePhotos},
    {CheckSays::OfRowsWhere, " of the rows where %1", texts::kCheckOfRowsWhere},
    {CheckSays::PhotosFromOwner, " (photos taken from OWNER of the source)", texts::kCheckPhotosFromOwner},
    {CheckSays::UpdateColumn, "update column %1 by %2", texts::kCheckUpdateColumn},
    {CheckSays::NeverCleared, "never cleared by the table list", texts::kCheckNeverCleared},
    {CheckSays::JournalNotHere, "not copied here: journals move only with the events option", texts::kCheckJournalNotHere},
    {CheckSays::NotCopied, "not copied", texts::kCheckNotCopied},
    {CheckSays::JournalCopy, "journal block: copy the rows from %1", texts::kCheckJournalCopy},
    {CheckSays::NoTableName, "no table name (the line has no '=')", texts::kCheckNoTableName},
    {CheckSays::TableMissingSource, "table %1 does not exist in the source", texts::kCheckTableMissingSource},
    {CheckSays::TableMissingDest, "table %1 does not exist in the destination", texts::kCheckTableMissingDest},
    {CheckSays::KeyMissingSource, "key column %1 does not exist in %2 of the source", texts::kCheckKeyMissingSource},
    {CheckSays::KeyMissingDest, "key column %1 does not exist in %2 of the destination", texts::kCheckKeyMissingDest},
    {CheckSays::NotWrittenExactly, "'%1' is not written exactly as %2: the run treats it as an ordinary table (no new keys, no translated references)", texts::kCheckNotWrittenExactly},
    {CheckSays::FlagInCondition, "the '%1' inside the condition is taken as the line's flag and changes what the line does", texts::kCheckFlagInCondition},
    {CheckSays::RowsUnreadable, "the source rows cannot be read: %1", texts::kCheckRowsUnreadable},
    {CheckSays::TooFewColumns, "fewer common columns than the in-place update of five columns needs", texts::kCheckTooFewColumns},
    {CheckSays::KeyNotFirst, "the key column is not the first common column: the run maps %1", texts::kCheckKeyNotFirst},
    {CheckSays::UpdateMissingSource, "update column %1 does not exist in %2 of the source: nothing is updated", texts::kCheckUpdateMissingSource},
    {CheckSays::UpdateMissingDest, "update column %1 does not exist in %2 of the destination: nothing is updated", texts::kCheckUpdateMissingDest},
    {CheckSays::ReferencesBecomeMinusOne, "references to %1 are translated, but %1 is not copied before this line: they become -1", texts::kCheckReferencesBecomeMinusOne},
    {CheckSays::ClearedNeverRefilled, "%1 is cleared and never refilled", texts::kCheckClearedNeverRefilled},
    {CheckSays::GeneratorTableMissing, "%1 line %2: table '%3' does not exist in the destination", texts::kCheckGeneratorTableMissing},
    {CheckSays::GeneratorColumnMissing, "%1 line %2: column '%3' does not exist in %4", texts::kCheckGeneratorColumnMissing},
    {CheckSays::GeneratorMissing, "%1 line %2: generator '%3' does not exist in the destination", texts::kCheckGeneratorMissing},
    {CheckSays::ScriptMissing, "script file %1 is missing", texts::kCheckScriptMissing},
    {CheckSays::RowsPresent, "%1: %2 of the %3 rows from %4 are already in the destination; a run will refuse them", texts::kRowsPresent},
    {CheckSays::IndexLeftInactive, "index %1 of %2 was left inactive by a run that did not end; the next run makes it active", texts::kCheckIndexLeftInactive},
    {CheckSays::PresentUncountable, "the destination's rows cannot be compared: %1", texts::kCheckPresentUncountable},
    {CheckSays::LineHeading, "%1 line %2", texts::kCheckLineHeading},
    {CheckSays::JournalBlockHeading, "journal block", texts::kCheckJournalBlockHeading},
    {CheckSays::Comment, "comment", texts::kCheckComment},
    {CheckSays::Does, "does", texts::kCheckDoes},
    {CheckSays::Source, "source", texts::kCheckSource},
    {CheckSays::Destination, "destination", texts::kCheckDestination},
    {CheckSays::Copies, "copies", texts::kCheckCopies},
    {CheckSays::NotArriving, "not arriving", texts::kCheckNotArriving},
    {CheckSays::NoValue, "no value", texts::kCheckNoValue},
    {CheckSays::SourceRows, "source rows", texts::kCheckSourceRows},
    {CheckSays::Presence, "table %1, key %2 %3", texts::kCheckPresence},
    {CheckSays::Yes, "yes", texts::kCheckYes},
    {CheckSays::No, "NO", texts::kCheckNo},
    {CheckSays::RowsWhere, " (where %1)", texts::kCheckRowsWhere},
    {CheckSays::SetToOne, " (set to 1)", texts::kCheckSetToOne},
    {CheckSays::Problem, "PROBLEM", texts::kCheckProblem},
    {CheckSays::NoProblems, "No problems found.", texts::kCheckNoProblems},
    {CheckSays::OneProblem, "%1 problem found.", kProblemsFound},
    {CheckSays::Problems, "%1 problems found.", kProblemsFound},
};

// A template with %1, %2, ... filled; Windows-1251 in and out.
std::string Filled(std::string text, const std::vector<std::string>& args) {
    for (std::size_t i = args.size(); i-- > 0;) {
        const std::string mark = "%" + std::to_string(i + 1);
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + args[i].size()))
            text.replace(at, mark.size(), args[i]);
    }
    return text;
}

std::string Cp1251(const CheckPhrase& phrase, CheckLanguage language) {
    const auto t = std::find_if(std::begin(kPhrases), std::end(kPhrases),
                                [&](const PhraseText& p) { return p.says == phrase.says; });
    if (t == std::end(kPhrases)) return {};
    return Filled(language == CheckLanguage::Russian ? t->russian : std::string(t->english), phrase.args);
}

std::string Cp1251(const CheckText& text, CheckLanguage language) {
    std::string out;
    for (const CheckPhrase& phrase : text.phrases) out += Cp1251(phrase, language);
    return out;
}

// A line's report in one language, Windows-1251 until the end.
class LineWriter {
public:
    LineWriter(CheckLanguage language, std::string& out) : language_(language), out_(out) {
        // The values start two columns after the longest label (in Windows-1251 every letter is
        // one byte and one column).
        for (CheckSays label : {CheckSays::Does, CheckSays::Source, CheckSays::Destination, CheckSays::Copies,
                                CheckSays::NotArriving, CheckSays::NoValue, CheckSays::SourceRows})
            valueColumn_ = std::max(valueColumn_, Say(label).size() + 5);
    }

    std::string Say(CheckSays says, std::vector<std::string> args = {}) const {
        return Cp1251(CheckPhrase{says, std::move(args)}, language_);
    }
    // "  label:" padded to the values' column, then the value.
    void Field(CheckSays label, const std::string& value) {
        std::string head = "  " + Say(label) + ":";
        head += std::string(valueColumn_ - head.size(), ' ');
        out_ += ToUtf8(head + value) + "\n";
    }
    void Problem(const CheckText& problem, const char* indent) {
        out_ += ToUtf8(indent + Say(CheckSays::Problem) + ": " + Cp1251(problem, language_)) + "\n";
    }
    void Line(const CheckedLine& line) {
        const std::string heading = line.number > 0 ? Say(CheckSays::LineHeading, {kTableListFile, std::to_string(line.number)})
                                                    : Say(CheckSays::JournalBlockHeading);
        out_ += ToUtf8(heading + ": " + line.text) + "\n";
        if (line.comment) {
            out_ += ToUtf8("  " + Say(CheckSays::Comment)) + "\n";
            return;
        }
        std::vector<std::string> actions;
        for (const CheckText& action : line.actions) actions.push_back(Cp1251(action, language_));
        Field(CheckSays::Does, Joined(actions, "; "));
        if (!line.table.empty() && (line.reads || !line.actions.empty())) {
            Field(CheckSays::Source, Presence(line.source, line.key));
            Field(CheckSays::Destination, Presence(line.dest, line.key));
        }
        if (!line.copied.empty()) Field(CheckSays::Copies, Joined(line.copied, ", "));
        if (!line.notArriving.empty()) Field(CheckSays::NotArriving, Joined(line.notArriving, ", "));
        if (!line.noValue.empty()) Field(CheckSays::NoValue, NoValue(line));
        if (line.rows)
            Field(CheckSays::SourceRows, std::to_string(*line.rows) +
                                             (line.rowsFilter.empty() ? "" : Say(CheckSays::RowsWhere, {line.rowsFilter})));
        for (const CheckText& problem : line.problems) Problem(problem, "  ");
    }

private:
    std::string Presence(const TablePresence& p, const std::string& key) const {
        return Say(CheckSays::Presence, {YesNo(p.table), key, YesNo(p.key)});
    }
    std::string YesNo(bool yes) const { return Say(yes ? CheckSays::Yes : CheckSays::No); }
    std::string NoValue(const CheckedLine& line) const {
        std::string text;
        for (const std::string& column : line.noValue)
            text += (text.empty() ? "" : ", ") + column +
                    (line.portSetToOne && column == "HS_PORT" ? Say(CheckSays::SetToOne) : std::string());
        return text;
    }

    CheckLanguage language_;
    std::string& out_;
    std::size_t valueColumn_ = 0;
};

} // namespace

std::string Rendered(const CheckText& text, CheckLanguage language) { return ToUtf8(Cp1251(text, language)); }

std::string CheckReportText(const CheckResult& result, CheckLanguage language) {
    std::string out;
    LineWriter writer(language, out);
    for (const CheckedLine& line : result.lines) writer.Line(line);
    for (const CheckText& problem : result.fileProblems) writer.Problem(problem, "");
    const int problems = result.ProblemCount();
    const CheckSays verdict = problems == 0 ? CheckSays::NoProblems : problems == 1 ? CheckSays::OneProblem : CheckSays::Problems;
    out += ToUtf8(writer.Say(verdict, {std::to_string(problems)})) + "\n";
    return out;
}

} // namespace kestrix
