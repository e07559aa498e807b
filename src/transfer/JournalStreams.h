#pragma once
// The journal block, over one attachment pair or several at once.
#include <vector>

#include "db/Databases.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Copies the journal tables over ctx.options.jobs streams, one or more, each with an
// attachment pair of its own to the run's databases. One stream takes the tables in the
// order of `journals`; several take the largest (by its count query) first, and a stream
// that is free takes the next. Each table's log lines, account and progress steps reach the
// run in the order of `journals`, as a sequential copy gives them.
// A table whose copy ends on an error, or that cannot be counted, is marked in the account
// with the error and not stepped, and no journal table is started after it; the ones running
// finish. A cancel (ctx.cancel) stops every stream at its next row; the run's attachment watch
// (ctx.attachmentWatch) cancels a statement that waits. A lost connection stops the others and
// leaves as the exception, and so does the interruption of a cancelled statement. Returns the
// copies made, in the order of `journals`.
std::vector<CopiedTable> CopyJournalsInStreams(Context& ctx, db::Databases& dm, const std::vector<CopyRequest>& journals);

} // namespace kestrix::transfer
