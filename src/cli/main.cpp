// kestrix-cli: the transfer run without the window.
//   kestrix-cli --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR] [--summary-json FILE]
//               [--map-file FILE] [--verify] [--jobs N] [--user/--password-file and their per-side forms]
//   kestrix-cli --check ... (same options): what a run would do, nothing written
// Exit status: 0 finished (check: no problem), 1 the run failed (check: problems found),
// 2 usage error, 3 a start-up check failed, 4 the read-back found a difference, 130 interrupted.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "db/Strings.h"
#include "run/DataFiles.h"
#include "run/OutputFile.h"
#include "run/RunOptions.h"
#include "app/Logins.h"
#include "app/RunDriver.h"
#include "app/StartupChecks.h"
#include "app/TransferCheck.h"
#include "db/Error.h"
#include "db/Charset.h"
#include "cli/CliRunState.h"
#include "cli/CommandLine.h"

namespace {

constexpr const char* kSameDatabases = "the source and the destination must be different databases";

// The destination that another run is writing.
std::string BusyMessage(const kestrix::DestinationBusyError& e) {
    const kestrix::OtherRun& other = e.Other();
    return "the destination is being written by another run: host " + kestrix::ToUtf8(other.host) + ", process " +
           other.processId + ", started " + other.started;
}

// A usage error: its line, and where the full usage is.
int Usage(const std::string& problem) {
    std::cerr << "kestrix-cli: " << problem << "\nTry 'kestrix-cli --help'.\n";
    return 2;
}

std::string ProgramDir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("./") : exe.parent_path().string() + "/";
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal) are blocked in every thread, the client
// library's included (it would otherwise shut its attachments down on them), and taken by one
// thread, started before anything else is done, that acts by the program's phase.
void BlockCancelSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// How far the program has come, for what a cancel signal does.
enum class Phase { Preparing, Checking, Running };

// What the signal thread acts on. A run's state and cancel are set before the phase says
// Running, and read only once it does.
struct CancelTarget {
    std::atomic<Phase> phase{Phase::Preparing};
    kestrix::cli::CliRunState* state = nullptr;
    kestrix::CancelToken* cancel = nullptr;
};
CancelTarget cancelTarget;

[[noreturn]] void EndInterrupted(const char* line) {
    [[maybe_unused]] ssize_t written = write(STDERR_FILENO, line, std::strlen(line));
    _exit(130);
}

// Preparing (the command line, password files that may never come, the start-up checks) and
// checking write nothing to a database: a signal ends the process at once. A run ends at once
// too before it writes anything (while it connects), and is cancelled after; a second signal
// then changes nothing.
void OnCancelSignal() {
    switch (cancelTarget.phase.load(std::memory_order_acquire)) {
    case Phase::Preparing: EndInterrupted("kestrix-cli: interrupted\n");
    case Phase::Checking: EndInterrupted("kestrix-cli: check interrupted\n");
    case Phase::Running:
        if (cancelTarget.state->AbandonUnwritten()) EndInterrupted("kestrix-cli: interrupted before anything was written\n");
        cancelTarget.cancel->Request();
    }
}

void WatchCancelSignals(sigset_t signals) {
    std::thread([signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) OnCancelSignal();
        }
    }).detach();
}

void EnterCheck() { cancelTarget.phase.store(Phase::Checking, std::memory_order_release); }

void EnterRun(kestrix::cli::CliRunState& state, kestrix::CancelToken& cancel) {
    cancelTarget.state = &state;
    cancelTarget.cancel = &cancel;
    cancelTarget.phase.store(Phase::Running, std::memory_order_release);
}

// The database names refused when they name one database; an exit status then.
std::optional<int> RefuseSameDatabases(const kestrix::RunOptions& options) {
    if (!kestrix::SameDatabaseNames(options.sourceName, options.destName)) return std::nullopt;
    std::cerr << "kestrix-cli: " << kSameDatabases << "\n";
    return 2;
}

// An output that is one of the run's files (a database, the run log, another output) is
// refused before anything is written, the run log included; the databases through a server
// on this machine are compared once connected.
std::optional<int> RefuseClashingOutputs(const kestrix::cli::CommandLine& line, const std::string& appDir) {
    using namespace kestrix;
    auto databaseFile = [](const std::string& name) { return TrimBlanksAndControls(StripQuotes(name)); };
    const std::vector<NamedFile> files{{"the source database", databaseFile(line.run.sourceName)},
                                       {"the destination database", databaseFile(line.run.destName)},
                                       {"the run log", AppDirPath(appDir) + kLogFile}};
    auto clash = OutputClash(line.Outputs(), files);
    if (!clash) return std::nullopt;
    std::cerr << "kestrix-cli: " << *clash << "; name another file\n";
    return 2;
}

// An output that cannot be written where it is named is refused before anything is written,
// the run log included.
std::optional<int> RefuseUnwritableOutputs(const kestrix::cli::CommandLine& line) {
    for (const kestrix::NamedFile& output : line.Outputs()) {
        auto refusal = kestrix::OutputRefusal(output.path);
        if (!refusal) continue;
        std::cerr << "kestrix-cli: " << output.role << " '" << output.path << "' cannot be written: " << *refusal
                  << "; name another file\n";
        return 2;
    }
    return std::nullopt;
}

std::string StartupFailureMessage(kestrix::StartupFailure failure, const std::string& appDir) {
    using kestrix::StartupFailure;
    const std::string folder = "'" + (appDir.empty() ? std::string("./") : appDir) + "'";
    switch (failure) {
    case StartupFailure::RunLog: return "cannot create the run log " + std::string(kestrix::kLogFile) + " in " + folder;
    case StartupFailure::TableList: return "cannot read the table list Conv.txt in " + folder;
    case StartupFailure::GeneratorList: break;
    }
    return "cannot read the generator list Generator.txt in " + folder;
}

// The data module and the start-up checks; an exit status when either fails.
std::optional<int> PrepareRun(kestrix::cli::CliRunState& state, kestrix::RunOptions& options,
                              const std::string& appDir, std::unique_ptr<kestrix::db::Databases>& dm) {
    using namespace kestrix;
    try {
        dm = std::make_unique<db::Databases>();
    } catch (const std::exception& e) {
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        return 3;
    }
    if (auto failure = CheckStartup(state, options, appDir)) {
        std::cerr << "kestrix-cli: " << StartupFailureMessage(*failure, options.appDir) << "\n";
        return 3;
    }
    return std::nullopt;
}

// Each side's login into the options; an exit status when a password file cannot be read or
// a login is longer than the client library takes.
std::optional<int> ResolveLogins(const kestrix::cli::CommandLine& line, kestrix::RunOptions& options) {
    using namespace kestrix;
    std::vector<std::string> warnings;
    try {
        options.sourceLogin = ResolveLogin(line.sourceLogin, ProcessEnvironment, warnings);
        options.destLogin = ResolveLogin(line.destLogin, ProcessEnvironment, warnings);
    } catch (const PasswordFileError& e) {
        std::cerr << "kestrix-cli: " << e.what() << "\n";
        return 2;
    }
    auto overlong = OverlongLoginPart(options.sourceLogin, "source");
    if (!overlong) overlong = OverlongLoginPart(options.destLogin, "destination");
    if (overlong) {
        std::cerr << "kestrix-cli: " << *overlong << "\n";
        return 2;
    }
    // One file for both sides is warned of once.
    for (std::size_t i = 0; i < warnings.size(); ++i)
        if (std::find(warnings.begin(), warnings.begin() + static_cast<std::ptrdiff_t>(i), warnings[i]) ==
            warnings.begin() + static_cast<std::ptrdiff_t>(i))
            std::cerr << "kestrix-cli: warning: " << warnings[i] << "\n";
    return std::nullopt;
}

// Which side refused whom, and how to give another login.
std::string LoginRefusedMessage(const kestrix::LoginRefused& refused) {
    const bool source = refused.role() == kestrix::DatabaseRole::Source;
    const std::string side = source ? "source" : "destination", option = source ? "--source" : "--dest";
    return "the " + side + " database '" + refused.database() + "' refused the login of user '" + refused.user() +
           "': " + kestrix::ToUtf8(kestrix::OneLine(refused.text())) + "\nkestrix-cli: give the " + side +
           "'s password in a file with " + option + "-password-file FILE or --password-file FILE, or in "
           "ISC_PASSWORD; its user with " + option + "-user NAME, --user NAME or ISC_USER";
}

// An output the operator asked for, written whole or not at all; whether it was written. A
// file that cannot be written is reported with what is left on disk under its name.
bool WriteOutput(const char* what, const std::string& file, const std::string& content) {
    try {
        kestrix::WriteFileWhole(file, content);
        return true;
    } catch (const std::exception& e) {
        std::error_code ec;
        const bool earlier = std::filesystem::exists(std::filesystem::symlink_status(file, ec));
        std::cerr << "kestrix-cli: cannot write " << what << ": " << kestrix::ToUtf8(e.what()) << "; "
                  << (earlier ? "the file '" + file + "' on disk is not this run's" : std::string("no file was written"))
                  << "\n";
        return false;
    }
}

// A finished run whose output could not be written has failed; an interrupted or failed one
// keeps its status.
int OutputFailed(int status) { return status == 0 || status == 4 ? 1 : status; }

// The run, then the summary and the place of the log; the exit status.
int Transfer(kestrix::RunDriver& driver, kestrix::cli::CliRunState& state, const kestrix::RunOptions& options,
             const kestrix::cli::CommandLine& line) {
    using namespace kestrix;
    state.PlanSteps(options);
    driver.OutputFiles = line.Outputs();
    std::cerr << JournalsLine(options.events ? std::optional(options.startDate) : std::nullopt) << "\n";
    int status = 0;
    try {
        driver.Run(options);
        status = state.Account().Outcome() == RunOutcome::Interrupted ? 130 : state.Account().Differ() > 0 ? 4 : 0;
    } catch (const SameDatabasesError&) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << kSameDatabases << "\n";
        status = 1;
    } catch (const DestinationBusyError& e) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << BusyMessage(e) << "\n";
        status = 1;
    } catch (const OutputClashError& e) {
        // Refused before anything was written: no account, and the output is left alone.
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << e.what() << "; name another file\n";
        return 2;
    } catch (const LoginRefused& e) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << LoginRefusedMessage(e) << "\n";
        status = 1;
    } catch (const SwitchesLeftError&) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: the destination is left weaker than its schema says (see the account's last lines "
                     "and the run log); --check names what is left\n";
        status = 1;
    } catch (const std::exception& e) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        status = 1;
    }
    // A run that failed before it copied anything has no account to give.
    const bool copiedNothing = status == 1 && state.Account().Tables().empty();
    if (!copiedNothing) {
        state.PrintSummary(std::cout);
        // The key map first: the JSON account carries the status that its failure makes.
        if (line.mapFile && !WriteOutput("the key map", *line.mapFile, KeyMapCsv(driver.Maps())))
            status = OutputFailed(status);
        if (line.summaryJson && !WriteOutput("the summary", *line.summaryJson, AccountJson(state.Account(), status)))
            status = OutputFailed(status);
    }
    std::cerr << "Log: " << options.appDir << kLogFile << "\n";
    return status;
}

// --check: what a run would do, read from both databases and the data files, with nothing
// written to either database and no run log.
int Check(const kestrix::RunOptions& options, const std::string& appDir) {
    using namespace kestrix;
    RunOptions check = options;
    check.appDir = AppDirPath(appDir);
    try {
        CheckResult result = CheckTransfer(check);
        std::cout << CheckReportText(result);
        return result.ProblemCount() == 0 ? 0 : 1;
    } catch (const DestinationBusyError& e) {
        std::cerr << "kestrix-cli: " << BusyMessage(e) << "\n";
        return 1;
    } catch (const LoginRefused& e) {
        std::cerr << "kestrix-cli: " << LoginRefusedMessage(e) << "\n";
        return 1;
    } catch (const Error& e) {
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        const bool startup = e.kind() == Error::Kind::File ||
                             (e.kind() == Error::Kind::Client && e.code() == static_cast<int>(ClientCode::LibraryNotFound));
        return startup ? 3 : 1;
    } catch (const std::exception& e) {
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        return 1;
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace kestrix;
    // A closed output (kestrix-cli ... | head) does not end the run: its writes fail, the
    // stream keeps the failure and takes no more, and the run goes on to its account.
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t cancelSignals;
    BlockCancelSignals(cancelSignals);
    WatchCancelSignals(cancelSignals);
    cli::CommandLine line;
    try {
        line = cli::ParseCommandLine(argc, argv);
    } catch (const cli::UsageError& e) {
        return Usage(e.what());
    }
    if (line.answer) {
        std::cout << *line.answer;
        return 0;
    }
    // Without --app-dir, the program's own folder only when the data files are beside it (not
    // an installed /usr/bin/kestrix-cli): nothing is created before that is known.
    if (!line.appDir && !FolderHoldsTableList(ProgramDir()))
        return Usage("no table list " + std::string(kTableListFile) + " beside the program in '" + ProgramDir() +
                     "': name the data folder with --app-dir DIR");
    const std::string appDir = line.appDir.value_or(ProgramDir());
    RunOptions options = line.run;
    if (auto exit = RefuseSameDatabases(options)) return *exit;
    if (auto exit = RefuseClashingOutputs(line, appDir)) return *exit;
    if (auto exit = RefuseUnwritableOutputs(line)) return *exit;
    if (auto exit = ResolveLogins(line, options)) return *exit;
    if (line.check) {
        EnterCheck();
        return Check(options, appDir);
    }
    cli::CliRunState state(isatty(STDERR_FILENO) != 0);
    std::unique_ptr<db::Databases> dm;
    if (auto exit = PrepareRun(state, options, appDir, dm)) return *exit;

    RunDriver driver(state, *dm);
    state.ShowCancelOf(driver.Control().cancel);
    EnterRun(state, driver.Control().cancel);
    return Transfer(driver, state, options, line);
}
