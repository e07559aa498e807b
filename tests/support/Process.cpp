#include "support/Process.h"

#include <algorithm>
#include <pwd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "db/Databases.h"
#include "support/Fixtures.h"

namespace kestrix::test {
namespace {

std::string MakeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-proc-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

// This process's environment with the changes made, built before the fork: the child of a
// process with threads may only make async-signal-safe calls.
std::vector<std::string> ChildEnvironment(const Environment& changes) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::none_of(changes.begin(), changes.end(), [&](const auto& change) { return change.first == name; }))
            variables.push_back(entry);
    }
    for (const auto& [name, value] : changes)
        if (value) variables.push_back(name + "=" + *value);
    return variables;
}

pid_t Spawn(const std::vector<std::string>& argv, const Environment& environment, const std::string& dir) {
    const std::vector<std::string> variables = ChildEnvironment(environment);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& v : variables) envp.push_back(const_cast<char*>(v.c_str()));
    envp.push_back(nullptr);
    const std::string outFile = dir + "/out", errFile = dir + "/err";
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    return pid;
}

int ExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

int WaitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return ExitCode(status);
}

int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(s);
        throw std::runtime_error("no free port");
    }
    int port = ntohs(address.sin_port);
    close(s);
    return port;
}

std::string ServerScript() { return std::string(KESTRIX_SOURCE_DIR) + "/tests/support/private_server.sh"; }

} // namespace

std::string CliPath() { return std::string(KESTRIX_BINARY_DIR) + "/kestrix-cli"; }

ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& environment) {
    BackgroundProcess process(argv, environment);
    return process.Wait();
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment)
    : dir_(MakeTempDir()) {
    pid_ = Spawn(argv, environment, dir_);
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0 && !endStatus_) {
        kill(pid_, SIGKILL);
        WaitFor(pid_);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string BackgroundProcess::Err() const {
    // The child may not have opened its output yet.
    return std::filesystem::exists(dir_ + "/err") ? ReadFile(dir_ + "/err") : std::string();
}

bool BackgroundProcess::EndsBy(std::chrono::steady_clock::time_point deadline) {
    if (pid_ <= 0 || endStatus_) return true;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            endStatus_ = ExitCode(status);
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) return false;
        usleep(20000);
    }
}

ProcessResult BackgroundProcess::Wait() {
    ProcessResult result;
    result.exitCode = endStatus_ ? *endStatus_ : WaitFor(pid_);
    pid_ = -1;
    result.out = ReadFile(dir_ + "/out");
    result.err = ReadFile(dir_ + "/err");
    return result;
}

Environment PrivateEngine(const std::string& root, const std::string& config) {
    ProcessResult made = RunProcess({"/bin/bash", ServerScript(), "engine", root});
    if (made.exitCode != 0) throw std::runtime_error("engine root not made:\n" + made.out + made.err);
    std::ofstream(root + "/firebird.conf") << config;
    return {{"FIREBIRD", root}, {"FIREBIRD_LOCK", root + "/lock"}};
}

PrivateServer::PrivateServer() : PrivateServer(db::FixedCredentials().password) {}

PrivateServer::PrivateServer(const std::string& sysdbaPassword) {
    // A free port can be taken by someone else before the server binds it: try a few.
    std::string output;
    for (int attempt = 0; attempt < 3; ++attempt) {
        root_ = MakeTempDir();
        port_ = FreePort();
        ProcessResult started = RunProcess({"/bin/bash", ServerScript(), "start", root_, std::to_string(port_)},
                                           {{"KESTRIX_SERVER_PASSWORD", sysdbaPassword}});
        if (started.exitCode == 0) return;
        output += started.out + started.err;
        RunProcess({"/bin/bash", ServerScript(), "stop", root_});
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    throw std::runtime_error("private server did not start:\n" + output);
}

PrivateServer::~PrivateServer() {
    RunProcess({"/bin/bash", ServerScript(), "stop", root_});
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void PrivateServer::Kill() { Signal(SIGKILL); }

void PrivateServer::Signal(int signal) {
    const pid_t pid = static_cast<pid_t>(std::stol(ReadFile(root_ + "/server.pid")));
    kill(pid, signal);
}

std::string PrivateServer::Remote(const std::string& path) const {
    return "localhost/" + std::to_string(port_) + ":" + path;
}

std::string SymlinkAs(const std::string& user, const std::string& target, const std::string& link) {
    const passwd* account = ::getpwnam(user.c_str());
    if (!account) return "no user " + user;
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    const pid_t child = ::fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        if (::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(2);
        ::_exit(::symlink(target.c_str(), link.c_str()) == 0 ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return "the child did not end";
    switch (WEXITSTATUS(status)) {
    case 0: return "";
    case 2: return "cannot become " + user;
    default: return "the link could not be made as " + user;
    }
}

} // namespace kestrix::test
