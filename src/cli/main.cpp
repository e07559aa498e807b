// kestrix-cli: the transfer run without the window.
//   kestrix-cli --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR] [--summary-json FILE]
//               [--map-file FILE] [--verify] [--jobs N]
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
#include "app/RunDriver.h"
#include "app/StartupChecks.h"
#include "app/TransferCheck.h"
#include "db/Error.h"
#include "db/Charset.h"
#include "cli/CliRunState.h"

namespace {

std::atomic<bool> g_cancelRequested{false};

constexpr const char* kSameDatabases = "the source and the destination must be different databases";

constexpr const char* kUsage =
    "usage: kestrix-cli --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR]\n"
    "                   [--summary-json FILE] [--map-file FILE] [--verify] [--jobs N]\n"
    "  --source SRC        source database (a file, or host/port:path on a server)\n"
    "  --dest DST          destination database, of the same or a newer schema\n"
    "  --events-from DATE  also transfer the event and alarm journals from that day\n"
    "  --app-dir DIR       folder of Conv.txt, Generator.txt and SQL/; receives Kestrix.log\n"
    "                      (default: the folder of this program)\n"
    "  --summary-json FILE also write the run's account (the summary) to FILE as JSON\n"
    "  --map-file FILE     write the old and new key of every device and macro to FILE (CSV)\n"
    "  --verify            read every copied table back before the post-transfer script;\n"
    "                      exit 4 when the destination differs\n"
    "  --jobs N            copy the journals over N attachments to each database at once,\n"
    "                      largest first (default 1: one after the other)\n"
    "       kestrix-cli --check --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR]\n"
    "                      what a run would do, line by line, with nothing written;\n"
    "                      exit 0 without problems, 1 with problems\n"
    "       kestrix-cli --version\n";

int Usage(const std::string& problem) {
    std::cerr << "kestrix-cli: " << problem << "\n" << kUsage;
    return 2;
}

std::string ProgramDir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string("./") : exe.parent_path().string() + "/";
}

bool ParseDate(const std::string& text, kestrix::db::DateTime& date) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3 || text.size() != 10) return false;
    kestrix::db::DateTime parsed{y, m, d, 0, 0, 0, 0};
    if (!kestrix::db::ValidDateTime(parsed)) return false;
    date = parsed;
    return true;
}

// SIGINT, SIGTERM and SIGHUP (a closed terminal) are blocked in every thread, the client
// library's included (it would otherwise shut its attachments down on them), and taken by one
// thread that only turns them into a cancel request. A second signal changes nothing.
void BlockCancelSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

// Before the run writes anything (while it connects) the first signal ends the process at
// once: nothing is left half done, and no connect keeps the operator waiting.
void WatchCancelSignals(sigset_t signals, kestrix::cli::CliRunState& state) {
    std::thread([signals, &state] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) != 0) continue;
            if (state.AbandonUnwritten()) {
                static const char kInterrupted[] = "kestrix-cli: interrupted before anything was written\n";
                [[maybe_unused]] ssize_t written = write(STDERR_FILENO, kInterrupted, sizeof kInterrupted - 1);
                _exit(130);
            }
            g_cancelRequested = true;
        }
    }).detach();
}

// A check writes nothing: any of the three signals ends it at once, as interrupted.
void EndOnCancelSignals(sigset_t signals) {
    std::thread([signals] {
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
        static const char kInterrupted[] = "kestrix-cli: check interrupted\n";
        [[maybe_unused]] ssize_t written = write(STDERR_FILENO, kInterrupted, sizeof kInterrupted - 1);
        _exit(130);
    }).detach();
}

// The command line taken apart.
struct Arguments {
    std::string source, dest, appDir, eventsFrom, summaryJson, mapFile, jobs;
    bool haveSource = false, haveDest = false, haveEvents = false, haveJson = false, haveMap = false,
         haveJobs = false;
    bool check = false, verify = false;

    // The files the run writes for the operator, each with the option that names it.
    std::vector<kestrix::NamedFile> Outputs() const {
        std::vector<kestrix::NamedFile> outputs;
        if (haveJson) outputs.push_back({"--summary-json", summaryJson});
        if (haveMap) outputs.push_back({"--map-file", mapFile});
        return outputs;
    }
};

// The value after argument i, which is then passed over; false when there is none.
bool TakeValue(int argc, char** argv, int& i, std::string& out, bool* seen) {
    if (i + 1 >= argc) return false;
    out = argv[++i];
    if (seen) *seen = true;
    return true;
}

// Reads the arguments; an exit status when the program ends here (help, a usage error).
std::optional<int> ParseArguments(int argc, char** argv, Arguments& args) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "kestrix-cli " << KESTRIX_VERSION << "\n";
            return 0;
        }
        bool ok = false;
        if (arg == "--check") ok = args.check = true;
        else if (arg == "--verify") ok = args.verify = true;
        else if (arg == "--map-file") ok = TakeValue(argc, argv, i, args.mapFile, &args.haveMap);
        else if (arg == "--source") ok = TakeValue(argc, argv, i, args.source, &args.haveSource);
        else if (arg == "--dest") ok = TakeValue(argc, argv, i, args.dest, &args.haveDest);
        else if (arg == "--events-from") ok = TakeValue(argc, argv, i, args.eventsFrom, &args.haveEvents);
        else if (arg == "--app-dir") ok = TakeValue(argc, argv, i, args.appDir, nullptr);
        else if (arg == "--summary-json") ok = TakeValue(argc, argv, i, args.summaryJson, &args.haveJson);
        else if (arg == "--jobs") ok = TakeValue(argc, argv, i, args.jobs, &args.haveJobs);
        else return Usage("unknown argument '" + arg + "'");
        if (!ok) return Usage("'" + arg + "' needs a value");
    }
    if (!args.haveSource || !args.haveDest) return Usage("--source and --dest are required");
    if (args.check && args.haveJson) return Usage("--summary-json is for a run, not --check");
    if (args.check && args.haveMap) return Usage("--map-file is for a run, not --check");
    if (args.check && args.verify) return Usage("--verify is for a run, not --check");
    for (const kestrix::NamedFile& output : args.Outputs())
        if (output.path.empty()) return Usage("'" + output.role + "' needs a file name");
    return std::nullopt;
}

// The run's options, the database names as given; an exit status when one of them is refused.
std::optional<int> TakeOptions(const Arguments& args, kestrix::RunOptions& options) {
    using namespace kestrix;
    if (args.haveEvents) {
        if (!ParseDate(args.eventsFrom, options.startDate))
            return Usage("--events-from takes a date as YYYY-MM-DD, not '" + args.eventsFrom + "'");
        options.events = true;
    }
    if (args.haveJobs) {
        constexpr int kMaxJobs = 16;
        const bool digits = !args.jobs.empty() && args.jobs.size() <= 2 &&
                            args.jobs.find_first_not_of("0123456789") == std::string::npos;
        options.jobs = digits ? std::stoi(args.jobs) : 0;
        if (options.jobs < 1 || options.jobs > kMaxJobs)
            return Usage("--jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not '" + args.jobs + "'");
    }
    // Database names are file names: they stay in the file system's encoding.
    options.sourceName = args.source;
    options.destName = args.dest;
    options.verify = args.verify;
    if (SameDatabaseNames(options.sourceName, options.destName)) {
        std::cerr << "kestrix-cli: " << kSameDatabases << "\n";
        return 2;
    }
    return std::nullopt;
}

// An output that is one of the run's files (a database, the run log, another output) is
// refused before anything is written, the run log included; the databases through a server
// on this machine are compared once connected.
std::optional<int> RefuseClashingOutputs(const Arguments& args) {
    using namespace kestrix;
    auto databaseFile = [](const std::string& name) { return TrimBlanksAndControls(StripQuotes(name)); };
    const std::vector<NamedFile> files{{"the source database", databaseFile(args.source)},
                                       {"the destination database", databaseFile(args.dest)},
                                       {"the run log", AppDirPath(args.appDir) + kLogFile}};
    auto clash = OutputClash(args.Outputs(), files);
    if (!clash) return std::nullopt;
    std::cerr << "kestrix-cli: " << *clash << "; name another file\n";
    return 2;
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

// The account as JSON into the file the operator named, whole or not at all; a file that
// cannot be written is reported and leaves the exit status as the run made it.
void WriteSummaryJson(const std::string& file, const kestrix::RunState& state, int status) {
    try {
        kestrix::WriteFileWhole(file, kestrix::AccountJson(state.Account(), status));
    } catch (const std::exception& e) {
        std::cerr << "kestrix-cli: cannot write the summary: " << kestrix::ToUtf8(e.what()) << "\n";
    }
}

// The identifier maps into the file the operator named, as the summary is written.
void WriteKeyMap(const std::string& file, const kestrix::IdMaps& maps) {
    try {
        kestrix::WriteFileWhole(file, kestrix::KeyMapCsv(maps));
    } catch (const std::exception& e) {
        std::cerr << "kestrix-cli: cannot write the key map: " << kestrix::ToUtf8(e.what()) << "\n";
    }
}

// The run, then the summary and the place of the log; the exit status.
int Transfer(kestrix::cli::CliRunState& state, kestrix::db::Databases& dm, const kestrix::RunOptions& options,
             const Arguments& args) {
    using namespace kestrix;
    RunDriver driver(state, dm);
    driver.CancelRequest = &g_cancelRequested;   // also cancels a statement that waits
    driver.OutputFiles = args.Outputs();
    std::cerr << JournalsLine(options.events ? std::optional(options.startDate) : std::nullopt) << "\n";
    int status = 0;
    try {
        driver.Run(options);
        status = state.Account().Outcome() == RunOutcome::Interrupted ? 130 : state.Account().Differ() > 0 ? 4 : 0;
    } catch (const SameDatabasesError&) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << kSameDatabases << "\n";
        status = 1;
    } catch (const OutputClashError& e) {
        // Refused before anything was written: no account, and the output is left alone.
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << e.what() << "; name another file\n";
        return 2;
    } catch (const std::exception& e) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        status = 1;
    }
    state.PrintSummary(std::cout);
    if (args.haveJson) WriteSummaryJson(args.summaryJson, state, status);
    if (args.haveMap) WriteKeyMap(args.mapFile, driver.Maps());
    std::cerr << "Log: " << options.appDir << kLogFile << "\n";
    return status;
}

// --check: what a run would do, read from both databases and the data files, with nothing
// written to either database and no run log.
int Check(const Arguments& args, const kestrix::RunOptions& options) {
    using namespace kestrix;
    CheckOptions check;
    check.events = options.events;
    check.startDate = options.startDate;
    check.appDir = AppDirPath(args.appDir);
    check.source = options.sourceName;
    check.dest = options.destName;
    try {
        CheckResult result = CheckTransfer(check);
        std::cout << CheckReportText(result);
        return result.ProblemCount() == 0 ? 0 : 1;
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
    Arguments args;
    args.appDir = ProgramDir();
    if (auto exit = ParseArguments(argc, argv, args)) return *exit;

    RunOptions options;
    if (auto exit = TakeOptions(args, options)) return *exit;
    if (auto exit = RefuseClashingOutputs(args)) return *exit;
    if (args.check) {
        EndOnCancelSignals(cancelSignals);
        return Check(args, options);
    }
    cli::CliRunState state(isatty(STDERR_FILENO) != 0, &g_cancelRequested);
    std::unique_ptr<db::Databases> dm;
    if (auto exit = PrepareRun(state, options, args.appDir, dm)) return *exit;

    WatchCancelSignals(cancelSignals, state);
    return Transfer(state, *dm, options, args);
}
