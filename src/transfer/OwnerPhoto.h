#pragma once
// Whether a database has the separate owner photo table.
#include "db/Connection.h"
#include "db/Statement.h"

namespace kestrix::transfer {

// True when a query on OWNERPHOTOS.OW_ID runs on the database; false on any failure.
// Never raises.
bool UstNalOwnerPhoto(db::Statement& sql, db::Transaction& tr, db::Connection& database);

} // namespace kestrix::transfer
