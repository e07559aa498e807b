#include "transfer/JournalStreams.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
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

// A journal table of the block and what its stream leaves for the run. The stream that takes
// it writes everything but `started` and `done` before it sets `done`; the run's thread
// reads it after.
struct Job {
    CopyRequest journal{};
    int rows = 0;   // its count
    std::unique_ptr<StreamState> state;
    std::vector<std::string> log;
    std::exception_ptr ending;   // a lost connection or an interruption: the run ends
    CopiedTable copied;
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};
};

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
          destName_(dm.DestinationConnection().DatabaseName()), jobs_(journals.size()) {
        // A table that cannot be counted fails as its copy would: the block ends before it.
        std::size_t counted = 0;
        for (; counted < journals.size(); ++counted) {
            Job& job = jobs_[counted];
            job.journal = journals[counted];
            try {
                job.rows = CountSourceRows(ctx, dm.Source(), job.journal);
            } catch (const Error& e) {
                uncounted_ = job.journal.table;
                uncountedError_ = e.what();
                break;
            }
            job.state = std::make_unique<StreamState>(cancel_);
            order_.push_back(counted);
        }
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
        while (flushed < order_.size()) {
            if (jobs_[flushed].done) {
                Flush(jobs_[flushed++]);
                continue;
            }
            if (running_ == 0) break;   // the rest was never started
            Watch();
            std::this_thread::sleep_for(kPollEvery);
        }
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
        for (; flushed < order_.size(); ++flushed)
            if (jobs_[flushed].done) Flush(jobs_[flushed]);
        for (Job& job : jobs_)
            if (job.ending) std::rethrow_exception(job.ending);
        if (connectFailure_) std::rethrow_exception(connectFailure_);
        if (stop_ || cancel_ || uncounted_.empty()) return;
        ctx_.state.SetStatusText(uncounted_);
        ctx_.state.StageStarted(RunStage::Table, uncounted_);
        ctx_.state.TableFailed(uncountedError_);
    }

    std::vector<CopiedTable> Copies() {
        std::vector<CopiedTable> copies;
        for (Job& job : jobs_)
            if (job.done) copies.push_back(std::move(job.copied));
        return copies;
    }

private:
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
        for (Job& job : jobs_) {
            if (!job.started || job.done) continue;
            names += (names.empty() ? "" : ", ") + std::string(job.journal.table);
            rows += job.rows;
            done += job.state->RowsDone();
        }
        if (names.empty()) return;
        if (names != state.StatusText()) state.SetStatusText(names);
        if (rows != state.TableProgress().Max()) state.SetTableMax(rows);
        state.SetTablePosition(done);
    }

    // A table's lines, account row and step, told to the run as its sequential copy tells them.
    // A log that cannot take its lines ends the block: no table is started after it.
    void Flush(Job& job) {
        RunState& state = ctx_.state;
        state.SetStatusText(job.journal.table);
        state.StageStarted(RunStage::Table, job.journal.table);
        TableAccount row = job.state->Account().Tables().back();
        try {
            for (const std::string& line : job.log) RunLog::Append(ctx_.LogPath(), line);
        } catch (const std::exception& e) {
            cancel_ = stop_ = true;
            row.cutShort = true;
            if (row.error.empty()) row.error = e.what();
            state.Account().TakeTable(row);
            throw;
        }
        state.Account().TakeTable(row);
        state.StepAll();
        state.PumpMessages();
    }

    // The next table to start, largest first; none once a table failed or a cancel came.
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
            job.copied = CopyTable(ctx, a.Source(), a.Destination(), job.journal, job.rows);
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
    std::vector<Job> jobs_;           // in the block's order
    std::vector<std::size_t> order_;  // the order they start in
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::atomic<bool> cancel_{false}, stop_{false};
    std::atomic<int> running_{0};
    std::exception_ptr connectFailure_;
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
