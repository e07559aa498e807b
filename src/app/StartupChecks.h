#pragma once
// The checks made once when the program comes up: an empty run log, a readable table
// list (its lines counted) and a readable generator list.
#include <optional>
#include <string>

#include "run/RunOptions.h"
#include "run/RunState.h"

namespace kestrix {

// Up to and including the last separator, blanks and control characters trimmed.
std::string FilePath(const std::string& path);

// Whether the folder holds the table list (any letter case): a data folder to take unasked.
bool FolderHoldsTableList(const std::string& dir);

// The start-up check that failed.
enum class StartupFailure { RunLog, TableList, GeneratorList };

// Sets the options' program directory and table-list lines; the state pumps once before the
// checks. Returns the first check that fails.
std::optional<StartupFailure> CheckStartup(RunState& state, RunOptions& options, const std::string& appDir);
// The window's message for a failed check (Windows-1251).
const std::string& StartupFailureText(StartupFailure failure);
// CheckStartup, with the message of the check that fails.
std::optional<std::string> RunStartupChecks(RunState& state, RunOptions& options, const std::string& appDir);

} // namespace kestrix
