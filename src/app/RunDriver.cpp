#include "app/RunDriver.h"

#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>

#include "db/Error.h"
#include "db/Strings.h"
#include "db/Work.h"
#include "run/DataFiles.h"
#include "run/RunLog.h"
#include "run/Texts.h"
#include "scripts/SqlScripts.h"
#include "run/Context.h"
#include "transfer/Generators.h"
#include "transfer/BulkLoad.h"
#include "transfer/MoveTables.h"
#include "transfer/PresentRows.h"
#include "transfer/Verification.h"

namespace kestrix {

// While armed and the run's cancel request is set, cancels a statement's execute or fetch
// once it has run for half a second, from a thread of its own: the run's thread (or a
// stream's) waits in the client library then; it is the only one that cancels the run's
// statements. Shorter ones are left to end, and the run sees the request at its next test.
// A server stopped for a while may lose the answer to a call whose cancel reached it with
// the call: a call still waiting 3 s after its cancel makes the watcher ask that server for
// an attachment of its own, and when the server answers that but not the call within 2 s
// more, the call's link is cut and the call ends as interrupted. A server that keeps the run
// waiting for 30 s after the request was seen is taken for gone: every connection's link is
// cut, so that the run and its cleanup end on the lost connection instead of waiting on.
// The calls to the server are made on a copy of the list, with no lock held: Remove waits
// for the pass that may be using the attachment instead.
class CancelWatcher : public AttachmentWatch {
public:
    CancelWatcher(const CancelToken& request, std::vector<db::Connection*> connections) : request_(request) {
        for (db::Connection* connection : connections) watched_.push_back({connection, {}});
        thread_ = std::thread([this] { Watch(); });
    }
    ~CancelWatcher() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    CancelWatcher(const CancelWatcher&) = delete;
    CancelWatcher& operator=(const CancelWatcher&) = delete;

    void Arm(bool armed) { armed_ = armed; }
    void Add(db::Connection& connection) override {
        std::lock_guard lock(mutex_);
        watched_.push_back({&connection, {}});
    }
    void Remove(db::Connection& connection) override {
        std::unique_lock lock(mutex_);
        std::erase_if(watched_, [&](const Watched& w) { return w.connection == &connection; });
        passDone_.wait(lock, [this] { return !inPass_; });
    }
    // Whether a server was taken for gone and every link cut.
    bool CutAll() const { return cutAll_; }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kCancelAfter{500};
    static constexpr std::chrono::seconds kAskServerAfter{3}, kServerAnswerWithin{2}, kCallAnswerWithin{2};
    static constexpr std::chrono::seconds kServerGoneAfter{30};

    struct Watched {
        db::Connection* connection;
        std::optional<Clock::time_point> serverAnswered;   // for the call now waiting
    };

    void Watch() {
        std::unique_lock lock(mutex_);
        std::optional<Clock::time_point> seen;
        while (!wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_; })) {
            if (!armed_ || !request_.Requested()) continue;
            if (!seen) seen = Clock::now();
            const bool giveUp = !gaveUp_ && Clock::now() - *seen >= kServerGoneAfter;
            std::vector<Watched> pass = watched_;
            inPass_ = true;
            lock.unlock();
            for (Watched& watched : pass) CancelOrCut(watched);
            bool silent = false;
            if (giveUp) silent = GiveUp(pass);
            lock.lock();
            inPass_ = false;
            if (giveUp) gaveUp_ = true;
            if (silent) cutAll_ = true;
            // What the pass learnt of a server, kept for the attachments still watched.
            for (const Watched& done : pass)
                for (Watched& watched : watched_)
                    if (watched.connection == done.connection) watched.serverAnswered = done.serverAnswered;
            passDone_.notify_all();
        }
    }

    // Every link cut: that of a server that still answers (a lock or a long call keeps the run
    // waiting) as an interruption, that of one that does not as a lost connection. Whether a
    // server did not answer.
    static bool GiveUp(std::vector<Watched>& pass) {
        bool silent = false;
        for (Watched& watched : pass) {
            const bool answers = watched.connection->ServerAnswers(kServerAnswerWithin);
            watched.connection->CutOff(answers);
            silent = silent || !answers;
        }
        return silent;
    }

    static void CancelOrCut(Watched& watched) {
        db::Connection& connection = *watched.connection;
        connection.CancelCallRunningFor(kCancelAfter);
        if (connection.CallRunning() < kCancelAfter + kAskServerAfter) {
            watched.serverAnswered.reset();
        } else if (!watched.serverAnswered) {
            if (connection.ServerAnswers(kServerAnswerWithin)) watched.serverAnswered = Clock::now();
        } else if (Clock::now() - *watched.serverAnswered >= kCallAnswerWithin) {
            connection.CutOff(true);
        }
    }

    const CancelToken& request_;
    std::atomic<bool> armed_{false}, cutAll_{false};
    bool gaveUp_ = false;   // the watch's own thread only
    std::mutex mutex_;
    // Under the mutex: the attachments, whether a pass uses a copy of them, and the stop.
    std::vector<Watched> watched_;
    bool inPass_ = false;
    std::condition_variable wake_, passDone_;
    bool stop_ = false;
    std::thread thread_;
};

namespace {

bool LostConnection(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ConnectionLost&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

std::string StripQuotes(const std::string& name) {
    std::string result;
    for (char c : name)
        if (c != '"') result += c;
    std::erase(result, '\'');
    return result;
}

DestinationBusyError::DestinationBusyError(OtherRun other)
    : Error(Error::Kind::Client, 0,
            texts::Formatted(texts::kDestinationBusy, other.host.c_str(), other.processId.c_str(), other.started.c_str())),
      other_(std::move(other)) {}

void RefuseOtherWriter(db::Side side, const std::vector<long>& own) {
    side.Bind();
    db::WorkUnit work(side.statement);   // a transaction of its own: the monitoring tables as of now
    const db::ClearSqlAtEnd release(side.statement);
    std::string notOwn;
    for (long id : own) notOwn += " AND MON$ATTACHMENT_ID <> " + std::to_string(id);
    side.statement.ClearSql();
    side.statement.AddSqlLine("SELECT COALESCE(MON$REMOTE_HOST, ''), COALESCE(MON$REMOTE_PID, 0), "
                        "EXTRACT(YEAR FROM MON$TIMESTAMP), EXTRACT(MONTH FROM MON$TIMESTAMP), "
                        "EXTRACT(DAY FROM MON$TIMESTAMP), EXTRACT(HOUR FROM MON$TIMESTAMP), "
                        "EXTRACT(MINUTE FROM MON$TIMESTAMP), EXTRACT(SECOND FROM MON$TIMESTAMP) FROM MON$ATTACHMENTS "
                        "WHERE MON$REMOTE_PROCESS LIKE '%" + std::string(db::kWriterMark) + "' AND "
                        "MON$ATTACHMENT_ID <> CURRENT_CONNECTION" + notOwn + " ORDER BY MON$TIMESTAMP");
    side.statement.Execute();
    if (side.statement.AtEnd()) return;
    int at[6];
    for (int i = 0; i < 6; ++i) at[i] = static_cast<int>(std::stod(side.statement.ColumnAt(2 + i).GetString()));
    char started[32];
    std::snprintf(started, sizeof started, "%04d-%02d-%02d %02d:%02d:%02d", at[0], at[1], at[2], at[3], at[4], at[5]);
    throw DestinationBusyError({side.statement.ColumnAt(0).GetString(), side.statement.ColumnAt(1).GetString(), started});
}

SwitchesLeftError::SwitchesLeftError() : Error(Error::Kind::Client, 0, texts::kSwitchesLeft) {}

SameDatabasesError::SameDatabasesError() : Error(Error::Kind::Client, 0, texts::kSameDatabases) {}

bool SameDatabaseNames(const std::string& source, const std::string& dest) {
    std::string a = TrimBlanksAndControls(StripQuotes(source)), b = TrimBlanksAndControls(StripQuotes(dest));
    if (a.empty() || b.empty()) return false;
    if (a == b) return true;
    // Names through a server are no local files: the attachments tell after connecting.
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void RunDriver::Run(const RunOptions& options) {
    options_ = options;
    options_.sourceName = StripQuotes(options.sourceName);
    options_.destName = StripQuotes(options.destName);
    control_.cancel.Clear();
    state_.Account().Start();
    state_.Account().SetEventsFrom(options_.events ? std::optional(options_.startDate) : std::nullopt);
    state_.LockControls(true);

    CancelWatcher watcher(control_.cancel, {&dm_.SourceConnection(), &dm_.DestinationConnection(),
                                          &dm_.SecondDestinationConnection()});
    std::exception_ptr failure;
    bool finished = false;
    try {
        finished = Steps(watcher);
    } catch (const Interruption&) {
        // A statement the cancel request ended: the run is interrupted, not failed.
        ShowInterrupted();
    } catch (...) {
        failure = std::current_exception();
    }

    // Cleanup, whatever happened before; a server gone silent does not hold it up.
    state_.SetWaitCursor(false);
    watcher.Arm(true);
    try {
        DisconnectAll();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
    ForcedWritesBackOn();
    // A switch of the bulk load left set: the destination is weaker than its schema, and a
    // run that would otherwise have finished has failed (an interruption stays one).
    if (!failure && finished && !state_.Account().Left().empty())
        failure = std::make_exception_ptr(SwitchesLeftError());
    // The links cut because the server went silent: said so, in place of what the cut made
    // fail (or nothing, where a unit of work's end swallowed its failed commit).
    if (watcher.CutAll() && (!failure || LostConnection(failure)))
        failure = std::make_exception_ptr(Error(Error::Kind::Client, 0, texts::kServerSilent));
    const RunOutcome outcome = failure ? RunOutcome::Failed : finished ? RunOutcome::Finished : RunOutcome::Interrupted;
    // Every stage done: a request to interrupt came too late to stop anything.
    if (outcome == RunOutcome::Finished && control_.cancel.Requested())
        state_.Account().CancelCameTooLate();
    state_.Account().Close(outcome);
    state_.LockControls(false);
    if (outcome == RunOutcome::Interrupted) state_.ShowInterruptionWarning(texts::kInterruptedWarning);
    if (failure) std::rethrow_exception(failure);
}

void RunDriver::Connect() {
    if (SameDatabaseNames(options_.sourceName, options_.destName)) throw SameDatabasesError();
    dm_.SetLogins(options_.sourceLogin, options_.destLogin);
    dm_.SourceConnection().SetDatabaseFile(options_.sourceName);
    ConnectAs(dm_.SourceConnection(), DatabaseRole::Source);
    dm_.DestinationConnection().SetDatabaseFile(options_.destName);
    dm_.SecondDestinationConnection().SetDatabaseFile(options_.destName);
    ConnectAs(dm_.DestinationConnection(), DatabaseRole::Destination);
    ConnectAs(dm_.SecondDestinationConnection(), DatabaseRole::Destination);
    // Any two spellings of one database, through a server too: the server knows its files.
    if (dm_.SourceConnection().Identity() == dm_.DestinationConnection().Identity()) throw SameDatabasesError();
    const std::vector<NamedFile> databases{{"the source database", dm_.SourceConnection().LocalFile()},
                                           {"the destination database", dm_.DestinationConnection().LocalFile()}};
    if (auto clash = OutputClash(OutputFiles, databases)) throw OutputClashError(*clash);
    // One writer per destination: through a server another run may be writing it (an embedded
    // engine's file lock has refused that already).
    RefuseOtherWriter(dm_.Destination(), {dm_.DestinationConnection().AttachmentId(),
                                          dm_.SecondDestinationConnection().AttachmentId()});
}

void RunDriver::ConnectAs(db::Connection& connection, DatabaseRole role) {
    for (;;) {
        try {
            connection.Connect();
            return;
        } catch (const LoginRefused& refused) {
            std::optional<db::Credentials> login;
            if (AskLogin) login = AskLogin(role, refused);
            if (!login) throw;
            (role == DatabaseRole::Source ? options_.sourceLogin : options_.destLogin) = std::move(*login);
            // Only the parameters of the next attach change: a connected side keeps its attachment.
            dm_.SetLogins(options_.sourceLogin, options_.destLogin);
        }
    }
}

bool RunDriver::Steps(CancelWatcher& watcher) {
    Connect();
    const transfer::RunPlan plan = transfer::PlanRun(options_);

    maps_.Clear();
    copies_.clear();
    Context ctx(state_, options_, maps_, control_);
    ctx.attachmentWatch = &watcher;
    // The journals are never cleared: rows of the destination with the keys of the copy's
    // rows will be refused. Said before the first write; the run goes on.
    if (options_.events) {
        const std::vector<PresentRows> present =
            transfer::JournalRowsPresent(dm_.Source(), dm_.Destination(), options_.startDate);
        if (!present.empty()) state_.RowsAlreadyPresent(present);
    }
    state_.PumpMessages();

    // What a run which never ended left set for its load is set back before anything is written.
    state_.WritingBegins();
    transfer::RestoreIndexesLeftInactive(ctx, dm_.Destination());
    RestoreForcedWritesLeftOff(ctx);
    ForcedWritesOffForTheRun();

    state_.StageStarted(RunStage::PreScript, "");
    scripts::RunPreTransferScript(ctx, dm_);
    if (control_.cancel.Requested()) return false;

    // Only the transfer's statements are cancelled: a script's statement runs to its end.
    watcher.Arm(true);
    copies_ = transfer::MoveTables(ctx, dm_, plan);
    if (options_.verify && !control_.cancel.Requested()) {
        if (control_.beforeReadBack) control_.beforeReadBack();
        transfer::VerifyCopies(ctx, dm_.Source(), dm_.Destination(), copies_);
    }
    watcher.Arm(false);
    state_.SetAllPosition(0);
    if (Interrupted()) return false;

    state_.SetStatusText(texts::kStatusPostScript);
    state_.StageStarted(RunStage::PostScript, "");
    state_.PumpMessages();
    scripts::RunPostTransferScript(ctx, dm_);
    if (Interrupted()) return false;

    state_.SetStatusText(texts::kStatusGenerators);
    state_.StageStarted(RunStage::Generators, "");
    state_.PumpMessages();
    // The last stage runs to its end once begun, and the run is then finished whatever is
    // asked meanwhile: stopping between generators would leave some behind their keys and
    // a complete transfer to be done again.
    transfer::RestoreGenerators(ctx, dm_, plan);

    // A switch of the bulk load left set fails the run at its end: it is not said to be finished.
    if (!state_.Account().Left().empty()) return true;
    state_.SetStatusText(texts::kStatusFinished);
    state_.StageStarted(RunStage::Finished, "");
    state_.SetTablePosition(0);
    state_.PumpMessages();
    return true;
}

bool RunDriver::Interrupted() {
    if (!control_.cancel.Requested()) return false;
    ShowInterrupted();
    return true;
}

void RunDriver::ShowInterrupted() {
    state_.SetStatusText(texts::kStatusInterrupted);
    state_.StageStarted(RunStage::Interrupted, "");
    state_.SetTablePosition(0);
    state_.SetAllPosition(0);
}

void RunDriver::DisconnectAll() {
    // Each connection is closed even when an earlier one fails; the first failure is raised.
    std::exception_ptr failure;
    for (db::Connection* connection : {&dm_.SourceConnection(), &dm_.DestinationConnection(), &dm_.SecondDestinationConnection()}) {
        try {
            connection->Disconnect();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

std::string RunDriver::SwitchForcedWritesDetached(bool on, bool& switched) {
    db::Connection& first = dm_.DestinationConnection();
    db::Connection& second = dm_.SecondDestinationConnection();
    second.Disconnect();
    first.Disconnect();
    std::string refusal;
    try {
        first.SetForcedWrites(on);
        switched = true;
    } catch (const Error& e) {
        switched = false;   // a login that may not switch them
        refusal = e.what();
    }
    ConnectAs(first, DatabaseRole::Destination);
    ConnectAs(second, DatabaseRole::Destination);
    return refusal;
}

bool RunDriver::DestinationAttachedElsewhere() {
    return transfer::AttachedElsewhere(dm_.Destination(), {dm_.DestinationConnection().AttachmentId(),
                                                           dm_.SecondDestinationConnection().AttachmentId()});
}

void RunDriver::RestoreForcedWritesLeftOff(Context& ctx) {
    if (!transfer::ForcedWritesLeftOff(dm_.Destination())) return;
    if (dm_.DestinationConnection().ForcedWrites()) {
        // Marked, but never switched off: only the mark is left, which a login that may not
        // comment on the database leaves for the owner's next run.
        try {
            transfer::UnmarkForcedWritesOff(dm_.Destination());
        } catch (const Error&) {
        }
        return;
    }
    bool switched = false;
    // "" for another client attached.
    const std::string refusal = DestinationAttachedElsewhere() ? std::string() : SwitchForcedWritesDetached(true, switched);
    if (!switched) {   // left off and marked, for the check and the next run
        ForcedWritesLeft(refusal);
        return;
    }
    try {
        transfer::UnmarkForcedWritesOff(dm_.Destination());
    } catch (const Error&) {
        // On again: the mark left is only taken off by a login that may.
    }
    RunLog::Append(ctx.LogPath(), Timestamp() + texts::kForcedWritesRestored);
}

void RunDriver::ForcedWritesLeft(const std::string& reason) {
    const std::string logPath = options_.appDir + kLogFile;
    const std::string line = reason.empty() ? texts::kForcedWritesOthersAttached : OneLine(reason);
    RunLog::Append(logPath, Timestamp() + texts::kForcedWritesNotSwitched + line);
    RunLog::Append(logPath, Timestamp() + texts::kForcedWritesStillOff);
    state_.SwitchLeft({"", "", OneLine(reason)});
}

void RunDriver::ForcedWritesOffForTheRun() {
    // Only a local file: through a server other clients may attach, and their forced writes
    // are not the run's.
    if (dm_.DestinationConnection().ThroughServer() || DestinationAttachedElsewhere()) return;
    try {
        if (!transfer::MarkForcedWritesOff(dm_.Destination())) return;
    } catch (const Error&) {
        return;   // a login that may not comment on the database: they stay on
    }
    SwitchForcedWritesDetached(false, forcedWritesOff_);   // a refusal leaves them on: nothing to tell
    if (!forcedWritesOff_) transfer::UnmarkForcedWritesOff(dm_.Destination());
}

void RunDriver::ForcedWritesBackOn() noexcept {
    if (!forcedWritesOff_) return;
    forcedWritesOff_ = false;
    db::Connection& dest = dm_.DestinationConnection();
    bool on = false;
    std::string reason;   // why they stay off; "" for another client attached
    try {
        dest.Connect();
        const bool alone = !transfer::AttachedElsewhere(dm_.Destination(), {dest.AttachmentId()});
        dest.Disconnect();
        if (alone) {
            dest.SetForcedWrites(true);
            on = true;
            dest.Connect();
            transfer::UnmarkForcedWritesOff(dm_.Destination());   // else left for the next run
            dest.Disconnect();
        }
    } catch (const std::exception& error) {
        reason = error.what();
        try {
            if (dest.IsConnected()) dest.Disconnect();
        } catch (...) {
        }
    }
    if (on) return;
    // Left marked: the check reports them, and the next run switches them on.
    try {
        ForcedWritesLeft(reason);
    } catch (...) {
        state_.SwitchLeft({"", "", OneLine(reason)});
    }
}

} // namespace kestrix
