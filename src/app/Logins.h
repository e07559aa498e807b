#pragma once
// Whom each side of a run logs in as: what the operator gave, the client library's usual
// environment variables, and last the fixed login the program has always used.
#include <cstddef>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/Databases.h"

namespace kestrix {

// What the operator gave for one side's login; what is left out falls back.
struct LoginGiven {
    std::optional<std::string> user;           // a user name
    std::optional<std::string> passwordFile;   // a file whose first line is the password
};

// A variable of the environment; nullopt when it is unset or empty.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> ProcessEnvironment(const char* name);

// A password file that cannot be read; the message (UTF-8) names it.
class PasswordFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The most bytes of a password file's first line that are read: a file that never ends
// (/dev/zero) is refused, not read until memory runs out.
inline constexpr std::size_t kMaxPasswordLine = 4096;

// The first line of the file, without its line end. A file that group or others may read
// adds a warning (English) to `warnings`. Raises PasswordFileError, also for a first line
// longer than kMaxPasswordLine.
std::string ReadPasswordFile(const std::string& path, std::vector<std::string>& warnings);

// One side's login. The user is the one given, else ISC_USER, else the fixed one; the password
// independently the first line of the file given, else ISC_PASSWORD, else the fixed one.
db::Credentials ResolveLogin(const LoginGiven& given, const EnvironmentLookup& environment,
                             std::vector<std::string>& warnings);

// The most bytes of a user name, and of a password, that the client library takes.
inline constexpr std::size_t kMaxLoginBytes = 255;

// What of a side's login ("source" or "destination") is longer than the client library takes,
// as a line (English) that names the side and never the value; nullopt when all of it fits.
std::optional<std::string> OverlongLoginPart(const db::Credentials& login, const std::string& side);

// The login where nothing is given: ISC_USER and ISC_PASSWORD, else the fixed ones.
db::Credentials LoginFromEnvironment(const EnvironmentLookup& environment = ProcessEnvironment);

} // namespace kestrix
