// The yardstick of the transfer benchmark: the fastest honest client-side copy of the tables a
// transfer copies. Per table one select on the source, one insert (or update, for the tables a
// transfer updates in place) prepared once, fetched values handed straight to its parameters,
// blobs copied whole, one destination transaction. No key translation, no logging.
//   yardstick --source SRC --dest DST --app-dir DIR [--events-from YYYY-MM-DD]
// Prints "table rows seconds" per table copied, in the order of the table list, then journals.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "db/Databases.h"
#include "db/Error.h"
#include "run/DataFiles.h"
#include "run/IdMaps.h"
#include "run/TextFile.h"
#include "transfer/TableList.h"

using namespace kestrix;
using db::Connection;
using db::Statement;
using db::Transaction;

namespace {

struct Side {
    Connection connection;
    Transaction transaction;
    explicit Side(const std::string& name) {
        db::SetStandardParams(connection);
        connection.SetDatabaseFile(name);
        connection.Connect();
        transaction.BindDatabase(connection);
    }
};

// The journals and INIDATA are read with the rows a transfer reads.
const std::map<std::string, std::string> kSelects = {
    {"INIDATA", "Select * from INIDATA Where (ID_SECTION <> \"USER_CAN_FILTER\") and "
                "(ID_SECTION <> \"USER_FILTERS\") and (ID_SECTION <> \"CTRL_FILTERS\")"},
    {"EVENTS", "Select E.* from EVENTS E,EVDESC ED Where (E.EV_CODE = ED.ED_CODE) and "
               "((E.EV_ADDCODE = ED.ED_ADDCODE) or (E.EV_ADDCODE-256 = ED.ED_ADDCODE)) and (E.EV_DATE >= :D)"},
    {"ALARM", "Select A.* from Alarm A, EVDESC ED Where (A.AL_CODE = ED.ED_CODE) and "
              "((A.AL_ADDCODE = ED.ED_ADDCODE) or (A.AL_ADDCODE-256 = ED.ED_ADDCODE)) and (A.AL_DATE >= :D)"},
    {"ACR$EVENTS", "Select * from ACR$EVENTS Where AEV_DATE >= :D"},
    {"ACR$ALARMS", "Select * from ACR$ALARMS Where AAL_DATE >= :D"},
    {"STR_EVENTS", "Select * from STR_EVENTS Where EV_DATE >= :D"},
    {"STR_ALARMS", "Select * from STR_ALARMS Where AL_DATE >= :D"},
};
const char* kJournals[][2] = {{"EVENTS", "EV_ID"},         {"ALARM", "AL_ID"},
                              {"ACR$EVENTS", "AEV_ID"},    {"ACR$ALARMS", "AAL_ID"},
                              {"STR_EVENTS", "EV_ID"},     {"STR_ALARMS", "AL_ID"}};

std::vector<std::string> Columns(Side& side, const std::string& table) {
    Statement st;
    st.BindTransaction(side.transaction);
    st.AddSqlLine("select trim(RDB$FIELD_NAME) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = '" + table +
                  "' order by RDB$FIELD_POSITION");
    st.Prepare();
    std::vector<std::string> names;
    for (st.Execute(); !st.AtEnd(); st.FetchNext()) names.push_back(st.ColumnAt(0).GetString());
    return names;
}

bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

struct Copy {
    std::string table, key, where;
};

// Returns the rows written.
long CopyTable(Side& src, Side& dst, const Copy& copy, const db::DateTime& from) {
    if (!src.transaction.IsActive()) src.transaction.BeginTransaction();
    if (!dst.transaction.IsActive()) dst.transaction.BeginTransaction();
    const std::vector<std::string> destColumns = Columns(dst, copy.table);
    const bool photos = copy.table == "OWNERPHOTOS" && Columns(src, "OWNERPHOTOS").empty();
    const std::string readTable = photos ? "OWNER" : copy.table;

    Statement select;
    select.BindTransaction(src.transaction);
    auto known = kSelects.find(copy.table);
    if (known != kSelects.end()) {
        select.AddSqlLine(known->second);
    } else {
        select.AddSqlLine("select * from " + readTable + (copy.where.empty() ? "" : " Where " + copy.where) +
                          " Order BY " + (photos ? std::string("OW_ID") : copy.key));
    }
    select.Prepare();
    if (select.ParameterCount() > 0) select.ParameterAt(0).SetDateTime(from);

    std::vector<std::string> shared;
    for (int i = 0; i < select.ColumnCount(); ++i)
        if (Has(destColumns, select.ColumnAt(i).Name())) shared.push_back(select.ColumnAt(i).Name());
    // Tables a transfer updates in place: the rows are there; update every other column.
    const bool update = copy.table == "EVDESC" || copy.table == "ACR$EVDESC" || photos;
    const bool newKeys = TableNo(copy.table) > 0;
    if (copy.table == "OWNER" && Has(Columns(dst, "OWNERPHOTOS"), "OW_PHOTO"))
        std::erase(shared, std::string("OW_PHOTO"));

    std::string sql;
    std::vector<std::string> sources;
    if (update) {
        const std::string key = photos ? "OW_ID" : copy.key;
        for (const std::string& c : shared)
            if (c != key && (!photos || c == "OW_PHOTO")) {
                sql += (sql.empty() ? "" : ", ") + c + " = :" + c;
                sources.push_back(c);
            }
        sql = "UPDATE " + copy.table + " SET " + sql + " WHERE " + key + " = :" + key;
        sources.push_back(key);
    } else {
        std::string cols, values;
        for (const std::string& c : shared) {
            if (newKeys && c == copy.key) continue;
            cols += (cols.empty() ? "" : ",") + c;
            values += (values.empty() ? ":" : ",:") + c;
            sources.push_back(c);
        }
        sql = "INSERT INTO " + copy.table + " (" + cols + ") VALUES (" + values + ")";
    }
    Statement write;
    write.BindTransaction(dst.transaction);
    write.AddSqlLine(sql);
    write.Prepare();
    std::vector<db::SqlValue*> from_columns;
    for (const std::string& c : sources) from_columns.push_back(&select.ColumnByName(c));

    long written = 0;
    for (select.Execute(); !select.AtEnd(); select.FetchNext()) {
        try {
            for (std::size_t j = 0; j < from_columns.size(); ++j)
                write.ParameterAt(static_cast<int>(j)).CopyValueFrom(*from_columns[j]);
            write.Execute();
            ++written;
        } catch (const Error&) {
            // A refused row, as the transfer refuses it; the copy goes on.
        }
    }
    select.CloseCursor();
    dst.transaction.CommitTransaction();
    return written;
}

db::DateTime ParseDate(const std::string& text) {
    db::DateTime d;
    if (std::sscanf(text.c_str(), "%d-%d-%d", &d.year, &d.month, &d.day) != 3) throw std::runtime_error("bad date");
    return d;
}

} // namespace

int main(int argc, char** argv) {
    std::map<std::string, std::string> args;
    for (int i = 1; i + 1 < argc; i += 2) args[argv[i]] = argv[i + 1];
    if (!args.count("--source") || !args.count("--dest") || !args.count("--app-dir")) {
        std::cerr << "usage: yardstick --source SRC --dest DST --app-dir DIR [--events-from YYYY-MM-DD]\n";
        return 2;
    }
    try {
        Side src(args["--source"]), dst(args["--dest"]);
        const std::string appDir = AppDirPath(args["--app-dir"]);

        std::vector<Copy> copies;
        for (const std::string& raw : ReadTextLines(FindDataFile(appDir, kTableListFile))) {
            transfer::TableListLine line = transfer::ParseTableListLine(raw);
            if (line.comment || line.table.empty() || line.hasPercent || line.hasAmp) continue;
            if (transfer::IsJournalTable(line.table)) continue;
            copies.push_back({line.table, line.key, line.tail});
        }
        const bool events = args.count("--events-from") > 0;
        db::DateTime from = events ? ParseDate(args["--events-from"]) : db::DateTime{};
        if (events)
            for (auto& journal : kJournals) copies.push_back({journal[0], journal[1], ""});

        // The destination is emptied as a transfer's clearing pass would, outside the timing.
        dst.transaction.BeginTransaction();
        for (const Copy& copy : copies) {
            if (copy.table == "EVDESC" || copy.table == "ACR$EVDESC" || copy.table == "OWNERPHOTOS") continue;
            Statement clear;
            clear.BindTransaction(dst.transaction);
            clear.AddSqlLine("DELETE FROM " + copy.table + (copy.where.empty() ? "" : " WHERE " + copy.where));
            clear.Prepare();
            clear.Execute();
        }
        dst.transaction.CommitTransaction();

        for (const Copy& copy : copies) {
            auto start = std::chrono::steady_clock::now();
            long rows = CopyTable(src, dst, copy, from);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::printf("%s %ld %.3f\n", copy.table.c_str(), rows, seconds);
            std::fflush(stdout);
        }
        src.transaction.CommitTransaction();
    } catch (const std::exception& e) {
        std::cerr << "yardstick: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
