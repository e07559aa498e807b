#pragma once
// Files the operator names for a run's results (the JSON account, the key map): refused when
// one is a file the run reads or writes otherwise, and written whole or not at all.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix {

// A file the run uses, with what it is for the operator ("the source database", "--map-file").
struct NamedFile {
    std::string role;
    std::string path;   // UTF-8, as given
};

// Whether two local names are one file: the same device and inode when both exist (links
// followed), else the same absolute name once links and "." and ".." are resolved.
bool SameLocalFile(const std::string& a, const std::string& b);

// The first clash of an output with another output or with one of the run's other files,
// as "OUTPUT-ROLE 'PATH' is OTHER-ROLE"; nullopt when every output is a file of its own.
std::optional<std::string> OutputClash(const std::vector<NamedFile>& outputs, const std::vector<NamedFile>& others);

// An output refused as one of the run's other files: the operator's naming mistake, in
// UTF-8, which the command line reports as a usage error.
struct OutputClashError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Why an output cannot be written under its name, found before anything is written (UTF-8):
// its folder is missing or not writable, the name is a folder, or the name is a link that
// another user owns in a shared sticky folder (as /tmp), which the kernel would not follow
// either. nullopt when it can be written.
std::optional<std::string> OutputRefusal(const std::string& path);

// Writes the file through a temporary file in the folder of the name given, renamed onto that
// name once complete, so that a failure leaves the file as it was. A link of that name is
// replaced by the file; what it pointed to is left alone. Raises the file error, also for a
// name that OutputRefusal refuses.
void WriteFileWhole(const std::string& path, const std::string& content);

} // namespace kestrix
