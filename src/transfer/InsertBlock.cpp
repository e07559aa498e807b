#include "transfer/InsertBlock.h"

#include "db/Error.h"

namespace kestrix::transfer {
namespace {

std::string InputName(int row, std::size_t j, bool large) {
    return "P" + std::to_string(row) + "_" + std::to_string(j) + (large ? "L" : "");
}

// The statement's text with each parameter marker replaced by the row's block variable; a
// blob parameter by whichever of its two inputs is set.
std::string RowStatement(const std::string& rowSql, const std::vector<BlockInput>& inputs, int row) {
    std::vector<std::string> names;
    const std::string marked = db::ScanParameters(rowSql, names);
    if (names.size() != inputs.size()) throw Error(Error::Kind::Client, 0, "block parameters do not match the insert");
    std::string text;
    std::size_t j = 0;
    for (char c : marked) {
        if (c != '?') {
            text += c;
            continue;
        }
        if (inputs[j].largeBlob.empty())
            text += ":" + InputName(row, j, false);
        else
            text += "COALESCE(:" + InputName(row, j, false) + ", :" + InputName(row, j, true) + ")";
        ++j;
    }
    return text;
}

} // namespace

std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<BlockInput>& inputs, int rows,
                                          const std::string& returned, const std::string& returnedType) {
    std::vector<std::string> lines;
    std::string head;
    for (int r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < inputs.size(); ++j) {
            head += (head.empty() ? "" : ", ") + InputName(r, j, false) + " " + inputs[j].declaration + " = ?";
            if (!inputs[j].largeBlob.empty()) head += ", " + InputName(r, j, true) + " " + inputs[j].largeBlob + " = ?";
        }
    lines.push_back("EXECUTE BLOCK (" + head + ")");
    if (!returned.empty()) lines.push_back("RETURNS (NEW_ID " + returnedType + ")");
    lines.push_back("AS BEGIN");
    for (int r = 0; r < rows; ++r) {
        // A row text with a key ends in "RETURNING key"; the block takes the key into its result.
        lines.push_back(RowStatement(rowSql, inputs, r) + (returned.empty() ? ";" : " INTO :NEW_ID; SUSPEND;"));
    }
    lines.push_back("END");
    return lines;
}

std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<std::string>& inputs,
                                          int rows, const std::string& returned, const std::string& returnedType) {
    std::vector<BlockInput> plain;
    for (const std::string& declaration : inputs) plain.push_back({declaration, {}});
    return InsertBlockLines(rowSql, plain, rows, returned, returnedType);
}

int RowBlock::InputsPerRow(db::Statement& single) {
    int inputs = 0;
    for (int j = 0; j < single.ParameterCount(); ++j) inputs += single.ParameterAt(j).IsBlob() ? 2 : 1;
    return inputs;
}

std::size_t RowBlock::RowBytes(db::Statement& single) {
    std::size_t bytes = 0;
    for (int j = 0; j < single.ParameterCount(); ++j) {
        const db::SqlValue& p = single.ParameterAt(j);
        // Each input: its data, a VARCHAR's length, and its NULL indicator.
        bytes += p.IsBlob() ? (kInlineBlobBytes + 2 + 4) + (8 + 4) : static_cast<std::size_t>(p.SqlLength()) + 4;
    }
    return bytes;
}

void RowBlock::Prepare(db::Statement& single, const std::string& rowSql, int rows, const std::string& returned) {
    Clear();
    std::vector<BlockInput> inputs;
    for (int j = 0; j < single.ParameterCount(); ++j) {
        const db::SqlValue& p = single.ParameterAt(j);
        first_.push_back(perRow_++);
        if (p.IsBlob()) {
            inputs.push_back({p.InlineBlobDeclaration(static_cast<int>(kInlineBlobBytes)), p.Declaration()});
            large_.push_back(perRow_++);
        } else {
            inputs.push_back({p.Declaration(), {}});
            large_.push_back(-1);
        }
    }
    try {
        const std::string returnedType = returned.empty() ? std::string() : single.ColumnAt(0).Declaration();
        block_.ParamCheck = false;   // the block's own variables are written :NAME
        block_.BindTransaction(*single.GetTransaction());
        for (const std::string& line : InsertBlockLines(rowSql, inputs, rows, returned, returnedType))
            block_.AddSqlLine(line);
        block_.Prepare();
        if (!returned.empty() && block_.StatementKind() != db::Statement::Kind::Select)
            throw Error(Error::Kind::Client, 0, "the block returns no rows");
    } catch (...) {
        Clear();
        throw;
    }
    rows_ = rows;
}

void RowBlock::Clear() {
    block_.ClearSql();
    rows_ = perRow_ = 0;
    first_.clear();
    large_.clear();
}

int RowBlock::Position(int row, int j) const { return row * perRow_ + first_.at(static_cast<std::size_t>(j)); }

db::SqlValue& RowBlock::Input(int row, int j) { return block_.ParameterAt(Position(row, j)); }

void RowBlock::Copy(int row, int j, const db::SqlValue& source) {
    if (!IsBlob(j)) {
        Input(row, j).CopyValueFrom(source);
    } else if (source.IsNull()) {
        SetNull(row, j);
    } else if (!source.IsArray()) {   // an array is not copied, as into the single statement
        SetBlob(row, j, source.BlobBytes());
    }
}

db::SqlValue& RowBlock::LargeInput(int row, int j) {
    return block_.ParameterAt(row * perRow_ + large_.at(static_cast<std::size_t>(j)));
}

void RowBlock::SetBlob(int row, int j, const std::string& content) {
    db::SqlValue& large = LargeInput(row, j);
    if (content.size() <= kInlineBlobBytes) {
        Input(row, j).SetBytes(content);
        large.SetNull();
    } else {
        Input(row, j).SetNull();
        large.WriteBlobFrom(content);
    }
}

void RowBlock::SetNull(int row, int j) {
    Input(row, j).SetNull();
    if (IsBlob(j)) LargeInput(row, j).SetNull();
}

void RowBlock::CopyRowTo(int row, db::Statement& single) {
    for (int j = 0; j < static_cast<int>(first_.size()); ++j) {
        const db::SqlValue& text = Input(row, j);
        single.ParameterAt(j).CopyValueFrom(IsBlob(j) && text.IsNull() ? LargeInput(row, j) : text);
    }
}

} // namespace kestrix::transfer
