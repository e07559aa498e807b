#pragma once
// Journal rows a destination already holds: the copy keeps their source keys, so a source
// row whose key is there will be refused. Read before anything is written.
#include <vector>

#include "db/Side.h"
#include "run/RunAccount.h"
#include "transfer/TableList.h"

namespace kestrix::transfer {

// The source rows the copy of the journal reads from the start date on, and how many of
// them have a key the destination holds. Both sides are read in key order, the source only
// when the destination holds a row at all. Raises what the database raises.
PresentRows CountPresentRows(db::Side src, db::Side dst, const JournalTable& journal, db::DateTime startDate);

// The journal tables of the journal block with at least one such row, in its order. A journal
// that cannot be read is passed over (its copy fails on it); a lost connection is raised.
std::vector<PresentRows> JournalRowsPresent(db::Side src, db::Side dst, db::DateTime startDate);

} // namespace kestrix::transfer
