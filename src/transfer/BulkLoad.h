#pragma once
// The destination set for a bulk load, as the engine's own restore loads a database, and set
// back after it.
// - The plain indexes of the tables a run loads (active, backing no constraint) are made
//   inactive for the load and active after it: the engine then builds each once by sorting
//   instead of updating it row by row.
// - Forced writes are off for the load and on again after it: a page the engine writes is not
//   waited for on the disk each time.
// Each change carries a mark, written before it (an index's in its description, forced
// writes' in the database's), so that one left by a run that never ended (a killed process, a
// lost connection) is known, reported and set back by the next run. What was so before the
// run (an inactive index, forced writes off) is left as it is.
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
    std::string description;   // its own, without the mark
    bool described = false;    // it had one (else NULL)
};

// The indexes of the destination left inactive by an earlier run: marked and inactive.
std::vector<LoadIndex> IndexesLeftInactive(db::Side dst);
// Makes `indexes` active again with their own descriptions, in one transaction. Raises what
// the destination raises; nothing changed then.
void RestoreIndexes(db::Side dst, const std::vector<LoadIndex>& indexes);

// The indexes left inactive by an earlier run made active, each with its line in the run log.
void RestoreIndexesLeftInactive(Context& ctx, db::Side dst);

// For its life, the plain active indexes of `tables` in the destination are inactive.
class IndexesOffWhileLoading {
public:
    // Raises what the destination raises; nothing changed then.
    IndexesOffWhileLoading(db::Side dst, const std::vector<std::string>& tables);
    // Restores them; a failure (a lost connection) leaves them marked for the next run.
    ~IndexesOffWhileLoading();
    IndexesOffWhileLoading(const IndexesOffWhileLoading&) = delete;
    IndexesOffWhileLoading& operator=(const IndexesOffWhileLoading&) = delete;

private:
    db::Side dst_;
    std::vector<LoadIndex> indexes_;
};

// The first line of the destination's description while a run has its forced writes off; the
// database's own description, if it had one, follows on the next line.
inline constexpr std::string_view kForcedWritesMark = "Kestrix transfer: forced writes off while the database is loaded";

// Whether an earlier run left the destination's forced writes off: its description is marked.
bool ForcedWritesLeftOff(db::Side dst);
// Forced writes left off by an earlier run switched on and the mark removed, with a line in
// the run log. Raises what the destination raises.
void RestoreForcedWritesLeftOff(Context& ctx, db::Side dst);

// For its life, the destination's forced writes are off.
class ForcedWritesOffWhileLoading {
public:
    // Raises what the destination raises (a login that may not change them); nothing changed
    // then. Forced writes already off are left so.
    explicit ForcedWritesOffWhileLoading(db::Side dst);
    // Switches them on; a failure (a lost connection) leaves them marked for the next run.
    ~ForcedWritesOffWhileLoading();
    ForcedWritesOffWhileLoading(const ForcedWritesOffWhileLoading&) = delete;
    ForcedWritesOffWhileLoading& operator=(const ForcedWritesOffWhileLoading&) = delete;

private:
    db::Side dst_;
    bool switched_ = false;
};

} // namespace kestrix::transfer
