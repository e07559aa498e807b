// kestrix-cli: the transfer run without the window.
//   kestrix-cli --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR]
// Exit status: 0 finished, 1 the run failed, 2 usage error, 3 a start-up check failed,
// 130 interrupted.
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <pthread.h>
#include <thread>
#include <unistd.h>

#include "run/DataFiles.h"
#include "app/RunDriver.h"
#include "app/StartupChecks.h"
#include "run/Text.h"
#include "run/Texts.h"
#include "cli/CliRunState.h"
#include "transfer/TableList.h"

namespace {

std::atomic<bool> g_cancelRequested{false};

constexpr const char* kUsage =
    "usage: kestrix-cli --source SRC --dest DST [--events-from YYYY-MM-DD] [--app-dir DIR]\n"
    "  --source SRC        source database (a file, or host/port:path on a server)\n"
    "  --dest DST          destination database, of the same or a newer schema\n"
    "  --events-from DATE  also transfer the event and alarm journals from that day\n"
    "  --app-dir DIR       folder of Conv.txt, Generator.txt and SQL/; receives Kestrix.log\n"
    "                      (default: the folder of this program)\n";

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
    static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || m < 1 || m > 12 || d < 1 || d > days[m - 1]) return false;
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m == 2 && d == 29 && !leap) return false;
    date = kestrix::db::DateTime{y, m, d, 0, 0, 0, 0};
    return true;
}

// SIGINT and SIGTERM are blocked in every thread, the client library's included (it would
// otherwise shut its attachments down on them), and taken by one thread that only turns them
// into a cancel request. A second signal changes nothing.
void BlockCancelSignals(sigset_t& signals) {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void WatchCancelSignals(sigset_t signals) {
    std::thread([signals] {
        for (;;) {
            int signal = 0;
            if (sigwait(&signals, &signal) == 0) g_cancelRequested = true;
        }
    }).detach();
}

} // namespace

int main(int argc, char** argv) {
    using namespace kestrix;
    sigset_t cancelSignals;
    BlockCancelSignals(cancelSignals);
    std::string source, dest, appDir = ProgramDir(), eventsFrom;
    bool haveSource = false, haveDest = false, haveEvents = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        auto value = [&](std::string& out, bool* seen) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            if (seen) *seen = true;
            return true;
        };
        bool ok = false;
        if (arg == "--source") ok = value(source, &haveSource);
        else if (arg == "--dest") ok = value(dest, &haveDest);
        else if (arg == "--events-from") ok = value(eventsFrom, &haveEvents);
        else if (arg == "--app-dir") ok = value(appDir, nullptr);
        else return Usage("unknown argument '" + arg + "'");
        if (!ok) return Usage("'" + arg + "' needs a value");
    }
    if (!haveSource || !haveDest) return Usage("--source and --dest are required");

    cli::CliRunState state(isatty(STDERR_FILENO) != 0, &g_cancelRequested);
    if (haveEvents) {
        if (!ParseDate(eventsFrom, state.StartDate))
            return Usage("--events-from takes a date as YYYY-MM-DD, not '" + eventsFrom + "'");
        state.EventsOption = true;
    }
    // Names are taken as the operator's text: Windows-1251, like everything the run handles.
    std::string sourceText, destText;
    try {
        sourceText = ToCp1251(source);
        destText = ToCp1251(dest);
    } catch (const std::exception& e) {
        return Usage(std::string("database name: ") + e.what());
    }
    if (!transfer::TrimBlanks(sourceText).empty() && transfer::TrimBlanks(sourceText) == transfer::TrimBlanks(destText)) {
        std::cerr << "kestrix-cli: " << ToUtf8(texts::kSameDatabases) << "\n";
        return 2;
    }

    std::unique_ptr<db::TDM1> dm;
    try {
        dm = std::make_unique<db::TDM1>();
    } catch (const std::exception& e) {
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        return 3;
    }
    if (auto failure = RunStartupChecks(state, appDir)) {
        std::string text = ToUtf8(*failure);
        std::replace(text.begin(), text.end(), '\r', '\n');
        std::cerr << "kestrix-cli: " << text << "\n";
        return 3;
    }

    WatchCancelSignals(cancelSignals);
    RunDriver driver(state, *dm);
    driver.CancelRequest = &g_cancelRequested;   // also cancels a statement that waits
    int status = 0;
    try {
        driver.MoveBitBtnClick(sourceText, destText);
        status = state.CancelFlag ? 130 : 0;
    } catch (const std::exception& e) {
        state.EndProgressLine();
        std::cerr << "kestrix-cli: " << ToUtf8(e.what()) << "\n";
        status = 1;
    }
    state.PrintSummary(std::cout);
    std::cerr << "Log: " << state.AppDir << kLogFile << "\n";
    return status;
}
