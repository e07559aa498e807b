#pragma once
// Blocks that run one table's prepared single-row statement for several rows in one execute:
// through a server, one round trip for many rows.
#include <string>
#include <vector>

#include "db/Statement.h"

namespace kestrix::transfer {

// A blob of at most this many bytes goes inside the block as a text input, which the server
// writes into the blob column: no blob of its own is created, opened or closed through the
// server. 32,765 is the longest VARCHAR of a one-byte character set; a declaration one byte
// longer is refused at prepare.
constexpr std::size_t kInlineBlobBytes = 32765;

// While it lives, the selects of `statement` read blobs up to kInlineBlobBytes inside their
// rows (db::Statement::InlineBlobBytes): through a server, no round trip of a blob's own.
class InlineBlobReads {
public:
    // `read`: whether the blobs are read at all; a blob that is not read is not sent either.
    InlineBlobReads(db::Statement& statement, bool read) : statement_(statement) {
        statement_.InlineBlobBytes = read ? static_cast<int>(kInlineBlobBytes) : 0;
    }
    ~InlineBlobReads() { statement_.InlineBlobBytes = 0; }
    InlineBlobReads(const InlineBlobReads&) = delete;
    InlineBlobReads& operator=(const InlineBlobReads&) = delete;

private:
    db::Statement& statement_;
};

// One parameter of the single-row statement as the block declares it for every row. With
// `largeBlob`, a blob parameter: `declaration` holds a content up to kInlineBlobBytes, and a
// second input of type `largeBlob` a larger one, created as a blob beforehand; the row takes
// whichever of the two is not NULL.
struct BlockInput {
    std::string declaration;
    std::string largeBlob;
};

// The lines of an EXECUTE BLOCK that runs the statement `rowSql` (its parameters written as
// :NAME) for `rows` rows. Its inputs are the statement's parameters row after row, declared
// as `inputs` says (a blob one as its two inputs, one after the other); with `returned` (the
// insert's RETURNING column and its type, `returnedType`), each insert returns its key as one
// result row, in row order.
std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<BlockInput>& inputs, int rows,
                                          const std::string& returned, const std::string& returnedType);
// The same with declarations only, no blob inside the block.
std::vector<std::string> InsertBlockLines(const std::string& rowSql, const std::vector<std::string>& inputs,
                                          int rows, const std::string& returned, const std::string& returnedType);

// The block form of a prepared single-row statement: its inputs, row after row, set as the
// single statement's parameters would be, with blobs up to kInlineBlobBytes inside the block.
class RowBlock {
public:
    // Prepares the block of `rows` rows of `single` (prepared, its text `rowSql`) in the single
    // statement's transaction; with `returned`, one result row of the returned key per row.
    // Raises what the prepare raises, and leaves the block empty then.
    void Prepare(db::Statement& single, const std::string& rowSql, int rows, const std::string& returned);
    void Clear();
    int Rows() const { return rows_; }
    db::Statement& Statement() { return block_; }

    // The inputs of one row of `single` in a block (a blob parameter has two), and their
    // declared bytes, a blob at its inline size.
    static int InputsPerRow(db::Statement& single);
    static std::size_t RowBytes(db::Statement& single);

    // Parameter j of row `row`; for a blob parameter its inline input, which takes text only.
    db::SqlValue& Input(int row, int j);
    bool IsBlob(int j) const { return large_[static_cast<std::size_t>(j)] >= 0; }
    // Parameter j of row `row` takes the value of `source` as the single statement's parameter
    // would; a blob its content, inside the block or as a blob of its own by its size.
    void Copy(int row, int j, const db::SqlValue& source);
    void SetBlob(int row, int j, const std::string& content);
    void SetNull(int row, int j);
    // Row `row`'s values into the single statement's parameters, each as its input holds it.
    void CopyRowTo(int row, db::Statement& single);

private:
    int Position(int row, int j) const;
    db::SqlValue& LargeInput(int row, int j);   // a blob parameter's input for a larger one

    db::Statement block_;
    int rows_ = 0;
    int perRow_ = 0;           // inputs of one row
    std::vector<int> first_;   // parameter j's first input within a row
    std::vector<int> large_;   // a blob parameter's large input within a row, else -1
};

} // namespace kestrix::transfer
