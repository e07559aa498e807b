// A text read as a value: as an integer (stored identifiers, numeric columns) and as a
// date-time (date parameters given as text).
#include <cstdio>

#include "Fuzz.h"
#include "db/Error.h"
#include "db/ValueText.h"

using namespace kestrix::fuzz;
namespace db = kestrix::db;

namespace {

std::string Text(const db::DateTime& t) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d %d:%02d:%02d", t.day, t.month, t.year, t.hour, t.minute,
                  t.second);
    return buffer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = Bytes(data, size);
    try {
        const int value = kestrix::StrToInt(text);
        Check(kestrix::StrToInt(std::to_string(value)) == value, "an integer reads back");
    } catch (const kestrix::Error& e) {
        Check(e.kind() == kestrix::Error::Kind::Conversion, "a bad integer is a conversion error");
    }
    int value = 0;
    if (db::ParseInt(text, value)) {
        int again = 0;
        Check(db::ParseInt(" " + std::to_string(value) + " ", again) && again == value, "ParseInt reads back");
    }
    db::DateTime t;
    if (db::ParseDateTime(text, t) && db::ValidDateTime(t)) {
        db::DateTime again;
        Check(db::ParseDateTime(Text(t), again) && again == t, "a date-time reads back");
    }
    return 0;
}
