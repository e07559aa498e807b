#pragma once
// Data files beside the program, found without regard to letter case.
#include <string>

namespace kestrix {

// The path of AppDir + relative, where every component of relative ("SQL/_Upd.sql")
// matches an existing entry regardless of letter case. When nothing matches, the path as
// written, so that opening it fails with the name the operator expects.
std::string FindDataFile(const std::string& appDir, const std::string& relative);

// A folder as AppDir takes it, ending in "/"; an empty name (the current folder) stays empty.
std::string AppDirPath(const std::string& dir);

inline constexpr const char* kTableListFile = "Conv.txt";
inline constexpr const char* kGeneratorListFile = "Generator.txt";
inline constexpr const char* kPreScriptFile = "SQL/_Upd.sql";
inline constexpr const char* kPostScriptFile = "SQL/Upd.sql";
inline constexpr const char* kLogFile = "Kestrix.log";

} // namespace kestrix
