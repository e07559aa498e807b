#pragma once
// Data files read line by line, the way the program's loops read them: a line is read
// even from an empty file, and a last line without a line break still counts.
#include <string>
#include <vector>

namespace kestrix {

// Lines split at CR LF, lone CR or lone LF. Raises a file error when the file cannot be read.
std::vector<std::string> ReadTextLines(const std::string& path);

// Splits text kept in the database (macro and description texts) the same way; a NUL byte
// ends the text, and no bytes make no lines.
std::vector<std::string> SplitTextLines(const std::string& bytes);

} // namespace kestrix
