#include "transfer/InsertBlock.h"

#include <algorithm>

#include "db/Error.h"

namespace kestrix::transfer {
namespace {

// The client library's type codes of a described value (without the nullable bit).
enum : int {
    kVarying = 448, kText = 452, kDouble = 480, kFloat = 482, kLong = 496, kShort = 500,
    kTimestamp = 510, kBlob = 520, kDFloat = 530,
};

std::string Text(const char* base, const db::SqlValue& value) {
    // Sub-type 1 is the octets character set; any other text is the database's WIN1251.
    const char* charset = value.SqlSubtype() == 1 ? "OCTETS" : "WIN1251";
    return std::string(base) + "(" + std::to_string(std::max(1, value.SqlLength())) + ") CHARACTER SET " + charset;
}

std::string Exact(const char* whole, int digits, const db::SqlValue& value) {
    if (value.SqlScale() == 0) return whole;
    return "NUMERIC(" + std::to_string(digits) + "," + std::to_string(-value.SqlScale()) + ")";
}

// The insert's text with each parameter marker replaced by the row's block variable.
std::string RowInsert(const std::string& rowSql, std::size_t inputs, int row) {
    std::vector<std::string> names;
    const std::string marked = db::ScanParameters(rowSql, names);
    if (names.size() != inputs) throw Error(Error::Kind::Client, 0, "block parameters do not match the insert");
    std::string text;
    std::size_t j = 0;
    for (char c : marked) {
        if (c != '?') {
            text += c;
            continue;
        }
        text += ":P" + std::to_string(row) + "_" + std::to_string(j++);
    }
    return text;
}

} // namespace

std::string DeclaredType(const db::SqlValue& value) {
    switch (value.SqlType()) {
    case kText: return Text("CHAR", value);
    case kVarying: return Text("VARCHAR", value);
    case kShort: return Exact("SMALLINT", 4, value);
    case kLong: return Exact("INTEGER", 9, value);
    case kFloat: return "FLOAT";
    case kDouble:
    case kDFloat: return "DOUBLE PRECISION";
    case kTimestamp: return "DATE";   // a timestamp in dialect 1
    case kBlob: return "BLOB SUB_TYPE " + std::to_string(value.SqlSubtype());
    default: throw Error(Error::Kind::Client, 0, "no block declaration for type " + std::to_string(value.SqlType()));
    }
}

std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<std::string>& inputs,
                                          int rows, const std::string& returned, const std::string& returnedType) {
    std::vector<std::string> lines;
    std::string head = "EXECUTE BLOCK (";
    for (int r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < inputs.size(); ++j)
            head += (r + j == 0 ? "" : ", ") + ("P" + std::to_string(r) + "_" + std::to_string(j)) + " " +
                    inputs[j] + " = ?";
    lines.push_back(head + ")");
    if (!returned.empty()) lines.push_back("RETURNS (NEW_ID " + returnedType + ")");
    lines.push_back("AS BEGIN");
    for (int r = 0; r < rows; ++r) {
        std::string insert = RowInsert(rowSql, inputs.size(), r);
        if (!returned.empty()) {
            // The row text ends in "RETURNING key"; the block takes the key into its result.
            insert += " INTO :NEW_ID; SUSPEND;";
        } else {
            insert += ";";
        }
        lines.push_back(insert);
    }
    lines.push_back("END");
    return lines;
}

} // namespace kestrix::transfer
