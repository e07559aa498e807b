#pragma once
// Column update pass: copies one column of a table from the source onto the destination
// rows with the same key, when both databases have that column.
#include <string>
#include <vector>

#include "db/Side.h"
#include "run/Context.h"

namespace kestrix::transfer {

// How the line's update column is found among a table's column names. The update takes only a
// name as written; one that matches only after trimming or ignoring letter case (as SQL would
// take it unquoted) updates nothing.
enum class ColumnMatch { Exact, OnlyLoosely, Absent };
ColumnMatch MatchUpdateColumn(const std::vector<std::string>& columns, const std::string& column);

// Column is compared exactly (case-sensitive) with the column names the databases report.
// A failing update is logged per row, unless the connection is lost: that error ends the
// pass unlogged. A failing probe (table or key column missing) leaves
// with its error after the open units of work are ended.
void UpdateColumn(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
            const std::string& Column);

} // namespace kestrix::transfer
