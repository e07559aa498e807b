#pragma once
// The read-back after the copy: every table the run copied, its source rows as the copy
// read them against the destination's rows by key, each column as the copy wrote it.
#include <string>
#include <vector>

#include "db/Side.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// Reads the table's source rows in key order and the destination's rows in key order side
// by side, so that memory stays flat in the table's size. Refused rows are not looked for.
TableVerification VerifyTable(Context& ctx, db::Side src, db::Side dst, const CopiedTable& copied);

// Every copied table in run order; each result goes to the run state. Raises what the
// database raises (a lost connection, a table gone).
void VerifyCopies(Context& ctx, db::Side src, db::Side dst, const std::vector<CopiedTable>& copies);

} // namespace kestrix::transfer
