#include "run/IdMaps.h"

#include <stdexcept>

#include "db/Charset.h"
#include "db/Error.h"

namespace kestrix {
namespace {

std::size_t CheckedIndex(int k) {
    if (k < 1 || k > 10) throw std::out_of_range("identifier map " + std::to_string(k) + " out of range");
    return static_cast<std::size_t>(k);
}

} // namespace

namespace {

constexpr const char* kMapTables[] = {"HOSTS",   "CONTROLLERS", "PCN",    "CINPUTS", "SLAVES",
                                      "OUTPUTS", "INPUTS",      "READERS", "MACROSES"};

} // namespace

int MapNumberOf(const std::string& tableName) {
    for (int i = 0; i < 9; ++i)
        if (tableName == kMapTables[i]) return i + 1;
    return 0;
}

std::string MapTable(int k) { return k >= 1 && k <= 9 ? kMapTables[k - 1] : ""; }

const std::vector<std::string>& IdMaps::OldIds(int k) const { return old_[CheckedIndex(k)]; }
const std::vector<std::string>& IdMaps::NewIds(int k) const { return new_[CheckedIndex(k)]; }

void IdMaps::AppendOld(int k, std::string id) {
    auto& olds = old_[CheckedIndex(k)];
    first_[CheckedIndex(k)].emplace(id, olds.size());   // keeps the first occurrence
    olds.push_back(std::move(id));
}

void IdMaps::AppendNew(int k, std::string id) { new_[CheckedIndex(k)].push_back(std::move(id)); }

int IdMaps::RemapId(int k, int old) const {
    const auto& first = first_[CheckedIndex(k)];
    auto found = first.find(std::to_string(old));
    if (found == first.end()) return -1;
    const auto& news = NewIds(k);
    // A pair whose new entry is missing reads as an empty entry: a conversion error.
    return StrToInt(found->second < news.size() ? news[found->second] : std::string());
}

void IdMaps::Clear() {
    for (auto& list : old_) list.clear();
    for (auto& list : new_) list.clear();
    for (auto& index : first_) index.clear();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string KeyMapCsv(const IdMaps& maps) {
    std::string csv = "table,old_key,new_key\n";
    for (int k = 1; k <= 9; ++k) {
        const std::vector<std::string>& olds = maps.OldIds(k);
        const std::vector<std::string>& news = maps.NewIds(k);
        for (std::size_t i = 0; i < olds.size(); ++i)
            csv += CsvField(MapTable(k)) + "," + CsvField(ToUtf8(olds[i])) + "," +
                   CsvField(i < news.size() ? ToUtf8(news[i]) : std::string("-1")) + "\n";
    }
    return csv;
}

} // namespace kestrix
