#pragma once
// The text of a block that runs one table's prepared single-row insert for several rows in
// one execute: through a server, one round trip for many rows.
#include <string>
#include <vector>

#include "db/Statement.h"

namespace kestrix::transfer {

// The lines of an EXECUTE BLOCK that inserts `rows` rows with the insert `rowSql` (its
// parameters written as :NAME). Its inputs are the insert's parameters row after row,
// declared as `inputs` says (SqlValue::Declaration); with `returned` (the insert's RETURNING column and its type,
// `returnedType`), each insert returns its key as one result row, in row order.
std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<std::string>& inputs,
                                          int rows, const std::string& returned, const std::string& returnedType);

} // namespace kestrix::transfer
