#include "transfer/OwnerPhoto.h"

#include "db/Work.h"

namespace kestrix::transfer {

bool UstNalOwnerPhoto(db::Statement& sql, db::Transaction& tr, db::Connection& database) {
    bool found = false;
    try {
        tr.BindDatabase(database);
        sql.BindTransaction(tr);
    } catch (const std::exception&) {
        return false;
    }
    db::BeginWork(sql);
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
