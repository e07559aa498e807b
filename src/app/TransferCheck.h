#pragma once
// The check before a run: what each line of the table list will do to the destination,
// read from both databases and the data files without writing anything anywhere (read-only
// transactions, no run log). Both front ends render the plain result.
#include <optional>
#include <string>
#include <vector>

#include "db/Databases.h"
#include "db/Statement.h"

namespace kestrix {

struct CheckOptions {
    std::string source, dest;    // database names as the operator wrote them (Windows-1251)
    std::string appDir;          // folder of the data files, with a trailing separator
    bool events = false;         // the journal block runs, from startDate on
    db::DateTime startDate;
    db::Credentials sourceLogin = db::FixedCredentials();
    db::Credentials destLogin = db::FixedCredentials();
};

struct TablePresence {
    bool table = false;   // the table exists in that database
    bool key = false;     // ... and has the key column
};

// One line of the table list, or one table of the journal block (number 0).
struct CheckedLine {
    int number = 0;                 // line of the table list, from 1
    std::string text;               // the line as written (Windows-1251)
    bool comment = false;
    std::string table, key;         // as the run takes them apart
    std::vector<std::string> actions;   // what the two passes and the journal block do, in order
    bool reads = false;             // the line reads source rows (copy, macros or update)
    TablePresence source, dest;
    std::vector<std::string> copied;        // columns whose values go into the destination
    std::vector<std::string> notArriving;   // source columns the destination lacks
    std::vector<std::string> noValue;       // destination columns that get no value
    std::optional<long long> rows;          // source rows the copy or update will read
    std::string rowsFilter;                 // the condition those rows satisfy, empty for all
    std::vector<std::string> problems;
};

struct CheckResult {
    std::vector<CheckedLine> lines;          // the table list in order, then the journal block
    std::vector<std::string> fileProblems;   // generator list and scripts
    int ProblemCount() const;
};

// Reads the data files and both databases. Raises the layer's error when a database cannot
// be attached (LoginRefused when its server refuses the login) or a data file of the start-up checks (table list, generator list) cannot be read;
// the latter as Error::Kind::File.
CheckResult CheckTransfer(const CheckOptions& options);

// The result as plain English text (UTF-8), one block per line of the table list.
std::string CheckReportText(const CheckResult& result);

} // namespace kestrix
