#pragma once
// Conversion between UTF-8 (source files, terminal) and Windows-1251 (everything else).
#include <string>
#include <string_view>

namespace kestrix {

// Raises a conversion error naming the first character that has no Windows-1251 form.
std::string ToCp1251(std::string_view utf8);
std::string ToUtf8(std::string_view cp1251);

} // namespace kestrix
