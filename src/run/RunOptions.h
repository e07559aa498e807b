#pragma once
// What a run is asked to do, fixed when it starts: the front end fills it from the operator's
// input and the start-up checks, the run driver takes it at the start, and the engine only
// reads it.
#include <cstdlib>
#include <string>

#include "db/Databases.h"
#include "db/Statement.h"

namespace kestrix {

struct RunOptions {
    // Program directory with a trailing separator; data files are found in it. Set by the
    // start-up checks.
    std::string appDir;
    // Lines of the table list counted by the start-up checks.
    int tableListLines = 0;
    // The database names; the run driver removes their quotes as the run starts.
    std::string sourceName;
    std::string destName;
    // Whom each side logs in as, for every attachment of the run; the fixed login unless the
    // front end resolved another.
    db::Credentials sourceLogin = db::FixedCredentials();
    db::Credentials destLogin = db::FixedCredentials();
    bool events = false;          // the journal block is copied
    db::DateTime startDate;       // of the journals copied, taken at the start of that day
    bool verify = false;          // the copied tables are read back before the post-transfer script
    // Attachment pairs the journal block is copied over; 1: one table after the other.
    int jobs = 1;
    // Over several streams, the fewest source rows of a part of a journal copied in parts by
    // key range (each part taken by the next free stream, so that no table is the critical
    // path of its stream). An internal setting (KESTRIX_JOURNAL_PART_ROWS, for tests of small
    // journals).
    int journalPartRows = DefaultJournalPartRows();

    // The steps of the overall progress: one per line of the table list, and the journal block's.
    int TotalSteps() const { return tableListLines + (events ? kJournalBlockSteps : 0); }
    // The journal block counts 4 steps though it steps once per journal table (6): the run has
    // always counted it so, and the progress stops at its maximum, so the bar is full over the
    // last two tables.
    static constexpr int kJournalBlockSteps = 4;

    static int DefaultJournalPartRows() {
        const char* set = std::getenv("KESTRIX_JOURNAL_PART_ROWS");
        const int rows = set ? std::atoi(set) : 0;
        return rows > 0 ? rows : 100'000;
    }
};

} // namespace kestrix
