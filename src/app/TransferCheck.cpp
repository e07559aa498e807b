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
#include "transfer/GeneratorList.h"
#include "transfer/OwnerPhoto.h"
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

std::vector<std::string> Actions(const TableListLine& line, const LineSteps& steps) {
    std::vector<std::string> actions;
    if (steps.clear) actions.push_back(line.condition.empty() ? "clear" : "clear rows where " + line.condition);
    if (steps.clearZones) actions.push_back("clear ZONES");
    if (steps.clearAgain) actions.push_back(line.hasHash ? "clear again (all rows)" : "clear only (all rows)");
    if (steps.macros) actions.push_back("macro transfer (all macros, new keys, device keys in the texts translated)");
    if (steps.copy) {
        std::string copy = "copy";
        if (MapNumberOf(line.table) > 0) copy += " with new keys";
        if (line.table == "EVDESC" || line.table == "ACR$EVDESC") copy = "update five columns in place";
        if (line.table == "OWNERPHOTOS") copy = "update the photos of the copied owners";
        if (!line.tail.empty()) copy += " of the rows where " + line.tail;
        actions.push_back(copy);
    }
    if (steps.update) actions.push_back("update column " + line.tail + " by " + line.key);
    if (IsJournalOrDescriptionTable(line.table)) actions.push_back("never cleared by the table list");
    if (IsJournalTable(line.table)) actions.push_back("not copied here: journals move only with the events option");
    if (line.hasPercent && !steps.macros) actions.push_back("not copied");
    return actions;
}

void Presence(Reading& r, CheckedLine& out) {
    out.source = {r.src.Columns(out.table).has_value(), r.src.HasColumn(out.table, out.key)};
    out.dest = {r.dst.Columns(out.table).has_value(), r.dst.HasColumn(out.table, out.key)};
}

void PresenceProblems(CheckedLine& out, bool needSource, bool needKey) {
    std::vector<std::string>& problems = out.problems;
    if (out.table.empty()) {
        problems.push_back("no table name (the line has no '=')");
        return;
    }
    if (!out.dest.table) problems.push_back("table " + out.table + " does not exist in the destination");
    if (needSource && !out.source.table) problems.push_back("table " + out.table + " does not exist in the source");
    if (!needKey) return;
    if (out.source.table && !out.source.key)
        problems.push_back("key column " + out.key + " does not exist in " + out.table + " of the source");
    if (out.dest.table && !out.dest.key)
        problems.push_back("key column " + out.key + " does not exist in " + out.table + " of the destination");
}

void NameProblems(const std::string& raw, const TableListLine& line, std::vector<std::string>& problems) {
    const std::string name = SqlName(line.table);
    for (std::string_view special : kSpecialTables)
        if (special == name && line.table != special)
            problems.push_back("'" + line.table + "' is not written exactly as " + name +
                               ": the run treats it as an ordinary table (no new keys, no translated references)");
    const std::size_t at = raw.find('@');
    if (at == std::string::npos) return;
    for (char marker : {'#', '%', '&'})
        if (raw.find(marker) > at && raw.find(marker) != std::string::npos)
            problems.push_back(std::string("the '") + marker +
                               "' inside the condition is taken as the line's flag and changes what the line does");
}

void CountRows(Reading& r, const std::vector<std::string>& select, bool startDate, CheckedLine& out) {
    try {
        const db::DateTime date = transfer::StartOfDay(r.options.startDate);
        out.rows = r.src.Count(select, startDate ? &date : nullptr);
    } catch (const std::exception& e) {
        out.problems.push_back("the source rows cannot be read: " + std::string(e.what()));
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
        out.noValue.push_back(c == "HS_PORT" && plan.portSetToOne ? c + " (set to 1)" : c);
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
        out.problems.push_back("the source rows cannot be read: " + std::string(e.what()));
        return;
    }
    CopyPlan plan;
    try {
        plan = transfer::PlanRows(request, to, from);
    } catch (const std::exception&) {
        out.problems.push_back("fewer common columns than the in-place update of five columns needs");
        return;
    }
    out.copied = plan.WrittenColumns();
    LeftOut(request, plan, from, to, out);
    if (plan.tableNo > 0 && plan.oldKeyColumn != SqlName(request.keyColumn))
        out.problems.push_back("the key column is not the first common column: the run maps " + plan.oldKeyColumn);
    const transfer::JournalTable* journal = transfer::FindJournal(request.table);
    out.rowsFilter = !request.where.empty() ? request.where
                     : journal ? std::string(journal->dateColumn) + " >= " + DateText(r.options.startDate)
                               : std::string();
    CountRows(r, queries.select, queries.startDate, out);
}

void PlannedUpdate(Reading& r, const TableListLine& line, CheckedLine& out) {
    bool bothHave = true;
    for (auto [side, where] : {std::pair{&r.src, "source"}, std::pair{&r.dst, "destination"}})
        if (!side->HasColumn(line.table, line.tail)) {
            bothHave = false;
            out.problems.push_back("update column " + line.tail + " does not exist in " + line.table + " of the " +
                                   where + ": nothing is updated");
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
        out.actions.back() += " (photos taken from OWNER of the source)";
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
                    line.problems.push_back("references to " + device + " are translated, but " + device +
                                            " is not copied before this line: they become -1");
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
            result.lines[at].problems.push_back(table + " is cleared and never refilled");
    }
}

// The journal block's copies, each checked as a line of its own.
void JournalBlock(Reading& r, CheckResult& result, std::vector<LineUse>& uses) {
    for (const transfer::JournalTable& j : transfer::JournalTables()) {
        const std::string text = std::string(j.table) + "=" + std::string(j.key);
        LineUse use;
        use.steps.copy = true;
        CheckedLine out = CheckLine(r, text, transfer::ParseTableListLine(text), use.steps);
        out.actions = {"journal block: copy the rows from " + DateText(r.options.startDate)};
        result.lines.push_back(std::move(out));
        uses.push_back(use);
    }
}

void GeneratorProblems(Side& dst, const std::vector<std::string>& lines, CheckResult& result) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        transfer::GeneratorLine g = transfer::ParseGeneratorLine(lines[i]);
        if (g.comment) continue;
        const std::string where = std::string(kGeneratorListFile) + " line " + std::to_string(i + 1) + ": ";
        if (!dst.Columns(g.table))
            result.fileProblems.push_back(where + "table '" + g.table + "' does not exist in the destination");
        else if (!dst.HasColumn(g.table, g.column))
            result.fileProblems.push_back(where + "column '" + g.column + "' does not exist in " + SqlName(g.table));
        if (!dst.HasGenerator(g.generator))
            result.fileProblems.push_back(where + "generator '" + g.generator + "' does not exist in the destination");
    }
}

void ScriptProblems(const std::string& appDir, CheckResult& result) {
    for (const char* script : {kPreScriptFile, kPostScriptFile}) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(FindDataFile(appDir, script), ec))
            result.fileProblems.push_back(std::string("script file ") + script + " is missing");
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
    return result;
}

} // namespace kestrix

namespace kestrix {
namespace {

std::string YesNo(bool yes) { return yes ? "yes" : "NO"; }

void LineReport(const CheckedLine& line, std::string& out) {
    out += (line.number > 0 ? std::string(kTableListFile) + " line " + std::to_string(line.number)
                            : std::string("journal block")) + ": " + ToUtf8(line.text) + "\n";
    if (line.comment) {
        out += "  comment\n";
        return;
    }
    out += "  does:          " + ToUtf8(Joined(line.actions, "; ")) + "\n";
    if (!line.table.empty() && (line.reads || !line.actions.empty())) {
        auto presence = [&](const TablePresence& p) {
            return "table " + YesNo(p.table) + ", key " + ToUtf8(line.key) + " " + YesNo(p.key) + "\n";
        };
        out += "  source:        " + presence(line.source);
        out += "  destination:   " + presence(line.dest);
    }
    // Column names are text of the databases, Windows-1251 like every other name here.
    if (!line.copied.empty()) out += "  copies:        " + ToUtf8(Joined(line.copied, ", ")) + "\n";
    if (!line.notArriving.empty()) out += "  not arriving:  " + ToUtf8(Joined(line.notArriving, ", ")) + "\n";
    if (!line.noValue.empty()) out += "  no value:      " + ToUtf8(Joined(line.noValue, ", ")) + "\n";
    if (line.rows)
        out += "  source rows:   " + std::to_string(*line.rows) +
               (line.rowsFilter.empty() ? "" : " (where " + ToUtf8(line.rowsFilter) + ")") + "\n";
    for (const std::string& problem : line.problems) out += "  PROBLEM: " + ToUtf8(problem) + "\n";
}

} // namespace

std::string CheckReportText(const CheckResult& result) {
    std::string out;
    for (const CheckedLine& line : result.lines) LineReport(line, out);
    for (const std::string& problem : result.fileProblems) out += "PROBLEM: " + ToUtf8(problem) + "\n";
    const int problems = result.ProblemCount();
    out += problems == 0 ? std::string("No problems found.\n")
                         : std::to_string(problems) + (problems == 1 ? " problem" : " problems") + " found.\n";
    return out;
}

} // namespace kestrix
