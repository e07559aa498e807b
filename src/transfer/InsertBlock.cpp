#include "transfer/InsertBlock.h"

#include <algorithm>
#include <utility>

#include "db/Error.h"
#include "db/ParameterScan.h"

namespace kestrix::transfer {
namespace {

// A block's declared input message stays far below the server's request size limit: a
// block of 310 inputs of VARCHAR(32765) (10.2 MB) was prepared, one of 320 (10.5 MB) was
// refused with "request size limit exceeded". Within this size the declared length costs
// little: 6,000 rows of 300-byte photos took 0.055 s in blocks of 100 declared at 32,765
// bytes a photo (3.3 MB) against 0.044 s declared at 400 bytes, and blocks of 25 to 100 rows
// cost about the same; a row of one blob goes 100 to a block, one of two blobs 60.
constexpr std::size_t kBlockMessageBytes = 4'000'000;

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

void RowBlock::Alone(db::Statement& single) {
    Clear();
    inputs_ = &single;
    inlineBlobs_ = false;
    for (int j = 0; j < single.ParameterCount(); ++j) {
        first_.push_back(j);
        large_.push_back(single.ParameterAt(j).IsBlob() ? j : -1);   // a blob has one input, its own
    }
    perRow_ = single.ParameterCount();
    rows_ = 1;
}

void RowBlock::Clear() {
    block_.ClearSql();
    inputs_ = &block_;
    inlineBlobs_ = true;
    rows_ = perRow_ = 0;
    first_.clear();
    large_.clear();
}

std::size_t RowBlock::Parameter(int j) const {
    if (j < 0 || static_cast<std::size_t>(j) >= first_.size()) throw ClientError(ClientCode::IndexOutOfRange);
    return static_cast<std::size_t>(j);
}

int RowBlock::Position(int row, int j) const { return row * perRow_ + first_[Parameter(j)]; }

db::SqlValue& RowBlock::Input(int row, int j) { return inputs_->ParameterAt(Position(row, j)); }

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
    return inputs_->ParameterAt(row * perRow_ + large_[Parameter(j)]);
}

void RowBlock::SetBlob(int row, int j, const std::string& content) {
    if (!IsBlob(j)) {
        Input(row, j).WriteBlobFrom(content);   // refused as the single statement refuses it
        return;
    }
    db::SqlValue& large = LargeInput(row, j);
    if (inlineBlobs_ && content.size() <= kInlineBlobBytes) {
        Input(row, j).SetBytes(content);
        large.SetNull();
    } else {
        Input(row, j).SetNull();   // alone, the same input: the blob below takes it
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

BlockWriter::BlockWriter(db::Statement& single, std::string rowSql, std::string returned, RowOutcomes outcomes)
    : single_(single), rowSql_(std::move(rowSql)), returned_(std::move(returned)), outcomes_(std::move(outcomes)) {}

void BlockWriter::SetUp(int blockRows, int totalRows) {
    fullRows_ = 0;
    if (blockRows < 2) return;
    try {
        single_.Prepare();
        const int inputs = RowBlock::InputsPerRow(single_);
        const std::size_t rowBytes = std::max<std::size_t>(RowBlock::RowBytes(single_), 1);
        fullRows_ = std::min({blockRows, totalRows, 32767 / std::max(inputs, 1),
                              static_cast<int>(kBlockMessageBytes / rowBytes)});
    } catch (const Error&) {
        fullRows_ = 0;
    }
}

// The block a row that starts one goes in: the full one while the rows left fill it, else one
// of the rows left, prepared once; alone for one row left, or where no block can be built.
RowBlock* BlockWriter::BlockFor(int rowsLeft) {
    if (fullRows_ < 2 || rowsLeft < 2) return &alone_;
    const bool full = rowsLeft >= fullRows_;
    RowBlock& block = full ? full_ : last_;
    if (block.Rows() == (full ? fullRows_ : rowsLeft)) return &block;
    if (!full && lastRefused_) return &alone_;
    try {
        block.Prepare(single_, rowSql_, full ? fullRows_ : rowsLeft, returned_);
    } catch (const Error&) {
        // Not tried again for every row: a full block that cannot be built leaves the rest alone.
        if (full) fullRows_ = 0;
        else lastRefused_ = true;
        return &alone_;
    }
    return &block;
}

bool BlockWriter::StartRow(int rowsLeft) {
    if (pending_ == 0) filling_ = BlockFor(rowsLeft);
    if (filling_ != &alone_) return true;
    // Prepared once for all rows: on journals of millions of rows, a prepare per row would
    // dominate the copy.
    const bool reused = single_.Prepared();
    single_.Prepare();
    if (alone_.Rows() == 0) alone_.Alone(single_);
    return reused;
}

void BlockWriter::EndRow() {
    if (++pending_ == filling_->Rows()) Run();
}

void BlockWriter::WriteOneByOne() { OneByOne(0); }

// The pending rows in one execute. A lone row has its only try. A block that returns keys gives
// one result row per insert, in order; when one insert fails, the rows before it stay written
// and the rest go one by one. A block without results is undone as a whole when one of its
// inserts fails. Only the execute and fetches are guarded: a failure after a row was written
// (its log line, say) is no failed insert and leaves the writer.
void BlockWriter::Run() {
    db::Statement& sql = filling_->Statement();
    try {
        sql.Execute();
    } catch (const ConnectionLost&) {
        pending_ = 0;   // never tried: neither written nor refused
        throw;
    } catch (const Error& e) {
        if (RowAlone()) {
            pending_ = 0;
            outcomes_.refused(e.what());
        } else {
            OneByOne(0);
        }
        return;
    }
    int written = 0;
    if (RowAlone() || returned_.empty()) {
        for (; written < pending_; ++written) outcomes_.written(sql);
    } else {
        written = WrittenByKeys(sql);
    }
    OneByOne(written);
}

// The rows of a block that returns keys, as its result rows come, one per insert in order;
// read to its end, so that the block has run to its last statement. How many were written.
int BlockWriter::WrittenByKeys(db::Statement& block) {
    int written = 0;
    while (!block.AtEnd()) {
        if (written < pending_) {
            ++written;
            outcomes_.written(block);
        }
        try {
            block.FetchNext();   // a failed fetch closes the cursor
        } catch (const ConnectionLost&) {
            pending_ = 0;
            throw;
        } catch (const Error&) {
            break;
        }
    }
    block.CloseCursor();
    return written;
}

// The pending rows from `from` on, one by one through the single statement, each with its own
// outcome, in row order; their values are taken from the block's slots (a blob is written anew
// from the content its slot keeps). A lone row was written or refused by its execute already.
void BlockWriter::OneByOne(int from) {
    const int rows = std::exchange(pending_, 0);
    if (RowAlone()) return;
    for (int i = from; i < rows; ++i) {
        try {
            filling_->CopyRowTo(i, single_);
            single_.Execute();
        } catch (const Error& e) {
            outcomes_.refused(e.what());
            continue;
        }
        outcomes_.written(single_);
    }
}

} // namespace kestrix::transfer
