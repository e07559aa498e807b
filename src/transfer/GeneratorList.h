#pragma once
// Lines of the generator list "Generator.txt": GENERATOR=TABLE/COLUMN.
#include <string>

namespace kestrix::transfer {

struct GeneratorLine {
    bool comment = false;
    std::string generator;   // head before its first "=", empty without "="
    std::string table;       // head after its first "=", the whole head without "="
    std::string column;      // after the first "/", empty without "/"
};

GeneratorLine ParseGeneratorLine(const std::string& line);

} // namespace kestrix::transfer
