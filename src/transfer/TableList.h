#pragma once
// Lines of the table list "Conv.txt" taken apart.
#include <array>
#include <string>
#include <string_view>

namespace kestrix::transfer {

struct TableListLine {
    bool comment = false;          // trimmed line begins with "*"
    bool hasHash = false, hasPercent = false, hasAt = false, hasAmp = false;
    std::string table;             // head before its first "=", empty without "="
    std::string key;               // head after its first "=", the whole head without "="
    std::string condition;         // after the first "@", empty without "@" (clearing pass)
    std::string tail;              // after the first "@", else after the first "&" (copy pass)
};

TableListLine ParseTableListLine(const std::string& line);

// What a line does in the two passes over the list.
struct LineSteps {
    bool clear = false;        // clearing pass: the table, with the line's condition
    bool clearZones = false;   // clearing pass: ZONES right after READERS
    bool logClearing = false;  // copy pass: the second clearing's log line ("#" or "%")
    bool clearAgain = false;   // copy pass: the table cleared again, without condition
    bool macros = false;       // copy pass: the macro transfer
    bool copy = false;         // copy pass: the table copy, with the tail as its condition
    bool update = false;       // copy pass: the column update, with the tail as the column
};

LineSteps StepsOf(const TableListLine& line);

// The table that the clearing pass clears right after READERS.
inline constexpr const char* kZonesTable = "ZONES";

// A journal table: its key and the date column the start date filters.
struct JournalTable {
    std::string_view table, key, dateColumn;
};
// The journal block, in its order. The two passes never clear these six and the two
// description tables, and never copy the six. Named in TablePlan.cpp with the other tables
// treated by name.
const std::array<JournalTable, 6>& JournalTables();
const JournalTable* FindJournal(const std::string& table);
bool IsJournalTable(const std::string& table);
bool IsJournalOrDescriptionTable(const std::string& table);

} // namespace kestrix::transfer
