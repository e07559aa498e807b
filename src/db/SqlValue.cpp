#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>

#include "db/Client.h"
#include "db/Error.h"
#include "db/Statement.h"
#include "db/Strings.h"
#include "db/ValueText.h"

namespace kestrix::db {

namespace {

constexpr int kMaxTextLength = 32767;
constexpr int kMaxVaryingLength = 32765;

bool KnownType(int type) {
    switch (type) {
    case SQL_TEXT: case SQL_VARYING: case SQL_SHORT: case SQL_LONG: case SQL_INT64:
    case SQL_FLOAT: case SQL_DOUBLE: case SQL_D_FLOAT: case SQL_TIMESTAMP: case SQL_TYPE_DATE:
    case SQL_TYPE_TIME: case SQL_BLOB: case SQL_ARRAY: case SQL_QUAD: case SQL_NULL:
        return true;
    default:
        return false;
    }
}

template <class T> T Load(const std::vector<char>& data) {
    T value{};
    if (data.size() >= sizeof value) std::memcpy(&value, data.data(), sizeof value);
    return value;
}

const std::int64_t kPowers[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                1000000000, 10000000000LL, 100000000000LL, 1000000000000LL,
                                10000000000000LL, 100000000000000LL, 1000000000000000LL,
                                10000000000000000LL, 100000000000000000LL, 1000000000000000000LL};

} // namespace

namespace {

std::string ReadBlob(Statement& statement, ISC_QUAD id, unsigned int* db, unsigned int* tr) {
    client::Blob blob;
    blob.Open(db, tr, &id);
    // Read to its end rather than asked its length first: through a server, the question
    // would be one more round trip per blob.
    std::string content;
    char part[4 * client::kSegmentSize];
    for (;;) {
        const std::size_t got = blob.Read(part, sizeof part);
        content.append(part, got);
        if (got < sizeof part) break;
    }
    blob.Close();
    return content;
}

ISC_QUAD CreateBlob(unsigned int* db, unsigned int* tr, const std::string& content) {
    ISC_QUAD id{};
    client::Blob blob;
    blob.Create(db, tr, &id);
    blob.Write(content.data(), content.size());
    blob.Close();
    return id;
}

} // namespace

template <class F> void SqlValue::ForEachPosition(F&& apply) {
    if (!isParam_ || name_.empty()) {
        apply(*this);
        return;
    }
    for (auto& param : owner_->params_)
        if (param->name_ == name_) apply(*param);
}

void SqlValue::Describe(short sqltype, short sqlscale, short sqlsubtype, short sqllen) {
    if (!KnownType(sqltype & ~1)) throw ClientError(ClientCode::UnknownSqlType, std::to_string(sqltype & ~1));
    sqltype_ = sqltype;
    sqlscale_ = sqlscale;
    sqlsubtype_ = sqlsubtype;
    sqllen_ = std::max<short>(sqllen, 0);
    std::size_t size = static_cast<std::size_t>(sqllen_) + ((sqltype & ~1) == SQL_VARYING ? 2 : 0);
    data_.assign(std::max<std::size_t>(size, 1), 0);
    indicator_ = 0;
}

bool SqlValue::IsNull() const { return (sqltype_ & 1) && indicator_ < 0; }

void SqlValue::SetNull() {
    ForEachPosition([](SqlValue& v) {
        v.sqltype_ |= 1;
        v.indicator_ = -1;
        v.hasBlobContent_ = false;
        v.blobContent_.clear();
    });
}

void SqlValue::TakeScalar(short sqltype, short sqlscale, short sqlsubtype, const void* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(kMaxTextLength)) throw ClientError(ClientCode::InvalidConversion);
    ForEachPosition([&](SqlValue& v) {
        v.sqltype_ = static_cast<short>(sqltype | (v.sqltype_ & 1));
        v.sqlscale_ = sqlscale;
        v.sqlsubtype_ = sqlsubtype;
        v.sqllen_ = static_cast<short>(length);
        v.data_.assign(std::max<std::size_t>(length, 1), 0);
        if (length) std::memcpy(v.data_.data(), bytes, length);
        v.indicator_ = 0;
        v.hasBlobContent_ = false;
        v.blobContent_.clear();
    });
}

void SqlValue::TakeText(const char* bytes, std::size_t length) { TakeScalar(SQL_TEXT, 0, 0, bytes, length); }

void SqlValue::TakeBlobId(const void* id, const std::string& content) {
    ForEachPosition([&](SqlValue& v) {
        if (v.data_.size() < sizeof(ISC_QUAD)) v.data_.assign(sizeof(ISC_QUAD), 0);
        std::memcpy(v.data_.data(), id, sizeof(ISC_QUAD));
        v.indicator_ = 0;
        v.blobContent_ = content;
        v.hasBlobContent_ = true;
    });
}

std::string SqlValue::BlobContent() const {
    if (hasBlobContent_) return blobContent_;
    if (inlineText_ && !inlineText_->IsNull()) return inlineText_->GetString();
    unsigned int* db = nullptr;
    unsigned int* tr = nullptr;
    owner_->BlobHandles(db, tr);
    return ReadBlob(*owner_, Load<ISC_QUAD>(data_), db, tr);
}

bool SqlValue::IsInteger() const {
    const int type = SqlType();
    return sqlscale_ == 0 && (type == SQL_SHORT || type == SQL_LONG || type == SQL_INT64);
}

std::int64_t SqlValue::GetInt64() const {
    if (IsNull()) return 0;
    if (!IsInteger()) throw ClientError(ClientCode::InvalidConversion);
    switch (SqlType()) {
    case SQL_SHORT: return Load<std::int16_t>(data_);
    case SQL_LONG: return Load<std::int32_t>(data_);
    default: return Load<std::int64_t>(data_);
    }
}

int SqlValue::GetInteger() const {
    if (IsNull()) return 0;
    auto narrow = [](long double value) {
        if (!(value > static_cast<long double>(std::numeric_limits<int>::min()) - 1 &&
              value < static_cast<long double>(std::numeric_limits<int>::max()) + 1))
            throw ClientError(ClientCode::InvalidConversion);
        return static_cast<int>(value);
    };
    auto scaled = [&](std::int64_t value) {
        if (sqlscale_ < 0) {
            if (sqlscale_ < -18) return 0;
            value /= kPowers[-sqlscale_];   // truncates toward zero
        } else if (sqlscale_ > 0) {
            return narrow(static_cast<long double>(value) * std::pow(10.0L, sqlscale_));
        }
        if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) throw ClientError(ClientCode::InvalidConversion);
        return static_cast<int>(value);
    };
    switch (SqlType()) {
    case SQL_TEXT:
    case SQL_VARYING: {
        int value = 0;
        if (!ParseInt(GetString(), value)) throw ClientError(ClientCode::InvalidConversion);
        return value;
    }
    case SQL_SHORT: return scaled(Load<std::int16_t>(data_));
    case SQL_LONG: return scaled(Load<std::int32_t>(data_));
    case SQL_INT64: return scaled(Load<std::int64_t>(data_));
    case SQL_FLOAT: return narrow(std::trunc(static_cast<long double>(Load<float>(data_))));
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return narrow(std::trunc(static_cast<long double>(Load<double>(data_))));
    default: throw ClientError(ClientCode::InvalidConversion);
    }
}

namespace {

std::string TextDeclaration(const char* base, const SqlValue& value) {
    // Sub-type 1 is the octets character set; any other text is the database's WIN1251.
    const char* charset = value.SqlSubtype() == 1 ? "OCTETS" : "WIN1251";
    return std::string(base) + "(" + std::to_string(std::max(1, value.SqlLength())) + ") CHARACTER SET " + charset;
}

std::string ExactDeclaration(const char* whole, int digits, const SqlValue& value) {
    if (value.SqlScale() == 0) return whole;
    return "NUMERIC(" + std::to_string(digits) + "," + std::to_string(-value.SqlScale()) + ")";
}

} // namespace

std::string SqlValue::Declaration() const {
    switch (SqlType()) {
    case SQL_TEXT: return TextDeclaration("CHAR", *this);
    case SQL_VARYING: return TextDeclaration("VARCHAR", *this);
    case SQL_SHORT: return ExactDeclaration("SMALLINT", 4, *this);
    case SQL_LONG: return ExactDeclaration("INTEGER", 9, *this);
    case SQL_FLOAT: return "FLOAT";
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return "DOUBLE PRECISION";
    case SQL_TIMESTAMP: return "DATE";   // a timestamp in dialect 1
    case SQL_BLOB: return "BLOB SUB_TYPE " + std::to_string(SqlSubtype());
    default: throw Error(Error::Kind::Client, 0, "no block declaration for type " + std::to_string(SqlType()));
    }
}

bool SqlValue::IsBlob() const { return SqlType() == SQL_BLOB; }
bool SqlValue::IsArray() const { return SqlType() == SQL_ARRAY; }
bool SqlValue::IsText() const { return SqlType() == SQL_TEXT || SqlType() == SQL_VARYING; }
bool SqlValue::IsFixedText() const { return SqlType() == SQL_TEXT; }

std::string SqlValue::InlineBlobDeclaration(int length) const {
    const char* charset = SqlSubtype() == 1 ? "WIN1251" : "OCTETS";
    return "VARCHAR(" + std::to_string(length) + ") CHARACTER SET " + charset;
}

std::string SqlValue::GetString() const {
    if (IsNull()) return {};
    auto scaled = [&](std::int64_t value) {
        if (sqlscale_ == 0) return std::to_string(value);
        if (sqlscale_ >= -4 && sqlscale_ < 0) return DecimalText(value, sqlscale_);
        return GeneralText(static_cast<double>(value) * std::pow(10.0, sqlscale_));
    };
    switch (SqlType()) {
    case SQL_TEXT: {
        std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(sqllen_), data_.size());
        while (length > 0 && static_cast<unsigned char>(data_[length - 1]) <= 32) --length;
        return std::string(data_.data(), length);
    }
    case SQL_VARYING: {
        std::size_t stored = static_cast<std::uint16_t>(Load<std::int16_t>(data_));
        std::size_t room = data_.size() >= 2 ? data_.size() - 2 : 0;
        return std::string(data_.data() + 2, std::min({stored, room, static_cast<std::size_t>(sqllen_)}));
    }
    case SQL_SHORT: return scaled(Load<std::int16_t>(data_));
    case SQL_LONG: return scaled(Load<std::int32_t>(data_));
    case SQL_INT64: return scaled(Load<std::int64_t>(data_));
    case SQL_FLOAT: return GeneralText(Load<float>(data_));
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return GeneralText(Load<double>(data_));
    case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP stamp = Load<ISC_TIMESTAMP>(data_);
        std::tm t{};
        DecodeDate(stamp.timestamp_date, t);
        DecodeTime(stamp.timestamp_time, t);
        std::string text = DateText(t);
        if (stamp.timestamp_time != 0) text += " " + TimeText(t);
        return text;
    }
    case SQL_TYPE_DATE: {
        std::tm t{};
        DecodeDate(Load<ISC_DATE>(data_), t);
        return DateText(t);
    }
    case SQL_TYPE_TIME: {
        std::tm t{};
        DecodeTime(Load<ISC_TIME>(data_), t);
        return TimeText(t);
    }
    case SQL_BLOB: return BlobContent();
    case SQL_ARRAY: return "(Array)";
    default: throw ClientError(ClientCode::InvalidConversion);
    }
}

std::string SqlValue::StoredText() const {
    if (IsNull()) return {};
    switch (SqlType()) {
    case SQL_TEXT: return std::string(data_.data(), std::min<std::size_t>(static_cast<std::size_t>(sqllen_), data_.size()));
    case SQL_SHORT: return DecimalText(Load<std::int16_t>(data_), std::min(0, static_cast<int>(sqlscale_)));
    case SQL_LONG: return DecimalText(Load<std::int32_t>(data_), std::min(0, static_cast<int>(sqlscale_)));
    case SQL_INT64: return DecimalText(Load<std::int64_t>(data_), std::min(0, static_cast<int>(sqlscale_)));
    case SQL_FLOAT: return DigitsText(Load<float>(data_), 9);
    case SQL_DOUBLE:
    case SQL_D_FLOAT: return DigitsText(Load<double>(data_), 17);
    case SQL_TIMESTAMP: {
        const ISC_TIMESTAMP stamp = Load<ISC_TIMESTAMP>(data_);
        const unsigned fraction = stamp.timestamp_time % 10000;   // 1/10000 s, below the seconds
        if (fraction == 0) return GetString();
        std::string text = GetString();
        char tail[8];
        std::snprintf(tail, sizeof tail, ".%04u", fraction);
        return text + tail;
    }
    default: return GetString();
    }
}

void SqlValue::SetInteger(int value) {
    std::int32_t v = value;
    TakeScalar(SQL_LONG, 0, 0, &v, sizeof v);
}

void SqlValue::SetString(const std::string& value) {
    switch (SqlType()) {
    case SQL_TEXT:
    case SQL_VARYING:
        TakeText(value.data(), value.size());
        return;
    case SQL_BLOB:
        WriteBlobFrom(value);
        return;
    default:
        break;
    }
    if (value.empty()) {
        SetNull();
        return;
    }
    if (isParam_ && (SqlType() == SQL_TIMESTAMP || SqlType() == SQL_TYPE_DATE || SqlType() == SQL_TYPE_TIME)) {
        DateTime t;
        if (!ParseDateTime(value, t)) throw ClientError(ClientCode::InvalidConversion);
        SetDateTime(t);
        return;
    }
    TakeText(value.data(), value.size());
}

void SqlValue::SetBytes(const std::string& bytes) {
    if (bytes.size() > static_cast<std::size_t>(kMaxVaryingLength)) throw ClientError(ClientCode::InvalidConversion);
    const auto length = static_cast<std::int16_t>(bytes.size());
    ForEachPosition([&](SqlValue& v) {
        v.sqltype_ = static_cast<short>(SQL_VARYING | (v.sqltype_ & 1));
        v.sqlscale_ = 0;
        v.sqlsubtype_ = 0;
        v.sqllen_ = length;
        v.data_.assign(sizeof length + bytes.size(), 0);
        std::memcpy(v.data_.data(), &length, sizeof length);
        if (!bytes.empty()) std::memcpy(v.data_.data() + sizeof length, bytes.data(), bytes.size());
        v.indicator_ = 0;
        v.hasBlobContent_ = false;
        v.blobContent_.clear();
    });
}

void SqlValue::SetDateTime(const DateTime& value) {
    if (!ValidDateTime(value)) throw ClientError(ClientCode::InvalidConversion);
    std::tm t{};
    t.tm_year = value.year - 1900;
    t.tm_mon = value.month - 1;
    t.tm_mday = value.day;
    t.tm_hour = value.hour;
    t.tm_min = value.minute;
    t.tm_sec = value.second;
    ISC_TIMESTAMP stamp{};
    client::Load().encode_timestamp(&t, &stamp);
    TakeScalar(SQL_TIMESTAMP, 0, 0, &stamp, sizeof stamp);
}

void SqlValue::SetVariant(const Variant& value) {
    struct Visitor {
        SqlValue& v;
        void operator()(std::monostate) const { v.SetNull(); }
        void operator()(std::int16_t x) const { v.SetInteger(x); }
        void operator()(std::int32_t x) const { v.SetInteger(x); }
        void operator()(std::uint8_t x) const { v.SetInteger(x); }
        void operator()(float x) const { (*this)(static_cast<double>(x)); }
        void operator()(double x) const { v.TakeScalar(SQL_DOUBLE, 0, 0, &x, sizeof x); }
        void operator()(Currency x) const { v.TakeScalar(SQL_INT64, -4, 0, &x.scaled, sizeof x.scaled); }
        void operator()(bool x) const { v.SetInteger(x ? 1 : 0); }
        void operator()(const DateTime& x) const { v.SetDateTime(x); }
        void operator()(const std::string& x) const { v.SetString(x); }
        void operator()(ArrayValue) const { throw ClientError(ClientCode::Unsupported); }
        void operator()(OtherValue) const { throw ClientError(ClientCode::NotPermitted); }
    };
    std::visit(Visitor{*this}, value);
}

void SqlValue::ReadBlobTo(std::string& stream) const {
    if (SqlType() != SQL_BLOB) throw ClientError(ClientCode::InvalidConversion);
    if (IsNull()) return;
    stream += BlobContent();
}

void SqlValue::WriteBlobFrom(const std::string& stream) {
    if (SqlType() != SQL_BLOB && SqlType() != SQL_ARRAY) throw ClientError(ClientCode::InvalidConversion);
    unsigned int* db = nullptr;
    unsigned int* tr = nullptr;
    owner_->BlobHandles(db, tr);
    ISC_QUAD id = CreateBlob(db, tr, stream);
    TakeBlobId(&id, stream);
}

std::string SqlValue::BlobBytes() const {
    if (SqlType() == SQL_BLOB) return BlobContent();
    // The stored text, not its length prefix and padding.
    if (SqlType() == SQL_VARYING) return GetString();
    return std::string(data_.data(), std::min<std::size_t>(static_cast<std::size_t>(sqllen_), data_.size()));
}

void SqlValue::CopyValueFrom(const SqlValue& column) {
    if (column.IsNull()) {
        SetNull();
        return;
    }
    if (column.SqlType() == SQL_ARRAY || SqlType() == SQL_ARRAY) return;
    const bool fromBlob = column.SqlType() == SQL_BLOB;
    const bool toBlob = SqlType() == SQL_BLOB;
    if (!fromBlob && !toBlob) {
        const bool nullable = column.sqltype_ & 1;
        ForEachPosition([&](SqlValue& v) {
            v.sqltype_ = column.sqltype_;
            v.sqlsubtype_ = column.sqlsubtype_;
            v.sqlscale_ = column.sqlscale_;
            v.sqllen_ = column.sqllen_;
            v.data_ = column.data_;
            v.indicator_ = nullable ? column.indicator_ : 0;
            v.hasBlobContent_ = false;
            v.blobContent_.clear();
        });
        return;
    }
    const std::string buffer = column.BlobBytes();
    if (toBlob) {
        unsigned int* db = nullptr;
        unsigned int* tr = nullptr;
        owner_->BlobHandles(db, tr);
        ISC_QUAD id = CreateBlob(db, tr, buffer);
        TakeBlobId(&id, buffer);
        return;
    }
    TakeText(buffer.data(), buffer.size());
}

} // namespace kestrix::db
