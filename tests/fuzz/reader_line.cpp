// A stored reader-rights text split into lines, each line's reader rewritten.
#include "Fuzz.h"
#include "Maps.h"
#include "db/Error.h"
#include "transfer/MacroTextConverter.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kestrix::transfer::MacroTextConverter rights(FixedMaps());
    rights.Lines = kestrix::SplitTextLines(Bytes(data, size));
    for (int i = 0; i < static_cast<int>(rights.Lines.size()); ++i) {
        const std::string before = rights.Lines[static_cast<std::size_t>(i)];
        try {
            rights.RemapReaderLine(i);
        } catch (const kestrix::Error&) {
            continue;
        }
        const std::string& after = rights.Lines[static_cast<std::size_t>(i)];
        const std::size_t bracket = before.find(']');
        const std::size_t head = bracket == std::string::npos ? 0 : bracket + 1;
        Check(after.compare(0, head, before, 0, head) == 0, "head up to the first ] kept");
        const std::string reader = after.substr(head);
        Check(reader == std::to_string(kestrix::StrToInt(reader)), "the reader is a plain integer");
    }
    return 0;
}
