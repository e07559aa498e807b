#pragma once
// The run's plan, built once from the data files and the run's options before anything is
// written: what each line of the table list does in the two passes and how its table is
// treated, the journal block, the generator list and the scripts. The run executes it; the
// check describes the same plan with read-only counts.
#include <exception>
#include <string>
#include <vector>

#include "run/RunOptions.h"
#include "transfer/GeneratorList.h"
#include "transfer/TableList.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// What the run learns of its databases before its first table.
struct DatabaseFacts {
    bool destHasPhotos = false, sourceHasPhotos = false;   // the owner-photo probes
    int blockRows = 1;                                     // rows per insert block
};

// What a line does, in order, as the operator is told it.
enum class LineAction {
    Clear, ClearWhere, ClearZones, ClearAgain, ClearOnly, Macros, Copy, CopyNewKeys, UpdateFiveColumns,
    UpdatePhotos, UpdateColumn, NeverCleared, JournalNotHere, NotCopied, JournalCopy,
};

// A line of the table list, or a table of the journal block.
struct PlannedLine {
    int number = 0;                 // line of the table list from 1; 0: the journal block
    std::string text;               // as written
    TableListLine line;
    LineSteps steps;
    std::vector<LineAction> actions;
    bool reads = false;             // reads source rows: copy, macros or update
    bool clearOnly = false;         // its "%" is the line's own flag: the clearing is meant to stay
    // The specially treated table its name stands for in SQL, when written otherwise: the run
    // then treats it as an ordinary table. Empty otherwise.
    std::string specialNameMissed;
    std::vector<char> flagsInCondition;      // markers after its "@", taken as the line's flags
    std::vector<std::string> unfilledMaps;   // identifier tables it translates through that no
                                             // earlier line copies: those references become -1
    std::vector<std::string> neverRefilled;  // tables it is the first to clear that stay empty

    // The copy step's request (the journal block's copy of its table).
    CopyRequest Request(const DatabaseFacts& facts) const;
};

struct PlannedScript {
    std::string name;   // as the data folder names it
    std::string path;
};

struct RunPlan {
    std::vector<PlannedLine> lines;
    std::exception_ptr tableListUnreadable;   // why there are no lines
    std::vector<PlannedLine> journals;        // the journal block in its order; none without events
    std::vector<GeneratorLine> generators;
    std::exception_ptr generatorListUnreadable;
    std::vector<PlannedScript> scripts;       // the pre-transfer and post-transfer scripts
};

// Reads the table list and the generator list; a list that cannot be read is kept as its error,
// raised where the run would first read it.
RunPlan PlanRun(const RunOptions& options);

} // namespace kestrix::transfer
