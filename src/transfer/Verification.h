#pragma once
// The read-back after the copy: every table the run copied, its source rows as the copy
// read them against the destination's rows by key, each column as the copy wrote it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/Side.h"
#include "run/Context.h"
#include "transfer/TablePlan.h"

namespace kestrix::transfer {

// A written row's digest, worked out from its source row before it is written; its
// destination key too, unless the destination gives the key.
struct RowDigest {
    bool known = false;   // false: the row's values could not be worked out
    std::uint64_t values = 0;
    long long key = 0;    // the destination key, or the source key of an identifier table
};

// Records, while a table is copied, what each written row holds as the read-back compares it,
// so that the read-back need not read the source again where the destination agrees.
class WrittenRows {
public:
    // `src` is the copy's row select, open; `dst` a statement in the destination's unit of work.
    // A table whose rows cannot be worked out here records nothing.
    WrittenRows(Context& ctx, db::Statement& src, db::Statement& dst, const CopyRequest& request, const CopyPlan& plan);
    ~WrittenRows();
    WrittenRows(const WrittenRows&) = delete;
    WrittenRows& operator=(const WrittenRows&) = delete;

    // The current source row, as the copy has read it.
    RowDigest Row();
    // A row the destination took.
    void Written(const RowDigest& row);
    WrittenDigest Take();

private:
    struct Reader;
    std::unique_ptr<Reader> reader_;
    WrittenDigest digest_;
};

// Reads the table's source rows in key order and the destination's rows in key order side
// by side, so that memory stays flat in the table's size. Refused rows are not looked for.
TableVerification VerifyTable(Context& ctx, db::Side src, db::Side dst, const CopiedTable& copied);

// Every copied table in run order; each result goes to the run state. Raises what the
// database raises (a lost connection, a table gone).
void VerifyCopies(Context& ctx, db::Side src, db::Side dst, const std::vector<CopiedTable>& copies);

} // namespace kestrix::transfer
