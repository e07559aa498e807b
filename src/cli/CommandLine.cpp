#include "cli/CommandLine.h"

#include <cstdio>

#include <CLI/CLI.hpp>

namespace kestrix::cli {
namespace {

constexpr int kMaxJobs = 16;

constexpr const char* kDescription =
    "Moves an access-control installation from one Firebird database into another.\n"
    "  kestrix-cli --source SRC --dest DST [options]           a transfer run\n"
    "  kestrix-cli --check --source SRC --dest DST [options]   what a run would do\n";

constexpr const char* kExitStatuses =
    "Exit status:\n"
    "  0    the transfer finished (--check: no problem found)\n"
    "  1    the run failed, the error is on stderr (--check: problems found)\n"
    "  2    usage error\n"
    "  3    a start-up check failed (run log, table list or generator list), or the\n"
    "       Firebird client library could not be loaded\n"
    "  4    the transfer finished, and --verify found a difference\n"
    "  130  interrupted (Ctrl-C or SIGTERM)\n"
    "\n"
    "Each side's user is the one given, else ISC_USER, else SYSDBA; its password\n"
    "independently the password file's first line, else ISC_PASSWORD, else the\n"
    "program's fixed SYSDBA password.\n";

// The help's column of option descriptions; the parser starts a description's later lines
// there too.
constexpr std::size_t kHelpColumn = 30;

// The values as the operator wrote them; checked and converted after the parse.
struct Given {
    std::string source, dest, eventsFrom, appDir, summaryJson, mapFile, jobs;
    std::string user, sourceUser, destUser, passwordFile, sourcePasswordFile, destPasswordFile;
    bool check = false, verify = false;
};

struct Declared {
    CLI::App app{kDescription, "kestrix-cli"};
    Given given;
    CLI::Option *source, *dest, *eventsFrom, *appDir, *summaryJson, *mapFile, *jobs;
    CLI::Option *user, *sourceUser, *destUser, *passwordFile, *sourcePasswordFile, *destPasswordFile;

    Declared() {
        app.set_help_flag("-h,--help", "print this help and exit");
        app.set_version_flag("--version", std::string("kestrix-cli ") + KESTRIX_VERSION, "print the version and exit");
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        source = app.add_option("--source", given.source, "source database: a file, or host/port:path on\na server")
                     ->type_name("SRC")
                     ->required();
        dest = app.add_option("--dest", given.dest, "destination database, of the same or a newer\nschema")
                   ->type_name("DST")
                   ->required();
        app.add_flag("--check", given.check, "print what a run would do, line by line, with\nnothing written");
        eventsFrom = app.add_option("--events-from", given.eventsFrom,
                                    "also transfer the event and alarm journals\nfrom that day on")
                         ->type_name("YYYY-MM-DD");
        appDir = app.add_option("--app-dir", given.appDir,
                                "folder of Conv.txt, Generator.txt and SQL/;\n"
                                "receives Kestrix.log (default: this program's\n"
                                "folder, when it holds Conv.txt)")
                     ->type_name("DIR");
        summaryJson = app.add_option("--summary-json", given.summaryJson, "also write the run's account to FILE as JSON")
                          ->type_name("FILE");
        mapFile = app.add_option("--map-file", given.mapFile,
                                 "write the old and new key of every device and\nmacro to FILE (CSV)")
                      ->type_name("FILE");
        app.add_flag("--verify", given.verify,
                     "read every copied table back before the\n"
                     "post-transfer script; exit 4 when the\n"
                     "destination differs");
        jobs = app.add_option("--jobs", given.jobs,
                              "copy the journals over N attachments to each\n"
                              "database at once, largest first (1 to 16,\n"
                              "default 1)")
                   ->type_name("N");
        DeclareLogins();
        app.get_formatter()->column_width(kHelpColumn);
        app.footer(kExitStatuses);
    }

    // No option takes a password: it would show in the process list.
    void DeclareLogins() {
        user = app.add_option("--user", given.user, "user name on both databases")->type_name("NAME");
        sourceUser = app.add_option("--source-user", given.sourceUser, "user name on the source")->type_name("NAME");
        destUser = app.add_option("--dest-user", given.destUser, "user name on the destination")->type_name("NAME");
        passwordFile = app.add_option("--password-file", given.passwordFile,
                                      "password for both databases: the first line of\nFILE (keep it private: chmod 600)")
                           ->type_name("FILE");
        sourcePasswordFile = app.add_option("--source-password-file", given.sourcePasswordFile,
                                            "password on the source, as --password-file")
                                 ->type_name("FILE");
        destPasswordFile = app.add_option("--dest-password-file", given.destPasswordFile,
                                          "password on the destination, as --password-file")
                               ->type_name("FILE");
    }
};

// A side's own option over the common one; nullopt when neither was given.
std::optional<std::string> Either(const CLI::Option* side, const std::string& sideValue, const CLI::Option* common,
                                  const std::string& commonValue) {
    if (side->count()) return sideValue;
    if (common->count()) return commonValue;
    return std::nullopt;
}

int ParseJobs(const std::string& text) {
    const bool digits = !text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos;
    const int jobs = digits ? std::stoi(text) : 0;
    if (jobs < 1 || jobs > kMaxJobs)
        throw UsageError("--jobs takes a number from 1 to " + std::to_string(kMaxJobs) + ", not '" + text + "'");
    return jobs;
}

// The options that only a run takes.
void RefuseRunOptionsInCheck(const CommandLine& line) {
    if (!line.check) return;
    if (line.summaryJson) throw UsageError("--summary-json is for a run, not --check");
    if (line.mapFile) throw UsageError("--map-file is for a run, not --check");
    if (line.run.verify) throw UsageError("--verify is for a run, not --check");
}

template <class T> std::optional<T> IfGiven(const CLI::Option* option, const T& value) {
    return option->count() ? std::optional<T>(value) : std::nullopt;
}

CommandLine Convert(const Declared& declared) {
    const Given& given = declared.given;
    // Of two databases named for one side the last would be cleared and filled, or read, unseen.
    for (const CLI::Option* side : {declared.source, declared.dest})
        if (side->count() > 1) throw UsageError(side->get_name() + " is given more than once");
    CommandLine line;
    line.check = given.check;
    line.appDir = IfGiven(declared.appDir, given.appDir);
    line.summaryJson = IfGiven(declared.summaryJson, given.summaryJson);
    line.mapFile = IfGiven(declared.mapFile, given.mapFile);
    // Database names are file names: they stay in the file system's encoding.
    line.run.sourceName = given.source;
    line.run.destName = given.dest;
    line.run.verify = given.verify;
    if (declared.eventsFrom->count()) {
        auto date = ParseDate(given.eventsFrom);
        if (!date) throw UsageError("--events-from takes a date as YYYY-MM-DD, not '" + given.eventsFrom + "'");
        line.run.events = true;
        line.run.startDate = *date;
    }
    if (declared.jobs->count()) line.run.jobs = ParseJobs(given.jobs);
    line.sourceLogin = {Either(declared.sourceUser, given.sourceUser, declared.user, given.user),
                        Either(declared.sourcePasswordFile, given.sourcePasswordFile, declared.passwordFile,
                               given.passwordFile)};
    line.destLogin = {Either(declared.destUser, given.destUser, declared.user, given.user),
                      Either(declared.destPasswordFile, given.destPasswordFile, declared.passwordFile,
                             given.passwordFile)};
    RefuseRunOptionsInCheck(line);
    for (const NamedFile& output : line.Outputs())
        if (output.path.empty()) throw UsageError("'" + output.role + "' needs a file name");
    return line;
}

} // namespace

std::vector<NamedFile> CommandLine::Outputs() const {
    std::vector<NamedFile> outputs;
    if (summaryJson) outputs.push_back({"--summary-json", *summaryJson});
    if (mapFile) outputs.push_back({"--map-file", *mapFile});
    return outputs;
}

std::optional<db::DateTime> ParseDate(const std::string& text) {
    int y = 0, m = 0, d = 0;
    char tail = 0;
    if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) return std::nullopt;
    const db::DateTime date{y, m, d, 0, 0, 0, 0};
    if (!db::ValidDateTime(date)) return std::nullopt;
    return date;
}

CommandLine ParseCommandLine(int argc, const char* const* argv) {
    Declared declared;
    try {
        declared.app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return CommandLine{.answer = declared.app.help()};
    } catch (const CLI::CallForVersion& version) {
        return CommandLine{.answer = std::string(version.what()) + "\n"};
    } catch (const CLI::ParseError& error) {
        throw UsageError(error.what());
    }
    return Convert(declared);
}

std::string HelpText() { return Declared().app.help(); }

} // namespace kestrix::cli
