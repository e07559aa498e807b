#pragma once
// Windows-1251 (the program's texts, its data files, its log and its connections) and
// UTF-8 (source files, the terminal, the window toolkit and file names).
#include <string>
#include <string_view>

namespace kestrix {

// Raises a conversion error naming the first character that has no Windows-1251 form.
std::string ToCp1251(std::string_view utf8);
// Never raises: the one byte Windows-1251 leaves undefined (0x98) shows as U+FFFD.
std::string ToUtf8(std::string_view cp1251);
// A file name, or a text of the client library that holds file names, for a Windows-1251
// text: what Windows-1251 lacks, and bytes that are not UTF-8, become '?'. Never raises.
std::string FileNameToCp1251(std::string_view utf8);

} // namespace kestrix
