#pragma once
// The account of a run: for every copied table, the source rows it read, the rows written and
// refused, and the rows whose translated reference became -1, collected from the run's
// events (RunState), never from its displays.
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "db/Statement.h"

namespace kestrix {

// The stages of a run, as the front ends are told of them.
enum class RunStage { PreScript, ClearPass, Table, Verification, PostScript, Generators, Finished, Interrupted };

enum class RunOutcome { Finished, Interrupted, Failed };
// "finished", "interrupted", "failed".
const char* OutcomeName(RunOutcome outcome);

// A source row the destination does not hold as the copy wrote it.
struct RowDifference {
    std::string key;            // the source row's key
    std::string column;         // "" when the row is missing in the destination
    std::string source;         // the value the copy wrote, as shown (Windows-1251); for a row
                                // that could not be worked out, the reason
    std::string destination;    // the value the destination holds, as shown; "missing"
};

// Differences listed per table; every one is counted.
constexpr std::size_t kListedDifferences = 20;

// The read-back of one copied table.
struct TableVerification {
    int verified = 0;   // source rows found in the destination as the copy wrote them
    int differ = 0;     // source rows missing or different there (refused rows aside)
    std::vector<RowDifference> listed;   // the first kListedDifferences
    double seconds = 0;
    bool inFull = true;   // every source row was read back; else the counts are of a part
};

// A journal table whose destination already holds rows of the copy: source rows from the
// start date on whose keys are there, which the copy will refuse.
struct PresentRows {
    std::string table;     // Windows-1251
    long long present = 0; // source rows whose key the destination holds
    long long rows = 0;    // source rows the copy reads
    db::DateTime from;     // the start date
};

// A switch of the bulk load that a run leaves set: an index left inactive (`index` of `table`)
// or, with no index, the destination's forced writes left off; with why it was not set back.
// Until the next run or the database's owner sets it back, the destination enforces or keeps
// less than its schema says.
struct LeftSwitch {
    std::string index;    // "" for forced writes
    std::string table;
    std::string reason;   // Windows-1251, one line; "" for forced writes: another client is attached
};

struct TableAccount {
    std::string table;   // Windows-1251
    // Source rows the copy fetched, counted as it reads each (summed over consecutive lines of
    // the table); -1 when the copy does not tell (the macro transfer reads them all first).
    int fetched = -1;
    int written = 0, refused = 0;
    // Rows counted written whose transaction then did not commit: not in the destination.
    int undone = 0;
    double seconds = 0;
    std::chrono::steady_clock::time_point startedAt{};   // journals over streams overlap
    // Reference columns in the order first met, with the written rows whose reference became -1.
    std::vector<std::pair<std::string, int>> unmapped;
    // The run was interrupted or failed before the table's line was done, or the table's copy
    // ended on an error: its rest was not read.
    bool cutShort = false;
    std::string error;   // Windows-1251: the error that ended the table's copy, "" for none
    std::optional<TableVerification> verification;   // when the run read the table back
    int readBacksDue = 0;   // copies of the table not (yet) read back to their end

    // The read-back was to read the table and read every copy of it to its end.
    bool VerifiedInFull() const { return readBacksDue == 0; }

    // Rows read from the source: those fetched, or every row handled when the copy does not tell.
    int Read() const { return fetched >= 0 ? fetched : written + refused + undone; }
    // Rows read that are neither written nor refused: never tried (the run ended first), or
    // written into a transaction that did not commit.
    int Lost() const { return Read() - written - refused; }
    int Unmapped() const;
    // Every row read was written or refused, and the copy was not cut short.
    bool Accounted() const { return Lost() == 0 && !cutShort; }
};

class RunAccount {
public:
    // A new run: the account is emptied.
    void Start();
    // A table stage opens a row; the same table right after itself goes on in its row, and a
    // table-list line without a table name gets none. Any stage closes the row before it.
    void StageStarted(RunStage stage, const std::string& table);
    // The copy of the open table fetched a source row (before handling it).
    void RowRead();
    void RowDone(bool written);
    // The last `rows` rows counted written in the open table did not reach the destination:
    // their transaction did not commit.
    void WrittenUndone(int rows);
    // The sequence is done with the open table's line, unless the run was cancelled meanwhile
    // (the copy then ended early).
    void LineDone(bool cancelled);
    void ReferenceUnmapped(const std::string& table, const std::string& column);
    // The copy of the open table ended on an error, one that the sequence passes over or one
    // that ends the run: the rows after it were never read. The first error of a table is kept.
    void TableFailed(const std::string& message);
    // The read-back is to read the copy counted in row `row`.
    void ReadBackDue(std::size_t row);
    // The read-back of the copy counted in row `row` (added up over the copies of that row);
    // one read to its end is no longer due.
    void TableVerified(std::size_t row, const TableVerification& result);
    // The open table was copied on a stream of its own, whose account is `copied`: the row
    // takes its figures and is closed.
    void TakeTable(const TableAccount& copied);
    // The run ended: if it did not finish, the table whose line was not done is cut short.
    void Close(RunOutcome outcome);
    // The operator asked to interrupt a run that then finished: the request came after the
    // last stage had begun.
    void CancelCameTooLate() { cancelTooLate_ = true; }
    bool CancelTooLate() const { return cancelTooLate_; }
    // Before the first write: the journal rows the destination already holds.
    void RowsAlreadyPresent(const std::vector<PresentRows>& present) { present_ = present; }
    const std::vector<PresentRows>& Present() const { return present_; }
    // A switch of the bulk load the run could not set back (an index told twice keeps its
    // first reason); the run does not count as finished then.
    void SwitchLeft(const LeftSwitch& left);
    const std::vector<LeftSwitch>& Left() const { return left_; }
    // The first day of the journals the run copies; none when it copies no journals.
    void SetEventsFrom(std::optional<db::DateTime> day) { eventsFrom_ = day; }
    const std::optional<db::DateTime>& EventsFrom() const { return eventsFrom_; }

    const std::vector<TableAccount>& Tables() const { return tables_; }
    std::optional<RunOutcome> Outcome() const { return outcome_; }
    // Names of the tables not accounted for, in run order.
    std::vector<std::string> NotAccounted() const;
    // Whether the run read (or was to read) its copies back, and the rows that differ.
    bool Verified() const;
    int Differ() const;
    // Names of the tables the read-back did not read to their end, in run order.
    std::vector<std::string> NotVerified() const;
    // Rows written and refused over every table.
    int Written() const;
    int Refused() const;

private:
    void CloseTable();

    std::vector<TableAccount> tables_;
    std::optional<std::string> lastTable_;   // the table of the last stage event, if a table
    bool inTable_ = false;                    // the last row is open
    bool lastIsCurrent_ = false;              // the run's last stage was the last row's table
    bool lineDone_ = false;                   // the current table's line is done
    std::chrono::steady_clock::time_point tableStart_;
    std::optional<RunOutcome> outcome_;
    bool cancelTooLate_ = false;
    std::vector<PresentRows> present_;
    std::vector<LeftSwitch> left_;
    std::optional<db::DateTime> eventsFrom_;
    std::chrono::steady_clock::time_point runStart_ = std::chrono::steady_clock::now();

    friend std::string AccountJson(const RunAccount& account, int exitCode);
};

// A day as YYYY-MM-DD.
std::string IsoDate(const db::DateTime& day);
// The line that tells which journals a run copies: "Journals from: YYYY-MM-DD", or
// "Journals: not transferred".
std::string JournalsLine(const std::optional<db::DateTime>& eventsFrom);

// "Every row is accounted for." when no row was refused, else "Every row is accounted for:
// N written, M refused (see the run log)."; or "Not accounted for: T1, T2" (names in UTF-8).
std::string AccountedLine(const RunAccount& account);
// The same for the window, in Russian (Windows-1251).
std::string AccountedText(const RunAccount& account);
// "JOURNAL: 57 of the 57 rows from 2026-01-01 are already in the destination; a run will
// refuse them" (UTF-8).
std::string PresentRowsLine(const PresentRows& present);
// "Left inactive: index EVENTS_DATE of EVENTS (REASON); the next run of the table's owner or
// the server's administrator makes it active", or the like for forced writes (UTF-8): what is
// left, why, and which login sets it back.
std::string LeftLine(const LeftSwitch& left);
// The same for the window, in Russian (Windows-1251).
std::string LeftText(const LeftSwitch& left);
// The same for the window, in Russian (Windows-1251).
std::string PresentRowsText(const PresentRows& present);
// After a read-back: "Verified: the N rows written are in the destination as written." (with
// "; M refused rows were not written" before the stop when the read tables refused rows) or
// "Differences: N rows in T1, T2"; then, when a table was not read back to its end, the line
// "Not verified: T1, T2 (the read-back was interrupted)" instead of the first or after the
// second (names in UTF-8).
std::string VerifiedLine(const RunAccount& account);
// The account for scripts, UTF-8 JSON: outcome, exit code, whether every table is accounted
// for, whether a cancel came too late, the totals (read, written, refused, lost), the journal
// rows already in the destination (present: name, present, rows, from), the switches of the
// bulk load left set (left: index, table, reason; index null for forced writes), and the tables
// (name, read, written, refused, lost, seconds, started: seconds from the run's start,
// unmapped per column, accounted; after a read-back also verified, differ, verify_seconds, the
// listed differences and verified_in_full).
std::string AccountJson(const RunAccount& account, int exitCode);

} // namespace kestrix
