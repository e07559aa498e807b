#pragma once
// The destination set for a bulk load, as the engine's own restore loads a database, and set
// back after it: the plain indexes of the tables a run loads (active, backing no constraint)
// are made inactive for the load and active after it, so that the engine builds each once by
// sorting instead of updating it row by row. An index made inactive carries a mark in its
// description, written in the same transaction, so that one left inactive by a run that never
// ended (a killed process, a lost connection) is known, reported and made active by the next
// run. Indexes that were inactive before are left as they are.
// (Forced writes are not switched off for the load, as the restore does: the engine can fail
// its file's writes when they are switched while the database has attachments.)
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

} // namespace kestrix::transfer
