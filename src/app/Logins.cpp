#include "app/Logins.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <sys/stat.h>

namespace kestrix {

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

std::string ReadPasswordFile(const std::string& path, std::vector<std::string>& warnings) {
    std::ifstream file(path, std::ios::binary);
    struct stat status {};
    if (!file || ::stat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode))
        throw PasswordFileError("cannot read the password file '" + path + "': " +
                                (S_ISDIR(status.st_mode) ? std::string("a folder") : std::strerror(errno)));
    if (status.st_mode & (S_IRGRP | S_IROTH))
        warnings.push_back("the password file '" + path + "' can be read by others than its owner (chmod 600 '" +
                           path + "')");
    // One byte over the bound is enough to know that the line is too long.
    std::string line;
    char byte = 0;
    while (line.size() <= kMaxPasswordLine && file.get(byte) && byte != '\n') line += byte;
    line.resize(std::min(line.size(), line.find('\r')));
    if (line.size() > kMaxPasswordLine)
        throw PasswordFileError("cannot read the password file '" + path + "': its first line is longer than " +
                                std::to_string(kMaxPasswordLine) + " bytes");
    return line;
}

db::Credentials ResolveLogin(const LoginGiven& given, const EnvironmentLookup& environment,
                             std::vector<std::string>& warnings) {
    const db::Credentials& fixed = db::FixedCredentials();
    db::Credentials login;
    login.user = given.user ? *given.user : environment("ISC_USER").value_or(fixed.user);
    login.password = given.passwordFile ? ReadPasswordFile(*given.passwordFile, warnings)
                                        : environment("ISC_PASSWORD").value_or(fixed.password);
    return login;
}

std::optional<std::string> OverlongLoginPart(const db::Credentials& login, const std::string& side) {
    std::string part;
    if (login.user.size() > kMaxLoginBytes)
        part = "user name";
    else if (login.password.size() > kMaxLoginBytes)
        part = "password";
    else
        return std::nullopt;
    return "the " + part + " of the " + side + " login is longer than the " +
           std::to_string(kMaxLoginBytes) + " bytes the client library takes";
}

db::Credentials LoginFromEnvironment(const EnvironmentLookup& environment) {
    std::vector<std::string> noWarnings;
    return ResolveLogin({}, environment, noWarnings);
}

} // namespace kestrix
