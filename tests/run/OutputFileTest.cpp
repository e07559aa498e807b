// Output files named by the operator: one file under any two names, and written whole.
#include <filesystem>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "db/Error.h"
#include "run/OutputFile.h"
#include "support/Fixtures.h"
#include "support/Process.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

TEST(OutputFile, OneFileUnderTwoNamesExistingOrNot) {
    TempDir dir;
    fs::create_directories(dir.File("app"));
    WriteFile(dir.File("db.fdb"), "x");
    WriteFile(dir.File("other.fdb"), "x");
    fs::create_symlink(dir.File("db.fdb"), dir.File("link.fdb"));
    fs::create_hard_link(dir.File("db.fdb"), dir.File("hard.fdb"));
    fs::create_symlink(dir.File("new.json"), dir.File("dangling.json"));
    fs::create_symlink(dir.File("app"), dir.File("applink"));
    struct Row { std::string a, b; bool same; };
    const Row rows[] = {
        {dir.File("db.fdb"), dir.File("link.fdb"), true},
        {dir.File("db.fdb"), dir.File("hard.fdb"), true},
        {dir.File("db.fdb"), dir.File("app/../db.fdb"), true},
        {dir.File("db.fdb"), dir.File("other.fdb"), false},
        // Not there yet: by name, through the links that exist.
        {dir.File("app/./Kestrix.log"), dir.File("app/Kestrix.log"), true},
        {dir.File("applink/Kestrix.log"), dir.File("app//Kestrix.log"), true},
        {dir.File("dangling.json"), dir.File("new.json"), true},
        {dir.File("a.json"), dir.File("b.json"), false},
        {dir.File("db.fdb"), "", false},
    };
    for (const Row& row : rows) EXPECT_EQ(SameLocalFile(row.a, row.b), row.same) << row.a << " | " << row.b;

    const std::vector<NamedFile> others{{"the source database", dir.File("db.fdb")},
                                        {"the run log", dir.File("app/Kestrix.log")}};
    EXPECT_EQ(OutputClash({{"--summary-json", dir.File("link.fdb")}}, others),
              "--summary-json '" + dir.File("link.fdb") + "' is the source database");
    EXPECT_EQ(OutputClash({{"--summary-json", dir.File("s.json")}, {"--map-file", dir.File("app/../s.json")}}, others),
              "--map-file '" + dir.File("app/../s.json") + "' is also the file of --summary-json");
    EXPECT_EQ(OutputClash({{"--summary-json", dir.File("s.json")}, {"--map-file", dir.File("m.csv")}}, others),
              std::nullopt);
}

TEST(OutputFile, WrittenWholeOrLeftAsItWas) {
    TempDir dir;
    const std::string file = dir.File("account.json");
    WriteFile(file, "old");
    ::chmod(file.c_str(), 0640);
    WriteFileWhole(file, "new");
    EXPECT_EQ(ReadFile(file), "new");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0640)) << "the replaced file's permissions kept";

    // A link gives way to the file under its name; what it points to is left alone.
    fs::create_symlink(file, dir.File("link.json"));
    WriteFileWhole(dir.File("link.json"), "in place of the link");
    EXPECT_FALSE(fs::is_symlink(dir.File("link.json")));
    EXPECT_EQ(ReadFile(dir.File("link.json")), "in place of the link");
    EXPECT_EQ(ReadFile(file), "new");

    // A folder that cannot take the file: the file error, and nothing left behind.
    Error e = test::Raised([&] { WriteFileWhole(dir.File("missing/x.json"), "x"); });
    EXPECT_EQ(e.kind(), Error::Kind::File);
    EXPECT_NE(e.text().find("missing/x.json"), std::string::npos) << e.text();
    fs::create_directories(dir.File("taken.json"));
    test::Raised([&] { WriteFileWhole(dir.File("taken.json"), "x"); });
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 3)
        << "a temporary file was left behind";
}

TEST(OutputFile, RefusedBeforehandWhereItCannotBeWritten) {
    TempDir dir;
    // A shared sticky folder, as /tmp: a link that another user planted there is refused, one
    // of this user's own is not.
    const std::string shared = dir.File("shared");
    fs::create_directories(shared);
    fs::permissions(dir.Path(), fs::perms(0755));
    fs::permissions(shared, fs::perms(01777));
    WriteFile(dir.File("ours.csv"), "ours");
    ASSERT_EQ(test::SymlinkAs("nobody", dir.File("ours.csv"), shared + "/planted.csv"), "");
    fs::create_symlink(dir.File("ours.csv"), shared + "/own.csv");
    WriteFile(dir.File("file"), "x");
    struct Row { std::string path, refusal; };
    const Row rows[] = {
        {dir.File("missing/x.json"), "the folder '" + dir.File("missing") + "' cannot be used: No such file or directory"},
        {dir.File("file/x.json"), "'" + dir.File("file") + "' is no folder"},
        {shared, "it is a folder"},
        {shared + "/planted.csv", "it is a link that another user owns in the shared folder '" + shared + "'"},
        {shared + "/own.csv", ""},
        {shared + "/new.csv", ""},
    };
    for (const Row& row : rows) EXPECT_EQ(OutputRefusal(row.path).value_or(""), row.refusal) << row.path;

    Error e = test::Raised([&] { WriteFileWhole(shared + "/planted.csv", "x"); });
    EXPECT_NE(e.text().find("another user"), std::string::npos) << e.text();
    EXPECT_EQ(ReadFile(dir.File("ours.csv")), "ours");
}

} // namespace
} // namespace kestrix
