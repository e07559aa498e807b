#include "run/DataFiles.h"

#include <filesystem>
#include <strings.h>

namespace kestrix {

std::string AppDirPath(const std::string& dir) {
    return dir.empty() || dir.back() == '/' ? dir : dir + "/";
}

std::string FindDataFile(const std::string& appDir, const std::string& relative) {
    namespace fs = std::filesystem;
    fs::path found = appDir;
    for (const fs::path& part : fs::path(relative)) {
        fs::path exact = found / part;
        std::error_code ec;
        if (fs::exists(exact, ec)) { found = exact; continue; }
        bool matched = false;
        for (fs::directory_iterator it(found, ec), end; !ec && it != end; it.increment(ec)) {
            if (strcasecmp(it->path().filename().c_str(), part.c_str()) == 0) {
                found = it->path();
                matched = true;
                break;
            }
        }
        if (!matched) return appDir + relative;
    }
    return found.string();
}

} // namespace kestrix
