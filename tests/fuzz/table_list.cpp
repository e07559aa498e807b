// Lines of the table list: every line of the input taken apart.
#include "Fuzz.h"
#include "db/Strings.h"
#include "transfer/TableList.h"

using namespace kestrix::fuzz;
using kestrix::transfer::ParseTableListLine;
using kestrix::TrimBlanksAndControls;

namespace {

std::string After(const std::string& line, char marker) {
    std::size_t pos = line.find(marker);
    return pos == std::string::npos ? std::string() : line.substr(pos + 1);
}

void CheckLine(const std::string& line) {
    const auto p = ParseTableListLine(line);
    const std::string trimmed = TrimBlanksAndControls(line);
    Check(trimmed.empty() || (static_cast<unsigned char>(trimmed.front()) > 32 &&
                              static_cast<unsigned char>(trimmed.back()) > 32), "trimmed ends are no blanks");
    Check(p.comment == (!trimmed.empty() && trimmed[0] == '*'), "comment iff the trimmed line begins with *");
    if (p.comment) {
        Check(p.table.empty() && p.key.empty() && p.tail.empty(), "a comment has no fields");
        return;
    }
    Check(p.hasHash == (line.find('#') != std::string::npos) && p.hasAt == (line.find('@') != std::string::npos),
          "markers found in the raw line");
    const std::string head = line.substr(0, line.find_first_of(p.hasHash ? "#" : p.hasPercent ? "%" : p.hasAt ? "@" : "&"));
    Check(head == (head.find('=') == std::string::npos ? p.key : p.table + "=" + p.key), "head is table=key");
    Check(p.condition == After(line, '@'), "condition after the first @");
    Check(p.tail == (p.hasAt ? p.condition : After(line, '&')), "tail after the first @, else the first &");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const std::string& line : Lines(Bytes(data, size))) CheckLine(line);
    return 0;
}
