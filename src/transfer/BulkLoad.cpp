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

// A description with `mark` as its first line, the own one (if any) on the next.
std::string Marked(std::string_view mark, const std::string& own, bool described) {
    return std::string(mark) + (described ? "\n" + own : "");
}

// The own description under `mark`, and whether there is one.
void Unmark(std::string_view mark, std::string& description, bool& described) {
    described = description.size() > mark.size();
    description = described ? description.substr(mark.size() + 1) : std::string();
}

// The database's description, and whether it has one.
struct DatabaseDescription {
    std::string text;
    bool described = false;
    bool MarkedForcedWritesOff() const { return described && text.starts_with(kForcedWritesMark); }
};

DatabaseDescription ReadDescription(Ddl& ddl) {
    ddl.sql.ClearSql();
    ddl.sql.AddSqlLine("select RDB$DESCRIPTION from RDB$DATABASE");
    ddl.sql.Prepare();
    ddl.sql.Execute();
    DatabaseDescription description;
    if (!ddl.sql.AtEnd() && !ddl.sql.ColumnAt(0).IsNull()) {
        description.described = true;
        ddl.sql.ColumnAt(0).ReadBlobTo(description.text);
    }
    ddl.sql.CloseCursor();
    return description;
}

void Describe(Ddl& ddl, const std::string& text, bool described) {
    ddl.Run("COMMENT ON DATABASE IS " + DescriptionLiteral(text, described));
}

} // namespace

std::vector<LoadIndex> IndexesLeftInactive(db::Side dst) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    std::vector<LoadIndex> indexes = Indexes(ddl.sql, kMarkedInactive);
    for (LoadIndex& index : indexes) Unmark(kInactiveIndexMark, index.description, index.described);
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
                DescriptionLiteral(Marked(kInactiveIndexMark, index.description, index.described), true));
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

bool ForcedWritesLeftOff(db::Side dst) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    return ReadDescription(ddl).MarkedForcedWritesOff();
}

bool AttachedElsewhere(db::Side dst, const std::vector<long>& own) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);   // a transaction of its own: the monitoring tables as of now
    std::string query = "select count(*) from MON$ATTACHMENTS where MON$SYSTEM_FLAG = 0";
    for (long id : own) query += " and MON$ATTACHMENT_ID <> " + std::to_string(id);
    ddl.Run(query);
    const bool elsewhere = ddl.sql.ColumnAt(0).GetInt64() > 0;
    ddl.sql.CloseCursor();
    return elsewhere;
}

bool MarkForcedWritesOff(db::Side dst) {
    if (!dst.connection.ForcedWrites()) return false;
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    const DatabaseDescription own = ReadDescription(ddl);
    if (own.MarkedForcedWritesOff()) return false;
    Describe(ddl, Marked(kForcedWritesMark, own.text, own.described), true);
    Commit(work);
    return true;
}

void UnmarkForcedWritesOff(db::Side dst) {
    Ddl ddl(dst);
    db::WorkUnit work(ddl.sql);
    DatabaseDescription description = ReadDescription(ddl);
    if (!description.MarkedForcedWritesOff()) return;
    Unmark(kForcedWritesMark, description.text, description.described);
    Describe(ddl, description.text, description.described);
    Commit(work);
}

} // namespace kestrix::transfer
