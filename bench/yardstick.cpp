// The yardstick of the transfer benchmark: the fastest honest client-side copy of the tables a
// transfer copies. Per table one select on the source, one insert (or update, for the tables a
// transfer updates in place) prepared once, fetched values handed straight to its parameters,
// blobs copied whole, one destination transaction per table. No key translation, no logging.
//   yardstick --source SRC --dest DST --app-dir DIR [--events-from YYYY-MM-DD] [--jobs N]
//             [--rows-per-execute R]
// Prints "table rows seconds" per table copied, in the order of the table list, then the
// journals in their block's order, then "journal-block rows seconds": the wall time of the
// journals. With --jobs N the journals go over N attachment pairs at once (one thread each),
// each table in its own transaction, the largest table to the next free pair. With
// --rows-per-execute R the journals are inserted R rows to an execute (a block of inserts).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/Logins.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "run/DataFiles.h"
#include "run/IdMaps.h"
#include "run/TextFile.h"
#include "transfer/InsertBlock.h"
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
        db::SetStandardParams(connection, LoginFromEnvironment());   // ISC_USER, ISC_PASSWORD, as the program
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

// A block of `rows` copies of the insert `write`, prepared in the destination's transaction.
void PrepareBlock(Statement& block, Statement& write, const std::string& sql, int rows, Side& dst) {
    std::vector<std::string> inputs;
    for (int j = 0; j < write.ParameterCount(); ++j) inputs.push_back(write.ParameterAt(j).Declaration());
    block.ParamCheck = false;
    block.BindTransaction(dst.transaction);
    for (const std::string& line : transfer::InsertBlockLines(sql, inputs, rows, "", "")) block.AddSqlLine(line);
    block.Prepare();
}

// Returns the rows written.
long CopyTable(Side& src, Side& dst, const Copy& copy, const db::DateTime& from, int rowsPerExecute = 1) {
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
    const bool newKeys = MapNumberOf(copy.table) > 0;
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
    const int params = static_cast<int>(from_columns.size());
    Statement block;
    const int perExecute = update ? 1 : rowsPerExecute;
    if (perExecute > 1) PrepareBlock(block, write, sql, perExecute, dst);

    long written = 0;
    int pending = 0;
    for (select.Execute(); !select.AtEnd(); select.FetchNext()) {
        try {
            if (perExecute > 1) {
                for (int j = 0; j < params; ++j)
                    block.ParameterAt(pending * params + j).CopyValueFrom(*from_columns[static_cast<std::size_t>(j)]);
                if (++pending < perExecute) continue;
                pending = 0;
                block.Execute();
                written += perExecute;
                continue;
            }
            for (int j = 0; j < params; ++j)
                write.ParameterAt(j).CopyValueFrom(*from_columns[static_cast<std::size_t>(j)]);
            write.Execute();
            ++written;
        } catch (const Error&) {
            // A refused row, as the transfer refuses it; the copy goes on.
            pending = 0;
        }
    }
    // The rows of a last partial block, one by one.
    for (int row = 0; row < pending; ++row) {
        try {
            for (int j = 0; j < params; ++j) write.ParameterAt(j).CopyValueFrom(block.ParameterAt(row * params + j));
            write.Execute();
            ++written;
        } catch (const Error&) {
        }
    }
    select.CloseCursor();
    dst.transaction.CommitTransaction();
    return written;
}

long CountRows(Side& src, const Copy& copy, const db::DateTime& from) {
    if (!src.transaction.IsActive()) src.transaction.BeginTransaction();
    Statement count;
    count.BindTransaction(src.transaction);
    count.AddSqlLine("select count(*) from (" + kSelects.at(copy.table) + ")");
    count.Prepare();
    if (count.ParameterCount() > 0) count.ParameterAt(0).SetDateTime(from);
    count.Execute();
    return count.ColumnAt(0).GetInteger();
}

struct Copied {
    long rows = 0;
    double seconds = 0;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The journals over `jobs` attachment pairs of their own, one thread each; every free pair
// takes the largest table not yet started. Returns each table's rows and seconds, in `journals`' order.
std::vector<Copied> CopyJournals(Side& counter, const std::string& srcName, const std::string& dstName,
                                 const std::vector<Copy>& journals, const db::DateTime& from, int jobs,
                                 int rowsPerExecute) {
    std::vector<std::size_t> order(journals.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (jobs > 1) {
        std::vector<long> counts;
        for (const Copy& copy : journals) counts.push_back(CountRows(counter, copy, from));
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return counts[a] > counts[b]; });
    }
    std::vector<Copied> copied(journals.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> failures(static_cast<std::size_t>(jobs));
    std::vector<std::thread> workers;
    for (int w = 0; w < jobs; ++w)
        workers.emplace_back([&, w] {
            try {
                Side src(srcName), dst(dstName);
                for (std::size_t i = next++; i < order.size(); i = next++) {
                    auto start = std::chrono::steady_clock::now();
                    copied[order[i]].rows = CopyTable(src, dst, journals[order[i]], from, rowsPerExecute);
                    copied[order[i]].seconds = SecondsSince(start);
                }
                if (src.transaction.IsActive()) src.transaction.CommitTransaction();
            } catch (...) {
                failures[static_cast<std::size_t>(w)] = std::current_exception();
            }
        });
    for (std::thread& worker : workers) worker.join();
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
    return copied;
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
        std::cerr << "usage: yardstick --source SRC --dest DST --app-dir DIR [--events-from YYYY-MM-DD] [--jobs N]"
                     " [--rows-per-execute R]\n";
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
        std::vector<Copy> journals;
        if (events)
            for (auto& journal : kJournals) journals.push_back({journal[0], journal[1], ""});
        const int jobs = args.count("--jobs") ? std::stoi(args["--jobs"]) : 1;
        const int rowsPerExecute = args.count("--rows-per-execute") ? std::stoi(args["--rows-per-execute"]) : 1;
        if (jobs < 1 || rowsPerExecute < 1 || rowsPerExecute > 256)
            throw std::runtime_error("bad --jobs or --rows-per-execute");

        // The destination is emptied as a transfer's clearing pass would, outside the timing.
        dst.transaction.BeginTransaction();
        auto clear = [&](const Copy& copy) {
            if (copy.table == "EVDESC" || copy.table == "ACR$EVDESC" || copy.table == "OWNERPHOTOS") return;
            Statement statement;
            statement.BindTransaction(dst.transaction);
            statement.AddSqlLine("DELETE FROM " + copy.table + (copy.where.empty() ? "" : " WHERE " + copy.where));
            statement.Prepare();
            statement.Execute();
        };
        std::for_each(copies.begin(), copies.end(), clear);
        std::for_each(journals.begin(), journals.end(), clear);
        dst.transaction.CommitTransaction();

        for (const Copy& copy : copies) {
            auto start = std::chrono::steady_clock::now();
            long rows = CopyTable(src, dst, copy, from);
            std::printf("%s %ld %.3f\n", copy.table.c_str(), rows, SecondsSince(start));
            std::fflush(stdout);
        }
        if (src.transaction.IsActive()) src.transaction.CommitTransaction();
        if (!journals.empty()) {
            auto start = std::chrono::steady_clock::now();
            std::vector<Copied> copied =
                CopyJournals(src, args["--source"], args["--dest"], journals, from, jobs, rowsPerExecute);
            const double wall = SecondsSince(start);
            long total = 0;
            for (std::size_t i = 0; i < journals.size(); ++i) {
                std::printf("%s %ld %.3f\n", journals[i].table.c_str(), copied[i].rows, copied[i].seconds);
                total += copied[i].rows;
            }
            std::printf("journal-block %ld %.3f\n", total, wall);
        }
        if (src.transaction.IsActive()) src.transaction.CommitTransaction();
    } catch (const std::exception& e) {
        std::cerr << "yardstick: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
