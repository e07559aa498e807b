#pragma once
// The table copy: the rows of one source table into the table of the same name in the
// destination, with new keys for the identifier tables and their references translated.
#include <string>

#include "db/Side.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Rows per insert block through a server: from about 50 rows on a block is bound by the
// engine's own insert work, and the prepare of a block grows with its size.
constexpr int kServerBlockRows = 100;
// Rows per insert block into this destination: a block through a server saves a round trip
// per row; embedded, where a block gains little, each row goes alone.
int InsertBlockRows(const db::Connection& destination);
// The copy of a table-list line, with the run's owner-photo answers and the block size for
// the destination.
CopyRequest TableCopyRequest(const RunState& state, const db::Connection& destination, const std::string& table,
                             const std::string& keyColumn, const std::string& where);

// Row failures are written to the run log and the copy goes on; a failure while finding
// the columns, counting or selecting leaves as the exception, and so does a lost connection
// wherever it is met (unlogged: the sequence logs it). A written row's reference that
// became -1 is reported to the run state. Every unit of work begun here is ended before
// the call returns, however it returns.
void CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request);

} // namespace kestrix::transfer
