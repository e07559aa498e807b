#include "transfer/RunPlan.h"

#include <map>
#include <set>

#include "db/Error.h"
#include "db/Strings.h"
#include "run/DataFiles.h"
#include "run/IdMaps.h"
#include "run/TextFile.h"

namespace kestrix::transfer {
namespace {

LineAction CopyAction(const std::string& table) {
    switch (RowKindOf(table)) {
    case RowKind::UpdateDescription: return LineAction::UpdateFiveColumns;
    case RowKind::MovePhoto: return LineAction::UpdatePhotos;
    default: return MapNumberOf(table) > 0 ? LineAction::CopyNewKeys : LineAction::Copy;
    }
}

std::vector<LineAction> Actions(const TableListLine& line, const LineSteps& steps) {
    std::vector<LineAction> actions;
    if (steps.clear) actions.push_back(line.condition.empty() ? LineAction::Clear : LineAction::ClearWhere);
    if (steps.clearZones) actions.push_back(LineAction::ClearZones);
    if (steps.clearAgain) actions.push_back(line.hasHash ? LineAction::ClearAgain : LineAction::ClearOnly);
    if (steps.macros) actions.push_back(LineAction::Macros);
    if (steps.copy) actions.push_back(CopyAction(line.table));
    if (steps.update) actions.push_back(LineAction::UpdateColumn);
    if (IsJournalOrDescriptionTable(line.table)) actions.push_back(LineAction::NeverCleared);
    if (IsJournalTable(line.table)) actions.push_back(LineAction::JournalNotHere);
    if (line.hasPercent && !steps.macros) actions.push_back(LineAction::NotCopied);
    return actions;
}

PlannedLine PlanLine(const std::string& text, int number) {
    PlannedLine planned;
    planned.number = number;
    planned.text = text;
    planned.line = ParseTableListLine(text);
    const TableListLine& line = planned.line;
    planned.steps = StepsOf(line);
    planned.actions = Actions(line, planned.steps);
    planned.reads = planned.steps.copy || planned.steps.macros || planned.steps.update;
    planned.clearOnly = line.hasPercent && (!line.hasAt || text.find('%') < text.find('@'));
    const std::string name = UnquotedName(line.table);
    if (TreatedByName(name) && line.table != name) planned.specialNameMissed = name;
    const std::size_t at = text.find('@');
    if (at != std::string::npos)
        for (char marker : {'#', '%', '&'})
            if (text.find(marker) > at && text.find(marker) != std::string::npos) planned.flagsInCondition.push_back(marker);
    return planned;
}

PlannedLine PlanJournal(const JournalTable& journal) {
    PlannedLine planned;
    planned.text = std::string(journal.table) + "=" + std::string(journal.key);
    planned.line = ParseTableListLine(planned.text);
    planned.steps.copy = true;
    planned.actions = {LineAction::JournalCopy};
    planned.reads = true;
    return planned;
}

// Device references translated before their device table is copied, and tables cleared and
// left empty, over the lines and the journal block in run order.
void PlanOrder(std::vector<PlannedLine*> order) {
    std::set<std::string> copied;                  // exact names: the identifier maps are keyed by them
    std::map<std::string, std::size_t> lastClear, lastCopy, firstClearing;   // by SQL name
    for (std::size_t i = 0; i < order.size(); ++i) {
        PlannedLine& planned = *order[i];
        const LineSteps& steps = planned.steps;
        const std::string name = UnquotedName(planned.line.table);
        if (steps.copy || steps.macros) {
            for (int map : ReferencedMaps(planned.line.table))
                if (!copied.count(MapTable(map))) planned.unfilledMaps.push_back(MapTable(map));
            copied.insert(planned.line.table);
        }
        auto clears = [&](const std::string& table, bool intended) {
            if (!intended && !firstClearing.count(table)) firstClearing[table] = i;
        };
        if (steps.clear) clears(name, planned.clearOnly);
        if (steps.clearZones) clears(kZonesTable, false);
        if (steps.clearAgain) lastClear[name] = i + 1;
        if (steps.copy || steps.macros) lastCopy[name] = i + 1;
    }
    for (const auto& [table, at] : firstClearing) {
        auto copy = lastCopy.find(table);
        auto clear = lastClear.find(table);
        if (copy == lastCopy.end() || (clear != lastClear.end() && copy->second < clear->second))
            order[at]->neverRefilled.push_back(table);
    }
}

} // namespace

CopyRequest PlannedLine::Request(const DatabaseFacts& facts) const {
    return {line.table, line.key, line.tail, facts.destHasPhotos, facts.sourceHasPhotos, facts.blockRows};
}

RunPlan PlanRun(const RunOptions& options) {
    RunPlan plan;
    try {
        const std::vector<std::string> list = ReadTextLines(FindDataFile(options.appDir, kTableListFile));
        for (std::size_t i = 0; i < list.size(); ++i) plan.lines.push_back(PlanLine(list[i], static_cast<int>(i + 1)));
    } catch (const Error&) {
        plan.tableListUnreadable = std::current_exception();
    }
    if (options.events)
        for (const JournalTable& journal : JournalTables()) plan.journals.push_back(PlanJournal(journal));
    std::vector<PlannedLine*> order;
    for (auto* part : {&plan.lines, &plan.journals})
        for (PlannedLine& planned : *part) order.push_back(&planned);
    PlanOrder(order);

    try {
        for (const std::string& raw : ReadTextLines(FindDataFile(options.appDir, kGeneratorListFile)))
            plan.generators.push_back(ParseGeneratorLine(raw));
    } catch (const Error&) {
        plan.generatorListUnreadable = std::current_exception();
    }
    for (const char* script : {kPreScriptFile, kPostScriptFile})
        plan.scripts.push_back({script, FindDataFile(options.appDir, script)});
    return plan;
}

} // namespace kestrix::transfer
