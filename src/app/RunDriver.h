#pragma once
// One complete transfer, as the start button runs it: connect, pre-transfer script,
// transfer sequence, post-transfer script, generator reset, and a cleanup that always runs.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/Context.h"
#include "run/OutputFile.h"
#include "run/RunOptions.h"
#include "run/RunState.h"
#include "db/Databases.h"
#include "db/Error.h"
#include "run/IdMaps.h"
#include "transfer/TablePlan.h"

namespace kestrix {

class CancelWatcher;

// Every double quote removed, then every single quote.
std::string StripQuotes(const std::string& name);

// Whether two database names, as the operator gave them, name one database before anything
// is connected: equal after StripQuotes (blanks and control characters at both ends aside),
// or two names of one local file (the same device and inode: a link, a relative name, "./",
// "//"). Empty names are never one database.
bool SameDatabaseNames(const std::string& source, const std::string& dest);

// Two names or two attachments of one database: the window shows its text, the command line
// its own.
class SameDatabasesError : public Error {
public:
    SameDatabasesError();
};

// A run that left a switch of its bulk load set (an index inactive, forced writes off): the
// account names each; the window shows its text, the command line its own.
class SwitchesLeftError : public Error {
public:
    SwitchesLeftError();
};

// Another run of this program writing a database, as the server shows its attachment.
struct OtherRun {
    std::string host;        // the computer it runs on
    std::string processId;
    std::string started;     // when it attached, "YYYY-MM-DD HH:MM:SS" by the server's clock
};

// A destination that another run is writing: the window shows its text, the command line its
// own from the other run's details.
class DestinationBusyError : public Error {
public:
    explicit DestinationBusyError(OtherRun other);
    const OtherRun& Other() const { return other_; }

private:
    OtherRun other_;
};

// Raises DestinationBusyError when an attachment of another run (its process name carrying
// the writer mark) is attached to the database of the side; the attachments numbered in
// `own` are the caller's. Raises what the database raises.
void RefuseOtherWriter(db::Side side, const std::vector<long>& own);

class RunDriver {
public:
    RunDriver(RunState& state, db::Databases& dm) : state_(state), dm_(dm) {}

    // Runs one transfer with the options given, kept for the run with the quotes removed from
    // their database names (StripQuotes). A step's error leaves after the cleanup; an
    // interruption does not raise (the account's outcome tells it). Once the generator reset
    // has begun, the run finishes, and a cancel request seen later is noted in the account as
    // too late. Two names of one database are refused with the equal-names text before
    // connecting, and two attachments that reached one database after connecting, before
    // anything is written; so is a destination that another run is writing.
    void Run(const RunOptions& options);

    // The options of the current or last run, as the run took them.
    const RunOptions& Options() const { return options_; }

    // The maps of the last run, kept until the next run replaces them.
    const IdMaps& Maps() const { return maps_; }
    // The copies of the last run that ran to their end, in run order.
    const std::vector<transfer::CopiedTable>& Copies() const { return copies_; }
    // The run's cancel request and test seams. A front end requests the cancel from any
    // thread (a button, a signal): while it is set, a thread of the run cancels a statement
    // that has run for half a second, so that a long one (a lock wait, a large delete) ends
    // the run as interrupted within about a second; a server that has not answered 30 s after
    // the request is cut off (a lost connection). Whoever holds the driver keeps it alive.
    RunControl& Control() { return control_; }
    // Files the front end writes when the run is over. The front end refuses names of the
    // run's files before the run; here, once connected and before anything is written, an
    // output that is the file of an attachment through a server on this machine raises
    // OutputClashError.
    std::vector<NamedFile> OutputFiles;
    // Asked from the run's thread when a side's server refuses its login while connecting:
    // another login for that side, tried at once (and kept in Options()), or nothing, which
    // ends the run with the refusal. Unset, a refusal ends the run.
    std::function<std::optional<db::Credentials>(DatabaseRole, const LoginRefused&)> AskLogin;

private:
    // Whether every stage was done.
    bool Steps(CancelWatcher& watcher);
    void Connect();
    // Connects, asking AskLogin for another login of the side as long as its server refuses one.
    void ConnectAs(db::Connection& connection, DatabaseRole role);
    // Whether the run was asked to stop; then the interrupted status is shown.
    bool Interrupted();
    void ShowInterrupted();
    void DisconnectAll();
    // Forced writes of the destination: left off by a killed run, switched on before anything
    // is written; off for the run into a local file, and on again after its last detach.
    // Forced writes are switched only while the destination has no attachment but the run's.
    bool DestinationAttachedElsewhere();
    void RestoreForcedWritesLeftOff(Context& ctx);
    void ForcedWritesOffForTheRun();
    void ForcedWritesBackOn() noexcept;
    // Forced writes that stay off, and why: logged and told to the run as left.
    void ForcedWritesLeft(const std::string& reason);
    // Switches the destination's forced writes with both its attachments dropped for it, and
    // attaches them again; `switched` tells whether the switch was taken, set before attaching
    // again, which raises what the attach raises. Returns why a switch was refused (a login
    // may not switch them), "" when it was taken.
    std::string SwitchForcedWritesDetached(bool on, bool& switched);

    RunState& state_;
    db::Databases& dm_;
    RunOptions options_;
    RunControl control_;
    IdMaps maps_;
    std::vector<transfer::CopiedTable> copies_;
    bool forcedWritesOff_ = false;   // this run switched them off
};

} // namespace kestrix
