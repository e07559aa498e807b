#include "run/TextFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "db/Charset.h"
#include "db/Error.h"

namespace kestrix {

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

    // Read a line, then stop at the end of the file: one line even from an empty file, and a
    // line break at the very end opens no further line.
    std::vector<std::string> lines;
    std::size_t pos = 0;
    do {
        std::size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(bytes.substr(pos));
            pos = bytes.size();
        } else {
            lines.push_back(bytes.substr(pos, end - pos));
            pos = end + 1;
            if (bytes[end] == '\r' && pos < bytes.size() && bytes[pos] == '\n') ++pos;
        }
    } while (pos < bytes.size());
    return lines;
}

} // namespace kestrix
