#pragma once
// Identifier maps: for each identifier table, the source keys and the keys the same rows
// received in the destination, paired by position.
#include <array>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrix {

// Map numbers of the identifier tables.
enum MapNo { kHosts = 1, kControllers = 2, kPcn = 3, kCinputs = 4, kSlaves = 5, kOutputs = 6,
             kInputs = 7, kReaders = 8, kMacroses = 9 };

// Map number of an identifier table (exact, case-sensitive name), 0 for any other table.
int MapNumberOf(const std::string& tableName);
// The identifier table of a map number, "" for none.
std::string MapTable(int k);

class IdMaps {
public:
    // k is a map number (MapNo, 1 to 9; slot 0 is unused); entries are decimal texts. The
    // lists only grow during a run.
    const std::vector<std::string>& OldIds(int k) const;
    const std::vector<std::string>& NewIds(int k) const;
    void AppendOld(int k, std::string id);
    void AppendNew(int k, std::string id);

    // First entry of OldIds[k] equal to old as text; -1 when absent. A new identifier that
    // is no integer raises a conversion error.
    int RemapId(int k, int old) const;
    void Clear();

private:
    std::array<std::vector<std::string>, 11> old_, new_;
    // Position of the first occurrence of each old identifier, so that a lookup does not
    // walk a map of thousands of devices for every reference.
    std::array<std::unordered_map<std::string, std::size_t>, 11> first_;
};

// A CSV field: as it is, or in double quotes (each inner one doubled) when it holds a comma, a
// double quote or a line break.
std::string CsvField(const std::string& text);

// Every map as UTF-8 CSV: the header "table,old_key,new_key", then one line per source row of
// each identifier table in map order, -1 where the row got no new key.
std::string KeyMapCsv(const IdMaps& maps);

} // namespace kestrix
