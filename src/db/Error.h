#pragma once
// The errors of the system. Error: a client error of the access layer, a server error with
// the server's text, a conversion error, or a file error; the error of one statement, row or
// table, which the engine logs and goes past. ConnectionLost (and WriteFailed): the end of
// the run.
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

// Which database of the run a connection reaches.
enum class DatabaseRole { Source, Destination };

// A login the server refused: an unknown user or a wrong password. The text is the server's;
// the rest tells a front end whom to ask for another login: the side, the database name as
// given (UTF-8) and the user.
class LoginRefused : public Error {
public:
    LoginRefused(const Error& serverError, DatabaseRole role, std::string database, std::string user)
        : Error(serverError), role_(role), database_(std::move(database)), user_(std::move(user)) {}
    DatabaseRole role() const noexcept { return role_; }
    const std::string& database() const noexcept { return database_; }
    const std::string& user() const noexcept { return user_; }

private:
    DatabaseRole role_;
    std::string database_;
    std::string user_;
};

// A server error saying that the connection to the server is gone or the database is shut
// down: nothing more can be done on that attachment, so a run ends at the first one. On
// purpose not an Error, so that no handler that logs a statement's error and goes on takes
// it; the places that keep books on the way out catch it by name.
class ConnectionLost : public std::runtime_error {
public:
    ConnectionLost(int code, std::string text, int sqlCode)
        : std::runtime_error(std::move(text)), code_(code), sqlCode_(sqlCode) {}
    // The first error code and the SQL code of the status vector.
    int code() const noexcept { return code_; }
    int sqlCode() const noexcept { return sqlCode_; }

private:
    int code_;
    int sqlCode_;
};

// A write the database's storage refused: an I/O error while writing, a full disk, a database
// file at its size limit. Nothing more can be written there, so it ends the run as a lost
// connection does, and is caught with it.
class WriteFailed : public ConnectionLost {
public:
    using ConnectionLost::ConnectionLost;
};

// Raises a server error as the exception it calls for: WriteFailed for a refused write (the
// status vector tells, see client::WriteRefused), ConnectionLost for the codes of a lost
// connection or a shut-down database, else the error itself.
[[noreturn]] void RaiseServerError(Error error, bool writeRefused);

// Whether a server error is a wait for a lock held by another transaction that ran out its
// time (a lock time-out), so that the statement may be tried again.
bool LockWaitEnded(const Error& error);

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
