#pragma once
// Values as text: numbers and dates read from a text (a parameter given text, a stored
// identifier), and the text a value reads as.
#include <cstdint>
#include <ctime>
#include <string>

namespace kestrix::db {

struct DateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    bool operator==(const DateTime&) const = default;
};
// The one date check: year 1 to 9999, the days of the month with leap years, a time of day
// (milliseconds unchecked).
bool ValidDateTime(const DateTime& t);

// How a text value is read. ParseInt: a decimal 32-bit integer between blanks (false
// otherwise). ParseDateTime: "DD.MM.YYYY H:MM:SS", "DD.MM.YYYY" or "H:MM:SS" between blanks,
// fields not range-checked; ValidDateTime does that check.
bool ParseInt(const std::string& text, int& value);
bool ParseDateTime(const std::string& text, DateTime& t);

// A floating value to 15 significant digits, and to `digits`.
std::string GeneralText(double value);
std::string DigitsText(double value, int digits);
// The exact decimal of `value` times ten to `scale` (at most 0), without trailing zeros.
std::string DecimalText(std::int64_t value, int scale);
// "DD.MM.YYYY" and "H:MM:SS".
std::string DateText(const std::tm& t);
std::string TimeText(const std::tm& t);

// The fields of an engine date (days since 17 November 1858, proleptic Gregorian) and of an
// engine time of day (1/10000 s since midnight) that the texts above read, as the client
// library decodes them: year, month and day; hour, minute and second.
void DecodeDate(std::int32_t days, std::tm& t);
void DecodeTime(std::uint32_t time, std::tm& t);

} // namespace kestrix::db
