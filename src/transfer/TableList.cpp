#include "transfer/TableList.h"

#include "db/Strings.h"

namespace kestrix::transfer {
namespace {

std::string After(const std::string& text, std::size_t pos) {
    return pos == std::string::npos ? std::string() : text.substr(pos + 1);
}

} // namespace

TableListLine ParseTableListLine(const std::string& line) {
    TableListLine result;
    std::string trimmed = TrimBlanksAndControls(line);
    if (!trimmed.empty() && trimmed[0] == '*') {
        result.comment = true;
        return result;
    }
    // Markers are looked for in the raw line, condition text included.
    const std::size_t hash = line.find('#'), percent = line.find('%'), at = line.find('@'),
                      amp = line.find('&');
    result.hasHash = hash != std::string::npos;
    result.hasPercent = percent != std::string::npos;
    result.hasAt = at != std::string::npos;
    result.hasAmp = amp != std::string::npos;

    // The head ends at the first marker in the order # % @ &, not at the leftmost one.
    std::size_t headEnd = result.hasHash ? hash : result.hasPercent ? percent : result.hasAt ? at : amp;
    std::string head = line.substr(0, headEnd);
    std::size_t eq = head.find('=');
    if (eq == std::string::npos) {
        result.key = head;
    } else {
        result.table = head.substr(0, eq);
        result.key = head.substr(eq + 1);
    }
    result.condition = After(line, at);
    result.tail = result.hasAt ? result.condition : After(line, amp);
    return result;
}

LineSteps StepsOf(const TableListLine& line) {
    LineSteps steps;
    if (line.comment) return steps;
    const bool kept = IsJournalOrDescriptionTable(line.table);
    steps.clear = !kept;
    steps.clearZones = steps.clear && line.table == "READERS";
    steps.logClearing = line.hasHash || line.hasPercent;
    steps.clearAgain = steps.logClearing && !kept;
    steps.macros = line.table == "MACROSES";
    steps.copy = !steps.macros && !IsJournalTable(line.table) && !line.hasPercent && !line.hasAmp;
    steps.update = line.hasAmp;
    return steps;
}

} // namespace kestrix::transfer
