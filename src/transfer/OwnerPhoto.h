#pragma once
// Whether a database has the separate owner photo table.
#include "db/Side.h"

namespace kestrix::transfer {

// True when a query on OWNERPHOTOS.OW_ID runs on the database; false on any failure but a
// lost connection, which is raised.
bool ProbeOwnerPhotos(db::Side side);

} // namespace kestrix::transfer
