#include "transfer/MacroTextConverter.h"

#include <initializer_list>

#include "db/Error.h"

namespace kestrix::transfer {
namespace {

bool ContainsAny(const std::string& text, std::initializer_list<const char*> words) {
    for (const char* word : words)
        if (text.find(word) != std::string::npos) return true;
    return false;
}

// Positions of the first `count` separators; a line with fewer is rejected, so no field
// is ever taken from beyond the end of the line.
std::vector<std::size_t> Separators(const std::string& line, char separator, std::size_t count) {
    std::vector<std::size_t> positions;
    std::size_t pos = 0;
    while (positions.size() < count) {
        pos = line.find(separator, pos);
        if (pos == std::string::npos) throw ConversionError(line);
        positions.push_back(pos++);
    }
    return positions;
}

std::string Field(const std::string& line, const std::vector<std::size_t>& ends, std::size_t n) {
    std::size_t begin = n == 0 ? 0 : ends[n - 1] + 1;
    return line.substr(begin, ends[n] - begin);
}

// Current format: code;flags;type;id;... with up to 20 characters.
std::string RemapCurrentMacro(const IdMaps& maps, const std::string& line) {
    auto ends = Separators(line, ';', 4);
    int type = StrToInt(Field(line, ends, 2)) & 0xFF;
    int id = StrToInt(Field(line, ends, 3));
    switch (type) {
        case 6: id = maps.RemapId(kReaders, id); break;
        case 7: id = maps.RemapId(kOutputs, id); break;
        case 8: id = maps.RemapId(kInputs, id); break;
        default: break;
    }
    return line.substr(0, ends[2] + 1) + std::to_string(id) + line.substr(ends[3]);
}

// Older format: code:id:argument:x:x:command text:..., converted into the current format.
std::string ConvertOlderMacro(const IdMaps& maps, const std::string& line) {
    auto ends = Separators(line, ':', 6);
    int code = StrToInt(Field(line, ends, 0));
    int id = StrToInt(Field(line, ends, 1));
    int argument = StrToInt(Field(line, ends, 2));
    const std::string command = Field(line, ends, 5);

    std::string type;
    if (ContainsAny(command, {"TakeInAT", "PutInAT", "ResetInAT"})) {
        id = maps.RemapId(kInputs, id);
        type = "8";
    } else if (ContainsAny(command, {"ActUUCTime", "ResetUU", "ActUUReset"})) {
        id = maps.RemapId(kOutputs, id);
        type = "7";
    } else if (ContainsAny(command, {"EnableAcWish", "DisAcWish", "SetAcMode", "SetPrmsAcMode",
                                     "DisAcQuery", "EnableAcQuery", "ResetAlrm"})) {
        id = maps.RemapId(kReaders, id);
        type = "6";
    }

    if (ContainsAny(command, {"ActUUCTime", "ResetUU", "ActUUReset"})) code = 22;
    else if (ContainsAny(command, {"TakeInAT", "PutInAT"})) code = 24;
    else if (ContainsAny(command, {"ResetInAT"})) code = 26;
    else if (ContainsAny(command, {"SetAcMode"})) code = 32;
    else if (ContainsAny(command, {"ResetAlrm"})) code = 27;
    else if (ContainsAny(command, {"EnableAcWish", "DisAcWish", "SetPrmsAcMode", "DisAcQuery", "EnableAcQuery"}))
        code = 32;

    if (ContainsAny(command, {"ActUUCTime"})) argument = 1;
    else if (ContainsAny(command, {"ResetUU"})) argument = 0;
    else if (ContainsAny(command, {"ActUUReset"})) argument = 2;
    else if (ContainsAny(command, {"TakeInAT", "PutInAT"})) argument = 1;
    else if (ContainsAny(command, {"ResetAlrm"})) argument = 1;
    else if (ContainsAny(command, {"EnableAcWish", "DisAcWish", "SetPrmsAcMode", "DisAcQuery", "EnableAcQuery"}))
        argument = 2;

    std::string result = std::to_string(code) + ";0;" + type + ";" + std::to_string(id) + ";0;" +
                         std::to_string(argument) + ";";
    if (ContainsAny(command, {"TakeInAT"})) result += "0;";
    else if (ContainsAny(command, {"PutInAT"})) result += "1;";
    return result;
}

} // namespace

void MacroTextConverter::RemapReaderLine(int i) {
    std::string& line = Lines.at(static_cast<std::size_t>(i));
    // Head up to and including the first "]" (nothing without one), then at most 20 characters.
    std::size_t bracket = line.find(']');
    std::size_t headLength = bracket == std::string::npos ? 0 : bracket + 1;
    const int reader = maps_->RemapId(kReaders, StrToInt(line.substr(headLength, 20)));
    if (reader == -1) ++UnmappedCount;
    line = line.substr(0, headLength) + std::to_string(reader);
}

void MacroTextConverter::RemapReaderLines() {
    for (int i = 0; i < static_cast<int>(Lines.size()); ++i) RemapReaderLine(i);
}

void MacroTextConverter::RemapMacroLine(int i) {
    std::string& line = Lines.at(static_cast<std::size_t>(i));
    if (line.empty()) return;
    line = line.size() <= 20 ? RemapCurrentMacro(*maps_, line) : ConvertOlderMacro(*maps_, line);
}

void MacroTextConverter::RemapMacroLines() {
    for (int i = 0; i < static_cast<int>(Lines.size()); ++i) RemapMacroLine(i);
}

std::string JoinTextLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

} // namespace kestrix::transfer
