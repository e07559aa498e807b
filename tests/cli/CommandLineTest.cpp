// The command line taken apart in-process: what each option sets, the usage errors, the help.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/CommandLine.h"

namespace kestrix::cli {
namespace {

CommandLine Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "kestrix-cli");
    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// What a parsed line holds, in one comparable text.
std::string Describe(const CommandLine& line) {
    const RunOptions& run = line.run;
    std::string text = "source=" + run.sourceName + " dest=" + run.destName;
    if (run.events)
        text += " events=" + std::to_string(run.startDate.year) + "-" + std::to_string(run.startDate.month) + "-" +
                std::to_string(run.startDate.day);
    if (line.appDir) text += " app=" + *line.appDir;
    for (const NamedFile& output : line.Outputs()) text += " " + output.role + "=" + output.path;
    if (run.jobs != 1) text += " jobs=" + std::to_string(run.jobs);
    if (run.verify) text += " verify";
    if (line.check) text += " check";
    const std::pair<std::string, const LoginGiven*> logins[] = {{" source-", &line.sourceLogin},
                                                                 {" dest-", &line.destLogin}};
    for (const auto& [side, login] : logins) {
        if (login->user) text += side + "user=" + *login->user;
        if (login->passwordFile) text += side + "file=" + *login->passwordFile;
    }
    return text;
}

TEST(CommandLine, OptionsSpacedOrJoinedAndTheLastOneCounts) {
    struct Row {
        std::vector<std::string> args;
        std::string parsed;
    };
    const Row rows[] = {
        {{"--source", "a.fdb", "--dest", "b.fdb"}, "source=a.fdb dest=b.fdb"},
        {{"--source=a.fdb", "--dest=host/3050:/d/b.fdb"}, "source=a.fdb dest=host/3050:/d/b.fdb"},
        {{"--dest", "b", "--source", "a", "--events-from", "2024-02-29", "--app-dir", "/x/", "--summary-json=s.json",
          "--map-file", "k.csv", "--jobs=16", "--verify"},
         "source=a dest=b events=2024-2-29 app=/x/ --summary-json=s.json --map-file=k.csv jobs=16 verify"},
        {{"--check", "--source", "a", "--dest", "b", "--events-from=2026-01-01"},
         "source=a dest=b events=2026-1-1 check"},
        {{"--source", "a", "--dest", "b", "--jobs", "1", "--jobs", "02", "--user=u", "--user", "v"},
         "source=a dest=b jobs=2 source-user=v dest-user=v"},
        {{"--source", "a", "--dest", "b", "--user", "u", "--password-file", "pw"},
         "source=a dest=b source-user=u source-file=pw dest-user=u dest-file=pw"},
        {{"--source", "a", "--dest", "b", "--user=u", "--dest-user", "d", "--source-password-file", "s", "--password-file",
          "pw"},
         "source=a dest=b source-user=u source-file=s dest-user=d dest-file=pw"},
        {{"--source", "a", "--dest", "b", "--source-user", "s", "--dest-password-file=d"},
         "source=a dest=b source-user=s dest-file=d"},
        {{"--source", "Базы данных/a.fdb", "--dest", "b", "--app-dir", ""}, "source=Базы данных/a.fdb dest=b app="},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.parsed);
        const CommandLine line = Parse(row.args);
        EXPECT_FALSE(line.answer);
        EXPECT_EQ(Describe(line), row.parsed);
    }
}

TEST(CommandLine, UsageErrorsSayWhatIsWrongOnOneLine) {
    struct Row {
        std::vector<std::string> args;
        std::string message;   // part of the one line
    };
    const std::vector<std::string> both{"--source", "a", "--dest", "b"};
    auto with = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), both.begin(), both.end());
        return extra;
    };
    const Row rows[] = {
        {{}, "--source is required"},
        {{"--source", "a"}, "--dest is required"},
        {with({"--bogus"}), "--bogus"},
        {with({"--source", "c"}), "--source is given more than once"},
        {{"--source=a", "--dest=b", "--dest", "b"}, "--dest is given more than once"},
        {with({"extra"}), "extra"},
        {with({"--summary-json"}), "--summary-json"},
        {with({"--summary-json", ""}), "'--summary-json' needs a file name"},
        {with({"--map-file="}), "--map-file"},
        {with({"--events-from", "2026-02-30"}), "--events-from takes a date as YYYY-MM-DD, not '2026-02-30'"},
        {with({"--events-from", "2026-1-01"}), "not '2026-1-01'"},
        {with({"--events-from", "2026-01-01x"}), "not '2026-01-01x'"},
        {with({"--jobs", "0"}), "--jobs takes a number from 1 to 16, not '0'"},
        {with({"--jobs", "17"}), "not '17'"},
        {with({"--jobs", "2x"}), "not '2x'"},
        {with({"--jobs", "-1"}), "not '-1'"},
        {with({"--jobs", ""}), "not ''"},
        {with({"--check", "--summary-json", "s.json"}), "--summary-json is for a run, not --check"},
        {with({"--check", "--map-file", "k.csv"}), "--map-file is for a run, not --check"},
        {with({"--check", "--verify"}), "--verify is for a run, not --check"},
        {with({"--password", "secret"}), "--password"},
    };
    for (const Row& row : rows) {
        std::string joined;
        for (const std::string& arg : row.args) joined += arg + " ";
        SCOPED_TRACE(joined);
        try {
            Parse(row.args);
            ADD_FAILURE() << "taken";
        } catch (const UsageError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find(row.message), std::string::npos) << message;
            EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        }
    }
}

TEST(CommandLine, HelpNamesEveryOptionAndExitStatus) {
    const CommandLine help = Parse({"--help"});
    ASSERT_TRUE(help.answer);
    EXPECT_EQ(*help.answer, HelpText());
    EXPECT_EQ(*Parse({"--source", "a", "-h"}).answer, HelpText());
    for (const char* option : {"--source SRC", "--dest DST", "--check", "--events-from YYYY-MM-DD", "--app-dir DIR",
                               "--summary-json FILE", "--map-file FILE", "--verify", "--jobs N", "--user NAME",
                               "--source-user NAME", "--dest-user NAME", "--password-file FILE",
                               "--source-password-file FILE", "--dest-password-file FILE", "ISC_USER",
                               "ISC_PASSWORD", "--version", "--help"})
        EXPECT_NE(help.answer->find(option), std::string::npos) << option << "\n" << *help.answer;
    for (const char* status : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  130 "})
        EXPECT_NE(help.answer->find(status), std::string::npos) << status << "\n" << *help.answer;

    const CommandLine version = Parse({"--version"});
    ASSERT_TRUE(version.answer);
    EXPECT_EQ(version.answer->rfind("kestrix-cli 1.", 0), 0u) << *version.answer;
}

} // namespace
} // namespace kestrix::cli
