// Stored text (a blob) split into lines and joined again.
#include "Fuzz.h"
#include "transfer/MacroTextConverter.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = Bytes(data, size);
    const auto lines = kestrix::SplitTextLines(bytes);
    std::size_t total = 0;
    for (const auto& line : lines) {
        Check(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos, "no break or NUL in a line");
        total += line.size();
    }
    Check(total <= bytes.size(), "no bytes added");
    Check(kestrix::SplitTextLines(kestrix::transfer::JoinTextLines(lines)) == lines,
          "joined lines split into the same lines");
    return 0;
}
