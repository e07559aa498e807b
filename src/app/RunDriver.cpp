#include "app/RunDriver.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "db/Error.h"
#include "run/Texts.h"
#include "scripts/SqlScripts.h"
#include "run/Context.h"
#include "transfer/Generators.h"
#include "transfer/MoveTables.h"

namespace kestrix {
namespace {

// Cancels the running statements of the connections while the request is set, every
// 100 milliseconds, from a thread of its own: the run's thread may wait in the client library
// and a cancel that met no statement may be taken by the next one, or by none.
class CancelWatcher {
public:
    CancelWatcher(const std::atomic<bool>* request, std::vector<db::Connection*> connections)
        : request_(request), connections_(std::move(connections)) {
        if (request_) thread_ = std::thread([this] { Watch(); });
    }
    ~CancelWatcher() {
        if (!thread_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    CancelWatcher(const CancelWatcher&) = delete;
    CancelWatcher& operator=(const CancelWatcher&) = delete;
    bool Fired() const { return fired_; }

private:
    void Watch() {
        std::unique_lock lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) {
            if (!*request_) continue;
            fired_ = true;
            for (db::Connection* connection : connections_) connection->Cancel();
        }
    }

    const std::atomic<bool>* request_;
    std::vector<db::Connection*> connections_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::atomic<bool> fired_{false};
    std::thread thread_;
};

} // namespace

std::string StripQuotes(const std::string& name) {
    std::string result;
    for (char c : name)
        if (c != '"') result += c;
    std::erase(result, '\'');
    return result;
}

void RunDriver::MoveBitBtnClick(const std::string& sourceText, const std::string& destText) {
    state_.CancelFlag = false;
    state_.SourceName = StripQuotes(sourceText);
    state_.DestName = StripQuotes(destText);
    state_.LockControls(true);

    std::exception_ptr failure;
    std::vector<db::Connection*> connections{&dm_.IBDatabase3, &dm_.IBDatabase1, &dm_.IBDatabase2};
    bool cancelled = false;
    {
        CancelWatcher watcher(CancelRequest, connections);
        try {
            Steps();
        } catch (const Interruption&) {
            // A statement the cancel request ended: the run is interrupted, not failed.
            state_.CancelFlag = true;
            Interrupted();
        } catch (...) {
            failure = std::current_exception();
        }
        cancelled = watcher.Fired();
    }
    // A cancel that met no statement would fail the cleanup's commits.
    if (cancelled)
        for (db::Connection* connection : connections) connection->ClearCancel();

    // Cleanup, whatever happened before.
    state_.SetWaitCursor(false);
    try {
        DisconnectAll();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    state_.LockControls(false);
    if (state_.CancelFlag) state_.ShowInterruptionWarning(texts::kInterruptedWarning);
    if (failure) std::rethrow_exception(failure);
}

void RunDriver::Steps() {
    dm_.IBDatabase3.SetDatabaseFile(state_.SourceName);
    dm_.IBDatabase3.Connect();
    dm_.IBDatabase1.SetDatabaseFile(state_.DestName);
    dm_.IBDatabase2.SetDatabaseFile(state_.DestName);
    dm_.IBDatabase1.Connect();
    dm_.IBDatabase2.Connect();

    state_.TotalSteps = state_.TableListLines + (state_.EventsOption ? 4 : 0);
    maps_.Clear();
    Context ctx{state_, maps_, postScriptPause};
    state_.PumpMessages();

    scripts::RABSQL(ctx, dm_);
    if (state_.CancelFlag) return;

    transfer::MoveTables(ctx, dm_);
    state_.SetAllPosition(0);
    if (Interrupted()) return;

    state_.SetStatusText(texts::kStatusPostScript);
    state_.PumpMessages();
    scripts::SucesSQL(ctx, dm_);
    if (Interrupted()) return;

    state_.SetStatusText(texts::kStatusGenerators);
    state_.PumpMessages();
    transfer::RestoreGenerators(ctx, dm_);
    if (Interrupted()) return;

    state_.SetStatusText(texts::kStatusFinished);
    state_.SetTablePosition(0);
    state_.PumpMessages();
}

bool RunDriver::Interrupted() {
    if (!state_.CancelFlag) return false;
    state_.SetStatusText(texts::kStatusInterrupted);
    state_.SetTablePosition(0);
    state_.SetAllPosition(0);
    return true;
}

void RunDriver::DisconnectAll() {
    // Each connection is closed even when an earlier one fails; the first failure is raised.
    std::exception_ptr failure;
    for (db::Connection* connection : {&dm_.IBDatabase3, &dm_.IBDatabase1, &dm_.IBDatabase2}) {
        try {
            connection->Disconnect();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

} // namespace kestrix
