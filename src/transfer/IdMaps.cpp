#include "transfer/IdMaps.h"

#include <stdexcept>

#include "db/Error.h"

namespace kestrix::transfer {
namespace {

std::size_t CheckedIndex(int k) {
    if (k < 1 || k > 10) throw std::out_of_range("identifier map " + std::to_string(k) + " out of range");
    return static_cast<std::size_t>(k);
}

} // namespace

int TableNo(const std::string& tableName) {
    static const char* const kNames[] = {"HOSTS", "CONTROLLERS", "PCN", "CINPUTS", "SLAVES",
                                         "OUTPUTS", "INPUTS", "READERS", "MACROSES"};
    for (int i = 0; i < 9; ++i)
        if (tableName == kNames[i]) return i + 1;
    return 0;
}

std::vector<std::string>& IdMaps::OldIds(int k) { return old_[CheckedIndex(k)]; }
std::vector<std::string>& IdMaps::NewIds(int k) { return new_[CheckedIndex(k)]; }
const std::vector<std::string>& IdMaps::OldIds(int k) const { return old_[CheckedIndex(k)]; }
const std::vector<std::string>& IdMaps::NewIds(int k) const { return new_[CheckedIndex(k)]; }

int IdMaps::RemapId(int k, int old) const {
    const std::string text = std::to_string(old);
    const auto& olds = OldIds(k);
    const auto& news = NewIds(k);
    for (std::size_t i = 0; i < olds.size(); ++i) {
        if (olds[i] != text) continue;
        // A pair whose new entry is missing reads as an empty entry: a conversion error.
        return StrToInt(i < news.size() ? news[i] : std::string());
    }
    return -1;
}

void IdMaps::Clear() {
    for (auto& list : old_) list.clear();
    for (auto& list : new_) list.clear();
}

} // namespace kestrix::transfer
