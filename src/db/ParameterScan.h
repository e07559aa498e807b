#pragma once
// The parameter markers of a statement text: ":NAME", ":"QUOTED NAME"" or "?", outside
// quotes and block comments.
#include <string>
#include <vector>

namespace kestrix::db {

// The text with its parameters replaced by question marks; the names in order of appearance.
// Raises client error 55 on a malformed text.
std::string ScanParameters(const std::string& text, std::vector<std::string>& names);

} // namespace kestrix::db
