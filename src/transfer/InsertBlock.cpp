#include "transfer/InsertBlock.h"

#include "db/Error.h"

namespace kestrix::transfer {
namespace {

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
