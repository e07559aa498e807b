#pragma once
// Deletes the rows of one destination table before it is refilled.
#include <string>

#include "db/Side.h"
#include "run/Context.h"

namespace kestrix::transfer {

// Deletes every row of TableName, or those matching Where when it is not empty, in one
// committed unit of work. A failing delete is logged and the call returns normally, unless
// the connection is lost: that error is raised unlogged. A log that cannot be opened raises
// before the database is touched.
void ClearTable(Context& ctx, db::Side Dst, const std::string& TableName, const std::string& Where);

} // namespace kestrix::transfer
