#include "run/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "db/Charset.h"
#include "db/Error.h"

namespace kestrix {
namespace {

// Lines at CR LF, lone CR and lone LF; a line break at the very end opens no further line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
        if (text[end] == '\r' && pos < text.size() && text[pos] == '\n') ++pos;
    }
    return lines;
}

} // namespace

std::vector<std::string> ReadTextLines(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        int err = errno;
        throw Error(Error::Kind::File, err, "Cannot open file \"" + FileNameToCp1251(path) + "\". " + std::strerror(err));
    }
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    bool failed = std::ferror(file) != 0;
    int err = errno;
    std::fclose(file);
    if (failed)
        throw Error(Error::Kind::File, err, "Cannot read file \"" + FileNameToCp1251(path) + "\". " + std::strerror(err));

    // The loops read a line before they look for the end: one line even from an empty file.
    std::vector<std::string> lines = SplitLines(bytes);
    if (lines.empty()) lines.emplace_back();
    return lines;
}

std::vector<std::string> SplitTextLines(const std::string& bytes) {
    return SplitLines(bytes.substr(0, bytes.find('\0')));
}

} // namespace kestrix
