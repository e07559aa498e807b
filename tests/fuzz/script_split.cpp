// A script file cut into statements, and each statement's text scanned for parameters as
// it is before preparing.
#include "Fuzz.h"
#include "db/Error.h"
#include "db/ParameterScan.h"
#include "scripts/ScriptReader.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> lines = Lines(Bytes(data, size));
    const auto statements = kestrix::scripts::SplitScript(lines);
    Check(!statements.empty(), "at least one statement");
    std::size_t kept = 0;
    for (const auto& statement : statements) {
        std::string text;
        for (const std::string& line : statement) {
            Check(!kestrix::scripts::IsTerminatorLine(line), "no terminator inside a statement");
            text += line + "\r\n";
        }
        kept += statement.size();
        try {
            std::vector<std::string> names;
            kestrix::db::ScanParameters(text, names);
        } catch (const kestrix::Error&) {
        }
    }
    // Every line is kept or ends a statement; only the last statement may end at the end.
    Check(kept <= lines.size() && lines.size() - kept <= statements.size(), "lines kept or terminators");
    return 0;
}
