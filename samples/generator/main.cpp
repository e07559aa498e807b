// kestrix-sample: builds the sample source or destination database.
//   kestrix-sample source PATH [--size N] [--newer] [--samples DIR]
//   kestrix-sample dest PATH [--samples DIR]
//   kestrix-sample script source|dest [--size N] [--newer] [--samples DIR]   (prints the script)
//   kestrix-sample --help | --version
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include "generator/Sample.h"

namespace {

// The usage text, asked for: on standard output with status 0.
int Usage() {
    std::cout << "usage: kestrix-sample source PATH [--size N] [--newer] [--samples DIR]\n"
                 "       kestrix-sample dest PATH [--samples DIR]\n"
                 "       kestrix-sample script source|dest [--size N] [--newer] [--samples DIR]\n"
                 "       kestrix-sample --help | --version\n"
                 "source: older schema with the sample installation (size 1 = small)\n"
                 "dest:   newer schema with the reference rows of a fresh database\n"
                 "script: writes the Windows-1251 isql script to standard output\n";
    return 0;
}

// A wrong call: one line on standard error that says what is wrong, status 2.
int UsageError(const std::string& what) {
    std::cerr << "kestrix-sample: " << what << "; see 'kestrix-sample --help'\n";
    return 2;
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") return Usage();
        if (arg == "--version") {
            std::cout << "kestrix-sample " << KESTRIX_VERSION << "\n";
            return 0;
        }
    }
    if (argc < 2) return UsageError("no mode given: source, dest or script");
    const std::string mode = argv[1];
    if (mode != "source" && mode != "dest" && mode != "script")
        return UsageError("unknown mode '" + mode + "': source, dest or script");
    if (argc < 3) return UsageError(mode == "script" ? "script needs source or dest" : mode + " needs a PATH");
    const std::string target = argv[2];
    if (mode == "script" && target != "source" && target != "dest")
        return UsageError("script takes source or dest, not '" + target + "'");
    int size = 1;
    bool newer = false;
    std::string samples = InstalledSamplesDir();
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--size" || arg == "--samples") && i + 1 >= argc) return UsageError(arg + " needs a value");
        if (arg == "--size") {
            const std::string text = argv[++i];
            char* end = nullptr;
            const long value = std::strtol(text.c_str(), &end, 10);
            if (text.empty() || *end || value < 0 || value > 100000)
                return UsageError("--size takes a number from 0 to 100000, not '" + text + "'");
            size = static_cast<int>(value);
        } else if (arg == "--newer") {
            newer = true;
        } else if (arg == "--samples") {
            samples = argv[++i];
        } else {
            return UsageError("unknown argument '" + arg + "'");
        }
    }
    try {
        using namespace kestrix::sample;
        if (mode == "source") {
            CreateSampleDatabase(target, newer, size, samples);
        } else if (mode == "dest") {
            CreateSampleDatabase(target, true, 0, samples);
        } else {
            bool isDest = target == "dest";
            std::string script = SchemaScript(isDest || newer, samples) + "\n";
            if (!isDest) script += SourceDataScript(size, newer);
            std::fwrite(script.data(), 1, script.size(), stdout);
            return 0;
        }
    } catch (const std::exception& e) {
        std::cerr << "kestrix-sample: " << e.what() << "\n";
        return 1;
    }
    std::cout << "kestrix-sample: " << mode << " database " << target << " created"
              << (mode == "source" ? " (size " + std::to_string(size) + ")" : std::string()) << "\n";
    return 0;
}
