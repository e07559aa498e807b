#include "db/Charset.h"

#include <cerrno>
#include <iconv.h>

#include "db/Error.h"

namespace kestrix {
namespace {

bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

// Bytes of the UTF-8 sequence at text[at] (1 for a byte that starts no whole sequence), so
// that a character without a Windows-1251 form is passed over whole.
std::size_t Utf8Length(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    if (at + length > text.size()) return 1;
    for (std::size_t i = 1; i < length; ++i)
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 1;
    return length;
}

// What a conversion does with input it cannot convert at byte `at`: appends a replacement
// to out and returns the input bytes to pass over, or raises.
using OnFailure = std::size_t (*)(std::string_view input, std::size_t at, int err, std::string& out);

std::string Convert(std::string_view input, const char* to, const char* from, OnFailure onFailure) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Error(Error::Kind::Conversion, 0, std::string("No conversion from ") + from + " to " + to);
    std::string out;
    out.reserve(input.size() * 2);
    char buffer[4096];
    std::size_t at = 0;
    while (at < input.size()) {
        char* in = const_cast<char*>(input.data() + at);
        std::size_t inLeft = input.size() - at;
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const bool failed = iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1);
        const int err = errno;
        out.append(buffer, sizeof buffer - outLeft);
        at = input.size() - inLeft;
        if (!failed || err == E2BIG) continue;
        try {
            at += onFailure(input, at, err, out);
        } catch (...) {
            iconv_close(cd);
            throw;
        }
    }
    iconv_close(cd);
    return out;
}

std::size_t Refuse(std::string_view, std::size_t at, int err, std::string&) {
    std::string what = err == EILSEQ ? "has no form in " : "is malformed for ";
    throw Error(Error::Kind::Conversion, 0, "Text at byte " + std::to_string(at) + " " + what + "WINDOWS-1251");
}

std::size_t QuestionMark(std::string_view input, std::size_t at, int, std::string& out) {
    out += '?';
    return Utf8Length(input, at);
}

std::size_t ReplacementCharacter(std::string_view, std::size_t, int, std::string& out) {
    out += "\xEF\xBF\xBD";
    return 1;
}

} // namespace

std::string ToCp1251(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Convert(utf8, "WINDOWS-1251", "UTF-8", Refuse);
}

std::string ToUtf8(std::string_view cp1251) {
    if (IsAscii(cp1251)) return std::string(cp1251);
    try {
        return Convert(cp1251, "UTF-8", "WINDOWS-1251", ReplacementCharacter);
    } catch (const Error&) {
        return std::string(cp1251);   // no converter on this system: the bytes as they are
    }
}

std::string FileNameToCp1251(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    try {
        return Convert(utf8, "WINDOWS-1251", "UTF-8", QuestionMark);
    } catch (const Error&) {
        return std::string(utf8);
    }
}

} // namespace kestrix
