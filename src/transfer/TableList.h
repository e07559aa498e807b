#pragma once
// Lines of the table list "Conv.txt" taken apart.
#include <string>

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

// The eight tables the two passes never clear, and the six they never copy.
bool IsJournalTable(const std::string& table);
bool IsJournalOrDescriptionTable(const std::string& table);

} // namespace kestrix::transfer
