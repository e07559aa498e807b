#pragma once
// SQL scripts cut into statements: a statement is a run of lines ended by a terminator line
// (blank, or containing "{***}" or "---") or by the end of the file.
#include <string>
#include <vector>

namespace kestrix::scripts {

bool IsTerminatorLine(const std::string& line);
// The statements of a script, in order; an empty statement (two terminators in a row, or an
// empty file) is kept as an empty list of lines.
std::vector<std::vector<std::string>> SplitScript(const std::vector<std::string>& lines);

} // namespace kestrix::scripts
