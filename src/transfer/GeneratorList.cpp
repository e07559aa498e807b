#include "transfer/GeneratorList.h"

#include "db/Strings.h"

namespace kestrix::transfer {

GeneratorLine ParseGeneratorLine(const std::string& line) {
    GeneratorLine result;
    std::string trimmed = TrimBlanksAndControls(line);
    if (!trimmed.empty() && trimmed[0] == '*') {
        result.comment = true;
        return result;
    }
    std::size_t slash = line.find('/');
    std::string head = line.substr(0, slash);
    if (slash != std::string::npos) result.column = line.substr(slash + 1);
    std::size_t eq = head.find('=');
    if (eq == std::string::npos) {
        result.table = head;
    } else {
        result.generator = head.substr(0, eq);
        result.table = head.substr(eq + 1);
    }
    return result;
}

} // namespace kestrix::transfer
