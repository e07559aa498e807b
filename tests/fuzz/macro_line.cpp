// A stored macro text split into lines, each rewritten in the current or the older format.
#include <algorithm>

#include "Fuzz.h"
#include "Maps.h"
#include "db/Error.h"
#include "transfer/MacroTextConverter.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrix::transfer::MacroTextConverter macro(FixedMaps());
    macro.Lines = kestrix::SplitTextLines(Bytes(data, size));
    for (int i = 0; i < static_cast<int>(macro.Lines.size()); ++i) {
        const std::string before = macro.Lines[static_cast<std::size_t>(i)];
        try {
            macro.RemapMacroLine(i);
        } catch (const kestrix::Error&) {
            continue;
        }
        const std::string& after = macro.Lines[static_cast<std::size_t>(i)];
        if (before.empty()) {
            Check(after.empty(), "an empty line stays empty");
        } else if (before.size() <= 20) {
            // Code, flags and type kept; only the identifier field changes.
            const std::size_t typeEnd = before.find(';', before.find(';', before.find(';') + 1) + 1);
            Check(after.compare(0, typeEnd + 1, before, 0, typeEnd + 1) == 0, "head up to the type kept");
            Check(std::count(after.begin(), after.end(), ';') == std::count(before.begin(), before.end(), ';'),
                  "as many fields as before");
        } else {
            Check(after.back() == ';' && std::count(after.begin(), after.end(), ';') >= 6,
                  "an older line becomes a current one");
        }
    }
    return 0;
}
