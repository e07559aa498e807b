#pragma once
// The one error type of the system: a client error of the access layer, a server
// error with the server's text, a conversion error, or a file error.
#include <stdexcept>
#include <string>

namespace kestrix {

class Error : public std::runtime_error {
public:
    enum class Kind { Client, Server, Conversion, File };

    Error(Kind kind, int code, std::string text, int sqlCode = 0)
        : std::runtime_error(std::move(text)), kind_(kind), code_(code), sqlCode_(sqlCode) {}

    Kind kind() const noexcept { return kind_; }
    // Client errors: the layer's code (1, 4, 5, 15, ...). Server errors: the first error
    // code of the status vector. Others: 0.
    int code() const noexcept { return code_; }
    // Server errors only: the SQL code of the status vector.
    int sqlCode() const noexcept { return sqlCode_; }
    // Windows-1251 text, exactly as callers show or log it.
    std::string text() const { return what(); }

private:
    Kind kind_;
    int code_;
    int sqlCode_;
};

// Not an error: a statement ended by the operator's cancel (Connection::Cancel). On purpose
// not derived from std::exception, so that no row, table or statement handler takes it for
// a failure to log and go past; it unwinds to the run driver, which ends the run as
// interrupted.
struct Interruption {};

// Client errors of the access layer, by code. The argument fills the "%d" or "%s" of the text.
Error ClientError(int code, const std::string& argument = {});

// Conversion error: a text that must be a number and is not.
Error ConversionError(const std::string& text);
// Reads a decimal 32-bit integer, optionally signed, after optional leading blanks.
// Anything else raises a conversion error.
int StrToInt(const std::string& text);

} // namespace kestrix
