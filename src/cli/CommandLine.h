#pragma once
// The command line of kestrix-cli taken apart: every option declared once, with its help.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Logins.h"
#include "run/OutputFile.h"
#include "run/RunOptions.h"

namespace kestrix::cli {

// A command line that cannot be run, with the one line that says why (exit status 2).
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CommandLine {
    // --help or --version: the text for stdout, and nothing else to do.
    std::optional<std::string> answer;
    bool check = false;
    std::optional<std::string> appDir;        // as given; the program's folder otherwise
    std::optional<std::string> summaryJson;   // a run's account as JSON
    std::optional<std::string> mapFile;       // a run's key map as CSV
    // The database names as given, the journals, the read-back and the streams.
    RunOptions run;
    // Each side's user and password file as given (a side's own option over the common one).
    LoginGiven sourceLogin, destLogin;

    // The files the run writes for the operator, each with the option that names it.
    std::vector<NamedFile> Outputs() const;
};

// Raises UsageError for a command line that cannot be run.
CommandLine ParseCommandLine(int argc, const char* const* argv);

// The full help: every option, every exit status.
std::string HelpText();

// "YYYY-MM-DD" as a valid date at midnight; nullopt for anything else.
std::optional<db::DateTime> ParseDate(const std::string& text);

} // namespace kestrix::cli
