#include "support/Sample.h"

#include <filesystem>

#include "generator/Sample.h"

namespace kestrix::test {

void MakeSampleSource(const std::string& path, int size) {
    sample::CreateSampleDatabase(path, false, size);
}

void MakeSampleDest(const std::string& path) { sample::CreateSampleDatabase(path, true, 0); }

std::string SampleAppDir() { return std::string(KESTRIX_SOURCE_DIR) + "/samples/app/"; }

void CopySampleAppDir(const std::string& dir) {
    namespace fs = std::filesystem;
    fs::copy(SampleAppDir(), dir, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

} // namespace kestrix::test
