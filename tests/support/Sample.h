#pragma once
// The sample installation for tests: databases built with isql-fb and the data files.
#include <string>

namespace kestrix::test {

// A source database (older schema) holding the sample installation; size 1 is small.
// Raises std::runtime_error with isql's output when the build fails.
void MakeSampleSource(const std::string& path, int size = 1);
// A destination database (newer schema) with only the reference rows of a fresh database.
void MakeSampleDest(const std::string& path);
// The folder of the sample data files (Conv.txt, Generator.txt, SQL/), ending in "/".
std::string SampleAppDir();
// Copies the sample data files into dir (which exists), overwriting files of the same name.
void CopySampleAppDir(const std::string& dir);

} // namespace kestrix::test
