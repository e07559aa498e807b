#include "db/ValueText.h"

#include <cctype>
#include <cstdio>

#include "db/Error.h"
#include "db/Strings.h"

namespace kestrix::db {

namespace {

std::string TwoDigits(int value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

// Reads 1 to maxDigits decimal digits at pos.
bool Digits(const std::string& s, std::size_t& pos, int maxDigits, int& value) {
    std::size_t start = pos;
    value = 0;
    while (pos < s.size() && pos - start < static_cast<std::size_t>(maxDigits) &&
           std::isdigit(static_cast<unsigned char>(s[pos])))
        value = value * 10 + (s[pos++] - '0');
    return pos > start;
}

bool ParseTime(const std::string& s, std::size_t& pos, DateTime& t) {
    if (!Digits(s, pos, 2, t.hour) || pos >= s.size() || s[pos++] != ':' || !Digits(s, pos, 2, t.minute))
        return false;
    if (pos < s.size() && s[pos] == ':') {
        ++pos;
        if (!Digits(s, pos, 2, t.second)) return false;
    }
    return true;
}

} // namespace

bool ParseInt(const std::string& text, int& value) {
    const std::string trimmed = TrimSpaces(text);
    if (trimmed.empty()) return false;
    try {
        value = StrToInt(trimmed);
        return true;
    } catch (const Error&) {
        return false;
    }
}

// A time alone lies on 30.12.1899.
bool ParseDateTime(const std::string& text, DateTime& t) {
    const std::string s = TrimSpaces(text);
    if (s.empty()) return false;
    t = DateTime{};
    std::size_t pos = 0;
    if (s.find('.') == std::string::npos) return ParseTime(s, pos, t) && pos == s.size();
    if (!Digits(s, pos, 2, t.day) || pos >= s.size() || s[pos++] != '.' || !Digits(s, pos, 2, t.month) ||
        pos >= s.size() || s[pos++] != '.')
        return false;
    std::size_t yearStart = pos;
    if (!Digits(s, pos, 4, t.year) || pos - yearStart != 4) return false;
    if (pos == s.size()) return true;
    if (s[pos] != ' ') return false;
    while (pos < s.size() && s[pos] == ' ') ++pos;
    return ParseTime(s, pos, t) && pos == s.size();
}

bool ValidDateTime(const DateTime& t) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1 || t.year > 9999 || t.month < 1 || t.month > 12) return false;
    bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    int days = kDays[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day >= 1 && t.day <= days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 &&
           t.second >= 0 && t.second <= 59;
}

std::string GeneralText(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string DigitsText(double value, int digits) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
    return buffer;
}

std::string DecimalText(std::int64_t value, int scale) {
    if (scale == 0) return std::to_string(value);
    bool negative = value < 0;
    // Work on the magnitude as unsigned so that the smallest value does not overflow.
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string digits = std::to_string(magnitude);
    auto places = static_cast<std::size_t>(-scale);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    std::string whole = digits.substr(0, digits.size() - places);
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string text = negative ? "-" : "";
    text += whole;
    if (!fraction.empty()) text += "." + fraction;
    return text;
}

namespace {

// `value` as `width` digits, zero-padded, written at `out`.
char* PutDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
    return out + width;
}

} // namespace

std::string DateText(const std::tm& t) {
    const int year = t.tm_year + 1900;
    if (t.tm_mday < 0 || t.tm_mday > 99 || t.tm_mon < 0 || t.tm_mon > 98 || year < 0 || year > 9999) {
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%02d.%02d.%04d", t.tm_mday, t.tm_mon + 1, year);
        return buffer;
    }
    char buffer[10];
    char* at = PutDigits(buffer, t.tm_mday, 2);
    *at++ = '.';
    at = PutDigits(at, t.tm_mon + 1, 2);
    *at++ = '.';
    PutDigits(at, year, 4);
    return std::string(buffer, sizeof buffer);
}

std::string TimeText(const std::tm& t) {
    if (t.tm_hour < 0 || t.tm_hour > 99 || t.tm_min < 0 || t.tm_min > 99 || t.tm_sec < 0 || t.tm_sec > 99)
        return std::to_string(t.tm_hour) + ":" + TwoDigits(t.tm_min) + ":" + TwoDigits(t.tm_sec);
    char buffer[8];
    char* at = PutDigits(buffer, t.tm_hour, t.tm_hour < 10 ? 1 : 2);
    *at++ = ':';
    at = PutDigits(at, t.tm_min, 2);
    *at++ = ':';
    at = PutDigits(at, t.tm_sec, 2);
    return std::string(buffer, at);
}

void DecodeDate(std::int32_t days, std::tm& t) {
    // Days since 1 March of year 0, then 400-year eras of 146,097 days.
    const std::int64_t z = static_cast<std::int64_t>(days) + 678881;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;   // March is 0
    const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    t.tm_year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0) - 1900);
    t.tm_mon = static_cast<int>(month - 1);
    t.tm_mday = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
}

void DecodeTime(std::uint32_t time, std::tm& t) {
    const std::uint32_t seconds = time / 10000;
    t.tm_hour = static_cast<int>(seconds / 3600);
    t.tm_min = static_cast<int>(seconds / 60 % 60);
    t.tm_sec = static_cast<int>(seconds % 60);
}

} // namespace kestrix::db
