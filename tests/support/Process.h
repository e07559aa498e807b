#pragma once
// Child processes for tests: the command line program and the private server.
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace kestrix::test {

struct ProcessResult {
    int exitCode = -1;   // -1 when killed by a signal
    std::string out, err;
};

// Variables of the environment set (a value) or removed (nullopt) for the child.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Runs the program to its end with stdout and stderr captured through files.
ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& environment = {});

// A program started in the background with stdout and stderr going to files.
class BackgroundProcess {
public:
    explicit BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment = {});
    ~BackgroundProcess();   // kills a process still running
    pid_t Pid() const { return pid_; }
    std::string Err() const;
    // Waits for the end; exit code, -1 when killed by a signal.
    ProcessResult Wait();
    // Whether the process ended by the deadline; Wait then reads its result at once.
    bool EndsBy(std::chrono::steady_clock::time_point deadline);

private:
    pid_t pid_ = -1;
    std::optional<int> endStatus_;   // the exit code, once EndsBy saw the end
    std::string dir_;
};

// A private Firebird server on 127.0.0.1 and a free port, for the lifetime of the object.
class PrivateServer {
public:
    // SYSDBA has the program's fixed password, or the one given.
    PrivateServer();
    explicit PrivateServer(const std::string& sysdbaPassword);
    ~PrivateServer();
    int Port() const { return port_; }
    // "localhost/PORT:" + path
    std::string Remote(const std::string& path) const;
    // Kills the server at once (SIGKILL), as a crash or a pulled cable would end it.
    void Kill();
    // Sends the server a signal: SIGSTOP makes it stop answering (its connections stay
    // open), SIGCONT lets it go on.
    void Signal(int signal);

private:
    std::string root_;
    int port_ = 0;
};

// The environment of a child whose embedded engine runs from a root folder of its own, made
// in `root` with `config` as its firebird.conf.
Environment PrivateEngine(const std::string& root, const std::string& config);

std::string CliPath();

// Makes a symbolic link as another user, from a child process that takes that user's ids
// (the tests run as root); "" when made, else why not.
std::string SymlinkAs(const std::string& user, const std::string& target, const std::string& link);

} // namespace kestrix::test
