// Each side's login: the order of what is given, the password file, its warning and its
// bound, and what the client library takes.
#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/Logins.h"
#include "support/Fixtures.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

TEST(Logins, UserAndPasswordEachTakeTheFirstGiven) {
    test::TempDir dir;
    const std::string file = dir.File("pw");
    test::WriteFile(file, "from-file\r\nsecond line\n");
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    const std::string fixedUser = db::FixedCredentials().user, fixedPassword = db::FixedCredentials().password;
    struct Row {
        const char* name;
        LoginGiven given;
        std::map<std::string, std::string> environment;
        db::Credentials login;
    };
    const Row rows[] = {
        {"nothing given: the fixed login", {}, {}, {fixedUser, fixedPassword}},
        {"the variables", {}, {{"ISC_USER", "envuser"}, {"ISC_PASSWORD", "envpw"}}, {"envuser", "envpw"}},
        {"a user option over ISC_USER, ISC_PASSWORD kept", {"bob", std::nullopt},
         {{"ISC_USER", "envuser"}, {"ISC_PASSWORD", "envpw"}}, {"bob", "envpw"}},
        {"a password file over ISC_PASSWORD, ISC_USER kept", {std::nullopt, file},
         {{"ISC_USER", "envuser"}, {"ISC_PASSWORD", "envpw"}}, {"envuser", "from-file"}},
        {"only ISC_PASSWORD: the fixed user", {}, {{"ISC_PASSWORD", "envpw"}}, {fixedUser, "envpw"}},
        {"only a user: the fixed password", {"bob", std::nullopt}, {}, {"bob", fixedPassword}},
        {"an empty variable counts as unset", {}, {{"ISC_USER", ""}, {"ISC_PASSWORD", ""}}, {fixedUser, fixedPassword}},
        {"both given", {"bob", file}, {}, {"bob", "from-file"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const EnvironmentLookup environment = [&](const char* name) -> std::optional<std::string> {
            auto found = row.environment.find(name);
            if (found == row.environment.end() || found->second.empty()) return std::nullopt;
            return found->second;
        };
        std::vector<std::string> warnings;
        EXPECT_EQ(ResolveLogin(row.given, environment, warnings), row.login);
        EXPECT_TRUE(warnings.empty());
        if (!row.given.user && !row.given.passwordFile) {
            EXPECT_EQ(LoginFromEnvironment(environment), row.login);
        }
    }
}

TEST(Logins, PasswordFileFirstLineAndWhoMayReadIt) {
    test::TempDir dir;
    struct Row {
        std::string content;
        fs::perms perms;
        std::string password;
        bool warned;
    };
    const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
    const Row rows[] = {
        {"secret\n", owner, "secret", false},
        {"secret", owner, "secret", false},
        {"pass word \r\nnext\r\n", owner, "pass word ", false},
        {"", owner, "", false},
        {"\nsecond", owner, "", false},
        {"secret\n", owner | fs::perms::group_read, "secret", true},
        {"secret\n", owner | fs::perms::others_read, "secret", true},
        {"secret\n", owner | fs::perms::group_write, "secret", false},
        {std::string(kMaxPasswordLine, 'p') + "\r\nnext", owner, std::string(kMaxPasswordLine, 'p'), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.content + " " + std::to_string(static_cast<int>(row.perms)));
        const std::string file = dir.File("pw");
        test::WriteFile(file, row.content);
        fs::permissions(file, row.perms);
        std::vector<std::string> warnings;
        EXPECT_EQ(ReadPasswordFile(file, warnings), row.password);
        ASSERT_EQ(warnings.size(), row.warned ? 1u : 0u);
        if (row.warned) {
            EXPECT_NE(warnings[0].find("'" + file + "' can be read by others than its owner"), std::string::npos);
        }
    }

    // Refused, naming the file and never its content: what cannot be read, and a first line
    // too long or without end.
    const std::string longLine = dir.File("long");
    test::WriteFile(longLine, std::string(kMaxPasswordLine + 1, 'p') + "\n");
    const std::string tooLong = "its first line is longer than 4096 bytes";
    const std::pair<std::string, std::string> refused[] = {
        {dir.File("missing"), "No such file or directory"},
        {dir.Path(), "a folder"},
        {longLine, tooLong},
        {"/dev/zero", tooLong},
    };
    for (const auto& [path, reason] : refused) {
        std::vector<std::string> warnings;
        try {
            ReadPasswordFile(path, warnings);
            ADD_FAILURE() << path << " was read";
        } catch (const PasswordFileError& e) {
            EXPECT_EQ(std::string(e.what()), "cannot read the password file '" + path + "': " + reason);
        }
    }
}

// The client library takes up to 255 bytes, not characters, of a user name and of a password.
TEST(Logins, OverlongUserOrPasswordIsNamedWithItsSide) {
    const std::string fits(kMaxLoginBytes, 'x'), over(kMaxLoginBytes + 1, 'x');
    std::string overInUtf8;
    for (std::size_t i = 0; i < (kMaxLoginBytes + 1) / 2; ++i) overInUtf8 += "\u0436";
    const std::string tail = " login is longer than the 255 bytes the client library takes";
    struct Row {
        db::Credentials login;
        const char* side;
        std::optional<std::string> problem;
    };
    const Row rows[] = {
        {{fits, fits}, "source", std::nullopt},
        {{"sysdba", over}, "source", "the password of the source" + tail},
        {{"sysdba", overInUtf8}, "destination", "the password of the destination" + tail},
        {{over, "secret"}, "destination", "the user name of the destination" + tail},
        {{over, over}, "source", "the user name of the source" + tail},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.login.user.size());
        SCOPED_TRACE(row.login.password.size());
        EXPECT_EQ(OverlongLoginPart(row.login, row.side), row.problem);
    }
}

} // namespace
} // namespace kestrix
