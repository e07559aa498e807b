#pragma once
// Whether a database has the separate owner photo table.
#include "db/Side.h"

namespace kestrix::transfer {

// True when a query on OWNERPHOTOS.OW_ID runs on the database; false on any failure but a
// lost connection, which is raised.
bool ProbeOwnerPhotos(db::Side side);

// The probe's answers for the two databases of a run, found by the transfer sequence and
// handed to every table copy it requests.
struct PhotoTables {
    bool destination = false;
    bool source = false;
};

} // namespace kestrix::transfer
