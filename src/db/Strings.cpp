#include "db/Strings.h"

namespace kestrix {
namespace {

template <typename IsTrimmed>
std::string Trim(const std::string& text, IsTrimmed isTrimmed) {
    std::size_t first = 0, last = text.size();
    while (first < last && isTrimmed(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && isTrimmed(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

} // namespace

std::string TrimSpaces(const std::string& text) {
    return Trim(text, [](unsigned char c) { return c == ' '; });
}

std::string TrimSpacesAndTabs(const std::string& text) {
    return Trim(text, [](unsigned char c) { return c == ' ' || c == '\t'; });
}

std::string TrimBlanksAndControls(const std::string& text) {
    return Trim(text, [](unsigned char c) { return c <= 32; });
}

std::string OneLine(const std::string& text) {
    std::size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\r' || text[end - 1] == '\n')) --end;
    std::string line;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] != '\r' && text[i] != '\n') {
            line += text[i];
            continue;
        }
        if (text[i] == '\r' && i + 1 < end && text[i + 1] == '\n') ++i;
        line += ' ';
    }
    return line;
}

std::string UpperAscii(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return text;
}

std::string UnquotedName(const std::string& name) { return UpperAscii(TrimBlanksAndControls(name)); }

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::string UpperCp1251(std::string text) {
    for (char& c : text) {
        auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || b >= 0xE0) b -= 32;
        else if (b == 0xB8) b = 0xA8;   // yo
        c = static_cast<char>(b);
    }
    return text;
}

} // namespace kestrix
