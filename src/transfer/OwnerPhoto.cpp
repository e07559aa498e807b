#include "transfer/OwnerPhoto.h"

#include "db/Error.h"
#include "db/Work.h"

namespace kestrix::transfer {

bool ProbeOwnerPhotos(db::Side side) {
    db::Statement& sql = side.statement;
    try {
        side.Bind();
    } catch (const Error&) {
        return false;
    }
    // A lost connection leaves: the run ends there.
    const db::WorkUnit work(sql);
    bool found = false;
    try {
        sql.ClearSql();
        sql.AddSqlLine("SELECT OW_ID FROM OWNERPHOTOS ");
        sql.AddSqlLine("WHERE OW_ID = 1");
        sql.Execute();
        found = true;
    } catch (const Error&) {
    }
    try {
        sql.CloseCursor();
    } catch (const Error&) {
    }
    return found;
}

} // namespace kestrix::transfer
