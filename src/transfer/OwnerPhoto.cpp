#include "transfer/OwnerPhoto.h"

#include "db/Work.h"

namespace kestrix::transfer {

bool ProbeOwnerPhotos(db::Side side) {
    bool found = false;
    db::Statement& sql = side.SQL;
    try {
        side.Bind();
    } catch (const std::exception&) {
        return false;
    }
    try {
        db::BeginWork(sql);
    } catch (const std::exception&) {
        return false;   // a lost connection: the clearing pass meets it next
    }
    try {
        sql.ClearSql();
        sql.AddSqlLine("SELECT OW_ID FROM OWNERPHOTOS ");
        sql.AddSqlLine("WHERE OW_ID = 1");
        sql.Execute();
        found = true;
    } catch (const std::exception&) {
        found = false;
    }
    try {
        sql.CloseCursor();
    } catch (const std::exception&) {
    }
    db::EndWork(sql);
    return found;
}

} // namespace kestrix::transfer
