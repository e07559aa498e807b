#include "transfer/BulkLoad.h"

#include "db/Error.h"
#include "db/Work.h"
#include "run/RunLog.h"
#include "run/Texts.h"

namespace kestrix::transfer {
namespace {

// Index name, table and description; the rest of the query says which indexes.
const std::string kIndexColumns =
    "select trim(I.RDB$INDEX_NAME), trim(I.RDB$RELATION_NAME), I.RDB$DESCRIPTION from RDB$INDICES I ";

// Active, no system index, backing no constraint (those cannot be made inactive).
std::string PlainActiveIndexesOf(const std::string& table) {
    return kIndexColumns + "where I.RDB$RELATION_NAME = '" + table +
           "' and coalesce(I.RDB$INDEX_INACTIVE, 0) = 0 and coalesce(I.RDB$SYSTEM_FLAG, 0) = 0 "
           "and I.RDB$FOREIGN_KEY is null and not exists (select 1 from RDB$RELATION_CONSTRAINTS C "
           "where C.RDB$INDEX_NAME = I.RDB$INDEX_NAME) order by I.RDB$INDEX_NAME";
}

const std::string kMarkedInactive = kIndexColumns +
                                    "where coalesce(I.RDB$INDEX_INACTIVE, 0) = 1 and I.RDB$DESCRIPTION starting with '" +
                                    std::string(kInactiveIndexMark) + "' order by I.RDB$INDEX_NAME";

// A description as the COMMENT statement takes it: a quoted text, or NULL for none.
std::string DescriptionLiteral(const std::string& text, bool described) {
    if (!described) return "NULL";
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
    return quoted + "'";
}

std::vector<LoadIndex> Indexes(db::Statement& sql, const std::string& query) {
    sql.ClearSql();
    sql.AddSqlLine(query);
    sql.Prepare();
    std::vector<LoadIndex> indexes;
    for (sql.Execute(); !sql.AtEnd(); sql.FetchNext()) {
        LoadIndex index{sql.ColumnAt(0).GetString(), sql.ColumnAt(1).GetString(), {}, !sql.ColumnAt(2).IsNull()};
        if (index.described) sql.ColumnAt(2).ReadBlobTo(index.description);
        indexes.push_back(std::move(index));
    }
    sql.CloseCursor();
    return indexes;
}

// A statement of its own on the destination's transaction: the descriptions may hold colons.
struct Ddl {
    db::Statement sql;
    explicit Ddl(db::Side dst) {
        dst.transaction.BindDatabase(dst.connection);
        sql.ParamCheck = false;
        sql.BindTransaction(dst.transaction);
    }
    void Run(const std::string& text) {
        sql.ClearSql();
        sql.AddSqlLine(text);
        sql.Prepare();
        sql.Execute();
    }
};

// The changes commit together, or raise.
void Commit(db::WorkUnit& work) {
    if (!work.Commit()) throw Error(Error::Kind::Client, 0, "the changes of the bulk load did not commit");
}

// A description with the mark as its first line, the own one (if any) on the next.
std::string Marked(const std::string& own, bool described) {
    return std::string(kInactiveIndexMark) + (described ? "\n" + own : "");
}

// The own description under the mark, and whether there is one.
void Unmark(std::string& description, bool& described) {
    const std::size_t mark = kInactiveIndexMark.size();
    described = description.size() > mark;
    description = described ? description.substr(mark + 1) : std::string();
}

} // namespace

std::vector<LoadIndex> IndexesLeftInactive(db::Side dst) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    std::vector<LoadIndex> indexes = Indexes(ddl.sql, kMarkedInactive);
    for (LoadIndex& index : indexes) Unmark(index.description, index.described);
    return indexes;
}

void RestoreIndexes(db::Side dst, const std::vector<LoadIndex>& indexes) {
    if (indexes.empty()) return;
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    for (const LoadIndex& index : indexes) {
        ddl.Run("ALTER INDEX " + index.name + " ACTIVE");
        ddl.Run("COMMENT ON INDEX " + index.name + " IS " + DescriptionLiteral(index.description, index.described));
    }
    Commit(work);
}

void RestoreIndexesLeftInactive(Context& ctx, db::Side dst) {
    const std::vector<LoadIndex> left = IndexesLeftInactive(dst);
    if (left.empty()) return;
    RestoreIndexes(dst, left);
    RunLog log(ctx.LogPath());
    for (const LoadIndex& index : left) log.Line(Timestamp() + texts::kIndexRestored + index.name + " (" + index.table + ")");
}

IndexesOffWhileLoading::IndexesOffWhileLoading(db::Side dst, const std::vector<std::string>& tables) : dst_(dst) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    std::vector<LoadIndex> indexes;
    for (const std::string& table : tables)
        for (LoadIndex& index : Indexes(ddl.sql, PlainActiveIndexesOf(table))) indexes.push_back(std::move(index));
    for (const LoadIndex& index : indexes) {
        ddl.Run("COMMENT ON INDEX " + index.name + " IS " +
                DescriptionLiteral(Marked(index.description, index.described), true));
        ddl.Run("ALTER INDEX " + index.name + " INACTIVE");
    }
    Commit(work);
    indexes_ = std::move(indexes);
}

IndexesOffWhileLoading::~IndexesOffWhileLoading() {
    try {
        RestoreIndexes(dst_, indexes_);
    } catch (...) {
        // Left marked: the next run makes them active.
    }
}

} // namespace kestrix::transfer
