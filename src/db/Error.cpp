#include "db/Error.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <ibase.h>

namespace kestrix {

namespace {

const char* ClientErrorText(int code) {
    switch (code) {
    case 1: return "InterBase library gds32.dll not found in the path. Please install InterBase to use this functionality";
    case 4: return "Unsupported feature";
    case 5: return "Not permitted";
    case 15: return "Cannot perform operation -- DB is not open";
    case 16: return "Cannot perform operation -- DB is currently open";
    case 17: return "Database name is missing";
    case 18: return "Transaction is not active";
    case 19: return "Transaction is active";
    case 24: return "Database not assigned";
    case 25: return "Transaction not assigned";
    case 26: return "XSQLDA index out of range";
    case 31: return "IBSQL Open";
    case 32: return "IBSQL Closed";
    case 35: return "Unknown SQL Data type (%d)";
    case 38: return "Invalid data conversion";
    case 42: return "Empty query";
    case 46: return "Field \"%s\" not found";
    case 55: return "SQL Parse Error:\r\n\r\n%s";
    default: return "Client error %d";
    }
}

} // namespace

bool Error::ConnectionLost() const noexcept {
    if (kind_ != Kind::Server) return false;
    switch (code_) {
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

bool IsConnectionLost(const std::exception& error) noexcept {
    const auto* known = dynamic_cast<const Error*>(&error);
    return known && known->ConnectionLost();
}

Error ClientError(int code, const std::string& argument) {
    std::string text = ClientErrorText(code);
    std::string::size_type at = text.find('%');
    if (at != std::string::npos && at + 1 < text.size()) {
        std::string fill = argument;
        if (text[at + 1] == 'd' && fill.empty()) fill = std::to_string(code);
        text.replace(at, 2, fill);
    }
    return Error(Error::Kind::Client, code, std::move(text));
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

} // namespace kestrix
