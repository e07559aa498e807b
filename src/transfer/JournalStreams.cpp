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

#include "db/Error.h"
#include "db/Work.h"
#include "run/RunLog.h"
#include "transfer/CopyTable.h"
#include "transfer/TableList.h"

namespace kestrix::transfer {
namespace {

// A statement still waiting this long after a cancel is cancelled on its attachment.
constexpr std::chrono::milliseconds kCancelWaitingAfter{500};
constexpr std::chrono::milliseconds kPollEvery{20};

// One table's view of the run: displays and an account of its own, and the run's cancel
// request, seen at each of its pumps.
class StreamState : public RunState {
public:
    explicit StreamState(const std::atomic<bool>& cancel) : cancel_(cancel) {}
    void PumpMessages() override {
        if (cancel_) CancelFlag = true;
    }
    int RowsDone() const { return rowsDone_; }

protected:
    void DisplayChanged() override { rowsDone_ = TableProgress().Position(); }

private:
    const std::atomic<bool>& cancel_;
    std::atomic<int> rowsDone_{0};
};

// A part of a journal table, all its rows or those of one key range, and what its stream
// leaves for the run. The stream that takes it writes everything but `started` and `done`
// before it sets `done`; the run's thread reads it after. `started` is set under the mutex.
struct Job {
    CopyRequest journal{};   // with the part's key range when the table is copied in parts
    int rows = 0;            // the table's count, or the part's share of it
    bool counted = false;    // `rows` is the count query's: the copy need not count again
    std::unique_ptr<StreamState> state;
    std::vector<std::string> log;
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

// The attachments of one stream, made by the run's thread so that it can cancel a waiting
// statement on them; the stream connects and uses them.
struct Attachments {
    db::Connection sourceConnection, destConnection;
    db::Transaction sourceTransaction, destTransaction;
    db::Statement sourceSql, destSql;
    db::Side Source() { return {sourceSql, sourceTransaction, sourceConnection}; }
    db::Side Destination() { return {destSql, destTransaction, destConnection}; }
};

class Streams {
public:
    Streams(Context& ctx, db::Databases& dm, const std::vector<CopyRequest>& journals)
        : ctx_(ctx), sourceName_(dm.SourceConnection().DatabaseName()),
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
            tables_.push_back(std::move(table));
        }
        long long rows = 0;
        for (const Table& table : tables_) rows += table.rows;
        const long long share = (rows + ctx.options.jobs - 1) / std::max(ctx.options.jobs, 1);
        for (Table& table : tables_) AddParts(table, Parts(ctx, dm, table, share));
        for (std::size_t i = 0; i < jobs_.size(); ++i) order_.push_back(i);
        std::stable_sort(order_.begin(), order_.end(),
                         [this](std::size_t a, std::size_t b) { return jobs_[a].rows > jobs_[b].rows; });
    }
    // Every stream is stopped and waited for, however the block ends.
    ~Streams() {
        cancel_ = stop_ = true;
        for (std::thread& thread : threads_) thread.join();
        if (AttachmentWatch* watch = ctx_.attachmentWatch)
            for (auto& a : attachments_)
                for (db::Connection* connection : {&a->sourceConnection, &a->destConnection}) watch->Remove(*connection);
    }
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;

    void Run(int streams) {
        const std::size_t count = std::min<std::size_t>(static_cast<std::size_t>(std::max(streams, 1)), order_.size());
        for (std::size_t i = 0; i < count; ++i) {
            attachments_.push_back(std::make_unique<Attachments>());
            // The run's watch rescues a stream whose call a stalled server never answers, as it
            // rescues the run's own attachments.
            if (AttachmentWatch* watch = ctx_.attachmentWatch)
                for (db::Connection* connection : {&attachments_.back()->sourceConnection, &attachments_.back()->destConnection})
                    watch->Add(*connection);
        }
        running_ = static_cast<int>(count);
        for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { Stream(*attachments_[i]); });
        std::size_t flushed = 0;
        while (flushed < tables_.size()) {
            if (Finished(tables_[flushed])) {
                Flush(tables_[flushed++]);
                continue;
            }
            if (running_ == 0) break;   // the rest was never started
            Watch();
            std::this_thread::sleep_for(kPollEvery);
        }
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
        for (; flushed < tables_.size(); ++flushed)
            if (AnyDone(tables_[flushed])) Flush(tables_[flushed]);
        for (Job& job : jobs_)
            if (job.ending) std::rethrow_exception(job.ending);
        if (connectFailure_) std::rethrow_exception(connectFailure_);
        if (stop_ || cancel_ || uncounted_.empty()) return;
        ctx_.state.SetStatusText(uncounted_);
        ctx_.state.StageStarted(RunStage::Table, uncounted_);
        ctx_.state.TableFailed(uncountedError_);
    }

    // One copy per table, its parts' refused rows in key order, as one stream's copy gives.
    std::vector<CopiedTable> Copies() {
        std::vector<CopiedTable> copies;
        for (Table& table : tables_) {
            if (!AnyDone(table)) continue;
            CopiedTable whole;
            bool allParts = true;   // else the read-back reads both sides of the table
            for (std::size_t part : table.parts) {
                CopiedTable& copied = jobs_[part].copied;
                allParts = allParts && jobs_[part].done && !copied.request.table.empty();
                if (!jobs_[part].done || copied.request.table.empty()) continue;
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
            Job& job = jobs_.emplace_back();
            job.journal = table.journal;
            job.counted = ranges.empty();
            if (!ranges.empty()) job.journal.part = ranges[k];
            job.rows = table.rows / static_cast<int>(parts);
            job.state = std::make_unique<StreamState>(cancel_);
            table.parts.push_back(jobs_.size() - 1);
        }
    }

    // Every part of the table has its copy's end, or the rest will never start and the ones
    // started are done. Under the mutex: no part starts meanwhile.
    bool Finished(const Table& table) {
        std::lock_guard lock(mutex_);
        bool started = false, running = false, all = true;
        for (std::size_t part : table.parts) {
            started = started || jobs_[part].started;
            running = running || (jobs_[part].started && !jobs_[part].done);
            all = all && jobs_[part].done;
        }
        return all || ((stop_ || cancel_) && started && !running);
    }

    bool AnyDone(const Table& table) const {
        return std::any_of(table.parts.begin(), table.parts.end(), [this](std::size_t p) { return jobs_[p].done.load(); });
    }

    // The run's thread: pumps, passes a cancel on to the streams, and shows the tables in flight.
    void Watch() {
        RunState& state = ctx_.state;
        state.PumpMessages();
        if (state.CancelFlag) {
            cancel_ = true;
            for (auto& a : attachments_)
                for (db::Connection* connection : {&a->sourceConnection, &a->destConnection})
                    connection->CancelCallRunningFor(kCancelWaitingAfter);
        }
        std::string names;
        int rows = 0, done = 0;
        for (const Table& table : tables_) {
            bool started = false, all = true;
            int rowsDone = 0;
            for (std::size_t part : table.parts) {
                started = started || jobs_[part].started;
                all = all && jobs_[part].done;
                rowsDone += jobs_[part].state->RowsDone();
            }
            if (!started || all) continue;
            names += (names.empty() ? "" : ", ") + table.journal.table;
            rows += table.rows;
            done += rowsDone;
        }
        if (names.empty()) return;
        if (names != state.StatusText()) state.SetStatusText(names);
        if (rows != state.TableProgress().Max()) state.SetTableMax(rows);
        state.SetTablePosition(done);
    }

    // A table's lines, account row and step, told to the run as its sequential copy tells them:
    // its parts' in key order, one row. A part never copied leaves the table cut short.
    // A log that cannot take its lines ends the block: no table is started after it.
    void Flush(Table& table) {
        RunState& state = ctx_.state;
        state.SetStatusText(table.journal.table);
        state.StageStarted(RunStage::Table, table.journal.table);
        std::optional<TableAccount> row;   // a table is flushed once a part of it is done
        std::vector<std::string> lines;
        bool missing = false;
        for (std::size_t part : table.parts) {
            Job& job = jobs_[part];
            if (!job.done) {
                missing = true;
                continue;
            }
            const TableAccount& copied = job.state->Account().Tables().back();
            if (row) AddPart(*row, copied);
            else row = copied;
            lines.insert(lines.end(), job.log.begin(), job.log.end());
        }
        row->cutShort = row->cutShort || missing;
        try {
            for (const std::string& line : lines) RunLog::Append(ctx_.LogPath(), line);
        } catch (const std::exception& e) {
            cancel_ = stop_ = true;
            row->cutShort = true;
            if (row->error.empty()) row->error = e.what();
            state.Account().TakeTable(*row);
            throw;
        }
        state.Account().TakeTable(*row);
        state.StepAll();
        state.PumpMessages();
    }

    // The next part to start, largest first; none once a table failed or a cancel came.
    Job* Next() {
        std::lock_guard lock(mutex_);
        if (stop_ || cancel_ || next_ >= order_.size()) return nullptr;
        Job& job = jobs_[order_[next_++]];
        job.started = true;
        return &job;
    }

    void Stream(Attachments& a) {
        // Each stream works on its own attachments, so its units of work need no other's lock.
        db::OwnWorkLock ownLock;
        try {
            a.destConnection.Role = DatabaseRole::Destination;
            db::SetStandardParams(a.sourceConnection, ctx_.options.sourceLogin);
            db::SetStandardParams(a.destConnection, ctx_.options.destLogin);
            a.destConnection.ProcessName = db::WriterProcessName();
            for (auto [connection, name] : {std::pair{&a.sourceConnection, &sourceName_},
                                            std::pair{&a.destConnection, &destName_}}) {
                connection->SetDatabaseFile(*name);
                connection->Connect();
            }
            while (Job* job = Next()) CopyOne(a, *job);
        } catch (const std::exception&) {
            // An attachment that cannot be opened ends the run as a lost connection would.
            std::lock_guard lock(mutex_);
            if (!connectFailure_) connectFailure_ = std::current_exception();
            cancel_ = stop_ = true;
        }
        --running_;
    }

    void CopyOne(Attachments& a, Job& job) {
        StreamState& state = *job.state;
        // The identifier maps are only read while the journals are copied (no journal table has
        // a map of its own), so every stream reads the run's maps without a lock.
        Context ctx{state, ctx_.options, ctx_.maps, ctx_.postScriptPause};
        ctx.heldLog = &job.log;   // no attachment watch: the run's thread watches this stream's
        state.SetStatusText(job.journal.table);
        state.StageStarted(RunStage::Table, job.journal.table);
        try {
            job.copied = CopyTable(ctx, a.Source(), a.Destination(), job.journal,
                                   job.counted ? std::optional<int>(job.rows) : std::nullopt);
        } catch (const Interruption&) {
            state.CancelFlag = true;
            job.ending = std::current_exception();
            cancel_ = stop_ = true;
        } catch (const Error& e) {
            state.TableFailed(e.what());
            stop_ = true;
        } catch (const std::exception& e) {
            // A lost connection: the run ends.
            job.ending = std::current_exception();
            state.TableFailed(e.what());
            cancel_ = stop_ = true;
        }
        state.StepAll();
        state.Account().Close(state.CancelFlag || job.ending ? RunOutcome::Interrupted : RunOutcome::Finished);
        job.done = true;
    }

    Context& ctx_;
    const std::string sourceName_, destName_;
    // Written by the constructor; then a part's job is written by the stream that took it (see Job).
    std::vector<Table> tables_;       // in the block's order
    std::deque<Job> jobs_;            // the tables' parts, table after table
    std::vector<std::size_t> order_;  // the order the parts start in
    std::size_t next_ = 0;            // under the mutex
    std::mutex mutex_;
    std::atomic<bool> cancel_{false}, stop_{false};
    std::atomic<int> running_{0};
    std::exception_ptr connectFailure_;   // under the mutex
    std::string uncounted_, uncountedError_;   // the table whose count failed, and why
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
