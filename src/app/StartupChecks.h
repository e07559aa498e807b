#pragma once
// The checks made once when the program comes up: an empty run log, a readable table
// list (its lines counted) and a readable generator list.
#include <optional>
#include <string>

#include "run/RunState.h"

namespace kestrix {

// Up to and including the last separator, blanks and control characters trimmed.
std::string FilePath(const std::string& path);

// Sets AppDir and TableListLines. Returns the message of the first check that fails.
std::optional<std::string> RunStartupChecks(RunState& state, const std::string& appDir);

} // namespace kestrix
