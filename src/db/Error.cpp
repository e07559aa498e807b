#include "db/Error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <ibase.h>

namespace kestrix {

namespace {

const char* ClientErrorText(ClientCode code) {
    switch (code) {
    case ClientCode::LibraryNotFound: return "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality";
    case ClientCode::Unsupported: return "Unsupported feature";
    case ClientCode::NotPermitted: return "Not permitted";
    case ClientCode::DatabaseClosed: return "Cannot perform operation -- DB is not open";
    case ClientCode::DatabaseOpen: return "Cannot perform operation -- DB is currently open";
    case ClientCode::DatabaseNameMissing: return "Database name is missing";
    case ClientCode::TransactionNotActive: return "Transaction is not active";
    case ClientCode::TransactionActive: return "Transaction is active";
    case ClientCode::DatabaseNotAssigned: return "Database not assigned";
    case ClientCode::TransactionNotAssigned: return "Transaction not assigned";
    case ClientCode::IndexOutOfRange: return "XSQLDA index out of range";
    case ClientCode::CursorOpen: return "IBSQL Open";
    case ClientCode::CursorClosed: return "IBSQL Closed";
    case ClientCode::UnknownSqlType: return "Unknown SQL Data type (%d)";
    case ClientCode::InvalidConversion: return "Invalid data conversion";
    case ClientCode::EmptyQuery: return "Empty query";
    case ClientCode::FieldNotFound: return "Field \"%s\" not found";
    case ClientCode::SqlParseError: return "SQL Parse Error:\r\n\r\n%s";
    default: return "Client error %d";
    }
}

} // namespace

namespace {

bool LostConnectionCode(int code) {
    switch (code) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_net_server_shutdown:
    case isc_shutdown:
    case isc_att_shutdown:
        return true;
    default:
        return false;
    }
}

} // namespace

void RaiseServerError(Error error, bool writeRefused) {
    if (writeRefused) throw WriteFailed(error.code(), error.text(), error.sqlCode());
    if (LostConnectionCode(error.code())) throw ConnectionLost(error.code(), error.text(), error.sqlCode());
    throw std::move(error);
}

Error ClientError(ClientCode code, const std::string& argument) {
    std::string text = ClientErrorText(code);
    std::string::size_type at = text.find('%');
    if (at != std::string::npos && at + 1 < text.size()) {
        std::string fill = argument;
        if (text[at + 1] == 'd' && fill.empty()) fill = std::to_string(static_cast<int>(code));
        text.replace(at, 2, fill);
    }
    return Error(Error::Kind::Client, static_cast<int>(code), std::move(text));
}

Error ConversionError(const std::string& text) {
    return Error(Error::Kind::Conversion, 0, "'" + text + "' is not a valid integer value");
}

int StrToInt(const std::string& text) {
    std::size_t i = 0;
    // Leading blanks are allowed, as in the platform's usual reading of an integer.
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size()) throw ConversionError(text);
    long long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') throw ConversionError(text);
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) throw ConversionError(text);
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) throw ConversionError(text);
    return static_cast<int>(value);
}

bool LockWaitEnded(const Error& error) {
    return error.kind() == Error::Kind::Server && error.code() == isc_lock_timeout;
}

} // namespace kestrix
