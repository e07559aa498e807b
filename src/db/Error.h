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
    // Client errors: the ClientCode number (1, 4, 5, 15, ...). Server errors: the first error
    // code of the status vector. Others: 0.
    int code() const noexcept { return code_; }
    // Server errors only: the SQL code of the status vector.
    int sqlCode() const noexcept { return sqlCode_; }
    // Windows-1251 text, exactly as callers show or log it.
    std::string text() const { return what(); }
    // A server error saying that the connection to the server is gone or the database is
    // shut down: nothing more can be done on that attachment, so a run ends at the first one.
    bool ConnectionLost() const noexcept;

private:
    Kind kind_;
    int code_;
    int sqlCode_;
};

// The client errors of the access layer, by number (the numbers travel in Error::code()).
enum class ClientCode : int {
    LibraryNotFound = 1,
    Unsupported = 4,
    NotPermitted = 5,
    DatabaseClosed = 15,
    DatabaseOpen = 16,
    DatabaseNameMissing = 17,
    TransactionNotActive = 18,
    TransactionActive = 19,
    DatabaseNotAssigned = 24,
    TransactionNotAssigned = 25,
    IndexOutOfRange = 26,
    CursorOpen = 31,
    CursorClosed = 32,
    UnknownSqlType = 35,
    InvalidConversion = 38,
    EmptyQuery = 42,
    FieldNotFound = 46,
    SqlParseError = 55,
};

// A client error of the access layer. The argument fills the "%d" or "%s" of its text.
Error ClientError(ClientCode code, const std::string& argument = {});

// Whether the error is an Error whose connection is lost. The engine's guards that log an
// error and go on rethrow such an error instead of going on.
bool IsConnectionLost(const std::exception& error) noexcept;

// Not an error: a statement ended by the operator's cancel (Connection::CancelCallRunningFor,
// or the link cut in place of its lost answer). On purpose not derived from std::exception,
// so that no row, table or statement handler takes it for a failure to log and go past; it
// unwinds to the run driver, which ends the run as interrupted.
struct Interruption {};

// Conversion error: a text that must be a number and is not.
Error ConversionError(const std::string& text);
// Reads a decimal 32-bit integer, optionally signed, after optional leading blanks.
// Anything else raises a conversion error.
int StrToInt(const std::string& text);

} // namespace kestrix
