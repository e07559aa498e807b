#pragma once
// Column update pass: copies one column of a table from the source onto the destination
// rows with the same key, when both databases have that column.
#include <string>

#include "db/Side.h"
#include "run/Context.h"

namespace kestrix::transfer {

// Column is compared exactly (case-sensitive) with the column names the databases report.
// A failing update is logged per row, unless the connection is lost: that error ends the
// pass unlogged. A failing probe (table or key column missing) leaves
// with its error after the open units of work are ended.
void UpdateColumn(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
            const std::string& Column);

} // namespace kestrix::transfer
