// kestrix-sample: builds the sample source or destination database.
//   kestrix-sample source PATH [--size N] [--newer] [--samples DIR]
//   kestrix-sample dest PATH [--samples DIR]
//   kestrix-sample script source|dest [--size N] [--newer] [--samples DIR]   (prints the script)
//   kestrix-sample --help
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "generator/Sample.h"

namespace {

// The usage text: asked for, on standard output with status 0; after a wrong call, on
// standard error with status 2.
int Usage(bool asked = false) {
    (asked ? std::cout : std::cerr)
        << "usage: kestrix-sample source PATH [--size N] [--newer] [--samples DIR]\n"
           "       kestrix-sample dest PATH [--samples DIR]\n"
           "       kestrix-sample script source|dest [--size N] [--newer] [--samples DIR]\n"
           "       kestrix-sample --help\n"
           "source: older schema with the sample installation (size 1 = small)\n"
           "dest:   newer schema with the reference rows of a fresh database\n"
           "script: writes the Windows-1251 isql script to standard output\n";
    return asked ? 0 : 2;
}

// Installed as PREFIX/bin/kestrix-sample, the program takes the schema scripts from
// PREFIX/share/kestrix/schema; in a build tree, from the source tree (empty: the default).
std::string InstalledSamplesDir() {
    std::error_code ec;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    std::filesystem::path dir = program.parent_path().parent_path() / "share" / "kestrix";
    return std::filesystem::exists(dir / "schema" / "old.sql", ec) ? dir.string() : std::string();
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") return Usage(true);
    if (argc < 3) return Usage();
    std::string mode = argv[1], target = argv[2];
    int size = 1;
    bool newer = false;
    std::string samples = InstalledSamplesDir();
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            char* end = nullptr;
            long value = std::strtol(argv[++i], &end, 10);
            if (*end || value < 0 || value > 100000) return Usage();
            size = static_cast<int>(value);
        } else if (arg == "--newer") {
            newer = true;
        } else if (arg == "--samples" && i + 1 < argc) {
            samples = argv[++i];
        } else {
            return Usage();
        }
    }
    try {
        using namespace kestrix::sample;
        if (mode == "source") {
            CreateSampleDatabase(target, newer, size, samples);
        } else if (mode == "dest") {
            CreateSampleDatabase(target, true, 0, samples);
        } else if (mode == "script" && (target == "source" || target == "dest")) {
            bool isDest = target == "dest";
            std::string script = SchemaScript(isDest || newer, samples) + "\n";
            if (!isDest) script += SourceDataScript(size, newer);
            std::fwrite(script.data(), 1, script.size(), stdout);
            return 0;
        } else {
            return Usage();
        }
    } catch (const std::exception& e) {
        std::cerr << "kestrix-sample: " << e.what() << "\n";
        return 1;
    }
    std::cout << "kestrix-sample: " << mode << " database " << target << " created"
              << (mode == "source" ? " (size " + std::to_string(size) + ")" : std::string()) << "\n";
    return 0;
}
