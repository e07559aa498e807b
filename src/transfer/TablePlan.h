#pragma once
// The plan of one table copy, built from the table's name, key and condition and from the
// column lists of the two databases, without touching either: which statements run, which
// columns are written, where each insert parameter comes from and how it is translated,
// and which special steps a row takes.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/Statement.h"
#include "transfer/WrittenDigest.h"

namespace kestrix::transfer {

// A part of a journal's rows: those whose key lies from `first` to `last`.
struct KeyRange {
    long long first = 0, last = 0;
};

// A table-list line's copy and the owner-photo answers of the run.
struct CopyRequest {
    std::string table;
    std::string keyColumn;
    std::string where;
    bool destHasPhotos = false;
    bool sourceHasPhotos = false;
    int blockRows = 1;   // rows per insert block; 1: each row alone
    std::optional<KeyRange> part;   // a journal copied in parts: this part's keys; none: all rows
};

// The photos move from the source's OWNER rows into the destination's photo table.
bool OwnerPhotoCase(const CopyRequest& request);
// The owners' photos are left to the destination's photo table: OWNER's copy writes none.
bool PhotosLeftToPhotoTable(const CopyRequest& request);

// The statements that run before any row is written.
struct CopyQueries {
    std::string destColumns;           // its result columns name the destination's columns
    std::string count;                 // source rows, for the table progress
    std::vector<std::string> select;   // source rows, added line by line
    std::vector<std::string> selectInKeyOrder;   // the same rows ordered by the line's key
    bool startDate = false;            // count and select take the start of day as parameter 0
    std::string keyBounds;             // journals: the lowest and highest key of the rows counted
};

CopyQueries PlanQueries(const CopyRequest& request);
// Whether the table's plain indexes are made inactive for its load and built after it: where
// the load is large enough for that to pay (the journals).
bool IndexesBuiltAfterLoad(const std::string& table);
// The start date's parameter: the start of that day.
db::DateTime StartOfDay(db::DateTime date);

// How a row reaches the destination.
enum class RowKind {
    Insert,              // a new row; an identifier table's key is left to the destination
    MovePhoto,           // OWNERPHOTOS: the photo of an existing owner row is set
    UpdateDescription,   // EVDESC, ACR$EVDESC: five columns of an existing row, by position
};

// A translation of an insert parameter through the identifier maps, done after the values
// are copied. A position past the last parameter fails the row, as a missing column would.
struct Translation {
    enum class Rule {
        Text,          // read as text and written back as text
        Map,           // through `map`
        MapIfPresent,  // by name, only when not NULL, any failure ignored
        MapByType,     // through the map that the source column `typeColumn` selects
    };
    Rule rule = Rule::Map;
    int parameter = -1;            // by position (all rules but MapIfPresent)
    std::string parameterName;     // by name (MapIfPresent)
    std::string column;            // the column the parameter writes ("" past the last)
    int map = 0;
    std::string valueColumn;       // MapByType: source column of the value, "" for the parameter's own
    std::string typeColumn;        // MapByType
    std::array<int, 9> mapByType{};   // MapByType: map per type value, 0 leaves the parameter

    // The map a value goes through (type: the type column's value, for MapByType); 0 for none.
    int MapFor(int type) const;
    // The rule of a row, the same for the copy that writes it and the read-back that expects
    // it: the map of the current row's value, 0 when it stays as copied (sourceInteger reads
    // a column of the source row) ...
    int MapForRow(const std::function<int(const std::string&)>& sourceInteger) const;
    // ... and the old key that map translates: the parameter's own value or the value column's.
    int OldKey(const std::function<int()>& parameterInteger,
               const std::function<int(const std::string&)>& sourceInteger) const;
};

struct CopyPlan {
    RowKind kind = RowKind::Insert;
    std::string rowSql;                          // the same text for every row
    std::vector<std::string> parameterSources;   // source column of each parameter, in order
    std::vector<Translation> translations;       // inserts only, in this order
    int tableNo = 0;                             // > 0: identifier table, keys renumbered
    std::string oldKeyColumn;                    // identifier table: its key among the copied columns
    std::string returnedKey;                     // the key the insert returns ("" for none):
                                                 // identifier tables, and OWNER for its archive mark
    bool readerRights = false;                   // INIDATA: reader lists of USERS_RD_RIGHTS renumbered
    bool clearPhoto = false;                     // OWNER: OW_PHOTO left to the photo table
    std::string archiveSql;                      // OWNER: marks the owner just inserted archived,
                                                 // by the key its insert returned (parameter 0)
    bool portSetToOne = false;                   // HOSTS: HS_PORT, absent in the source, gets 1
    bool macroTexts = false;                     // MACROSES: texts renumbered as macro lines
    std::vector<std::string> textColumns;        // source columns written as their text (AsWrittenText)
    std::string sourceKey;                       // the source column that identifies a row ...
    std::string destKey;                         // ... and the destination column it becomes

    // The destination columns that receive a source value, in parameter order (an update's
    // key parameter is no such column).
    std::vector<std::string> WrittenColumns() const;
    // Whether a written column gets NULL in place of its value: the owner's photo left to the
    // photo table.
    bool LeavesPhoto(const std::string& column) const;
};

// The owner's photo column of OWNER, in the source and the destination.
inline constexpr const char* kOwnerPhotoColumn = "OW_PHOTO";
// INIDATA: the section and list columns of a row, and whether the row holds a reader list,
// which is written with its readers renumbered.
inline constexpr const char* kSectionColumn = "ID_SECTION";
inline constexpr const char* kReaderListColumn = "ID_BLOB";
bool HoldsReaderList(const std::string& section, bool listNull);

// Whether the run treats a table by its exact name (new keys, translated references, a select
// or an update of its own); written any other way it is an ordinary table.
bool TreatedByName(const std::string& table);
// How the copy of a table writes its rows.
RowKind RowKindOf(const std::string& table);

// A copy that ran to its end: what it was asked, how it went about it, and the source keys
// of the rows it refused.
struct CopiedTable {
    CopyRequest request;
    CopyQueries queries;
    CopyPlan plan;
    std::vector<std::string> refusedKeys;
    std::size_t accountRow = static_cast<std::size_t>(-1);   // the run account's row of the copy
    WrittenDigest digest;   // what the rows written hold, for the read-back
};

// A value written as its text: NULL as the empty text, a CHAR without its trailing blanks.
std::string AsWrittenText(const db::SqlValue& column);
// The bytes a text written into `column` is stored as: a CHAR padded with blanks to its
// length, blanks beyond a column's length dropped (the server refuses anything else).
std::string StoredText(std::string text, const db::SqlValue& column);

// The macro transfer: every macro read at once, inserted with new keys and renumbered texts.
CopiedTable PlanMacros();

// The identifier maps a table's rows (the macros: their texts) are translated through.
std::vector<int> ReferencedMaps(const std::string& table);

// Column names as the copy compares them: upper-cased in Windows-1251.
bool ContainsColumn(const std::vector<std::string>& names, const std::string& name);

// destColumns: the destination table's columns; sourceColumns: the row select's result
// columns, in order. An update whose positions lie past the copied columns raises.
CopyPlan PlanRows(const CopyRequest& request, const std::vector<std::string>& destColumns,
                  const std::vector<std::string>& sourceColumns);

} // namespace kestrix::transfer
