#include "transfer/JournalStreams.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "db/Error.h"
#include "db/Work.h"
#include "run/RunLog.h"
#include "transfer/CopyTable.h"
#include "transfer/TableList.h"

namespace kestrix::transfer {
namespace {

constexpr std::chrono::milliseconds kPollEvery{20};

// One table's view of the run: displays and an account of its own; nothing to pump (the
// run's thread pumps, and the block's cancel token stops the copy).
class StreamState : public RunState {
public:
    void PumpMessages() override {}
    int RowsDone() const { return rowsDone_; }

protected:
    void DisplayChanged() override { rowsDone_ = TableProgress().Position(); }

private:
    std::atomic<int> rowsDone_{0};
};

// A part of a journal table, all its rows or those of one key range, and what its stream
// leaves for the run (see Shared for who writes what).
struct Job {
    CopyRequest journal{};   // with the part's key range when the table is copied in parts
    int rows = 0;            // the table's count, or the part's share of it
    bool counted = false;    // `rows` is the count query's: the copy need not count again
    std::unique_ptr<StreamState> state;
    HeldLog log;
    std::exception_ptr ending;   // a lost connection or an interruption: the run ends
    CopiedTable copied;
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};
};

// A journal table of the block and its parts, in key order; written by the constructor only.
struct Table {
    CopyRequest journal;
    int rows = 0;                     // its count
    std::vector<std::size_t> parts;   // into the jobs
};

// The part's figures added to the table's row, which holds the parts before it.
void AddPart(TableAccount& row, const TableAccount& part) {
    const auto end = [](const TableAccount& t) { return t.startedAt + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(t.seconds)); };
    const auto last = std::max(end(row), end(part));
    row.startedAt = std::min(row.startedAt, part.startedAt);
    row.seconds = std::chrono::duration<double>(last - row.startedAt).count();
    row.fetched = row.fetched >= 0 && part.fetched >= 0 ? row.fetched + part.fetched : -1;
    row.written += part.written;
    row.refused += part.refused;
    row.undone += part.undone;
    for (const auto& [column, rows] : part.unmapped) {
        auto it = std::find_if(row.unmapped.begin(), row.unmapped.end(), [&](const auto& u) { return u.first == column; });
        if (it == row.unmapped.end()) row.unmapped.emplace_back(column, rows);
        else it->second += rows;
    }
    row.cutShort = row.cutShort || part.cutShort;
    if (row.error.empty()) row.error = part.error;
}

// The attachments of one stream, made and given their parameters by the run's thread, so
// that the run's watch can cancel a waiting statement on them and ask their server; the
// stream connects and uses them.
struct Attachments {
    db::Connection sourceConnection, destConnection;
    db::Transaction sourceTransaction, destTransaction;
    db::Statement sourceSql, destSql;
    db::Side Source() { return {sourceSql, sourceTransaction, sourceConnection}; }
    db::Side Destination() { return {destSql, destTransaction, destConnection}; }
};

// What the streams share with the run's thread. Who writes what:
// - the run's thread writes `tables`, `jobs` (but their stream's part) and `order` before any
//   stream starts, and reads a job's stream part only once its `done` is set;
// - a stream writes the job it took (`state`, `log`, `ending`, `copied`) and then sets its
//   `done`;
// - `next`, a job's `started` and `connectFailure` change under `mutex`;
// - `noMoreStarts` (a table failed, or the block ends) and `end` are set by any thread;
//   `running` is counted down by each stream as it ends.
struct Shared {
    explicit Shared(const CancelToken& run) : end(&run) {}

    std::vector<Table> tables;          // in the block's order
    std::deque<Job> jobs;               // the tables' parts, table after table
    std::vector<std::size_t> order;     // the order the parts start in
    std::mutex mutex;
    std::size_t next = 0;               // into `order`
    std::exception_ptr connectFailure;  // an attachment that could not be opened
    std::atomic<bool> noMoreStarts{false};
    // The streams' cancel: requested with the run's, and when the block ends on a lost
    // connection or an interruption; a copy stops at its next row.
    CancelToken end;
    std::atomic<int> running{0};
};

class Streams {
public:
    Streams(Context& ctx, db::Databases& dm, const std::vector<CopyRequest>& journals)
        : ctx_(ctx), shared_(ctx.cancel), sourceName_(dm.SourceConnection().DatabaseName()),
          destName_(dm.DestinationConnection().DatabaseName()) {
        // A table that cannot be counted fails as its copy would: the block ends before it.
        for (const CopyRequest& journal : journals) {
            Table table{journal};
            try {
                table.rows = CountSourceRows(ctx, dm.Source(), journal);
            } catch (const Error& e) {
                uncounted_ = journal.table;
                uncountedError_ = e.what();
                break;
            }
            shared_.tables.push_back(std::move(table));
        }
        long long rows = 0;
        for (const Table& table : shared_.tables) rows += table.rows;
        const long long share = (rows + ctx.options.jobs - 1) / std::max(ctx.options.jobs, 1);
        for (Table& table : shared_.tables) AddParts(table, Parts(ctx, dm, table, share));
        for (std::size_t i = 0; i < shared_.jobs.size(); ++i) shared_.order.push_back(i);
        // Several streams take the largest first, so that none is left with a large one at
        // the end; one stream takes the tables in the block's order.
        if (ctx.options.jobs > 1)
            std::stable_sort(shared_.order.begin(), shared_.order.end(), [this](std::size_t a, std::size_t b) {
                return shared_.jobs[a].rows > shared_.jobs[b].rows;
            });
    }
    // Every stream is stopped and waited for, however the block ends.
    ~Streams() {
        shared_.noMoreStarts = true;
        shared_.end.Request();
        for (std::thread& thread : threads_) thread.join();
        if (AttachmentWatch* watch = ctx_.attachmentWatch)
            for (auto& a : attachments_)
                for (db::Connection* connection : {&a->sourceConnection, &a->destConnection}) watch->Remove(*connection);
    }
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;

    void Run(int streams) {
        const std::size_t count =
            std::min<std::size_t>(static_cast<std::size_t>(std::max(streams, 1)), shared_.order.size());
        for (std::size_t i = 0; i < count; ++i) {
            attachments_.push_back(std::make_unique<Attachments>());
            Attachments& a = *attachments_.back();
            db::SetStandardParams(a.sourceConnection, ctx_.options.sourceLogin);
            db::SetStandardParams(a.destConnection, ctx_.options.destLogin);
            a.sourceConnection.SetDatabaseFile(sourceName_);
            a.destConnection.SetDatabaseFile(destName_);
            a.destConnection.Role = DatabaseRole::Destination;
            a.destConnection.ProcessName = db::WriterProcessName();
            // The run's watch cancels a stream's waiting statement once the run is cancelled,
            // and rescues a call that a stalled server never answers, as for the run's own.
            if (AttachmentWatch* watch = ctx_.attachmentWatch)
                for (db::Connection* connection : {&a.sourceConnection, &a.destConnection}) watch->Add(*connection);
        }
        shared_.running = static_cast<int>(count);
        for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { Stream(*attachments_[i]); });
        std::vector<Table>& tables = shared_.tables;
        std::size_t flushed = 0;
        while (flushed < tables.size()) {
            if (Finished(tables[flushed])) {
                Flush(tables[flushed++]);
                continue;
            }
            if (shared_.running == 0) break;   // the rest was never started
            Show(flushed);
            std::this_thread::sleep_for(kPollEvery);
        }
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
        for (; flushed < tables.size(); ++flushed)
            if (AnyDone(tables[flushed])) Flush(tables[flushed]);
        for (Job& job : shared_.jobs)
            if (job.ending) std::rethrow_exception(job.ending);
        if (shared_.connectFailure) std::rethrow_exception(shared_.connectFailure);
        if (Stopping() || uncounted_.empty()) return;
        ctx_.state.SetStatusText(uncounted_);
        ctx_.state.StageStarted(RunStage::Table, uncounted_);
        ctx_.state.TableFailed(uncountedError_);
    }

    // One copy per table, its parts' refused rows in key order, as one stream's copy gives.
    std::vector<CopiedTable> Copies() {
        std::vector<CopiedTable> copies;
        for (Table& table : shared_.tables) {
            if (!AnyDone(table)) continue;
            CopiedTable whole;
            bool allParts = true;   // else the read-back reads both sides of the table
            for (std::size_t part : table.parts) {
                CopiedTable& copied = shared_.jobs[part].copied;
                allParts = allParts && shared_.jobs[part].done && !copied.request.table.empty();
                if (!shared_.jobs[part].done || copied.request.table.empty()) continue;
                if (whole.request.table.empty()) {
                    whole = std::move(copied);
                    whole.request = table.journal;
                    whole.queries = PlanQueries(table.journal);
                } else {
                    for (std::string& key : copied.refusedKeys) whole.refusedKeys.push_back(std::move(key));
                    whole.digest.Merge(copied.digest);
                }
            }
            whole.digest.usable = whole.digest.usable && allParts;
            copies.push_back(std::move(whole));
        }
        return copies;
    }

private:
    // The key ranges of a table copied in parts, over its keys from the lowest to the highest:
    // a table of more than 5/4 of a stream's share of the block's rows (`share`) and of the
    // part size is the critical path of its stream, and goes in parts of about the larger of
    // the two. Where a table is about its share, parts only cost: two streams inserting into
    // one table gained nothing on the sample (1.21 times the wall time whole, --jobs 2).
    // None for a smaller table, or one whose keys cannot be read: it goes whole.
    static std::vector<KeyRange> Parts(Context& ctx, db::Databases& dm, const Table& table, long long share) {
        const long long partRows = std::max<long long>({ctx.options.journalPartRows, share, 1});
        if (ctx.options.jobs < 2 || table.rows * 4 <= partRows * 5) return {};
        const long long parts = (table.rows + partRows - 1) / partRows;
        std::optional<KeyRange> keys;
        try {
            keys = SourceKeyBounds(ctx, dm.Source(), table.journal);
        } catch (const Error&) {
        }
        if (!keys) return {};
        std::vector<KeyRange> ranges;
        const long long span = keys->last - keys->first + 1;
        for (long long k = 0; k < parts; ++k) {
            const long long first = keys->first + span * k / parts, last = keys->first + span * (k + 1) / parts - 1;
            if (first <= last) ranges.push_back({first, last});
        }
        return ranges;
    }

    void AddParts(Table& table, const std::vector<KeyRange>& ranges) {
        const std::size_t parts = std::max<std::size_t>(ranges.size(), 1);
        for (std::size_t k = 0; k < parts; ++k) {
            Job& job = shared_.jobs.emplace_back();
            job.journal = table.journal;
            job.counted = ranges.empty();
            if (!ranges.empty()) job.journal.part = ranges[k];
            job.rows = table.rows / static_cast<int>(parts);
            job.state = std::make_unique<StreamState>();
            table.parts.push_back(shared_.jobs.size() - 1);
        }
    }

    // No part is started any more: a table failed, or the block ends.
    bool Stopping() const { return shared_.noMoreStarts || shared_.end.Requested(); }

    // Every part of the table has its copy's end, or the rest will never start and the ones
    // started are done. Under the mutex: no part starts meanwhile.
    bool Finished(const Table& table) {
        std::lock_guard lock(shared_.mutex);
        bool started = false, running = false, all = true;
        for (std::size_t part : table.parts) {
            const Job& job = shared_.jobs[part];
            started = started || job.started;
            running = running || (job.started && !job.done);
            all = all && job.done;
        }
        return all || (Stopping() && started && !running);
    }

    bool AnyDone(const Table& table) const {
        return std::any_of(table.parts.begin(), table.parts.end(),
                           [this](std::size_t p) { return shared_.jobs[p].done.load(); });
    }

    // The run's thread: shows the tables in flight, and pumps. The table to be told next
    // (`next`) is announced as its stage once it runs, as a sequential copy announces it:
    // one stream's tables are shown as they are copied.
    void Show(std::size_t next) {
        RunState& state = ctx_.state;
        std::string names;
        int rows = 0, done = 0;
        for (const Table& table : shared_.tables) {
            bool started = false, all = true;
            int rowsDone = 0;
            for (std::size_t part : table.parts) {
                const Job& job = shared_.jobs[part];
                started = started || job.started;
                all = all && job.done;
                rowsDone += job.state->RowsDone();
            }
            if (!started || all) continue;
            names += (names.empty() ? "" : ", ") + table.journal.table;
            rows += table.rows;
            done += rowsDone;
        }
        if (!names.empty()) {
            if (names != state.StatusText()) state.SetStatusText(names);
            const Table& table = shared_.tables[next];
            if (announced_ <= next && std::any_of(table.parts.begin(), table.parts.end(),
                                                  [this](std::size_t p) { return shared_.jobs[p].started.load(); })) {
                state.StageStarted(RunStage::Table, table.journal.table);
                announced_ = next + 1;
            }
            if (rows != state.TableProgress().Max()) state.SetTableMax(rows);
            state.SetTablePosition(done);
            WriteAhead(next);
        }
        state.PumpMessages();
    }

    // The lines of the announced table that goes whole, written as its stream copies them,
    // so that a long table's lines are not all held until its end. A line that cannot be
    // written is left, with those after it, to the table's Flush.
    void WriteAhead(std::size_t next) {
        const Table& table = shared_.tables[next];
        if (announced_ <= next || table.parts.size() != 1 || !carried_.empty()) return;
        std::vector<std::string> lines = shared_.jobs[table.parts.front()].log.Take();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            try {
                RunLog::Append(ctx_.LogPath(), lines[i]);
            } catch (const std::exception&) {
                carried_.assign(lines.begin() + static_cast<std::ptrdiff_t>(i), lines.end());
                return;
            }
        }
    }

    // A table's lines, account row and step, told to the run as its sequential copy tells them:
    // its parts' in key order, one row (which goes on from its announcement). A part never
    // copied leaves the table cut short. A table whose copy ended on an error, or ended the
    // block, is not stepped: its line is not done. A log that cannot take its lines ends the
    // block: no table is started after it.
    void Flush(Table& table) {
        RunState& state = ctx_.state;
        state.SetStatusText(table.journal.table);
        state.StageStarted(RunStage::Table, table.journal.table);
        std::optional<TableAccount> row;   // a table is flushed once a part of it is done
        std::vector<std::string> lines = std::exchange(carried_, {});
        bool missing = false, failed = false;
        for (std::size_t part : table.parts) {
            Job& job = shared_.jobs[part];
            if (!job.done) {
                missing = true;
                continue;
            }
            const TableAccount& copied = job.state->Account().Tables().back();
            failed = failed || !copied.error.empty() || job.ending;
            if (row) AddPart(*row, copied);
            else row = copied;
            for (std::string& line : job.log.Take()) lines.push_back(std::move(line));
        }
        row->cutShort = row->cutShort || missing;
        try {
            for (const std::string& line : lines) RunLog::Append(ctx_.LogPath(), line);
        } catch (const std::exception& e) {
            shared_.noMoreStarts = true;
            shared_.end.Request();
            row->cutShort = true;
            if (row->error.empty()) row->error = e.what();
            state.Account().TakeTable(*row);
            throw;
        }
        state.Account().TakeTable(*row);
        if (!failed) state.StepAll();
        state.PumpMessages();
    }

    // The next part to start, largest first; none once a table failed or a cancel came.
    Job* Next() {
        std::lock_guard lock(shared_.mutex);
        if (Stopping() || shared_.next >= shared_.order.size()) return nullptr;
        Job& job = shared_.jobs[shared_.order[shared_.next++]];
        job.started = true;
        return &job;
    }

    void Stream(Attachments& a) {
        // Each stream works on its own attachments, so its units of work need no other's lock.
        db::OwnWorkLock ownLock;
        try {
            a.sourceConnection.Connect();
            a.destConnection.Connect();
            while (Job* job = Next()) CopyOne(a, *job);
        } catch (const std::exception&) {
            // An attachment that cannot be opened ends the run as a lost connection would.
            std::lock_guard lock(shared_.mutex);
            if (!shared_.connectFailure) shared_.connectFailure = std::current_exception();
            shared_.noMoreStarts = true;
            shared_.end.Request();
        }
        --shared_.running;
    }

    void CopyOne(Attachments& a, Job& job) {
        StreamState& state = *job.state;
        // The identifier maps are only read while the journals are copied (no journal table has
        // a map of its own), so every stream reads the run's maps without a lock.
        Context ctx(ctx_, state, shared_.end);
        ctx.heldLog = &job.log;   // no attachment watch: the run's watches this stream's
        state.SetStatusText(job.journal.table);
        state.StageStarted(RunStage::Table, job.journal.table);
        try {
            job.copied = CopyTable(ctx, a.Source(), a.Destination(), job.journal,
                                   job.counted ? std::optional<int>(job.rows) : std::nullopt);
        } catch (const Interruption&) {
            job.ending = std::current_exception();
            shared_.noMoreStarts = true;
            shared_.end.Request();
        } catch (const Error& e) {
            state.TableFailed(e.what());
            shared_.noMoreStarts = true;
        } catch (const std::exception& e) {
            // A lost connection: the run ends.
            job.ending = std::current_exception();
            state.TableFailed(e.what());
            shared_.noMoreStarts = true;
            shared_.end.Request();
        }
        const bool cutShort = ctx.Cancelled() || job.ending;
        state.LineDone(cutShort);
        state.StepAll();
        state.Account().Close(cutShort ? RunOutcome::Interrupted : RunOutcome::Finished);
        job.done = true;
    }

    Context& ctx_;
    Shared shared_;
    const std::string sourceName_, destName_;
    std::string uncounted_, uncountedError_;   // the table whose count failed, and why
    std::size_t announced_ = 0;                // the tables announced, in the block's order
    std::vector<std::string> carried_;         // lines of the table told next, not yet written
    std::vector<std::unique_ptr<Attachments>> attachments_;
    std::vector<std::thread> threads_;
};

} // namespace

std::vector<CopiedTable> CopyJournalsInStreams(Context& ctx, db::Databases& dm, const std::vector<CopyRequest>& journals) {
    Streams streams(ctx, dm, journals);
    streams.Run(ctx.options.jobs);
    return streams.Copies();
}

} // namespace kestrix::transfer
