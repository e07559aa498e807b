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
#include "transfer/TableList.h"

namespace kestrix {
namespace {

using transfer::IsJournalOrDescriptionTable;
using transfer::IsJournalTable;
using transfer::TableListLine;

// The journal block of the transfer sequence, with the date column of each start-date filter.
struct Journal {
    std::string_view table, key, dateColumn;
};
constexpr Journal kJournals[] = {
    {"EVENTS", "EV_ID", "EV_DATE"},         {"ALARM", "AL_ID", "AL_DATE"},
    {"ACR$EVENTS", "AEV_ID", "AEV_DATE"},   {"STR_EVENTS", "EV_ID", "EV_DATE"},
    {"STR_ALARMS", "AL_ID", "AL_DATE"},     {"ACR$ALARMS", "AAL_ID", "AAL_DATE"},
};

// Device tables whose keys the table copy translates in each table's rows (for the macros:
// in their texts). A device table not copied before the table that refers to it leaves -1.
const std::map<std::string, std::vector<std::string>>& References() {
    static const std::vector<std::string> kAllDevices = {"HOSTS",   "CONTROLLERS", "SLAVES", "READERS",
                                                         "CINPUTS", "PCN",         "INPUTS", "OUTPUTS"};
    static const std::map<std::string, std::vector<std::string>> kReferences = {
        {"CONTROLLERS", {"HOSTS"}},        {"ROBOTS$ACTIONS", {"HOSTS"}},
        {"PCN", {"CONTROLLERS"}},          {"CINPUTS", {"CONTROLLERS"}},
        {"SLAVES", {"CONTROLLERS"}},       {"CARDSDEF", {"CONTROLLERS"}},
        {"DAYSCH", {"CONTROLLERS"}},       {"TIMERS", {"CONTROLLERS"}},
        {"OUTPUTS", {"SLAVES"}},           {"INPUTS", {"SLAVES"}},
        {"READERS", {"SLAVES", "INPUTS", "OUTPUTS"}},
        {"PRGDEF", {"CONTROLLERS", "READERS", "CINPUTS", "PCN", "INPUTS", "OUTPUTS"}},
        {"AGRIGHTS", {"READERS"}},         {"AGSCH", {"READERS"}},
        {"INIDATA", {"READERS"}},          {"MACROSES", {"READERS", "OUTPUTS", "INPUTS"}},
        {"MAKROS_RIGHT", {"MACROSES"}},    {"EVENTS", kAllDevices},
        {"ALARM", kAllDevices},
    };
    return kReferences;
}

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

// One database, read through a read-only transaction.
class Side {
public:
    explicit Side(const std::string& name) {
        db::SetStandardParams(connection_);
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
    // Rows of a select, counted by the server; date fills the select's one parameter.
    long long Count(const std::string& select, const db::DateTime* date = nullptr) {
        db::WorkUnit work(sql_);
        sql_.ClearSql();
        sql_.AddSqlLine("SELECT COUNT(*) FROM (" + select + ")");
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

// What the two passes do with one line.
struct LinePlan {
    bool clear = false, clearZones = false, clearAgain = false;
    bool copy = false, macros = false, update = false;
    bool clearOnly = false;   // "%" written as the line's flag, before any condition
};

LinePlan Plan(const std::string& raw, const TableListLine& line) {
    LinePlan plan;
    if (line.comment) return plan;
    const bool fixed = IsJournalOrDescriptionTable(line.table);
    plan.clear = !fixed;
    plan.clearZones = plan.clear && line.table == "READERS";
    plan.clearAgain = (line.hasHash || line.hasPercent) && !fixed;
    plan.macros = line.table == "MACROSES";
    plan.copy = !plan.macros && !IsJournalTable(line.table) && !line.hasPercent && !line.hasAmp;
    plan.update = line.hasAmp;
    plan.clearOnly = line.hasPercent && (!line.hasAt || raw.find('%') < raw.find('@'));
    return plan;
}

std::vector<std::string> Actions(const TableListLine& line, const LinePlan& plan) {
    std::vector<std::string> actions;
    if (plan.clear) actions.push_back(line.condition.empty() ? "clear" : "clear rows where " + line.condition);
    if (plan.clearZones) actions.push_back("clear ZONES");
    if (plan.clearAgain) actions.push_back(line.hasHash ? "clear again (all rows)" : "clear only (all rows)");
    if (plan.macros) actions.push_back("macro transfer (all macros, new keys, device keys in the texts translated)");
    if (plan.copy) {
        std::string copy = "copy";
        if (TableNo(line.table) > 0) copy += " with new keys";
        if (line.table == "EVDESC" || line.table == "ACR$EVDESC") copy = "update five columns in place";
        if (line.table == "OWNERPHOTOS") copy = "update the photos of the copied owners";
        if (!line.tail.empty()) copy += " of the rows where " + line.tail;
        actions.push_back(copy);
    }
    if (plan.update) actions.push_back("update column " + line.tail + " by " + line.key);
    if (IsJournalOrDescriptionTable(line.table)) actions.push_back("never cleared by the table list");
    if (IsJournalTable(line.table)) actions.push_back("not copied here: journals move only with the events option");
    if (line.hasPercent && !plan.macros) actions.push_back("not copied");
    return actions;
}

} // namespace

namespace {

// The select the table copy reads its rows with (the count is taken over it).
struct RowSelect {
    std::string select;
    bool startDate = false;
};

RowSelect SourceRows(const std::string& table, const std::string& where, bool ownerPhotos) {
    if (table == "EVENTS")
        return {"Select E.*,ED.ED_HARDTYPE from EVENTS E,EVDESC ED Where (E.EV_CODE = ED.ED_CODE) and "
                "((E.EV_ADDCODE = ED.ED_ADDCODE) or (E.EV_ADDCODE-256 = ED.ED_ADDCODE)) and (E.EV_DATE >= :EV_D)",
                true};
    if (table == "ALARM")
        return {"Select A.*,ED.ED_HARDTYPE from Alarm A, EVDESC ED Where (A.AL_CODE = ED.ED_CODE) and "
                "((A.AL_ADDCODE = ED.ED_ADDCODE) or (A.AL_ADDCODE-256 = ED.ED_ADDCODE)) and (A.AL_DATE >= :EV_D)",
                true};
    for (const Journal& j : kJournals)
        if (j.table == table)
            return {"Select * from " + table + " Where " + std::string(j.dateColumn) + " >= :EV_D", true};
    if (table == "INIDATA")
        return {"Select * from INIDATA Where (ID_SECTION <> 'USER_CAN_FILTER') and "
                "(ID_SECTION <> 'USER_FILTERS') and (ID_SECTION <> 'CTRL_FILTERS')"};
    if (ownerPhotos) return {"select * from OWNER"};
    return {"select * from " + table + (where.empty() ? "" : " Where " + where)};
}

std::string DateFilter(const std::string& table, const db::DateTime& date) {
    for (const Journal& j : kJournals)
        if (j.table == table) return std::string(j.dateColumn) + " >= " + DateText(date);
    return {};
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), SqlName(name)) != names.end();
}

void Presence(Side& src, Side& dst, CheckedLine& out) {
    out.source = {src.Columns(out.table).has_value(), src.HasColumn(out.table, out.key)};
    out.dest = {dst.Columns(out.table).has_value(), dst.HasColumn(out.table, out.key)};
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

// The columns of a generic or identifier-table copy, as the table copy chooses them.
void CopyColumns(Side& src, Side& dst, const TableListLine& line, CheckedLine& out) {
    const std::vector<std::string>& from = *src.Columns(line.table);
    const std::vector<std::string>& to = *dst.Columns(line.table);
    std::vector<std::string> common;
    for (const std::string& c : from) (Contains(to, c) ? common : out.notArriving).push_back(c);
    const bool renumbered = TableNo(line.table) > 0;
    if (renumbered && !common.empty() && common.front() != SqlName(line.key))
        out.problems.push_back("the key column is not the first common column: the run maps " + common.front());
    out.copied.assign(common.begin() + (renumbered && !common.empty() ? 1 : 0), common.end());
    for (const std::string& c : to) {
        if (Contains(from, c) || (renumbered && c == SqlName(line.key))) continue;
        out.noValue.push_back(line.table == "HOSTS" && c == "HS_PORT" ? c + " (set to 1)" : c);
    }
    const int first = line.table == "EVDESC" ? 15 : line.table == "ACR$EVDESC" ? 6 : -1;
    if (first < 0) return;
    if (static_cast<int>(common.size()) < first + 5) {
        out.problems.push_back("fewer common columns than the in-place update of five columns needs");
        return;
    }
    out.noValue.clear();
    out.copied.assign(common.begin() + first, common.begin() + first + 5);
}

void CountRows(Side& src, const RowSelect& rows, const CheckOptions& options, CheckedLine& out) {
    try {
        out.rows = src.Count(rows.select, rows.startDate ? &options.startDate : nullptr);
    } catch (const std::exception& e) {
        out.problems.push_back("the source rows cannot be read: " + std::string(e.what()));
    }
}

// Columns and rows of a line that reads the source.
void Inspect(Side& src, Side& dst, const TableListLine& line, const LinePlan& plan, const CheckOptions& options,
             CheckedLine& out) {
    if (!out.source.table || !out.dest.table) return;
    if (plan.macros) {
        out.copied = {"MCR_NAME", "MCR_FILL"};
        CountRows(src, {"select * from MACROSES"}, options, out);
    }
    if (plan.copy) {
        // Without the key column on both sides the copy fails before it reads a row.
        if (!out.source.key || !out.dest.key) return;
        CopyColumns(src, dst, line, out);
        out.rowsFilter = line.tail.empty() ? DateFilter(line.table, options.startDate) : line.tail;
        CountRows(src, SourceRows(line.table, line.tail, false), options, out);
    }
    if (plan.update) {
        bool bothHave = true;
        for (auto [side, where] : {std::pair{&src, "source"}, std::pair{&dst, "destination"}})
            if (!side->HasColumn(line.table, line.tail)) {
                bothHave = false;
                out.problems.push_back("update column " + line.tail + " does not exist in " + line.table +
                                       " of the " + where + ": nothing is updated");
            }
        if (bothHave) out.copied = {SqlName(line.tail)};
        if (!out.rows) CountRows(src, {"select * from " + line.table}, options, out);
    }
}

} // namespace

namespace {

CheckedLine CheckLine(Side& src, Side& dst, const std::string& raw, const TableListLine& line, const LinePlan& plan,
                      const CheckOptions& options) {
    CheckedLine out;
    out.text = raw;
    out.comment = line.comment;
    if (line.comment) return out;
    out.table = line.table;
    out.key = line.key;
    out.actions = Actions(line, plan);
    out.reads = plan.copy || plan.macros || plan.update;
    if (!plan.clear && !out.reads) return out;   // a journal named in the list: the passes leave it
    Presence(src, dst, out);
    // Photos of a source without the photo table come from its owners.
    bool needSource = out.reads;
    if (line.table == "OWNERPHOTOS" && !out.source.table && src.HasColumn("OWNER", "OW_PHOTO")) {
        needSource = false;
        out.actions.back() += " (photos taken from OWNER of the source)";
    }
    PresenceProblems(out, needSource, (plan.copy && !plan.macros) || plan.update);
    NameProblems(raw, line, out.problems);
    if (out.table.empty()) return out;
    if (!needSource && plan.copy && out.dest.table) {
        out.copied = {"OW_PHOTO"};
        CountRows(src, SourceRows(line.table, "", true), options, out);
    }
    Inspect(src, dst, line, plan, options, out);
    return out;
}

// Device references translated before their device table was copied, and tables the run
// leaves empty after clearing them.
void OrderProblems(CheckResult& result, const std::vector<LinePlan>& plans) {
    std::set<std::string> copied;                  // exact names: the identifier maps are keyed by them
    std::map<std::string, std::size_t> lastClear, lastCopy, firstClearing;   // by SQL name
    for (std::size_t i = 0; i < result.lines.size(); ++i) {
        CheckedLine& line = result.lines[i];
        const LinePlan& plan = plans[i];
        const std::string name = SqlName(line.table);
        if (plan.copy || plan.macros) {
            auto refs = References().find(line.table);
            if (refs != References().end())
                for (const std::string& device : refs->second)
                    if (!copied.count(device))
                        line.problems.push_back("references to " + device + " are translated, but " + device +
                                                " is not copied before this line: they become -1");
            copied.insert(line.table);
        }
        auto clears = [&](const std::string& table, bool intended) {
            if (!intended && !firstClearing.count(table)) firstClearing[table] = i;
        };
        if (plan.clear) clears(name, plan.clearOnly);
        if (plan.clearZones) clears("ZONES", false);
        if (plan.clearAgain) lastClear[name] = i + 1;
        if (plan.copy || plan.macros) lastCopy[name] = i + 1;
    }
    for (const auto& [table, at] : firstClearing) {
        auto copy = lastCopy.find(table);
        auto clear = lastClear.find(table);
        if (copy == lastCopy.end() || (clear != lastClear.end() && copy->second < clear->second))
            result.lines[at].problems.push_back(table + " is cleared and never refilled");
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
    Side src(options.source);
    Side dst(options.dest);

    CheckResult result;
    std::vector<LinePlan> plans;
    for (std::size_t i = 0; i < list.size(); ++i) {
        TableListLine line = transfer::ParseTableListLine(list[i]);
        plans.push_back(Plan(list[i], line));
        result.lines.push_back(CheckLine(src, dst, list[i], line, plans.back(), options));
        result.lines.back().number = static_cast<int>(i + 1);
    }
    if (options.events) {
        for (const Journal& j : kJournals) {
            const std::string text = std::string(j.table) + "=" + std::string(j.key);
            TableListLine line = transfer::ParseTableListLine(text);
            LinePlan plan;
            plan.copy = true;
            CheckedLine out = CheckLine(src, dst, text, line, plan, options);
            out.actions = {"journal block: copy the rows from " + DateText(options.startDate)};
            result.lines.push_back(std::move(out));
            plans.push_back(plan);
        }
    }
    OrderProblems(result, plans);
    GeneratorProblems(dst, generators, result);
    ScriptProblems(options.appDir, result);
    return result;
}

} // namespace kestrix

namespace kestrix {
namespace {

std::string Joined(const std::vector<std::string>& items, const char* separator) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : separator) + item;
    return text;
}

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
