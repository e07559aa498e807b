#pragma once
#include <vector>

#include "db/Databases.h"
#include "run/Context.h"
#include "transfer/RunPlan.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// The transfer sequence as planned: photo probes, clearing pass, copy pass and the journal block.
// No error leaves it but a lost connection, which ends the run; a cancelled sequence is told
// from a finished one by the context's cancel request. Returns the copies that ran to their end, in run order.
std::vector<CopiedTable> MoveTables(Context& ctx, db::Databases& dm, const RunPlan& plan);

} // namespace kestrix::transfer
