#pragma once
// Statements with named parameters, and the values of their parameters and columns.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "db/ValueText.h"

namespace kestrix::db {

class Connection;
class Transaction;
class Statement;

// Tagged value of SetVariant.
struct Currency { std::int64_t scaled; };   // value times 10000
struct ArrayValue {};                        // refused: client error 4
struct OtherValue {};                        // any other tag: client error 5
using Variant = std::variant<std::monostate, std::int16_t, std::int32_t, std::uint8_t, float,
                             double, Currency, bool, DateTime, std::string, ArrayValue, OtherValue>;

// One input parameter or output column (one XSQLVAR).
class SqlValue {
public:
    const std::string& Name() const { return name_; }
    int Index() const { return index_; }
    int SqlType() const { return sqltype_ & ~1; }  // without the nullable bit
    int SqlScale() const { return sqlscale_; }
    int SqlSubtype() const { return sqlsubtype_; }
    int SqlLength() const { return sqllen_; }
    // An exact whole number: SMALLINT, INTEGER or BIGINT without a scale.
    bool IsInteger() const;
    // The dialect-1 declaration of a value of this description, as a block declares its
    // variables ("INTEGER", "VARCHAR(30) CHARACTER SET WIN1251", ...); raises for a type that
    // has none.
    std::string Declaration() const;
    bool IsBlob() const;
    bool IsArray() const;
    bool IsText() const;        // CHAR or VARCHAR
    bool IsFixedText() const;   // CHAR
    // The declaration of a text input that carries the content of this blob parameter, up to
    // `length` bytes: octets for a binary blob, the database's character set for a text one.
    std::string InlineBlobDeclaration(int length) const;

    bool IsNull() const;
    void SetNull();

    int GetInteger() const;
    // An integer column's value (IsInteger), as the engine holds it; 0 for NULL. Another type raises
    // InvalidConversion.
    std::int64_t GetInt64() const;
    std::string GetString() const;
    // The value as text in its full stored precision, for comparing two values byte for byte:
    // a CHAR with its padding, an exact number with every decimal of its scale's worth (without
    // trailing zeros), a DOUBLE to 17 digits and a FLOAT to 9, a timestamp to 1/10000 s, a
    // blob's content; "" for NULL.
    std::string StoredText() const;

    void SetInteger(int value);
    void SetString(const std::string& value);
    void SetDateTime(const DateTime& value);
    // A VARCHAR of exactly these bytes, without a character set of its own; raises for more
    // than the longest VARCHAR.
    void SetBytes(const std::string& bytes);
    void SetVariant(const Variant& value);

    // Appends the whole blob content to the stream.
    void ReadBlobTo(std::string& stream) const;
    // Creates a new blob holding the whole stream and takes its id.
    void WriteBlobFrom(const std::string& stream);
    // Value copy from a column of another statement, possibly of another database.
    void CopyValueFrom(const SqlValue& column);
    // The bytes CopyValueFrom writes into a blob from this value (not NULL): a blob's content,
    // a VARCHAR's stored text, any other value's bytes as the client holds them.
    std::string BlobBytes() const;

private:
    friend class Statement;
    SqlValue(Statement& owner, int index) : owner_(&owner), index_(index) {}
    // Every position of a parameter that carries this value's name (this one included).
    template <class F> void ForEachPosition(F&& apply);
    void Describe(short sqltype, short sqlscale, short sqlsubtype, short sqllen);
    void TakeText(const char* bytes, std::size_t length);   // becomes CHAR
    // Every position of this name takes the type and bytes, not NULL.
    void TakeScalar(short sqltype, short sqlscale, short sqlsubtype, const void* bytes, std::size_t length);
    void TakeBlobId(const void* id, const std::string& content);
    std::string BlobContent() const;

    Statement* owner_;
    int index_;
    bool isParam_ = false;
    std::string name_;
    short sqltype_ = 0, sqlscale_ = 0, sqlsubtype_ = 0, sqllen_ = 0;
    short indicator_ = 0;
    std::vector<char> data_;
    std::string blobContent_;   // content of a blob this parameter created, for GetString
    const SqlValue* inlineText_ = nullptr;   // a blob column's content as text, when not NULL
    bool hasBlobContent_ = false;
};

class Statement {
public:
    enum class Kind { Unknown, Select, SelectForUpdate, Insert, Update, Delete, DDL, ExecProcedure,
                      SetGenerator, Commit, Rollback, GetSegment, PutSegment, StartTransaction };

    Statement();
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ParamCheck = true;
    bool GoToFirstRecordOnExecute = true;
    // Through a server, a select reads each blob of its rows of at most this many bytes
    // inside the row, as a text the server makes of it, rather than by the blob's own round
    // trips: the select is prepared wrapped, its text columns out of sight, and a blob
    // column's content is read from its text when there is one. A select that cannot be
    // wrapped is prepared as written. 0: blobs are read by their own calls.
    int InlineBlobBytes = 0;

    // The statement runs in this transaction, on the transaction's connection.
    void BindTransaction(Transaction& transaction);
    Transaction* GetTransaction() const { return transaction_; }
    Connection* Database() const;

    void ClearSql();
    void AddSqlLine(const std::string& line);
    int SqlLineCount() const { return static_cast<int>(lines_.size()); }
    // The lines, each followed by CR LF.
    std::string SqlText() const;

    void Prepare();
    bool Prepared() const { return handle_ != 0; }
    Kind StatementKind() const { return kind_; }
    void Execute();
    void FetchNext();
    bool AtEnd() const { return !cursorOpen_ || atEnd_; }
    bool CursorOpen() const { return cursorOpen_; }
    void CloseCursor();
    int RowsFetched() const { return rowsFetched_; }

    int ColumnCount() const { return static_cast<int>(columns_.size()) - hiddenColumns_; }
    SqlValue& ColumnAt(int i);
    SqlValue& ColumnByName(const std::string& name);
    int ParameterCount() const { return static_cast<int>(params_.size()); }
    SqlValue& ParameterAt(int i);
    SqlValue& ParameterByName(const std::string& name);

private:
    friend class SqlValue;
    friend class Connection;
    friend class Transaction;
    void Release() noexcept;   // drops the prepared form and the value lists
    void PrepareText(const std::string& text, const std::vector<std::string>& names);
    // The select with each blob column's content as a text column after its own; "" when
    // it has no blob column or a column name that cannot be written plainly.
    std::string InlineBlobSelect(const std::string& text) const;
    // An execute or fetch: timed on the connection and run through the long-call waiter.
    template <class Call>
    void LongCall(Call&& call);   // defined beside its callers
    // Whether the connection was cut off in place of a cancel's lost answer.
    bool CutAsInterruption() const;
    void ResetCursor() noexcept { cursorOpen_ = atEnd_ = false; rowsFetched_ = 0; }
    void CheckReady() const;   // connection open and transaction active
    void Describe(bool input, const std::vector<std::string>& names);
    static void* Describe(std::vector<char>& storage, const std::vector<std::unique_ptr<SqlValue>>& values);
    void* InputDescriptor();
    void* OutputDescriptor();
    unsigned short Dialect() const;
    // The attachment and transaction handles for blob calls; client errors when not ready.
    void BlobHandles(unsigned int*& db, unsigned int*& tr);

    Transaction* transaction_ = nullptr;
    std::vector<std::string> lines_;
    unsigned int handle_ = 0;
    Kind kind_ = Kind::Unknown;
    bool cursorOpen_ = false, atEnd_ = false;
    int rowsFetched_ = 0;
    std::string cursorName_;
    std::vector<std::unique_ptr<SqlValue>> params_;
    std::vector<std::unique_ptr<SqlValue>> columns_;
    int hiddenColumns_ = 0;   // the last columns, the blobs' texts of a wrapped select
    std::vector<char> inDescriptor_, outDescriptor_;   // XSQLDA storage
    Connection* preparedOn_ = nullptr;   // the attachment the prepared form belongs to
    std::string processedSql_;           // the text the server prepared
};

// Clears a statement's text, and with it its prepared form, when the scope ends, however it
// ends: a statement prepared for one table does not outlive the table.
class ClearSqlAtEnd {
public:
    explicit ClearSqlAtEnd(Statement& statement) : statement_(statement) {}
    ~ClearSqlAtEnd() { statement_.ClearSql(); }
    ClearSqlAtEnd(const ClearSqlAtEnd&) = delete;
    ClearSqlAtEnd& operator=(const ClearSqlAtEnd&) = delete;

private:
    Statement& statement_;
};

// The name of a result column: its alias, "F_1" without one; a taken name gets a number
// appended (cut so that it stays within 31 characters).
std::string ColumnName(const std::string& alias, const std::vector<std::string>& taken);

} // namespace kestrix::db
