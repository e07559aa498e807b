#include "run/RunLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "db/Charset.h"
#include "db/Error.h"

namespace kestrix {
namespace {

// The platform's file error for errno; the path keeps its place in a Windows-1251 text.
Error FileError(const char* what, const std::string& path) {
    int err = errno;
    return Error(Error::Kind::File, err,
                 std::string(what) + " file \"" + FileNameToCp1251(path) + "\". " + std::strerror(err));
}
Error FileError(const std::string& path) { return FileError("Cannot open", path); }

std::FILE* Open(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file) throw FileError(path);
    return file;
}

// The line and its CR LF, flushed at once: a full disk or a failing device is seen here.
void Write(std::FILE* file, const std::string& path, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fwrite("\r\n", 1, 2, file) != 2 ||
        std::fflush(file) != 0)
        throw FileError("Cannot write", path);
}

// Opens the existing log for appending. A log that is gone is an error, not a new file:
// only the start-up checks create it.
std::FILE* OpenExisting(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) throw FileError(path);
    std::FILE* file = ::fdopen(fd, "ab");
    if (!file) {
        int err = errno;
        ::close(fd);
        errno = err;
        throw FileError(path);
    }
    return file;
}

} // namespace

void RunLog::Create(const std::string& path) {
    std::FILE* file = Open(path, "wb");
    if (std::fclose(file) != 0) throw FileError("Cannot close", path);
}

void RunLog::Append(const std::string& path, const std::string& line) {
    RunLog log(path);
    log.Line(line);
    log.Close();
}

RunLog::RunLog(const std::string& path) : path_(path), file_(OpenExisting(path)) {}

// Every line was flushed and checked; a close that fails here has nothing left to lose.
RunLog::~RunLog() {
    if (file_) std::fclose(file_);
}

void RunLog::Line(const std::string& text) {
    if (!file_) {
        errno = EBADF;
        throw FileError("Cannot write", path_);
    }
    // Each line reaches the file at once, so the log stays complete if the run is killed.
    Write(file_, path_, text);
}

void RunLog::Close() {
    if (!file_) return;
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) throw FileError("Cannot close", path_);
}

std::string FormatTimestamp(const std::tm& t) {
    char buffer[64];
    if (t.tm_hour == 0 && t.tm_min == 0 && t.tm_sec == 0)
        std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, t.tm_year + 1900);
    else
        std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %d:%02d:%02d", t.tm_mday, t.tm_mon + 1,
                      t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buffer;
}

std::string Timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return FormatTimestamp(local);
}

void LogRunEndingError(const std::string& path, const std::exception& error) noexcept {
    try {
        RunLog::Append(path, Timestamp() + "   " + error.what());
    } catch (...) {
    }
}

} // namespace kestrix
