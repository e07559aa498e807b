#pragma once
// Generator reset: every generator of "Generator.txt" set one past the largest key of its table.
#include <string>

#include "db/Connection.h"
#include "db/Databases.h"
#include "db/Statement.h"
#include "run/Context.h"
#include "transfer/RunPlan.h"

namespace kestrix::transfer {

// Sets the generator to MAX(column)+1 of the table (0 for an empty table). A failing
// statement is logged and leaves the generator as it was; a lost connection is raised.
void SetGenerator(Context& ctx, db::Side side, const std::string& table, const std::string& column, const std::string& generator);
// Every line of the plan's generator list, in file order, on the destination side. A generator
// list or run log that could not be opened raises a file error. A lost connection ends the
// reset, logged once.
void RestoreGenerators(Context& ctx, db::Databases& dm, const RunPlan& plan);

} // namespace kestrix::transfer
