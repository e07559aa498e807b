#pragma once
// The pre-transfer and post-transfer SQL scripts, run statement by statement against the
// destination, every statement with its outcome written to the run log.
#include "db/Databases.h"
#include "run/Context.h"

namespace kestrix::scripts {

// Pre-transfer script "SQL/_Upd.sql" through the destination statement, parameters parsed.
void RunPreTransferScript(Context& ctx, db::Databases& dm);
// Post-transfer script "SQL/Upd.sql" through its own statement, text sent unchanged; pumps messages
// and pauses after every statement.
void RunPostTransferScript(Context& ctx, db::Databases& dm);

} // namespace kestrix::scripts
