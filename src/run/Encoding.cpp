#include "run/Encoding.h"

#include <cerrno>
#include <iconv.h>

#include "db/Error.h"

namespace kestrix {
namespace {

std::string Convert(std::string_view input, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw Error(Error::Kind::Conversion, 0, std::string("No conversion from ") + from + " to " + to);
    std::string out(input.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    char* outPtr = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            int err = errno;
            std::size_t at = input.size() - inLeft;
            iconv_close(cd);
            std::string what = err == EILSEQ ? "has no form in " : "is malformed for ";
            throw Error(Error::Kind::Conversion, 0,
                        "Text at byte " + std::to_string(at) + " " + what + to);
        }
    }
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

bool IsAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

} // namespace

std::string ToCp1251(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return Convert(utf8, "WINDOWS-1251", "UTF-8");
}

std::string ToUtf8(std::string_view cp1251) {
    if (IsAscii(cp1251)) return std::string(cp1251);
    return Convert(cp1251, "UTF-8", "WINDOWS-1251");
}

} // namespace kestrix
