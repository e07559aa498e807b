#pragma once
// The pre-transfer and post-transfer SQL scripts, run statement by statement against the
// destination, every statement with its outcome written to the run log.
#include "db/DMUnit1.h"
#include "run/Context.h"

namespace kestrix::scripts {

// Pre-transfer script "SQL/_Upd.sql" through IBSQL3, parameters parsed.
void RABSQL(Context& ctx, db::TDM1& dm);
// Post-transfer script "SQL/Upd.sql" through IBSQL6, text sent unchanged; pumps messages
// and pauses after every statement.
void SucesSQL(Context& ctx, db::TDM1& dm);

} // namespace kestrix::scripts
