#include "db/Statement.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "db/Client.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "db/ParameterScan.h"
#include "db/Strings.h"

namespace kestrix::db {

namespace {

// The key under which names are compared: without surrounding blanks, in upper case.
std::string NameKey(const std::string& name) { return UpperAscii(TrimSpaces(name)); }

XSQLDA* Sqlda(std::vector<char>& storage, int count) {
    int n = std::max(count, 1);
    storage.assign(XSQLDA_LENGTH(n), 0);
    auto* da = reinterpret_cast<XSQLDA*>(storage.data());
    da->version = SQLDA_VERSION1;
    da->sqln = static_cast<ISC_SHORT>(n);
    return da;
}

// Whether a failed call was ended by the operator's cancel: the server's answer, or the link
// cut off in its place.
bool Cancelled(const client::Status& status, bool cutAsInterruption) {
    return client::HasCode(status, isc_cancelled) || cutAsInterruption;
}

// Raises the interruption for a call the operator's cancel ended, else the call's error.
void CheckCall(const client::Status& status, bool cutAsInterruption) {
    if (client::Failed(status) && Cancelled(status, cutAsInterruption)) throw Interruption{};
    client::Check(status);
}

Statement::Kind KindOf(long type) {
    switch (type) {
    case isc_info_sql_stmt_select: return Statement::Kind::Select;
    case isc_info_sql_stmt_insert: return Statement::Kind::Insert;
    case isc_info_sql_stmt_update: return Statement::Kind::Update;
    case isc_info_sql_stmt_delete: return Statement::Kind::Delete;
    case isc_info_sql_stmt_ddl: return Statement::Kind::DDL;
    case isc_info_sql_stmt_get_segment: return Statement::Kind::GetSegment;
    case isc_info_sql_stmt_put_segment: return Statement::Kind::PutSegment;
    case isc_info_sql_stmt_exec_procedure: return Statement::Kind::ExecProcedure;
    case isc_info_sql_stmt_start_trans: return Statement::Kind::StartTransaction;
    case isc_info_sql_stmt_commit: return Statement::Kind::Commit;
    case isc_info_sql_stmt_rollback: return Statement::Kind::Rollback;
    case isc_info_sql_stmt_select_for_upd: return Statement::Kind::SelectForUpdate;
    case isc_info_sql_stmt_set_generator: return Statement::Kind::SetGenerator;
    default: return Statement::Kind::Unknown;
    }
}

} // namespace

std::string ColumnName(const std::string& alias, const std::vector<std::string>& taken) {
    std::string base = alias.empty() ? "F_" : alias;
    int number = alias.empty() ? 1 : 0;
    std::string candidate = alias.empty() ? "F_1" : alias;
    while (std::find(taken.begin(), taken.end(), candidate) != taken.end()) {
        std::string suffix = std::to_string(++number);
        candidate = base.substr(0, std::min(base.size(), 31 - suffix.size())) + suffix;
    }
    return candidate;
}

Statement::Statement() { client::Load(); }

Statement::~Statement() {
    ResetCursor();
    Release();
    if (transaction_) {
        auto& list = transaction_->statements_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
}

void Statement::BindTransaction(Transaction& transaction) {
    if (transaction_ == &transaction) return;
    if (cursorOpen_) {
        // The cursor lives in the old transaction; it cannot follow the statement.
        try {
            CloseCursor();
        } catch (const std::exception&) {
        }
    }
    if (transaction_) {
        auto& list = transaction_->statements_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    transaction_ = &transaction;
    transaction.statements_.push_back(this);
}

Connection* Statement::Database() const { return transaction_ ? transaction_->connection_ : nullptr; }

void Statement::ClearSql() {
    lines_.clear();
    Release();
}

void Statement::AddSqlLine(const std::string& line) {
    lines_.push_back(line);
    Release();
}

std::string Statement::SqlText() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += "\r\n";
    }
    return text;
}

unsigned short Statement::Dialect() const {
    Connection* connection = Database();
    return static_cast<unsigned short>(connection ? connection->SQLDialect : 1);
}

void Statement::CheckReady() const {
    Connection* connection = Database();
    if (!connection) throw ClientError(ClientCode::DatabaseNotAssigned);
    if (!connection->IsConnected()) throw ClientError(ClientCode::DatabaseClosed);
    if (!transaction_) throw ClientError(ClientCode::TransactionNotAssigned);
    if (!transaction_->IsActive()) throw ClientError(ClientCode::TransactionNotActive);
}

void Statement::BlobHandles(unsigned int*& db, unsigned int*& tr) {
    CheckReady();
    db = &Database()->handle_;
    tr = &transaction_->handle_;
}

void Statement::Release() noexcept {
    if (handle_) {
        if (const client::Api* api = client::Loaded()) {
            client::Status ignored{};
            api->dsql_free_statement(ignored.data(), &handle_, DSQL_drop);
        }
        handle_ = 0;
    }
    if (preparedOn_) {
        auto& list = preparedOn_->statements_;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
        preparedOn_ = nullptr;
    }
    kind_ = Kind::Unknown;
    params_.clear();
    columns_.clear();
    hiddenColumns_ = 0;
    inDescriptor_.clear();
    outDescriptor_.clear();
    processedSql_.clear();
}

void Statement::Prepare() {
    if (cursorOpen_) throw ClientError(ClientCode::CursorOpen);
    CheckReady();
    Connection* connection = Database();
    if (handle_ && preparedOn_ == connection) return;
    Release();
    std::string text = SqlText();
    if (text.empty()) throw ClientError(ClientCode::EmptyQuery);
    std::vector<std::string> names;
    if (ParamCheck) {
        text = ScanParameters(text, names);
        if (text.empty()) throw ClientError(ClientCode::EmptyQuery);
    }
    // The client library ends the text at a NUL byte and would run only what stands before it.
    if (text.find('\0') != std::string::npos) throw ClientError(ClientCode::SqlParseError, "NUL character in statement text");
    PrepareText(text, names);
    const std::string wrapped = InlineBlobSelect(text);
    if (wrapped.empty()) return;
    const std::size_t shown = columns_.size();
    try {
        Release();
        PrepareText(wrapped, names);
    } catch (const Error&) {
        PrepareText(text, names);   // as written
        return;
    }
    // Each blob column takes the text column that follows the shown ones in its order.
    hiddenColumns_ = static_cast<int>(columns_.size() - shown);
    std::size_t next = shown;
    for (std::size_t i = 0; i < shown; ++i)
        if (columns_[i]->IsBlob()) columns_[i]->inlineText_ = columns_.at(next++).get();
}

std::string Statement::InlineBlobSelect(const std::string& text) const {
    const Connection* connection = Database();
    if (InlineBlobBytes <= 0 || !connection || !connection->ThroughServer() || kind_ != Kind::Select) return {};
    const std::string n = std::to_string(InlineBlobBytes);
    std::string texts;
    for (const auto& column : columns_) {
        const std::string& name = column->Name();
        const bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0])) &&
                           std::all_of(name.begin(), name.end(), [](char c) {
                               return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)) ||
                                      c == '_' || c == '$';
                           });
        if (!plain) return {};
        if (!column->IsBlob()) continue;
        const std::string value = "KX$ROWS." + name;
        // A text blob as its fetch hands it over, in the attachment's character set (a blob
        // of another one transliterated); any other as its bytes.
        const char* charset = column->SqlSubtype() == 1 ? "WIN1251" : "OCTETS";
        texts += ", CASE WHEN OCTET_LENGTH(" + value + ") <= " + n + " THEN CAST(" + value + " AS VARCHAR(" + n +
                 ") CHARACTER SET " + charset + ") END";
    }
    if (texts.empty()) return {};
    return "SELECT KX$ROWS.*" + texts + " FROM (" + text + "\r\n) KX$ROWS";
}

void Statement::PrepareText(const std::string& text, const std::vector<std::string>& names) {
    Connection* connection = Database();
    const client::Api& api = client::Load();
    client::Status status{};
    isc_stmt_handle handle = 0;
    api.dsql_allocate_statement(status.data(), &connection->handle_, &handle);
    client::Check(status);
    handle_ = handle;
    preparedOn_ = connection;
    connection->statements_.push_back(this);
    try {
        processedSql_ = text;
        api.dsql_prepare(status.data(), &transaction_->handle_, &handle_, 0, processedSql_.c_str(), Dialect(), nullptr);
        CheckCall(status, CutAsInterruption());

        const char item = isc_info_sql_stmt_type;
        char answer[16] = {};
        api.dsql_sql_info(status.data(), &handle_, 1, &item, sizeof answer, answer);
        client::Check(status);
        long type = 0;
        kind_ = client::InfoInteger(answer, sizeof answer, isc_info_sql_stmt_type, type) ? KindOf(type)
                                                                                         : Kind::Unknown;
        if (kind_ == Kind::GetSegment || kind_ == Kind::PutSegment || kind_ == Kind::StartTransaction)
            throw ClientError(ClientCode::NotPermitted);
        Describe(true, names);
        if (kind_ == Kind::Select || kind_ == Kind::SelectForUpdate || kind_ == Kind::ExecProcedure)
            Describe(false, {});
    } catch (...) {
        Release();
        throw;
    }
}

void Statement::Describe(bool input, const std::vector<std::string>& names) {
    const client::Api& api = client::Load();
    std::vector<char> storage;
    XSQLDA* da = Sqlda(storage, 1);
    client::Status status{};
    auto describe = [&] {
        if (input) api.dsql_describe_bind(status.data(), &handle_, SQLDA_VERSION1, da);
        else api.dsql_describe(status.data(), &handle_, SQLDA_VERSION1, da);
        client::Check(status);
    };
    describe();
    if (da->sqld > da->sqln) {
        da = Sqlda(storage, da->sqld);
        describe();
    }
    auto& list = input ? params_ : columns_;
    list.clear();
    for (int i = 0; i < da->sqld; ++i) {
        const XSQLVAR& var = da->sqlvar[i];
        std::unique_ptr<SqlValue> value(new SqlValue(*this, i));
        value->isParam_ = input;
        value->Describe(var.sqltype, var.sqlscale, var.sqlsubtype, var.sqllen);
        if (input) {
            if (i < static_cast<int>(names.size())) value->name_ = NameKey(names[i]);
            // Parameters start out NULL, not as whatever the buffer happens to hold.
            if (value->sqltype_ & 1) value->indicator_ = -1;
        } else {
            auto aliasLength = std::clamp<int>(var.aliasname_length, 0, sizeof var.aliasname);
            std::vector<std::string> taken;
            for (const auto& column : list) taken.push_back(column->name_);
            value->name_ = ColumnName(std::string(var.aliasname, static_cast<std::size_t>(aliasLength)), taken);
        }
        list.push_back(std::move(value));
    }
}

// An XSQLDA in storage whose variables point at the values' own data and indicators.
void* Statement::Describe(std::vector<char>& storage, const std::vector<std::unique_ptr<SqlValue>>& values) {
    if (values.empty()) return nullptr;
    XSQLDA* da = Sqlda(storage, static_cast<int>(values.size()));
    da->sqld = static_cast<ISC_SHORT>(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        SqlValue& v = *values[i];
        XSQLVAR& var = da->sqlvar[i];
        var.sqltype = v.sqltype_;
        var.sqlscale = v.sqlscale_;
        var.sqlsubtype = v.sqlsubtype_;
        var.sqllen = v.sqllen_;
        var.sqldata = v.data_.data();
        var.sqlind = &v.indicator_;
    }
    return da;
}

void* Statement::InputDescriptor() { return Describe(inDescriptor_, params_); }

void* Statement::OutputDescriptor() { return Describe(outDescriptor_, columns_); }

bool Statement::CutAsInterruption() const {
    const Connection* connection = Database();
    return connection && connection->cutAsInterruption_;
}

template <class Call>
void Statement::LongCall(Call&& call) {
    Connection* connection = Database();
    if (!connection) return client::RunLongCall(call);
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    auto since = std::max<std::chrono::steady_clock::rep>(1, now);   // 0 means none runs
    struct Running {
        Connection* connection;
        ~Running() {
            std::lock_guard lock(connection->callMutex_);
            connection->callSince_ = 0;
        }
    } running{connection};
    {
        std::lock_guard lock(connection->callMutex_);
        connection->callSince_ = since;
        connection->callCancelled_ = false;
    }
    client::RunLongCall(call);
}

void Statement::Execute() {
    if (cursorOpen_) throw ClientError(ClientCode::CursorOpen);
    if (!Prepared() || preparedOn_ != Database()) Prepare();
    if (!transaction_) throw ClientError(ClientCode::TransactionNotAssigned);
    const client::Api& api = client::Load();
    client::Status status{};
    auto* in = static_cast<XSQLDA*>(InputDescriptor());
    switch (kind_) {
    case Kind::Select:
    case Kind::SelectForUpdate:
        LongCall([&] { api.dsql_execute(status.data(), &transaction_->handle_, &handle_, Dialect(), in); });
        CheckCall(status, CutAsInterruption());
        cursorOpen_ = true;
        atEnd_ = false;
        rowsFetched_ = 0;
        if (GoToFirstRecordOnExecute) FetchNext();
        break;
    case Kind::ExecProcedure: {
        auto* out = static_cast<XSQLDA*>(OutputDescriptor());
        LongCall(
            [&] { api.dsql_execute2(status.data(), &transaction_->handle_, &handle_, Dialect(), in, out); });
        // Any failure is raised as it is: an INSERT ... RETURNING that failed is never sent twice.
        CheckCall(status, CutAsInterruption());
        break;
    }
    default:
        LongCall([&] { api.dsql_execute(status.data(), &transaction_->handle_, &handle_, Dialect(), in); });
        CheckCall(status, CutAsInterruption());
        // A COMMIT or ROLLBACK of the text ended the transaction (the library dropped its
        // handle), and the server closed every cursor of it.
        if ((kind_ == Kind::Commit || kind_ == Kind::Rollback) && !transaction_->IsActive())
            for (Statement* statement : transaction_->statements_) statement->ResetCursor();
        break;
    }
}

void Statement::FetchNext() {
    if (atEnd_) return;
    if (!cursorOpen_) throw ClientError(ClientCode::CursorClosed);
    client::Status status{};
    const client::Api& api = client::Load();
    auto* out = static_cast<XSQLDA*>(OutputDescriptor());
    ISC_STATUS result = 0;
    LongCall([&] { result = api.dsql_fetch(status.data(), &handle_, Dialect(), out); });
    if (result == 100) {
        atEnd_ = true;
        return;
    }
    if (client::Failed(status)) {
        if (client::HasCode(status, isc_dsql_cursor_err)) {
            atEnd_ = true;
            return;
        }
        // The message is taken before the next call can reuse the status strings.
        bool cancelled = Cancelled(status, CutAsInterruption());
        const bool refused = client::WriteRefused(status);
        Error error = client::ServerError(status);
        try {
            CloseCursor();
        } catch (const std::exception&) {
        }
        if (cancelled) throw Interruption{};
        RaiseServerError(std::move(error), refused);
    }
    ++rowsFetched_;
}

void Statement::CloseCursor() {
    bool onServer = cursorOpen_ && handle_ && (kind_ == Kind::Select || kind_ == Kind::SelectForUpdate);
    ResetCursor();
    if (!onServer) return;
    client::Status status{};
    client::Load().dsql_free_statement(status.data(), &handle_, DSQL_close);
    if (client::Failed(status) && !client::HasCode(status, isc_bad_stmt_handle) &&
        !client::HasCode(status, isc_dsql_cursor_close_err))
        client::Raise(status);
}

SqlValue& Statement::ColumnAt(int i) {
    if (i < 0 || i >= ColumnCount()) throw ClientError(ClientCode::FieldNotFound, std::to_string(i));
    return *columns_[static_cast<std::size_t>(i)];
}

SqlValue& Statement::ColumnByName(const std::string& name) {
    std::string key = NameKey(name);
    for (int i = 0; i < ColumnCount(); ++i)
        if (columns_[static_cast<std::size_t>(i)]->name_ == key) return *columns_[static_cast<std::size_t>(i)];
    throw ClientError(ClientCode::FieldNotFound, name);
}

SqlValue& Statement::ParameterAt(int i) {
    if (!Prepared() || preparedOn_ != Database()) Prepare();
    if (i < 0 || i >= ParameterCount()) throw ClientError(ClientCode::IndexOutOfRange);
    return *params_[static_cast<std::size_t>(i)];
}

SqlValue& Statement::ParameterByName(const std::string& name) {
    if (!Prepared() || preparedOn_ != Database()) Prepare();
    std::string key = NameKey(name);
    if (!key.empty())
        for (auto& param : params_)
            if (param->name_ == key) return *param;
    throw ClientError(ClientCode::FieldNotFound, name);
}

} // namespace kestrix::db
