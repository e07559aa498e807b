// Lines of the generator list: every line of the input taken apart.
#include "Fuzz.h"
#include "transfer/GeneratorList.h"
#include "db/Strings.h"
#include "transfer/TableList.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const std::string& line : Lines(Bytes(data, size))) {
        const auto p = kestrix::transfer::ParseGeneratorLine(line);
        const std::string trimmed = kestrix::TrimBlanksAndControls(line);
        Check(p.comment == (!trimmed.empty() && trimmed[0] == '*'), "comment iff the trimmed line begins with *");
        if (p.comment) continue;
        const std::size_t slash = line.find('/');
        const std::string head = line.substr(0, slash);
        Check(p.column == (slash == std::string::npos ? std::string() : line.substr(slash + 1)), "column after /");
        Check(head == (head.find('=') == std::string::npos ? p.table : p.generator + "=" + p.table),
              "head is generator=table");
    }
    return 0;
}
