// A statement text scanned for its parameters.
#include <algorithm>

#include "Fuzz.h"
#include "db/Error.h"
#include "db/ParameterScan.h"

using namespace kestrix::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = Bytes(data, size);
    std::vector<std::string> names;
    std::string out;
    try {
        out = kestrix::db::ScanParameters(text, names);
    } catch (const kestrix::Error& e) {
        Check(e.code() == 55, "a malformed text is client error 55");
        return 0;
    }
    // Each marker becomes one "?" and its name leaves the text.
    std::size_t nameBytes = 0;
    for (const auto& name : names) nameBytes += name.size();
    Check(out.size() + nameBytes <= text.size(), "names removed, nothing added");
    Check(static_cast<std::size_t>(std::count(out.begin(), out.end(), '?')) >= names.size(), "a ? per name");
    return 0;
}
