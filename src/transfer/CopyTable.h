#pragma once
// The table copy: the rows of one source table into the table of the same name in the
// destination, with new keys for the identifier tables and their references translated.
#include <optional>
#include <string>

#include "db/Side.h"
#include "db/Work.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Rows per insert block through a server: from about 50 rows on a block is bound by the
// engine's own insert work, and the prepare of a block grows with its size.
constexpr int kServerBlockRows = 100;
// Rows per insert block into an embedded destination: a block saves the engine's per-execute
// work. On the bench's journals (a million rows, forced writes off) the whole run took 0.85 of
// its time row by row at 8 to 32 rows a block, alike within the noise; larger blocks cost
// more to prepare on small tables.
constexpr int kEmbeddedBlockRows = 16;
// Rows per insert block into this destination.
int InsertBlockRows(const db::Connection& destination);

// Row failures are written to the run log and the copy goes on; a failure while finding
// the columns, counting or selecting leaves as the exception, and so does a lost connection
// wherever it is met (unlogged: the sequence logs it), and so does a write the destination's
// storage refuses (WriteFailed). A written row's reference that became -1 is reported to the
// run state; rows counted written whose transaction then did not commit are taken back, and
// rows never tried are neither written nor refused. Every unit of work begun here is ended
// before the call returns, however it returns.
// The request carries the line's table, key and condition, the owner-photo answers of the
// sequence's probe and the rows per insert block. `sourceRows`: the source count, when the
// caller ran it. Returns the copy's plan and its refused rows (nothing when the cancel flag
// ended it before its rows).
CopiedTable CopyTable(Context& ctx, db::Side Src, db::Side Dst, const CopyRequest& request,
                      std::optional<int> sourceRows = std::nullopt);

// The source rows the copy of the table would read: its count query.
int CountSourceRows(Context& ctx, db::Side Src, const CopyRequest& request);
// A journal's lowest and highest key among the rows it counts; nothing when it has none.
std::optional<KeyRange> SourceKeyBounds(Context& ctx, db::Side Src, const CopyRequest& request);

// The end of the destination's unit of work in which `written` rows were counted written:
// they are in the destination only once it commits. By its commit, which raises what ends
// the run; or, on the way out of an error, as far as the unit can still commit. Rows whose
// transaction did not commit are taken back from the account.
void EndWrittenUnit(RunState& state, db::WorkUnit& work, int written);
void EndFailedWrittenUnit(RunState& state, db::WorkUnit& work, const db::Statement& dst, int written) noexcept;

} // namespace kestrix::transfer
