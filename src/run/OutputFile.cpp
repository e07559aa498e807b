#include "run/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "db/Charset.h"
#include "db/Error.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

Error FileError(const char* what, const std::string& path, int err) {
    return Error(Error::Kind::File, err,
                 std::string(what) + " file \"" + FileNameToCp1251(path) + "\". " + std::strerror(err));
}

// The name with its links followed, also a last one that points nowhere yet, made absolute
// and normal.
fs::path Resolved(const std::string& name) {
    std::error_code ec;
    fs::path path = fs::absolute(name, ec);
    for (int hops = 0; hops < 40 && fs::is_symlink(path, ec); ++hops) {
        fs::path target = fs::read_symlink(path, ec);
        if (ec) break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : resolved;
}

// Writes every byte; false with errno on a failure.
bool WriteAll(int fd, const std::string& content) {
    for (std::size_t done = 0; done < content.size();) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The folder a name is in: "." for a bare name.
fs::path FolderOf(const std::string& name) {
    const fs::path folder = fs::path(name).parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

// A link in a world-writable sticky folder, owned neither by this user nor by the folder's
// owner: planted by someone else, as the kernel's protected links see it.
bool PlantedLink(const struct stat& link, const struct stat& folder) {
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return S_ISLNK(link.st_mode) && shared && link.st_uid != ::geteuid() && link.st_uid != folder.st_uid;
}

// A new file beside the target, readable as a file created in its place would be.
int CreateTemporary(const fs::path& target, std::string& name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = (target.parent_path() / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                                        std::to_string(attempt) + ".tmp"))
                   .string();
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

} // namespace

bool SameLocalFile(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty()) return false;
    struct stat sa {}, sb {};
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return Resolved(a) == Resolved(b);
}

std::optional<std::string> OutputClash(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& others) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        const NamedFile& output = outputs[i];
        auto clash = [&](const std::string& role) { return output.role + " '" + output.path + "' is " + role; };
        for (const NamedFile& other : others)
            if (SameLocalFile(output.path, other.path)) return clash(other.role);
        for (std::size_t j = 0; j < i; ++j)
            if (SameLocalFile(output.path, outputs[j].path)) return clash("also the file of " + outputs[j].role);
    }
    return std::nullopt;
}

std::optional<std::string> OutputRefusal(const std::string& path) {
    const std::string folder = FolderOf(path).string();
    struct stat dir {}, name {};
    if (::stat(folder.c_str(), &dir) != 0) return "the folder '" + folder + "' cannot be used: " + std::strerror(errno);
    if (!S_ISDIR(dir.st_mode)) return "'" + folder + "' is no folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        return "the folder '" + folder + "' is not writable: " + std::strerror(errno);
    if (::lstat(path.c_str(), &name) != 0) return std::nullopt;
    if (S_ISDIR(name.st_mode)) return "it is a folder";
    if (PlantedLink(name, dir))
        return "it is a link that another user owns in the shared folder '" + folder + "'";
    return std::nullopt;
}

void WriteFileWhole(const std::string& path, const std::string& content) {
    if (auto refusal = OutputRefusal(path))
        throw Error(Error::Kind::File, EPERM, "Cannot write file \"" + FileNameToCp1251(path) + "\": " + FileNameToCp1251(*refusal));
    const fs::path target = path;
    std::string temporary;
    int fd = CreateTemporary(target, temporary);
    if (fd < 0) throw FileError("Cannot create", path, errno);
    // A file replaced keeps its permissions; a link replaced gives way to a new file.
    struct stat existing {};
    const bool keepMode = ::lstat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    bool written = WriteAll(fd, content) && (!keepMode || ::fchmod(fd, existing.st_mode & 07777) == 0) &&
                   ::fsync(fd) == 0;
    int err = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        err = errno;
    }
    if (written && ::rename(temporary.c_str(), target.c_str()) == 0) return;
    if (written) err = errno;
    ::unlink(temporary.c_str());
    throw FileError("Cannot write", path, err);
}

} // namespace kestrix
