#include "scripts/ScriptReader.h"

namespace kestrix::scripts {

bool IsTerminatorLine(const std::string& line) {
    if (line.find("{***}") != std::string::npos || line.find("---") != std::string::npos) return true;
    for (char c : line)
        if (static_cast<unsigned char>(c) > 32) return false;
    return true;
}

std::vector<std::vector<std::string>> SplitScript(const std::vector<std::string>& lines) {
    // As the runners read: each statement reads lines up to its terminator or the end of the
    // file, and statements are read until the file is exhausted, so there is at least one.
    std::vector<std::vector<std::string>> statements;
    std::size_t next = 0;
    do {
        std::vector<std::string> statement;
        while (next < lines.size()) {
            const std::string& line = lines[next++];
            if (IsTerminatorLine(line)) break;
            statement.push_back(line);
        }
        statements.push_back(std::move(statement));
    } while (next < lines.size());
    return statements;
}

} // namespace kestrix::scripts
