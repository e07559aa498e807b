#include "transfer/BulkLoad.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "db/Error.h"
#include "db/Strings.h"
#include "run/RunLog.h"
#include "run/Texts.h"

namespace kestrix::transfer {
namespace {

// The longest description read, and so the longest one written with a mark.
constexpr std::size_t kDescriptionBytes = 32765;

// A description as bytes, without transliteration (it may hold characters Windows-1251 lacks),
// then its length; a longer one than is read reads as NULL.
std::string DescriptionColumns(const std::string& column) {
    const std::string bytes = std::to_string(kDescriptionBytes);
    return "case when octet_length(" + column + ") <= " + bytes + " then cast(" + column + " as varchar(" + bytes +
           ") character set octets) end, octet_length(" + column + ")";
}

// Index name, table and description; the rest of the query says which indexes.
const std::string kIndexColumns = "select trim(I.RDB$INDEX_NAME), trim(I.RDB$RELATION_NAME), " +
                                  DescriptionColumns("I.RDB$DESCRIPTION") + " from RDB$INDICES I ";

// Active, no system index, an index of columns that checks nothing (a unique or expression
// index made inactive would let rows in that it refuses, or fail to be built again), backing
// no constraint (those cannot be made inactive).
std::string PlainActiveIndexesOf(const std::string& table) {
    return kIndexColumns + "where I.RDB$RELATION_NAME = '" + table +
           "' and coalesce(I.RDB$INDEX_INACTIVE, 0) = 0 and coalesce(I.RDB$SYSTEM_FLAG, 0) = 0 "
           "and coalesce(I.RDB$UNIQUE_FLAG, 0) = 0 and I.RDB$EXPRESSION_BLR is null "
           "and I.RDB$FOREIGN_KEY is null and not exists (select 1 from RDB$RELATION_CONSTRAINTS C "
           "where C.RDB$INDEX_NAME = I.RDB$INDEX_NAME) order by I.RDB$INDEX_NAME";
}

const std::string kMarkedInactive = kIndexColumns + "where coalesce(I.RDB$INDEX_INACTIVE, 0) = 1 and I.RDB$DESCRIPTION "
                                                   "starting with '" + std::string(kInactiveIndexMark) +
                                    "' order by I.RDB$INDEX_NAME";

// A description as the COMMENT statement takes it: its bytes as a binary literal, kept as they
// are whatever the attachment's character set, or NULL for none.
std::string DescriptionLiteral(const std::string& bytes, bool described) {
    if (!described) return "NULL";
    if (bytes.empty()) return "''";
    std::string literal = "x'";
    char hex[3];
    for (unsigned char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", c);
        literal += hex;
    }
    return literal + "'";
}

// A transaction of its own on the destination's connection: what it did commits whole with
// Commit, or is rolled back whole when it ends without.
class Switch {
public:
    // A lock another attachment holds is waited for a second at most: a longer wait is the
    // caller's to tell and to end.
    explicit Switch(db::Side dst) {
        transaction_.Params = {"lock_timeout=1"};
        transaction_.BindDatabase(dst.connection);
        sql_.ParamCheck = false;   // descriptions may hold colons
        sql_.BindTransaction(transaction_);
        transaction_.BeginTransaction();
    }
    ~Switch() { transaction_.Rollback(); }
    Switch(const Switch&) = delete;
    Switch& operator=(const Switch&) = delete;

    db::Statement& Sql() { return sql_; }
    void Run(const std::string& text) {
        sql_.ClearSql();
        sql_.AddSqlLine(text);
        sql_.Prepare();
        sql_.Execute();
    }
    // Raises what the commit raises; the transaction is rolled back then.
    void Commit() { transaction_.CommitTransaction(); }

private:
    db::Transaction transaction_;
    db::Statement sql_;
};

// A description read by DescriptionColumns at `column`.
struct Description {
    bool described = false;
    bool readable = true;   // not longer than is read
    std::string bytes;
};

Description DescriptionAt(db::Statement& sql, int column) {
    Description d;
    d.described = !sql.ColumnAt(column + 1).IsNull();
    d.readable = !d.described || !sql.ColumnAt(column).IsNull();
    if (d.described && d.readable) d.bytes = sql.ColumnAt(column).GetString();
    return d;
}

std::vector<LoadIndex> ReadIndexes(db::Statement& sql, const std::string& query) {
    sql.ClearSql();
    sql.AddSqlLine(query);
    sql.Prepare();
    std::vector<LoadIndex> indexes;
    for (sql.Execute(); !sql.AtEnd(); sql.FetchNext()) {
        Description own = DescriptionAt(sql, 2);
        // Too long to be read, it could not be given back.
        if (!own.readable)
            throw Error(Error::Kind::Client, 0, "a description longer than " + std::to_string(kDescriptionBytes) + " bytes");
        indexes.push_back({sql.ColumnAt(0).GetString(), sql.ColumnAt(1).GetString(), std::move(own.bytes), own.described});
    }
    sql.CloseCursor();
    return indexes;
}

// A description with `mark` as its first line, the own one (if any) on the next; raises when
// it would be too long to be read back, naming `whose` description it is.
std::string Marked(std::string_view mark, const std::string& own, bool described, const std::string& whose) {
    std::string marked = std::string(mark) + (described ? "\n" + own : "");
    if (marked.size() > kDescriptionBytes)
        throw Error(Error::Kind::Client, 0, "the description of " + whose + " is too long to take the mark of the bulk load");
    return marked;
}

bool CarriesMark(std::string_view mark, const std::string& description, bool described) {
    return described && description.starts_with(mark) &&
           (description.size() == mark.size() || description[mark.size()] == '\n');
}

// The own description under `mark`, and whether there is one.
void Unmark(std::string_view mark, std::string& description, bool& described) {
    described = description.size() > mark.size();
    description = described ? description.substr(mark.size() + 1) : std::string();
}

// The database's description; one too long to be read carries no mark and takes none.
struct DatabaseDescription : Description {
    bool MarkedForcedWritesOff() const { return CarriesMark(kForcedWritesMark, bytes, described); }
};

DatabaseDescription ReadDescription(Switch& own) {
    db::Statement& sql = own.Sql();
    own.Run("select " + DescriptionColumns("RDB$DESCRIPTION") + " from RDB$DATABASE");
    DatabaseDescription description;
    if (!sql.AtEnd()) static_cast<Description&>(description) = DescriptionAt(sql, 0);
    sql.CloseCursor();
    return description;
}

void Describe(Switch& own, const std::string& bytes, bool described) {
    own.Run("COMMENT ON DATABASE IS " + DescriptionLiteral(bytes, described));
}

// Makes one index active with its own description, in a transaction of its own; a lock held
// by another attachment is waited for as long as `wait` says. Why it is not active, "" when
// it is.
std::string Activate(db::Side dst, const LoadIndex& index, const LockWait& wait) {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        try {
            Switch own(dst);
            own.Run("ALTER INDEX " + index.name + " ACTIVE");
            own.Run("COMMENT ON INDEX " + index.name + " IS " + DescriptionLiteral(index.description, index.described));
            own.Commit();
            return {};
        } catch (const Error& e) {
            const auto waited = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
            if (!LockWaitEnded(e) || !wait(index.table, waited)) return OneLine(e.what());
        } catch (const ConnectionLost& e) {
            return OneLine(e.what());
        }
    }
}

} // namespace

LockWait WaitToldTo(Context& ctx) {
    return [&ctx](const std::string& table, std::chrono::seconds waited) {
        if (waited >= std::chrono::seconds(3)) ctx.state.WaitingForLock(table, waited);
        return !ctx.Cancelled();
    };
}

std::vector<LoadIndex> IndexesLeftInactive(db::Side dst) {
    Switch own(dst);
    std::vector<LoadIndex> indexes = ReadIndexes(own.Sql(), kMarkedInactive);
    std::erase_if(indexes, [](const LoadIndex& i) { return !CarriesMark(kInactiveIndexMark, i.description, i.described); });
    for (LoadIndex& index : indexes) Unmark(kInactiveIndexMark, index.description, index.described);
    return indexes;
}

std::vector<IndexNotRestored> RestoreIndexes(db::Side dst, const std::vector<LoadIndex>& indexes, const LockWait& wait) {
    std::vector<IndexNotRestored> failed;
    for (const LoadIndex& index : indexes) {
        std::string reason = Activate(dst, index, wait);
        if (!reason.empty()) failed.push_back({index, std::move(reason)});
    }
    return failed;
}

void TellIndexesLeft(Context& ctx, const std::vector<IndexNotRestored>& failed) {
    for (const IndexNotRestored& f : failed) {
        ctx.state.SwitchLeft({f.index.name, f.index.table, f.reason});
        ctx.LogLine(Timestamp() + texts::kIndexNotRestored + f.index.name + " (" + f.index.table + "): " + f.reason);
    }
}

void RestoreIndexesLeftInactive(Context& ctx, db::Side dst) {
    const std::vector<LoadIndex> left = IndexesLeftInactive(dst);
    if (left.empty()) return;
    const std::vector<IndexNotRestored> failed = RestoreIndexes(dst, left, WaitToldTo(ctx));
    for (const LoadIndex& index : left)
        if (std::none_of(failed.begin(), failed.end(), [&](const IndexNotRestored& f) { return f.index.name == index.name; }))
            ctx.LogLine(Timestamp() + texts::kIndexRestored + index.name + " (" + index.table + ")");
    TellIndexesLeft(ctx, failed);
}

IndexesOffWhileLoading::IndexesOffWhileLoading(db::Side dst, const std::vector<std::string>& tables) : dst_(dst) {
    Switch own(dst);
    std::vector<LoadIndex> indexes;
    for (const std::string& table : tables)
        for (LoadIndex& index : ReadIndexes(own.Sql(), PlainActiveIndexesOf(table))) {
            own.Run("COMMENT ON INDEX " + index.name + " IS " +
                    DescriptionLiteral(Marked(kInactiveIndexMark, index.description, index.described, "index " + index.name), true));
            own.Run("ALTER INDEX " + index.name + " INACTIVE");
            indexes.push_back(std::move(index));
        }
    own.Commit();
    indexes_ = std::move(indexes);
}

std::vector<IndexNotRestored> IndexesOffWhileLoading::Restore(const LockWait& wait) {
    return RestoreIndexes(dst_, std::exchange(indexes_, {}), wait);
}

IndexesOffWhileLoading::~IndexesOffWhileLoading() {
    try {
        Restore([](const std::string&, std::chrono::seconds) { return false; });
    } catch (...) {
        // Left marked: the check names them, and the next run makes them active.
    }
}

bool ForcedWritesLeftOff(db::Side dst) {
    Switch own(dst);
    return ReadDescription(own).MarkedForcedWritesOff();
}

bool AttachedElsewhere(db::Side dst, const std::vector<long>& own) {
    Switch reading(dst);   // a transaction of its own: the monitoring tables as of now
    std::string query = "select count(*) from MON$ATTACHMENTS where MON$SYSTEM_FLAG = 0";
    for (long id : own) query += " and MON$ATTACHMENT_ID <> " + std::to_string(id);
    reading.Run(query);
    const bool elsewhere = reading.Sql().ColumnAt(0).GetInt64() > 0;
    reading.Sql().CloseCursor();
    return elsewhere;
}

bool MarkForcedWritesOff(db::Side dst) {
    if (!dst.connection.ForcedWrites()) return false;
    Switch own(dst);
    const DatabaseDescription description = ReadDescription(own);
    if (description.MarkedForcedWritesOff()) return false;
    if (!description.readable)
        throw Error(Error::Kind::Client, 0, "the description of the database is too long to take the mark of the bulk load");
    Describe(own, Marked(kForcedWritesMark, description.bytes, description.described, "the database"), true);
    own.Commit();
    return true;
}

void UnmarkForcedWritesOff(db::Side dst) {
    Switch own(dst);
    DatabaseDescription description = ReadDescription(own);
    if (!description.MarkedForcedWritesOff()) return;
    bool described = description.described;
    Unmark(kForcedWritesMark, description.bytes, described);
    Describe(own, description.bytes, described);
    own.Commit();
}

} // namespace kestrix::transfer
