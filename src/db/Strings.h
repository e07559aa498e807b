#pragma once
// String helpers of every layer. Strings are Windows-1251 bytes; each name says which blanks
// are trimmed or which letters change case.
#include <string>

namespace kestrix {

// Spaces (' ') removed at both ends.
std::string TrimSpaces(const std::string& text);
// Spaces and tabs removed at both ends.
std::string TrimSpacesAndTabs(const std::string& text);
// Spaces and control characters (bytes 0 to 32) removed at both ends; Cyrillic bytes stay.
std::string TrimBlanksAndControls(const std::string& text);

// A message of several lines on one line: each line break (CR LF, CR or LF) becomes a blank,
// and the breaks at the end go.
std::string OneLine(const std::string& text);

// Latin letters a-z to upper or lower case; every other byte unchanged.
std::string UpperAscii(std::string text);
std::string LowerAscii(std::string text);
// Latin and Windows-1251 Cyrillic letters (with yo) to upper case.
std::string UpperCp1251(std::string text);
// The name an unquoted identifier stands for in SQL: blanks and controls trimmed, ASCII letters
// upper-cased.
std::string UnquotedName(const std::string& name);

} // namespace kestrix
