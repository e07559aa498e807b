#include "transfer/TablePlan.h"

#include <algorithm>
#include <string_view>

#include "db/Error.h"
#include "db/Strings.h"
#include "run/IdMaps.h"
#include "transfer/TableList.h"

namespace kestrix::transfer {
namespace {

// The tables the run treats by their exact names are named in this file, with their
// statements and translations (the journal block's tables too); only the identifier tables'
// map numbers live with the maps (run/IdMaps.cpp).

// Count and row select of the tables that are not read by the generic statements.
// The journals take the start date as their one parameter.
struct SourceQueries {
    std::string_view table;
    std::string_view count;
    std::string_view select;
};

constexpr SourceQueries kSourceQueries[] = {
    {"INIDATA",
     "Select Count(ID_ID) from  INIDATA Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
     "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")",
     "Select * from INIDATA  Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
     "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")"},
    {"EVENTS", "Select Count(EV_ID) from  EVENTS Where EV_DATE >= :EV_D",
     "Select E.*,ED.ED_HARDTYPE from EVENTS E,EVDESC ED Where (E.EV_CODE = ED.ED_CODE) and "
     "((E.EV_ADDCODE = ED.ED_ADDCODE) or (E.EV_ADDCODE-256 = ED.ED_ADDCODE)) and (E.EV_DATE >= :EV_D)"},
    {"ALARM", "Select Count(AL_ID) from Alarm A Where AL_DATE >= :EV_D",
     "Select A.*,ED.ED_HARDTYPE from Alarm A, EVDESC ED Where (A.AL_CODE = ED.ED_CODE) and "
     "((A.AL_ADDCODE = ED.ED_ADDCODE) or (A.AL_ADDCODE-256 = ED.ED_ADDCODE)) and (A.AL_DATE >= :EV_D)"},
    {"ACR$EVENTS", "Select Count(AEV_ID) from ACR$EVENTS Where AEV_DATE >= :EV_D",
     "Select * from ACR$EVENTS Where AEV_DATE >= :EV_D"},
    {"ACR$ALARMS", "Select Count(AAL_ID) from ACR$ALARMS Where AAL_DATE >= :EV_D",
     "Select * from ACR$ALARMS Where AAL_DATE >= :EV_D"},
    {"STR_EVENTS", "Select Count(EV_ID) from  STR_EVENTS Where EV_DATE >= :EV_D",
     "Select E.* from STR_EVENTS E Where (E.EV_DATE >= :EV_D)"},
    {"STR_ALARMS", "Select Count(AL_ID) from STR_ALARMS A Where AL_DATE >= :EV_D",
     "Select A.* from STR_Alarms A Where (A.AL_DATE >= :EV_D)"},
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


bool ContainsName(const std::vector<std::string>& names, const std::string& name) {
    const std::string wanted = UpperCp1251(name);
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return UpperCp1251(n) == wanted; });
}

// Column i of the copy list; a list too short for the table's rule is an error, not a read
// past its end.
const std::string& CopyColumn(const std::vector<std::string>& columns, std::size_t i) {
    if (i >= columns.size())
        throw Error(Error::Kind::Client, 0, "List index out of bounds (" + std::to_string(i) + ")");
    return columns[i];
}

std::string Joined(const std::vector<std::string>& names, const std::string& before, const std::string& separator) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : separator) + before + name;
    return text;
}

// The parameter's column, "" for a position past the last.
std::string ColumnAt(const std::vector<std::string>& columns, int parameter) {
    return parameter >= 0 && parameter < static_cast<int>(columns.size()) ? columns[parameter] : std::string();
}

std::vector<Translation> PlanTranslations(const std::string& table, const std::vector<std::string>& sources) {
    std::vector<Translation> steps;
    for (const PositionRemap& r : kPositionRemaps) {
        if (r.table != table) continue;
        Translation t;
        t.rule = r.map == 0 ? Translation::Rule::Text : Translation::Rule::Map;
        t.parameter = r.parameter;
        t.column = ColumnAt(sources, r.parameter);
        t.map = r.map;
        steps.push_back(t);
    }
    for (const NamedRemap& r : kNamedRemaps) {
        if (r.table != table) continue;
        Translation t;
        t.rule = Translation::Rule::MapIfPresent;
        t.parameterName = t.column = std::string(r.parameter);
        t.map = r.map;
        steps.push_back(t);
    }
    for (const TypedRemap& r : kTypedRemaps) {
        if (r.table != table) continue;
        Translation t;
        t.rule = Translation::Rule::MapByType;
        t.parameter = r.parameter;
        t.column = ColumnAt(sources, r.parameter);
        t.valueColumn = std::string(r.valueColumn);
        t.typeColumn = std::string(r.typeColumn);
        t.mapByType = r.mapByType;
        steps.push_back(t);
    }
    return steps;
}

// An identifier table leaves its key column to the destination, which numbers anew.
void PlanInsert(CopyPlan& plan, const CopyRequest& request, const std::vector<std::string>& copy, bool addPort) {
    plan.kind = RowKind::Insert;
    plan.parameterSources.assign(copy.begin() + (plan.tableNo > 0 && !copy.empty() ? 1 : 0), copy.end());
    std::string columnPart = Joined(plan.parameterSources, "", ",");
    std::string valuePart = Joined(plan.parameterSources, ":", ",");
    if (addPort) {
        columnPart += columnPart.empty() ? "HS_PORT" : ",HS_PORT";
        valuePart += valuePart.empty() ? "1" : ",1";
    }
    plan.rowSql = "Insert into " + request.table + "( " + columnPart + " )" + " Values ( " + valuePart + " )";
    plan.translations = PlanTranslations(request.table, plan.parameterSources);
}

void PlanUpdate(CopyPlan& plan, const CopyRequest& request, const std::vector<std::string>& copy) {
    if (request.table == "OWNERPHOTOS") {
        plan.kind = RowKind::MovePhoto;
        const std::string& photo = CopyColumn(copy, 1);
        const std::string& owner = CopyColumn(copy, 0);
        plan.rowSql = "UPDATE " + request.table + " SET " + photo + " = :" + photo + " Where OW_ID = :" + owner;
        plan.parameterSources = {photo, owner};
        plan.sourceKey = owner;
        plan.destKey = "OW_ID";
        return;
    }
    const UpdatedTable& updated = *Find(kUpdatedTables, request.table);
    plan.kind = RowKind::UpdateDescription;
    for (int k = updated.firstColumn; k < updated.firstColumn + kUpdatedColumns; ++k)
        plan.parameterSources.push_back(CopyColumn(copy, static_cast<std::size_t>(k)));
    std::string columnPart;
    for (const std::string& name : plan.parameterSources) columnPart += (columnPart.empty() ? "" : ", ") + name + " = :" + name;
    const std::string& key = CopyColumn(copy, 0);
    plan.parameterSources.push_back(key);
    plan.rowSql = "UPDATE " + request.table + " SET " + columnPart + " Where " + std::string(updated.keyColumn) +
                  " = :" + key;
    plan.sourceKey = key;
    plan.destKey = std::string(updated.keyColumn);
}

} // namespace

const std::array<JournalTable, 6>& JournalTables() {
    static constexpr std::array<JournalTable, 6> kJournals{{
        {"EVENTS", "EV_ID", "EV_DATE"},
        {"ALARM", "AL_ID", "AL_DATE"},
        {"ACR$EVENTS", "AEV_ID", "AEV_DATE"},
        {"STR_EVENTS", "EV_ID", "EV_DATE"},
        {"STR_ALARMS", "AL_ID", "AL_DATE"},
        {"ACR$ALARMS", "AAL_ID", "AAL_DATE"},
    }};
    return kJournals;
}

const JournalTable* FindJournal(const std::string& table) {
    for (const JournalTable& journal : JournalTables())
        if (journal.table == table) return &journal;
    return nullptr;
}

bool IsJournalTable(const std::string& table) { return FindJournal(table) != nullptr; }

bool IsJournalOrDescriptionTable(const std::string& table) {
    return IsJournalTable(table) || Find(kUpdatedTables, table) != nullptr;
}

bool TreatedByName(const std::string& table) {
    return MapNumberOf(table) > 0 || Find(kPositionRemaps, table) || Find(kNamedRemaps, table) ||
           Find(kTypedRemaps, table) || Find(kUpdatedTables, table) || Find(kSourceQueries, table) ||
           table == kZonesTable || table == "OWNER" || table == "OWNERPHOTOS";
}

RowKind RowKindOf(const std::string& table) {
    if (table == "OWNERPHOTOS") return RowKind::MovePhoto;
    return Find(kUpdatedTables, table) ? RowKind::UpdateDescription : RowKind::Insert;
}

bool HoldsReaderList(const std::string& section, bool listNull) { return section == "USERS_RD_RIGHTS" && !listNull; }

bool CopyPlan::LeavesPhoto(const std::string& column) const { return clearPhoto && column == kOwnerPhotoColumn; }

bool PhotosLeftToPhotoTable(const CopyRequest& request) { return request.table == "OWNER" && request.destHasPhotos; }

bool OwnerPhotoCase(const CopyRequest& request) {
    return request.table == "OWNERPHOTOS" && request.destHasPhotos && !request.sourceHasPhotos;
}

CopyQueries PlanQueries(const CopyRequest& request) {
    CopyQueries queries;
    const std::string& table = request.table;
    const std::string& key = request.keyColumn;
    queries.destColumns = "select * from " + table + " Order BY " + key;
    if (const SourceQueries* fixed = Find(kSourceQueries, table)) {
        queries.count = std::string(fixed->count);
        queries.select = {std::string(fixed->select)};
        queries.startDate = FindJournal(table) != nullptr;
        if (queries.startDate) {
            // The journals' count reads "Select Count(KEY) from ...": the bounds read the same rows.
            const std::string counted = "Count(" + key + ")";
            queries.keyBounds = queries.count;
            const std::size_t at = queries.keyBounds.find(counted);
            if (at != std::string::npos) queries.keyBounds.replace(at, counted.size(), "Min(" + key + "), Max(" + key + ")");
        }
        if (request.part) {
            const std::string range = " and (" + key + " between " + std::to_string(request.part->first) + " and " +
                                      std::to_string(request.part->last) + ")";
            queries.count += range;
            queries.select[0] += range;
        }
        queries.selectInKeyOrder = {queries.select[0], " Order BY " + key};
        return queries;
    }
    if (OwnerPhotoCase(request)) {
        queries.count = "select Count(*) from OWNER";
        queries.select = {"select * from OWNER Order BY OW_ID"};
    } else {
        queries.count = "select Count(" + key + ") from " + table;
        queries.select = {"select * from " + table};
        if (!request.where.empty()) queries.select.push_back("Where " + request.where);
        queries.select.push_back(" Order BY " + key);
    }
    queries.selectInKeyOrder = queries.select;
    return queries;
}

bool IndexesBuiltAfterLoad(const std::string& table) { return FindJournal(table) != nullptr; }

db::DateTime StartOfDay(db::DateTime date) {
    date.hour = date.minute = date.second = date.millisecond = 0;
    return date;
}

int Translation::MapFor(int type) const {
    switch (rule) {
    case Rule::Text: return 0;
    case Rule::MapByType: return type >= 0 && type < static_cast<int>(mapByType.size()) ? mapByType[type] : 0;
    default: return map;
    }
}

int Translation::MapForRow(const std::function<int(const std::string&)>& sourceInteger) const {
    switch (rule) {
    case Rule::Text: return 0;
    case Rule::MapByType: return MapFor(sourceInteger(typeColumn));
    default: return map;
    }
}

int Translation::OldKey(const std::function<int()>& parameterInteger,
                        const std::function<int(const std::string&)>& sourceInteger) const {
    return valueColumn.empty() ? parameterInteger() : sourceInteger(valueColumn);
}

std::vector<std::string> CopyPlan::WrittenColumns() const {
    if (kind == RowKind::Insert || parameterSources.empty()) return parameterSources;
    return {parameterSources.begin(), parameterSources.end() - 1};
}

CopiedTable PlanMacros() {
    CopiedTable macros;
    macros.request = {"MACROSES", "MCR_ID", "", false, false};
    const std::string select = "Select MCR_NAME,MCR_FILL,MCR_ID from MACROSES ";
    macros.queries.select = {select};
    macros.queries.selectInKeyOrder = {select + "Order BY MCR_ID"};
    CopyPlan& plan = macros.plan;
    plan.rowSql = "insert into MACROSES (MCR_NAME,MCR_FILL) values (:E,:F) RETURNING MCR_ID";
    plan.parameterSources = {"MCR_NAME", "MCR_FILL"};
    plan.tableNo = kMacroses;
    plan.returnedKey = plan.sourceKey = plan.destKey = plan.oldKeyColumn = "MCR_ID";
    plan.macroTexts = true;
    plan.textColumns = {"MCR_NAME"};   // a macro without a name gets the empty one
    return macros;
}

std::string AsWrittenText(const db::SqlValue& column) { return column.GetString(); }

std::string StoredText(std::string text, const db::SqlValue& column) {
    if (!column.IsText()) return text;
    const bool fixed = column.IsFixedText();
    const auto length = static_cast<std::size_t>(column.SqlLength());
    while (text.size() > length && text.back() == ' ') text.pop_back();
    if (fixed && text.size() < length) text.append(length - text.size(), ' ');
    return text;
}

std::vector<int> ReferencedMaps(const std::string& table) {
    std::vector<int> maps;
    auto add = [&](int map) {
        if (map > 0 && std::find(maps.begin(), maps.end(), map) == maps.end()) maps.push_back(map);
    };
    for (const Translation& t : PlanTranslations(table, {}))
        for (int type = 0; type < static_cast<int>(t.mapByType.size()); ++type) add(t.MapFor(type));
    // The texts renumbered by the text converter: reader lists and macro lines.
    if (table == "INIDATA") add(kReaders);
    if (table == "MACROSES")
        for (int map : {kReaders, kOutputs, kInputs}) add(map);
    return maps;
}

bool ContainsColumn(const std::vector<std::string>& names, const std::string& name) { return ContainsName(names, name); }

CopyPlan PlanRows(const CopyRequest& request, const std::vector<std::string>& destColumns,
                  const std::vector<std::string>& sourceColumns) {
    const std::string& table = request.table;
    CopyPlan plan;
    plan.tableNo = MapNumberOf(table);

    // The columns to copy: those of the source row that the destination also has.
    std::vector<std::string> copy =
        OwnerPhotoCase(request) ? std::vector<std::string>{"OW_ID", kOwnerPhotoColumn} : sourceColumns;
    const bool hosts = table == "HOSTS";
    const bool addPort = hosts && !ContainsName(copy, "HS_PORT") && ContainsName(destColumns, "HS_PORT");
    std::erase_if(copy, [&](const std::string& name) { return !ContainsName(destColumns, name); });

    if (RowKindOf(table) != RowKind::Insert) {
        PlanUpdate(plan, request, copy);
        return plan;
    }
    PlanInsert(plan, request, copy, addPort);
    plan.portSetToOne = addPort;
    plan.sourceKey = plan.destKey = request.keyColumn;
    if (plan.tableNo > 0) {
        plan.oldKeyColumn = plan.sourceKey = copy.empty() ? std::string() : copy[0];
        plan.returnedKey = request.keyColumn;
    }
    plan.readerRights = table == "INIDATA";
    plan.clearPhoto = PhotosLeftToPhotoTable(request) && ContainsName(plan.parameterSources, kOwnerPhotoColumn);
    // A source without the archive flag has no archived owners.
    if (table == "OWNER" && ContainsName(sourceColumns, "OW_ARCHIVE")) {
        plan.archiveSql = "UPdate OWNER SET OW_ARCHIVE = 1 WHERE OW_ID = :OW_ID";
        plan.returnedKey = "OW_ID";
    }
    // The key comes back from the insert itself: with key-assigning triggers it is the
    // trigger's, and a kept destination row with a higher key cannot capture it.
    if (!plan.returnedKey.empty()) plan.rowSql += " RETURNING " + plan.returnedKey;
    return plan;
}

} // namespace kestrix::transfer
