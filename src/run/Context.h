#pragma once
// What every engine routine reads besides its arguments: the run's options, its state and the maps.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "run/DataFiles.h"
#include "run/RunOptions.h"
#include "run/RunState.h"
#include "run/IdMaps.h"
#include "run/RunLog.h"

namespace kestrix {

// Attachments a run opens beside its own (the streams of the journal block), told to whatever
// watches the run's attachments for a call that does not come back: from Add to Remove.
class AttachmentWatch {
public:
    virtual ~AttachmentWatch() = default;
    virtual void Add(db::Connection& connection) = 0;
    // Once it returns, the watch no longer touches the attachment.
    virtual void Remove(db::Connection& connection) = 0;
};

// A request to stop: set by a front end (a button, a termination signal) or by the part of the
// run it belongs to, from any thread; read by the run's thread, the streams of the journal
// block and the watch over the attachments. A token made with an outer one reads as requested
// also while the outer one is: a part of the run that can be stopped on its own.
class CancelToken {
public:
    CancelToken() = default;
    explicit CancelToken(const CancelToken* outer) : outer_(outer) {}
    CancelToken(const CancelToken&) = delete;
    CancelToken& operator=(const CancelToken&) = delete;

    void Request() noexcept { requested_.store(true); }
    void Clear() noexcept { requested_.store(false); }
    bool Requested() const noexcept { return requested_.load() || (outer_ && outer_->Requested()); }

private:
    static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal's thread");
    std::atomic<bool> requested_{false};
    const CancelToken* outer_ = nullptr;
};

// A table copy's log lines kept back, to be written in the journal block's order: added by
// the stream that copies the table, taken by the run's thread.
class HeldLog {
public:
    void Add(std::string line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(std::move(line));
    }
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// What a front end and its tests give a run besides its options, kept from run to run.
struct RunControl {
    // The cancel request of the run; cleared as a run starts.
    CancelToken cancel;
    // Pause of the post-transfer script after every statement; tests shorten it.
    std::chrono::milliseconds postScriptPause{1000};
    // Runs on the run's thread between the copy and its read-back: tests change the
    // destination there.
    std::function<void()> beforeReadBack;
};

struct Context {
    Context(RunState& state, const RunOptions& options, IdMaps& maps, RunControl& control)
        : state(state), options(options), maps(maps), control(control), cancel(control.cancel) {}
    // A part of the run with a state of its own, stopped by `cancel` (made with the run's).
    Context(const Context& run, RunState& state, const CancelToken& cancel)
        : state(state), options(run.options), maps(run.maps), control(run.control), cancel(cancel) {}

    RunState& state;
    const RunOptions& options;
    IdMaps& maps;
    RunControl& control;
    // What the routines test between their steps: the run's cancel request, or a part's.
    const CancelToken& cancel;
    // Where a table copy's log lines go: the run log, or, for a stream of the parallel journal
    // copy, its table's lines kept back to be written in the journal block's order.
    HeldLog* heldLog = nullptr;
    // Watches the attachments a routine opens of its own; none in a run without a watch.
    AttachmentWatch* attachmentWatch = nullptr;

    std::string LogPath() const { return options.appDir + kLogFile; }
    void LogLine(const std::string& line) const {
        if (heldLog) heldLog->Add(line);
        else RunLog::Append(LogPath(), line);
    }
    std::string DataFile(const std::string& relative) const { return FindDataFile(options.appDir, relative); }
    bool Cancelled() const { return cancel.Requested(); }
};

} // namespace kestrix
