#pragma once
// The destination set for a bulk load, as the engine's own restore loads a database, and set
// back after it: the plain indexes of the tables a run loads (active ascending or descending
// indexes of columns, neither unique nor of an expression, backing no constraint) are made
// inactive for the load and active after it, so that the engine builds each once by sorting
// instead of updating it row by row. An index made inactive carries a mark in its description,
// written in the same transaction, so that one left inactive by a run that never ended (a
// killed process, a lost connection) or that could not be made active again is known,
// reported and made active by the next run. Indexes that were inactive before are left as
// they are.
//
// Every switch is made in a transaction of its own that commits whole or is rolled back whole:
// making the indexes inactive is one, making each active again is one per index, so that one
// index that cannot be built keeps no other inactive.
//
// Forced writes are off for a run into a local file, as for the restore: a page the engine
// writes is not waited for on the disk each time. The engine reopens its handle of the file
// for the switch, and a write of another attachment in the same process meanwhile can fail,
// so they are switched only while the database has no attachment (the run driver detaches
// for it). They carry a mark in the database's description, written before they
// are switched off and removed after they are on again, so that forced writes a killed run
// left off are known, reported and switched on by the next run.
//
// Descriptions are read and written as bytes: a description in characters the run's
// attachment cannot show is kept as it is.
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/Side.h"
#include "run/Context.h"

namespace kestrix::transfer {

// The first line of the description of an index this program made inactive; the index's own
// description, if it had one, follows on the next line.
inline constexpr std::string_view kInactiveIndexMark = "Kestrix transfer: inactive while its table is loaded";

struct LoadIndex {
    std::string name;
    std::string table;
    std::string description;   // its own, without the mark, as stored (bytes)
    bool described = false;    // it had one (else NULL)
};

// An index that could not be made active again, and the engine's reason (one line).
struct IndexNotRestored {
    LoadIndex index;
    std::string reason;
};

// Asked while a switch waits for a lock that another attachment holds on `table`, every
// second or so, with the time waited: whether to go on waiting.
using LockWait = std::function<bool(const std::string& table, std::chrono::seconds waited)>;

// A wait told to the run (after the first few seconds) and ended by its cancel request.
LockWait WaitToldTo(Context& ctx);

// The indexes of the destination left inactive by an earlier run: marked and inactive.
std::vector<LoadIndex> IndexesLeftInactive(db::Side dst);
// Makes `indexes` active again with their own descriptions, each in a transaction of its own;
// those that could not be made active stay inactive and marked, and are returned with the
// reason (a lost connection among them).
std::vector<IndexNotRestored> RestoreIndexes(db::Side dst, const std::vector<LoadIndex>& indexes, const LockWait& wait);

// Each index that could not be made active logged with the reason and told to the run as left.
void TellIndexesLeft(Context& ctx, const std::vector<IndexNotRestored>& failed);

// The indexes left inactive by an earlier run made active, each with its line in the run log;
// one that cannot be is told as left.
void RestoreIndexesLeftInactive(Context& ctx, db::Side dst);

// For its life, the plain active indexes of `tables` in the destination are inactive.
class IndexesOffWhileLoading {
public:
    // Raises what the destination raises; nothing changed then.
    IndexesOffWhileLoading(db::Side dst, const std::vector<std::string>& tables);
    // Makes them active again, as RestoreIndexes; afterwards the destructor does nothing.
    std::vector<IndexNotRestored> Restore(const LockWait& wait);
    // Makes them active again when Restore was not called, waiting for no lock; a failure (a
    // lost connection) leaves them marked for the next run.
    ~IndexesOffWhileLoading();
    IndexesOffWhileLoading(const IndexesOffWhileLoading&) = delete;
    IndexesOffWhileLoading& operator=(const IndexesOffWhileLoading&) = delete;

    const std::vector<LoadIndex>& Indexes() const { return indexes_; }

private:
    db::Side dst_;
    std::vector<LoadIndex> indexes_;
};

// The first line of the destination's description while a run has its forced writes off; the
// database's own description, if it had one, follows on the next line.
inline constexpr std::string_view kForcedWritesMark = "Kestrix transfer: forced writes off while the database is loaded";

// Whether the destination's description carries the mark: forced writes left off by a run
// that never ended, or not yet switched on again after one.
bool ForcedWritesLeftOff(db::Side dst);
// Whether the destination has attachments besides the caller's, numbered in `own` (the
// engine's own, such as its garbage collector, aside).
bool AttachedElsewhere(db::Side dst, const std::vector<long>& own);
// Marks the destination's forced writes to be switched off, when they are on and unmarked.
// Whether it marked them. Raises what the destination raises (a login that may not comment
// on the database); nothing changed then.
bool MarkForcedWritesOff(db::Side dst);
// Takes the mark off the destination's description, where it carries it. Raises what the
// destination raises; nothing changed then.
void UnmarkForcedWritesOff(db::Side dst);

} // namespace kestrix::transfer
