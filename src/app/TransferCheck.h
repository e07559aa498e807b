#pragma once
// The check before a run: the run's plan, what each line of the table list will do to the
// destination, described with counts read from both databases without writing anything
// anywhere (read-only transactions, no run log). Both front ends render the plain result.
#include <optional>
#include <string>
#include <vector>

#include "run/RunOptions.h"

namespace kestrix {

// What the check says, apart from the names and numbers it says it of, so that each front
// end renders it in its own language.
enum class CheckSays {
    // actions of a line
    Clear, ClearWhere, ClearZones, ClearAgain, ClearOnly, Macros, Copy, CopyNewKeys, UpdateFiveColumns,
    UpdatePhotos, OfRowsWhere, PhotosFromOwner, UpdateColumn, NeverCleared, JournalNotHere, NotCopied, JournalCopy,
    // problems
    NoTableName, TableMissingSource, TableMissingDest, KeyMissingSource, KeyMissingDest, NotWrittenExactly,
    FlagInCondition, RowsUnreadable, TooFewColumns, KeyNotFirst, UpdateMissingSource, UpdateMissingDest, UpdateColumnNotExact,
    ReferencesBecomeMinusOne, ClearedNeverRefilled, GeneratorTableMissing, GeneratorColumnMissing,
    GeneratorMissing, ScriptMissing, RowsPresent, IndexLeftInactive, ForcedWritesLeftOff, PresentUncountable,
    // the report's frame
    LineHeading, JournalBlockHeading, Comment, Does, Source, Destination, Copies, NotArriving, NoValue,
    SourceRows, Presence, Yes, No, RowsWhere, SetToOne, Problem, NoProblems, OneProblem, Problems,
};

// A phrase: its template's arguments (Windows-1251 names and numbers) fill %1, %2, ...
struct CheckPhrase {
    CheckSays says;
    std::vector<std::string> args;
};

// A text of the check: phrases one after the other ("copy with new keys" + " of the rows
// where ...").
struct CheckText {
    std::vector<CheckPhrase> phrases;
    CheckText() = default;
    CheckText(CheckSays says, std::vector<std::string> args = {}) : phrases{{says, std::move(args)}} {}
    CheckText& operator+=(CheckPhrase phrase) {
        phrases.push_back(std::move(phrase));
        return *this;
    }
    bool operator==(const CheckText&) const = default;
};

enum class CheckLanguage { English, Russian };

// The text in that language, UTF-8.
std::string Rendered(const CheckText& text, CheckLanguage language = CheckLanguage::English);

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
    std::vector<CheckText> actions;   // what the two passes and the journal block do, in order
    bool reads = false;             // the line reads source rows (copy, macros or update)
    TablePresence source, dest;
    std::vector<std::string> copied;        // columns whose values go into the destination
    std::vector<std::string> notArriving;   // source columns the destination lacks
    std::vector<std::string> noValue;       // destination columns that get no value
    bool portSetToOne = false;              // ... HS_PORT among them, set to 1
    std::optional<long long> rows;          // source rows the copy or update will read
    std::string rowsFilter;                 // the condition those rows satisfy, empty for all
    std::vector<CheckText> problems;
};

struct CheckResult {
    std::vector<CheckedLine> lines;          // the table list in order, then the journal block
    std::vector<CheckText> fileProblems;   // generator list and scripts
    int ProblemCount() const;
};

// Plans the run of `options` and reads both databases. Raises the layer's error when a database cannot
// be attached (LoginRefused when its server refuses the login) or a data file of the start-up
// checks (table list, generator list) cannot be read, the latter as Error::Kind::File;
// DestinationBusyError when another run is writing the destination.
CheckResult CheckTransfer(const RunOptions& options);

// The result as plain text (UTF-8), one block per line of the table list; English for the
// command line, Russian for the window.
std::string CheckReportText(const CheckResult& result, CheckLanguage language = CheckLanguage::English);

} // namespace kestrix
