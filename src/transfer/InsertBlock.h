#pragma once
// Blocks that run one table's prepared single-row statement for several rows in one execute
// (through a server, one round trip for many rows), and the writer that sends rows through them.
#include <functional>
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

// The inputs of rows of a prepared single-row statement. The block form: a block of several
// rows, their inputs row after row, set as the single statement's parameters would be, with
// blobs up to kInlineBlobBytes inside the block. The alone form: the single statement's own
// parameters, one row, each blob written as a blob of its own.
class RowBlock {
public:
    // The block form: prepares the block of `rows` rows of `single` (prepared, its text
    // `rowSql`) in the single statement's transaction; with `returned`, one result row of the
    // returned key per row. Raises what the prepare raises, and leaves the block empty then.
    void Prepare(db::Statement& single, const std::string& rowSql, int rows, const std::string& returned);
    // The alone form of `single`, prepared.
    void Alone(db::Statement& single);
    void Clear();
    int Rows() const { return rows_; }
    // The statement that writes the rows: the block, or the single statement itself.
    db::Statement& Statement() { return *inputs_; }

    // The inputs of one row of `single` in a block (a blob parameter has two), and their
    // declared bytes, a blob at its inline size.
    static int InputsPerRow(db::Statement& single);
    static std::size_t RowBytes(db::Statement& single);

    // Parameter j of row `row`; for a blob parameter in a block its inline input, which takes
    // text only. A parameter the single statement does not have raises as it does there.
    db::SqlValue& Input(int row, int j);
    bool IsBlob(int j) const { return large_[Parameter(j)] >= 0; }
    // Parameter j of row `row` takes the value of `source` as the single statement's parameter
    // would; a blob its content, inside the block or as a blob of its own by its size.
    void Copy(int row, int j, const db::SqlValue& source);
    void SetBlob(int row, int j, const std::string& content);
    void SetNull(int row, int j);
    // Row `row`'s values into the single statement's parameters, each as its input holds it.
    void CopyRowTo(int row, db::Statement& single);

private:
    std::size_t Parameter(int j) const;   // j, checked as the single statement checks it
    int Position(int row, int j) const;
    db::SqlValue& LargeInput(int row, int j);   // a blob parameter's input for a larger one

    db::Statement block_;
    db::Statement* inputs_ = &block_;   // whose parameters the inputs are
    bool inlineBlobs_ = true;   // the alone form has no inline input
    int rows_ = 0;
    int perRow_ = 0;           // inputs of one row
    std::vector<int> first_;   // parameter j's first input within a row
    std::vector<int> large_;   // a blob parameter's large input within a row, else -1
};

// What a writer tells of each row it was given, in the order given: written (`insert` holds
// the key its insert returned, as its current row or its output), or refused with the text of
// the error.
struct RowOutcomes {
    std::function<void(db::Statement& insert)> written;
    std::function<void(const std::string& error)> refused;
};

// Rows of one single-row statement written a block at a time: each row's values are set
// straight into its slot of a block, and the block runs when its last slot is set. Blocks have
// the full size while the rows left fill one, and the last one the size of the rows left;
// without a block (none asked, none can be built, or one row left) a row goes alone through
// the single statement and is written as soon as it is set. A block that fails goes again row
// by row, so that every row has its own outcome: a block that returns keys keeps the rows
// before its failed insert, one without results is undone as a whole. A value is set the same
// way in a block and alone.
class BlockWriter {
public:
    // `single`: the row statement, its text `rowSql` set; with `returned`, each insert returns
    // that key column. The writer does not outlive the statement.
    BlockWriter(db::Statement& single, std::string rowSql, std::string returned, RowOutcomes outcomes);

    // Blocks of `blockRows` rows, as far as `totalRows` and a block's parameter count and
    // message size allow; the single statement is prepared for its parameters' types. Without
    // (fewer than 2 rows, or a statement that cannot be prepared), each row goes alone.
    void SetUp(int blockRows, int totalRows);

    // Starts a row, `rowsLeft` rows to come counting this one: in the next slot of the block,
    // or alone, the single statement prepared then (raises what its prepare raises). Whether
    // the row's inputs may hold an earlier row's values. A row started and not ended is
    // dropped by the next start.
    bool StartRow(int rowsLeft);
    // Whether the started row goes alone: written before the next row is started.
    bool RowAlone() const { return filling_ == &alone_; }
    // The started row's parameter j and its values, as RowBlock sets them.
    db::SqlValue& Input(int j) { return filling_->Input(pending_, j); }
    void Copy(int j, const db::SqlValue& source) { filling_->Copy(pending_, j, source); }
    void SetBlob(int j, const std::string& content) { filling_->SetBlob(pending_, j, content); }
    void SetNull(int j) { filling_->SetNull(pending_, j); }
    // The started row is set: it is written with its block once that is full, alone at once.
    void EndRow();
    // The rows set and not yet written, one by one through the single statement, each with its
    // own outcome: before a row that could not be set, and at the end.
    void WriteOneByOne();

private:
    RowBlock* BlockFor(int rowsLeft);
    void Run();
    int WrittenByKeys(db::Statement& block);
    void OneByOne(int from);

    db::Statement& single_;
    std::string rowSql_;
    std::string returned_;
    RowOutcomes outcomes_;
    int fullRows_ = 0;            // rows of a full block; 0: no block
    RowBlock full_, last_, alone_;
    bool lastRefused_ = false;    // the last block could not be built: its rows go alone
    RowBlock* filling_ = &alone_;   // where the started row is set
    int pending_ = 0;             // rows set in it and not yet written
};

} // namespace kestrix::transfer
