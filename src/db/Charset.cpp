#include "db/Charset.h"

#include <array>

#include "db/Error.h"

namespace kestrix {
namespace {

// Code points of the bytes 0x80..0xFF; 0 where Windows-1251 defines no character.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F,
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

constexpr char32_t kInvalid = 0xFFFFFFFF;

// The code point starting at text[at], advancing at past it; kInvalid for a malformed
// sequence (at then moves by one byte).
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(at);
    int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || at + length > text.size()) {
        ++at;
        return kInvalid;
    }
    char32_t code = length == 1 ? lead : lead & (0xFF >> (length + 1));
    for (int i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            ++at;
            return kInvalid;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        ++at;
        return kInvalid;
    }
    at += length;
    return code;
}

// The Windows-1251 byte of a code point, or 0 when it has none (NUL itself is 0 as well).
char Cp1251Byte(char32_t code) {
    if (code < 0x80) return static_cast<char>(code);
    for (std::size_t i = 0; i < kHighHalf.size(); ++i)
        if (kHighHalf[i] != 0 && kHighHalf[i] == code) return static_cast<char>(0x80 + i);
    return 0;
}

void AppendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

} // namespace

std::string ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        std::size_t start = at;
        char32_t code = NextCodePoint(utf8, at);
        char byte = code == kInvalid ? 0 : Cp1251Byte(code);
        if (byte == 0 && code != 0) {
            std::string what = code == kInvalid ? "is malformed for " : "has no form in ";
            throw Error(Error::Kind::Conversion, 0,
                        "Text at byte " + std::to_string(start) + " " + what + "WINDOWS-1251");
        }
        out += byte;
    }
    return out;
}

std::string ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        auto byte = static_cast<unsigned char>(c);
        char32_t code = byte < 0x80 ? byte : kHighHalf[byte - 0x80];
        AppendUtf8(out, code == 0 && byte != 0 ? U'\uFFFD' : code);
    }
    return out;
}

std::string FileNameToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t at = 0; at < utf8.size();) {
        char32_t code = NextCodePoint(utf8, at);
        char byte = code == kInvalid ? 0 : Cp1251Byte(code);
        out += byte == 0 && code != 0 ? '?' : byte;
    }
    return out;
}

} // namespace kestrix
