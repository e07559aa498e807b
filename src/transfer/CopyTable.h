#pragma once
// The table copy: the rows of one source table into the table of the same name in the
// destination, with new keys for the identifier tables and their references translated.
#include <string>

#include "db/Side.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Row failures are written to the run log and the copy goes on; a failure while finding
// the columns, counting or selecting leaves as the exception, and so does a lost connection
// wherever it is met (unlogged: the sequence logs it). A written row's reference that
// became -1 is reported to the run state. Every unit of work begun here is ended before
// the call returns, however it returns. The request carries the line's table, key and
// condition and the owner-photo answers of the sequence's probe.
void CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request);

} // namespace kestrix::transfer
