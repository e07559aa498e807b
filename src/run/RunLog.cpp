#include "run/RunLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "db/Error.h"

namespace kestrix {
namespace {

Error FileError(const std::string& path) {
    return Error(Error::Kind::File, errno, "Cannot open file \"" + path + "\". " + std::strerror(errno));
}

std::FILE* Open(const std::string& path, const char* mode) {
    std::FILE* file = std::fopen(path.c_str(), mode);
    if (!file) throw FileError(path);
    return file;
}

void Write(std::FILE* file, const std::string& path, const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fwrite("\r\n", 1, 2, file) != 2)
        throw Error(Error::Kind::File, errno, "Cannot write file \"" + path + "\". " + std::strerror(errno));
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
    if (std::fclose(file) != 0) throw FileError(path);
}

void RunLog::Append(const std::string& path, const std::string& line) {
    RunLog log(path);
    log.Line(line);
}

RunLog::RunLog(const std::string& path) : path_(path), file_(OpenExisting(path)) {}

RunLog::~RunLog() { std::fclose(file_); }

void RunLog::Line(const std::string& text) {
    Write(file_, path_, text);
    // Each line reaches the file at once, so the log stays complete if the run is killed.
    std::fflush(file_);
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

} // namespace kestrix
