// Every quoted include under src/ goes to the file's own folder or a layer below it.
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;

// Each layer and the layers it may include, besides itself.
const std::map<std::string, std::set<std::string>> kMayInclude = {
    {"db", {}},
    {"run", {"db"}},
    {"transfer", {"run", "db"}},
    {"scripts", {"run", "db"}},
    {"messaging", {"db"}},
    {"app", {"transfer", "scripts", "run", "db"}},
    {"gui", {"app", "transfer", "scripts", "run", "messaging", "db"}},
    {"cli", {"app", "transfer", "scripts", "run", "db"}},
};

TEST(Layers, EveryIncludeGoesDownward) {
    const fs::path src = fs::path(KESTRIX_SOURCE_DIR) / "src";
    const std::regex quoted(R"(^\s*#\s*include\s*"([^/"]+)/[^"]*")");
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        if (!entry.is_regular_file()) continue;
        const std::string layer = fs::relative(entry.path(), src).begin()->string();
        const auto rule = kMayInclude.find(layer);
        ASSERT_NE(rule, kMayInclude.end()) << "folder without a layer: src/" << layer;
        std::ifstream in(entry.path());
        std::string line;
        for (int lineNo = 1; std::getline(in, line); ++lineNo) {
            std::smatch m;
            if (!std::regex_search(line, m, quoted)) continue;
            ++checked;
            const std::string target = m[1];
            EXPECT_TRUE(target == layer || rule->second.count(target))
                << fs::relative(entry.path(), src.parent_path()).string() << ":" << lineNo
                << " includes " << target << "/, above or beside layer " << layer;
        }
    }
    EXPECT_GT(checked, 100);
}

} // namespace
