#include "transfer/Perepis.h"

#include <algorithm>
#include <array>
#include <exception>
#include <optional>
#include <string_view>
#include <vector>

#include "run/RunLog.h"
#include "run/Texts.h"
#include "db/Error.h"
#include "db/Work.h"
#include "run/IdMaps.h"
#include "transfer/Peregonner.h"

namespace kestrix::transfer {
namespace {

using db::Statement;
using db::SqlValue;

// Count and row select of the tables that are not read by the generic statements.
// The journals take the start date as their one parameter.
struct SourceQueries {
    std::string_view table;
    std::string_view count;
    std::string_view select;
    bool startDate;
};

constexpr SourceQueries kSourceQueries[] = {
    {"INIDATA",
     "Select Count(ID_ID) from  INIDATA Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
     "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")",
     "Select * from INIDATA  Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
     "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")",
     false},
    {"EVENTS", "Select Count(EV_ID) from  EVENTS Where EV_DATE >= :EV_D",
     "Select E.*,ED.ED_HARDTYPE from EVENTS E,EVDESC ED Where (E.EV_CODE = ED.ED_CODE) and "
     "((E.EV_ADDCODE = ED.ED_ADDCODE) or (E.EV_ADDCODE-256 = ED.ED_ADDCODE)) and (E.EV_DATE >= :EV_D)",
     true},
    {"ALARM", "Select Count(AL_ID) from Alarm A Where AL_DATE >= :EV_D",
     "Select A.*,ED.ED_HARDTYPE from Alarm A, EVDESC ED Where (A.AL_CODE = ED.ED_CODE) and "
     "((A.AL_ADDCODE = ED.ED_ADDCODE) or (A.AL_ADDCODE-256 = ED.ED_ADDCODE)) and (A.AL_DATE >= :EV_D)",
     true},
    {"ACR$EVENTS", "Select Count(AEV_ID) from ACR$EVENTS Where AEV_DATE >= :EV_D",
     "Select * from ACR$EVENTS Where AEV_DATE >= :EV_D", true},
    {"ACR$ALARMS", "Select Count(AAL_ID) from ACR$ALARMS Where AAL_DATE >= :EV_D",
     "Select * from ACR$ALARMS Where AAL_DATE >= :EV_D", true},
    {"STR_EVENTS", "Select Count(EV_ID) from  STR_EVENTS Where EV_DATE >= :EV_D",
     "Select E.* from STR_EVENTS E Where (E.EV_DATE >= :EV_D)", true},
    {"STR_ALARMS", "Select Count(AL_ID) from STR_ALARMS A Where AL_DATE >= :EV_D",
     "Select A.* from STR_Alarms A Where (A.AL_DATE >= :EV_D)", true},
};

// Description tables that are updated in place: five columns taken by position.
struct UpdatedTable {
    std::string_view table;
    std::string_view keyColumn;
    int firstColumn;
};

constexpr UpdatedTable kUpdatedTables[] = {
    {"EVDESC", "ED_ID", 15},
    {"ACR$EVDESC", "AED_ID", 6},
};
constexpr int kUpdatedColumns = 5;

// Insert parameter read, translated through a map and written back. Map 0: the value is
// only read and written back as text.
struct PositionRemap {
    std::string_view table;
    int parameter;
    int map;
};

constexpr PositionRemap kPositionRemaps[] = {
    {"HOSTS", 0, 0},
    {"CONTROLLERS", 0, kHosts},
    {"PCN", 0, kControllers},
    {"CINPUTS", 0, kControllers},
    {"SLAVES", 0, kControllers},
    {"OUTPUTS", 0, kSlaves},
    {"INPUTS", 0, kSlaves},
    {"READERS", 0, kSlaves},
    {"AGRIGHTS", 2, kReaders},
    {"AGSCH", 2, kReaders},
    {"CARDSDEF", 1, kControllers},
    {"DAYSCH", 1, kControllers},
    {"TIMERS", 1, kControllers},
    {"MAKROS_RIGHT", 0, kMacroses},
    {"PRGDEF", 2, kControllers},
    {"ROBOTS$ACTIONS", 1, kHosts},
};

// Optional device columns: translated only when not NULL, each failure ignored.
struct NamedRemap {
    std::string_view table;
    std::string_view parameter;
    int map;
};

constexpr NamedRemap kNamedRemaps[] = {
    {"READERS", "RD_IN_1", kInputs},         {"READERS", "RD_IN_2", kInputs},
    {"READERS", "RD_IN_3", kInputs},         {"READERS", "RD_IN_4", kInputs},
    {"READERS", "RD_OUT_IND0", kOutputs},    {"READERS", "RD_OUT_IND1", kOutputs},
    {"READERS", "RD_OUT_IND2", kOutputs},    {"READERS", "RD_OUT_IND3", kOutputs},
    {"READERS", "RD_OUT_OPEN", kOutputs},    {"READERS", "RD_OUT_CLOSE", kOutputs},
};

// A device reference whose table is named by a type column of the source row. The value
// comes from the source column valueColumn, or from the parameter itself when that is empty.
// A type outside the list, or mapped to 0, leaves the parameter as copied.
struct TypedRemap {
    std::string_view table;
    int parameter;
    std::string_view valueColumn;
    std::string_view typeColumn;
    std::array<int, 9> mapByType;
};

constexpr std::array<int, 9> kMapByHardType = {0,     kHosts,   kControllers, kSlaves, kReaders,
                                               kCinputs, kPcn, kInputs,      kOutputs};

constexpr TypedRemap kTypedRemaps[] = {
    {"PRGDEF", 5, "PD_DEV_ID", "PD_TYPE", {0, 0, 0, 0, kReaders, kCinputs, kPcn, kInputs, kOutputs}},
    {"EVENTS", 4, "", "ED_HARDTYPE", kMapByHardType},
    {"ALARM", 4, "", "ED_HARDTYPE", kMapByHardType},
};

template <class T, std::size_t N>
const T* Find(const T (&table)[N], const std::string& name) {
    for (const T& entry : table)
        if (entry.table == name) return &entry;
    return nullptr;
}

// Letter case folded for ASCII and the Windows-1251 Cyrillic letters.
std::string Upper(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 'a' && b <= 'z') b -= 32;
        else if (b >= 0xE0) b -= 32;
        else if (b == 0xB8) b = 0xA8;
        c = static_cast<char>(b);
    }
    return result;
}

bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
    const std::string wanted = Upper(name);
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return Upper(n) == wanted; });
}

// Column i of the copy list; a list too short for the table's rule is an error, not a read
// past its end.
const std::string& CopyColumn(const std::vector<std::string>& columns, std::size_t i) {
    if (i >= columns.size())
        throw Error(Error::Kind::Client, 0, "List index out of bounds (" + std::to_string(i) + ")");
    return columns[i];
}

db::DateTime StartOfDay(db::DateTime date) {
    date.hour = date.minute = date.second = date.millisecond = 0;
    return date;
}

std::string SourceKeyText(Statement& src, const std::string& keyColumn) {
    try {
        return src.ColumnByName(keyColumn).GetString();
    } catch (const std::exception&) {
        return {};
    }
}

void LogError(const Context& ctx, const std::string& text, const std::string& table, const std::string& key,
              const std::string& keyValue, const std::exception& error) {
    RunLog::Append(ctx.LogPath(), text + table + " " + key + " =  " + keyValue + " :  " + error.what());
}

void TranslateReferences(const IdMaps& maps, Statement& src, Statement& dst, const std::string& table) {
    for (const PositionRemap& r : kPositionRemaps) {
        if (r.table != table) continue;
        SqlValue& p = dst.ParameterAt(r.parameter);
        if (r.map == 0) p.SetString(p.GetString());
        else p.SetInteger(maps.RemapId(r.map, p.GetInteger()));
    }
    for (const NamedRemap& r : kNamedRemaps) {
        if (r.table != table) continue;
        try {
            SqlValue& p = dst.ParameterByName(std::string(r.parameter));
            if (!p.IsNull()) p.SetInteger(maps.RemapId(r.map, p.GetInteger()));
        } catch (const std::exception&) {
        }
    }
    for (const TypedRemap& r : kTypedRemaps) {
        if (r.table != table) continue;
        const int type = src.ColumnByName(std::string(r.typeColumn)).GetInteger();
        if (type < 0 || type >= static_cast<int>(r.mapByType.size()) || r.mapByType[type] == 0) continue;
        SqlValue& p = dst.ParameterAt(r.parameter);
        const int old = r.valueColumn.empty() ? p.GetInteger()
                                              : src.ColumnByName(std::string(r.valueColumn)).GetInteger();
        p.SetInteger(maps.RemapId(r.mapByType[type], old));
    }
}

// The reader list of a "USERS_RD_RIGHTS" row, with its readers renumbered.
void RewriteReaderRights(const IdMaps& maps, Statement& src, Statement& dst) {
    if (src.ColumnByName("ID_SECTION").GetString() != "USERS_RD_RIGHTS") return;
    const SqlValue& blob = src.ColumnByName("ID_BLOB");
    if (blob.IsNull()) return;   // no list to rewrite; the copied NULL stays
    std::string content;
    blob.ReadBlobTo(content);
    Tperegonner text(maps);
    text.Lines = SplitTextLines(content);
    text.RemapReaderLines();
    dst.ParameterByName("ID_BLOB").WriteBlobFrom(JoinTextLines(text.Lines));
}

} // namespace

void Perepis(Context& ctx, db::Side Src, db::Side Dst, const std::string& TableName, const std::string& KeyColumn,
             const std::string& Where) {
    RunState& state = ctx.state;
    IdMaps& maps = ctx.maps;

    Src.Bind();
    Dst.Bind();
    db::Statement& SrcSQL = Src.SQL;
    db::Statement& DstSQL = Dst.SQL;

    const int tableNo = TableNo(TableName);

    // Destination columns, from the description of a select; the rows are not read.
    std::vector<std::string> destColumns;
    {
        db::WorkUnit work(DstSQL);
        DstSQL.ClearSql();
        DstSQL.AddSqlLine("select * from " + TableName + " Order BY " + KeyColumn);
        DstSQL.Prepare();
        DstSQL.Execute();
        for (int i = 0; i < DstSQL.ColumnCount(); ++i) destColumns.push_back(DstSQL.ColumnAt(i).Name());
    }

    if (state.CancelFlag) return;

    // Photos move from the source's OWNER table into the destination's photo table.
    const bool ownerPhotoCase = TableName == "OWNERPHOTOS" && state.DestHasPhotos && !state.SourceHasPhotos;
    const SourceQueries* queries = Find(kSourceQueries, TableName);
    const bool journal = queries && queries->startDate;

    db::WorkUnit srcWork(SrcSQL);

    SrcSQL.ClearSql();
    if (queries) SrcSQL.AddSqlLine(std::string(queries->count));
    else if (ownerPhotoCase) SrcSQL.AddSqlLine("select Count(*) from OWNER");
    else SrcSQL.AddSqlLine("select Count(" + KeyColumn + ") from " + TableName);
    SrcSQL.Prepare();
    if (journal) SrcSQL.ParameterAt(0).SetDateTime(StartOfDay(state.StartDate));
    SrcSQL.Execute();
    state.SetTableMax(SrcSQL.ColumnAt(0).GetInteger());
    SrcSQL.CloseCursor();

    SrcSQL.ClearSql();
    if (queries) {
        SrcSQL.AddSqlLine(std::string(queries->select));
    } else if (ownerPhotoCase) {
        SrcSQL.AddSqlLine("select * from OWNER Order BY OW_ID");
    } else {
        SrcSQL.AddSqlLine("select * from " + TableName);
        if (!Where.empty()) SrcSQL.AddSqlLine("Where " + Where);
        SrcSQL.AddSqlLine(" Order BY " + KeyColumn);
    }
    SrcSQL.Prepare();
    if (journal) SrcSQL.ParameterAt(0).SetDateTime(StartOfDay(state.StartDate));
    SrcSQL.Execute();

    // The columns to copy: those of the source row that the destination also has.
    std::vector<std::string> sourceColumns;
    for (int i = 0; i < SrcSQL.ColumnCount(); ++i) sourceColumns.push_back(SrcSQL.ColumnAt(i).Name());
    std::vector<std::string> copy = ownerPhotoCase ? std::vector<std::string>{"OW_ID", "OW_PHOTO"} : sourceColumns;
    const bool hosts = TableName == "HOSTS";
    const bool srcHasPort = hosts && ContainsName(copy, "HS_PORT");
    const bool dstHasPort = hosts && ContainsName(destColumns, "HS_PORT");
    std::erase_if(copy, [&](const std::string& name) { return !ContainsName(destColumns, name); });

    // The row statement, the same text for every row, and the source column of each of
    // its parameters in parameter order.
    std::string rowSql;
    std::vector<std::string> paramSources;
    bool insert = false;   // else an update in place, whose single copies are not guarded
    const UpdatedTable* updated = Find(kUpdatedTables, TableName);
    if (TableName == "OWNERPHOTOS") {
        const std::string& photo = CopyColumn(copy, 1);
        const std::string& owner = CopyColumn(copy, 0);
        rowSql = "UPDATE " + TableName + " SET " + photo + " = :" + photo + " Where OW_ID = :" + owner;
        paramSources = {photo, owner};
    } else if (updated) {
        std::string columnPart;
        for (int k = updated->firstColumn; k < updated->firstColumn + kUpdatedColumns; ++k) {
            const std::string& name = CopyColumn(copy, static_cast<std::size_t>(k));
            if (!columnPart.empty()) columnPart += ", ";
            columnPart += name + " = :" + name;
            paramSources.push_back(name);
        }
        const std::string& key = CopyColumn(copy, 0);
        paramSources.push_back(key);
        rowSql = "UPDATE " + TableName + " SET " + columnPart + " Where " + std::string(updated->keyColumn) +
                 " = :" + key;
    } else {
        // An identifier table leaves its key column to the destination, which numbers anew.
        std::string columnPart, valuePart;
        for (std::size_t i = tableNo > 0 ? 1 : 0; i < copy.size(); ++i) {
            columnPart += "," + copy[i];
            valuePart += ",:" + copy[i];
            paramSources.push_back(copy[i]);
        }
        if (hosts && !srcHasPort && dstHasPort) {
            columnPart += ",HS_PORT";
            valuePart += ",1";
        }
        if (!columnPart.empty()) columnPart.erase(0, 1);
        if (!valuePart.empty()) valuePart.erase(0, 1);
        rowSql = "Insert into " + TableName + "( " + columnPart + " )" + " Values ( " + valuePart + " )";
        insert = true;
    }
    const bool clearPhoto = insert && TableName == "OWNER" && state.DestHasPhotos &&
                            ContainsName(paramSources, "OW_PHOTO");
    // A source without the archive flag has no archived owners.
    const bool archive = TableName == "OWNER" && ContainsName(sourceColumns, "OW_ARCHIVE");

    if (state.CancelFlag) return;

    const std::string rowText = rowSql + "\r\n";
    // The source column of each parameter, found once: the row select stays prepared through
    // the loop. A column not found is looked up again per row, so that it fails as before.
    std::vector<const SqlValue*> paramColumns;
    for (const std::string& name : paramSources) {
        try {
            paramColumns.push_back(&SrcSQL.ColumnByName(name));
        } catch (const std::exception&) {
            paramColumns.push_back(nullptr);
        }
    }
    auto sourceOf = [&](std::size_t j) -> const SqlValue& {
        return paramColumns[j] ? *paramColumns[j] : SrcSQL.ColumnByName(paramSources[j]);
    };
    db::WorkUnit dstWork(DstSQL);
    if (SrcSQL.RowsFetched() < 1) return;

    state.SetTablePosition(0);
    while (!state.CancelFlag) {
        state.StepTable();
        state.PumpMessages();

        const std::size_t oldIdsBefore = tableNo > 0 ? maps.OldIds(tableNo).size() : 0;
        bool written = false;
        try {
            // A row statement still prepared from the row before is used again: on journals
            // of millions of rows, preparing once per row would dominate the copy.
            const bool reused = DstSQL.Prepared() && DstSQL.SqlLineCount() == 1 && DstSQL.SqlText() == rowText;
            if (!reused) {
                DstSQL.ClearSql();
                DstSQL.AddSqlLine(rowSql);
            }
            DstSQL.Prepare();
            for (std::size_t j = 0; j < paramSources.size(); ++j) {
                if (insert) {
                    SqlValue& parameter = DstSQL.ParameterAt(static_cast<int>(j));
                    try {
                        parameter.CopyValueFrom(sourceOf(j));
                    } catch (const std::exception&) {
                        // As a freshly prepared parameter would be: no value from an earlier row.
                        if (reused) parameter.SetNull();
                    }
                } else {
                    DstSQL.ParameterAt(static_cast<int>(j)).CopyValueFrom(sourceOf(j));
                }
            }
            if (insert) {
                if (TableName == "INIDATA") RewriteReaderRights(maps, SrcSQL, DstSQL);
                if (tableNo > 0) maps.AppendOld(tableNo, SrcSQL.ColumnByName(CopyColumn(copy, 0)).GetString());
                if (clearPhoto) DstSQL.ParameterByName("OW_PHOTO").SetNull();
                TranslateReferences(maps, SrcSQL, DstSQL, TableName);
            }
            DstSQL.Execute();
            written = true;
        } catch (const std::exception& e) {
            LogError(ctx, texts::kInsertError, TableName, KeyColumn, SourceKeyText(SrcSQL, KeyColumn), e);
        }
        state.RowDone(written);

        if (tableNo > 0) {
            const std::vector<std::string>& oldIds = maps.OldIds(tableNo);
            if (written) {
                try {
                    DstSQL.ClearSql();
                    DstSQL.AddSqlLine("Select MAX(" + KeyColumn + ") from " + TableName);
                    DstSQL.Prepare();
                    DstSQL.Execute();
                    maps.AppendNew(tableNo, DstSQL.ColumnAt(0).GetString());
                } catch (const std::exception& e) {
                    maps.AppendNew(tableNo, "-1");
                    LogError(ctx, texts::kMaxIdError, TableName, KeyColumn, SourceKeyText(SrcSQL, KeyColumn), e);
                }
                DstSQL.CloseCursor();
            } else {
                // The row has no new key; its old key, if it could be read, maps to -1 so
                // that the two lists stay paired.
                if (oldIds.size() == oldIdsBefore) {
                    try {
                        maps.AppendOld(tableNo, SrcSQL.ColumnByName(CopyColumn(copy, 0)).GetString());
                    } catch (const std::exception&) {
                    }
                }
                if (oldIds.size() > oldIdsBefore) maps.AppendNew(tableNo, "-1");
            }
        }

        // Only the owner just inserted is the newest row; after a failed insert it would be
        // another owner's.
        if (archive && written) {
            try {
                if (SrcSQL.ColumnByName("OW_ARCHIVE").GetInteger() == 1) {
                    DstSQL.ClearSql();
                    DstSQL.AddSqlLine("UPdate OWNER SET OW_ARCHIVE = 1 WHERE OW_ID = (Select MAX(OW_ID) from OWNER)");
                    DstSQL.Prepare();
                    DstSQL.Execute();
                }
            } catch (const std::exception& e) {
                LogError(ctx, texts::kArchiveError, TableName, KeyColumn, SourceKeyText(SrcSQL, KeyColumn), e);
            }
        }

        SrcSQL.FetchNext();
        if (state.CancelFlag) return;
        if (SrcSQL.AtEnd()) return;
    }
}

} // namespace kestrix::transfer
