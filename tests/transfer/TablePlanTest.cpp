// The table copy's plan, without a database: statements, copied columns, parameter sources,
// translations and special steps, by table.
#include "transfer/TablePlan.h"

#include <gtest/gtest.h>

#include "db/Error.h"
#include "run/IdMaps.h"

namespace kestrix::transfer {
namespace {

using Names = std::vector<std::string>;

std::string Describe(const Translation& t) {
    using Rule = Translation::Rule;
    switch (t.rule) {
    case Rule::Text: return "text #" + std::to_string(t.parameter) + " " + t.column;
    case Rule::Map: return "#" + std::to_string(t.parameter) + " " + t.column + " by " + std::to_string(t.map);
    case Rule::MapIfPresent: return t.parameterName + " if present by " + std::to_string(t.map);
    case Rule::MapByType: {
        std::string maps;
        for (int m : t.mapByType) maps += std::to_string(m);
        return "#" + std::to_string(t.parameter) + " " + t.column + " from '" + t.valueColumn + "' by " +
               t.typeColumn + " " + maps;
    }
    }
    return {};
}

Names Describe(const std::vector<Translation>& translations) {
    Names lines;
    for (const Translation& t : translations) lines.push_back(Describe(t));
    return lines;
}

// The special steps of a plan, in words.
std::string Steps(const CopyPlan& plan) {
    std::string steps;
    if (plan.tableNo > 0) steps += "keys " + std::to_string(plan.tableNo) + " old " + plan.oldKeyColumn + " returns " + plan.returnedKey + ";";
    if (plan.readerRights) steps += "reader rights;";
    if (plan.clearPhoto) steps += "clear photo;";
    if (!plan.archiveSql.empty()) steps += "archive '" + plan.archiveSql + "' returns " + plan.returnedKey + ";";
    return steps;
}

struct RowCase {
    const char* what;
    CopyRequest request;
    Names dest, source;
    RowKind kind;
    std::string rowSql;
    Names parameterSources;
    Names translations;
    std::string steps;
};

TEST(TablePlan, RowsByTable) {
    const std::string archive = "UPdate OWNER SET OW_ARCHIVE = 1 WHERE OW_ID = :OW_ID";
    const RowCase cases[] = {
        {"an older host without a port gets port 1; its key is left to the destination",
         {"HOSTS", "HS_ID"}, {"HS_ID", "HS_NAME", "HS_PORT"}, {"HS_ID", "HS_NAME"},
         RowKind::Insert, "Insert into HOSTS( HS_NAME,HS_PORT ) Values ( :HS_NAME,1 ) RETURNING HS_ID", {"HS_NAME"},
         {"text #0 HS_NAME"}, "keys 1 old HS_ID returns HS_ID;"},
        {"a host with its own port keeps it",
         {"HOSTS", "HS_ID"}, {"HS_ID", "HS_NAME", "HS_PORT"}, {"HS_ID", "HS_PORT", "HS_NAME"},
         RowKind::Insert, "Insert into HOSTS( HS_PORT,HS_NAME ) Values ( :HS_PORT,:HS_NAME ) RETURNING HS_ID", {"HS_PORT", "HS_NAME"},
         {"text #0 HS_PORT"}, "keys 1 old HS_ID returns HS_ID;"},
        {"a column the destination lacks is dropped; names match in any letter case, in source order",
         {"CONTROLLERS", "CT_ID"}, {"ct_name", "ct_id", "ct_host", "CT_NEW"}, {"CT_ID", "CT_HOST", "CT_OLD", "CT_NAME"},
         RowKind::Insert, "Insert into CONTROLLERS( CT_HOST,CT_NAME ) Values ( :CT_HOST,:CT_NAME ) RETURNING CT_ID",
         {"CT_HOST", "CT_NAME"}, {"#0 CT_HOST by 1"}, "keys 2 old CT_ID returns CT_ID;"},
        {"a translated position past the last parameter names no column",
         {"CONTROLLERS", "CT_ID"}, {"CT_ID"}, {"CT_ID"},
         RowKind::Insert, "Insert into CONTROLLERS(  ) Values (  ) RETURNING CT_ID", {}, {"#0  by 1"},
         "keys 2 old CT_ID returns CT_ID;"},
        {"readers: the slave by position, the device columns by name",
         {"READERS", "RD_ID"}, {"RD_ID", "RD_SL_ID", "RD_IN_1"}, {"RD_ID", "RD_SL_ID", "RD_IN_1"},
         RowKind::Insert, "Insert into READERS( RD_SL_ID,RD_IN_1 ) Values ( :RD_SL_ID,:RD_IN_1 ) RETURNING RD_ID",
         {"RD_SL_ID", "RD_IN_1"},
         {"#0 RD_SL_ID by 5", "RD_IN_1 if present by 7", "RD_IN_2 if present by 7", "RD_IN_3 if present by 7",
          "RD_IN_4 if present by 7", "RD_OUT_IND0 if present by 6", "RD_OUT_IND1 if present by 6",
          "RD_OUT_IND2 if present by 6", "RD_OUT_IND3 if present by 6", "RD_OUT_OPEN if present by 6",
          "RD_OUT_CLOSE if present by 6"},
         "keys 8 old RD_ID returns RD_ID;"},
        {"a program's device follows its type; its key stays",
         {"PRGDEF", "PD_ID"}, {"PD_ID", "PD_X", "PD_CT_ID", "PD_A", "PD_B", "PD_TYPE", "PD_DEV_ID"},
         {"PD_ID", "PD_X", "PD_CT_ID", "PD_A", "PD_B", "PD_TYPE", "PD_DEV_ID"},
         RowKind::Insert,
         "Insert into PRGDEF( PD_ID,PD_X,PD_CT_ID,PD_A,PD_B,PD_TYPE,PD_DEV_ID ) Values "
         "( :PD_ID,:PD_X,:PD_CT_ID,:PD_A,:PD_B,:PD_TYPE,:PD_DEV_ID )",
         {"PD_ID", "PD_X", "PD_CT_ID", "PD_A", "PD_B", "PD_TYPE", "PD_DEV_ID"},
         {"#2 PD_CT_ID by 2", "#5 PD_TYPE from 'PD_DEV_ID' by PD_TYPE 000084376"}, ""},
        {"an event's device by its description's hardware type, which is not copied",
         {"EVENTS", "EV_ID"}, {"EV_ID", "EV_DATE", "EV_CODE", "EV_ADDCODE", "EV_DEV_ID"},
         {"EV_ID", "EV_DATE", "EV_CODE", "EV_ADDCODE", "EV_DEV_ID", "ED_HARDTYPE"},
         RowKind::Insert,
         "Insert into EVENTS( EV_ID,EV_DATE,EV_CODE,EV_ADDCODE,EV_DEV_ID ) Values "
         "( :EV_ID,:EV_DATE,:EV_CODE,:EV_ADDCODE,:EV_DEV_ID )",
         {"EV_ID", "EV_DATE", "EV_CODE", "EV_ADDCODE", "EV_DEV_ID"},
         {"#4 EV_DEV_ID from '' by ED_HARDTYPE 012584376"}, ""},
        {"macro rights through the macro map",
         {"MAKROS_RIGHT", "MR_ID"}, {"MR_MCR_ID", "MR_ID"}, {"MR_ID", "MR_MCR_ID"},
         RowKind::Insert, "Insert into MAKROS_RIGHT( MR_ID,MR_MCR_ID ) Values ( :MR_ID,:MR_MCR_ID )",
         {"MR_ID", "MR_MCR_ID"}, {"#0 MR_ID by 9"}, ""},
        {"configuration records rewrite their reader lists",
         {"INIDATA", "ID_ID"}, {"ID_ID", "ID_SECTION", "ID_BLOB"}, {"ID_ID", "ID_SECTION", "ID_BLOB"},
         RowKind::Insert, "Insert into INIDATA( ID_ID,ID_SECTION,ID_BLOB ) Values ( :ID_ID,:ID_SECTION,:ID_BLOB )",
         {"ID_ID", "ID_SECTION", "ID_BLOB"}, {}, "reader rights;"},
        {"owners leave their photos to the photo table and keep their archive flag",
         {"OWNER", "OW_ID", "", true, false}, {"OW_ID", "OW_NAME", "OW_PHOTO", "OW_ARCHIVE"},
         {"OW_ID", "OW_NAME", "OW_PHOTO", "OW_ARCHIVE"},
         RowKind::Insert, "Insert into OWNER( OW_ID,OW_NAME,OW_PHOTO,OW_ARCHIVE ) Values "
         "( :OW_ID,:OW_NAME,:OW_PHOTO,:OW_ARCHIVE ) RETURNING OW_ID",
         {"OW_ID", "OW_NAME", "OW_PHOTO", "OW_ARCHIVE"}, {}, "clear photo;archive '" + archive + "' returns OW_ID;"},
        {"owners of a source without the archive flag, into a destination without photo table",
         {"OWNER", "OW_ID"}, {"OW_ID", "OW_PHOTO", "OW_ARCHIVE"}, {"OW_ID", "OW_PHOTO"},
         RowKind::Insert, "Insert into OWNER( OW_ID,OW_PHOTO ) Values ( :OW_ID,:OW_PHOTO )",
         {"OW_ID", "OW_PHOTO"}, {}, ""},
        {"photos move from the source owners into existing photo rows",
         {"OWNERPHOTOS", "OW_ID", "", true, false}, {"OW_ID", "OW_PHOTO"}, {"OW_ID", "OW_NAME", "OW_PHOTO"},
         RowKind::MovePhoto, "UPDATE OWNERPHOTOS SET OW_PHOTO = :OW_PHOTO Where OW_ID = :OW_ID",
         {"OW_PHOTO", "OW_ID"}, {}, ""},
        {"a source with its own photo table updates by its first two shared columns",
         {"OWNERPHOTOS", "OW_ID", "", true, true}, {"OW_ID", "OW_PHOTO"}, {"OW_ID", "OW_PHOTO"},
         RowKind::MovePhoto, "UPDATE OWNERPHOTOS SET OW_PHOTO = :OW_PHOTO Where OW_ID = :OW_ID",
         {"OW_PHOTO", "OW_ID"}, {}, ""},
        {"access descriptions set five columns by position",
         {"ACR$EVDESC", "AED_ID"}, {"AED_ID", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K"},
         {"AED_ID", "A", "B", "C", "D", "E", "F", "G", "H", "I", "J", "K", "L"},
         RowKind::UpdateDescription, "UPDATE ACR$EVDESC SET F = :F, G = :G, H = :H, I = :I, J = :J Where AED_ID = :AED_ID",
         {"F", "G", "H", "I", "J", "AED_ID"}, {}, ""},
        {"any other table: every shared column, nothing translated",
         {"ZONES", "ZN_ID", "ZN_X = 1"}, {"ZN_ID", "ZN_NAME"}, {"ZN_ID", "ZN_NAME"},
         RowKind::Insert, "Insert into ZONES( ZN_ID,ZN_NAME ) Values ( :ZN_ID,:ZN_NAME )", {"ZN_ID", "ZN_NAME"}, {}, ""},
    };
    for (const RowCase& c : cases) {
        SCOPED_TRACE(c.what);
        const CopyPlan plan = PlanRows(c.request, c.dest, c.source);
        EXPECT_EQ(plan.kind, c.kind);
        EXPECT_EQ(plan.rowSql, c.rowSql);
        EXPECT_EQ(plan.parameterSources, c.parameterSources);
        EXPECT_EQ(Describe(plan.translations), c.translations);
        EXPECT_EQ(Steps(plan), c.steps);
    }
}

TEST(TablePlan, UpdatesPastTheCopiedColumnsAreRefused) {
    const Names fourteen{"ED_ID", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12", "13", "14"};
    Names nineteen = fourteen;
    for (const char* c : {"15", "16", "17", "18"}) nineteen.push_back(c);
    EXPECT_THROW(PlanRows({"EVDESC", "ED_ID"}, nineteen, nineteen), Error);
    nineteen.push_back("19");
    EXPECT_EQ(PlanRows({"EVDESC", "ED_ID"}, nineteen, nineteen).rowSql,
              "UPDATE EVDESC SET 15 = :15, 16 = :16, 17 = :17, 18 = :18, 19 = :19 Where ED_ID = :ED_ID");
    EXPECT_THROW(PlanRows({"OWNERPHOTOS", "OW_ID"}, {"OW_ID"}, {"OW_ID", "OW_PHOTO"}), Error);
}

struct QueryCase {
    CopyRequest request;
    std::string count;
    Names select;
    bool startDate;
};

TEST(TablePlan, QueriesByTable) {
    const QueryCase cases[] = {
        {{"ZONES", "ZN_ID"}, "select Count(ZN_ID) from ZONES", {"select * from ZONES", " Order BY ZN_ID"}, false},
        {{"ZONES", "ZN_ID", "ZN_X = \"a\""}, "select Count(ZN_ID) from ZONES",
         {"select * from ZONES", "Where ZN_X = \"a\"", " Order BY ZN_ID"}, false},
        {{"OWNERPHOTOS", "OW_ID", "", true, false}, "select Count(*) from OWNER",
         {"select * from OWNER Order BY OW_ID"}, false},
        {{"OWNERPHOTOS", "OW_ID", "", true, true}, "select Count(OW_ID) from OWNERPHOTOS",
         {"select * from OWNERPHOTOS", " Order BY OW_ID"}, false},
        {{"OWNERPHOTOS", "OW_ID", "", false, false}, "select Count(OW_ID) from OWNERPHOTOS",
         {"select * from OWNERPHOTOS", " Order BY OW_ID"}, false},
        {{"INIDATA", "ID_ID", "ignored"},
         "Select Count(ID_ID) from  INIDATA Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
         "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")",
         {"Select * from INIDATA  Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
          "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")"}, false},
        {{"ALARM", "AL_ID"}, "Select Count(AL_ID) from Alarm A Where AL_DATE >= :EV_D",
         {"Select A.*,ED.ED_HARDTYPE from Alarm A, EVDESC ED Where (A.AL_CODE = ED.ED_CODE) and "
          "((A.AL_ADDCODE = ED.ED_ADDCODE) or (A.AL_ADDCODE-256 = ED.ED_ADDCODE)) and (A.AL_DATE >= :EV_D)"}, true},
        {{"STR_ALARMS", "AL_ID"}, "Select Count(AL_ID) from STR_ALARMS A Where AL_DATE >= :EV_D",
         {"Select A.* from STR_Alarms A Where (A.AL_DATE >= :EV_D)"}, true},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.request.table + " " + c.request.where);
        const CopyQueries q = PlanQueries(c.request);
        EXPECT_EQ(q.destColumns, "select * from " + c.request.table + " Order BY " + c.request.keyColumn);
        EXPECT_EQ(q.count, c.count);
        EXPECT_EQ(q.select, c.select);
        EXPECT_EQ(q.startDate, c.startDate);
    }
}

} // namespace
} // namespace kestrix::transfer
