#include "db/Connection.h"

#include <algorithm>
#include <cstdint>
#include <type_traits>

#include <unistd.h>

#include "db/Charset.h"
#include "db/Client.h"
#include "db/Error.h"
#include "db/Statement.h"
#include "db/Strings.h"

namespace kestrix::db {

static_assert(std::is_same_v<isc_db_handle, unsigned int> && std::is_same_v<isc_tr_handle, unsigned int>,
              "handles are kept as the client library's 32-bit handle values");

namespace {

// The implementation answer: a count, then an (implementation, class) pair per layer the
// attachment passes; a remote interface among them means that a server is in between.
bool RemoteLayer(const std::string& layers, bool& remote) {
    if (layers.empty()) return false;
    const auto count = static_cast<std::size_t>(static_cast<unsigned char>(layers[0]));
    if (count == 0 || layers.size() < 1 + 2 * count) return false;
    remote = false;
    for (std::size_t i = 0; i < count; ++i)
        if (static_cast<unsigned char>(layers[2 + 2 * i]) == isc_info_db_class_rem_int) remote = true;
    return true;
}

void AddString(std::string& block, char code, const std::string& value) {
    if (value.size() > 255) throw ClientError(ClientCode::Unsupported);
    block += code;
    block += static_cast<char>(value.size());
    block += value;
}

// The process's id and name, as the client library would give them itself.
void AddProcess(std::string& block, const std::string& name) {
    if (name.empty()) return;
    const auto pid = static_cast<std::uint32_t>(::getpid());
    block += static_cast<char>(isc_dpb_process_id);
    block += static_cast<char>(sizeof pid);
    for (std::size_t i = 0; i < sizeof pid; ++i) block += static_cast<char>((pid >> (8 * i)) & 0xff);
    AddString(block, isc_dpb_process_name, name.substr(0, 255));
}

std::string DatabaseParameterBlock(const std::vector<std::string>& lines, const std::string& processName = {}) {
    std::string block(1, static_cast<char>(isc_dpb_version1));
    for (const std::string& line : lines) {
        if (TrimSpacesAndTabs(line).empty()) continue;
        auto eq = line.find('=');
        std::string name = LowerAscii(TrimSpacesAndTabs(line.substr(0, eq)));
        std::string value = eq == std::string::npos ? std::string() : line.substr(eq + 1);
        if (name == "user_name") AddString(block, isc_dpb_user_name, value);
        else if (name == "password") AddString(block, isc_dpb_password, value);
        else if (name == "lc_ctype") AddString(block, isc_dpb_lc_ctype, value);
        else throw ClientError(ClientCode::Unsupported);
    }
    AddProcess(block, processName);
    // The database name is handed over as the file system has it: UTF-8.
    block += static_cast<char>(isc_dpb_utf8_filename);
    block += '\0';
    return block;
}

// An attachment of `database` with the connection parameter lines `params` and `item` (a 4-byte value),
// made and dropped at once: the status of the attach.
client::Status AttachOnce(const client::Api& api, const std::string& database, const std::vector<std::string>& params,
                          char item, std::uint32_t value) {
    std::string dpb = DatabaseParameterBlock(params);
    dpb += item;
    dpb += static_cast<char>(sizeof value);
    for (std::size_t i = 0; i < sizeof value; ++i) dpb += static_cast<char>((value >> (8 * i)) & 0xff);
    client::Status status{};
    isc_db_handle handle = 0;
    api.attach_database(status.data(), 0, database.c_str(), &handle, static_cast<short>(dpb.size()), dpb.data());
    if (handle) {
        client::Status ignored{};
        api.detach_database(ignored.data(), &handle);
    }
    return status;
}

// The value of the parameter line `name`, "" without one.
std::string ParamValue(const std::vector<std::string>& lines, const std::string& name) {
    for (const std::string& line : lines) {
        auto eq = line.find('=');
        if (eq != std::string::npos && LowerAscii(TrimSpacesAndTabs(line.substr(0, eq))) == name)
            return line.substr(eq + 1);
    }
    return {};
}

std::string TransactionParameterBlock(const std::vector<std::string>& lines) {
    std::string block;
    for (const std::string& line : lines) {
        std::string name = LowerAscii(TrimSpacesAndTabs(line));
        if (block.empty()) block += static_cast<char>(isc_tpb_version3);
        if (name.empty()) continue;
        if (name.starts_with("lock_timeout=")) {
            const auto seconds = static_cast<std::uint32_t>(std::stoul(name.substr(13)));
            block += static_cast<char>(isc_tpb_lock_timeout);
            block += static_cast<char>(sizeof seconds);
            for (std::size_t i = 0; i < sizeof seconds; ++i) block += static_cast<char>((seconds >> (8 * i)) & 0xff);
            continue;
        }
        static const std::pair<const char*, char> kOptions[] = {
            {"consistency", isc_tpb_consistency}, {"concurrency", isc_tpb_concurrency},
            {"read_committed", isc_tpb_read_committed}, {"rec_version", isc_tpb_rec_version},
            {"no_rec_version", isc_tpb_no_rec_version}, {"wait", isc_tpb_wait},
            {"nowait", isc_tpb_nowait}, {"read", isc_tpb_read}, {"write", isc_tpb_write}};
        auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                                  [&](const auto& option) { return name == option.first; });
        if (found == std::end(kOptions)) throw ClientError(ClientCode::Unsupported);
        block += found->second;
    }
    return block;
}

template <class T> void Forget(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

} // namespace

// ---- Connection ----

Connection::Connection() { client::Load(); }

Connection::~Connection() {
    try {
        Disconnect();
    } catch (...) {
        ForceClose();
    }
    for (Transaction* transaction : transactions_) transaction->connection_ = nullptr;
    if (DefaultTransaction && DefaultTransaction->connection_ == nullptr) DefaultTransaction = nullptr;
}

void Connection::SetDatabaseFile(const std::string& name) {
    if (name == databaseName_) return;
    if (IsConnected()) throw ClientError(ClientCode::DatabaseOpen);
    databaseName_ = name;
}

void Connection::Connect() {
    if (IsConnected()) return;
    if (databaseName_.empty()) throw ClientError(ClientCode::DatabaseNameMissing);
    const client::Api& api = client::Load();
    std::string dpb = DatabaseParameterBlock(Params, ProcessName);
    client::Status status{};
    isc_db_handle handle = 0;
    api.attach_database(status.data(), 0, databaseName_.c_str(), &handle, static_cast<short>(dpb.size()),
                        dpb.data());
    if (client::Failed(status)) {
        if (handle) {
            client::Status ignored{};
            api.detach_database(ignored.data(), &handle);
        }
        // What a failed attach names (files, hosts) comes in the file system's encoding.
        Error error = client::ServerError(status);
        Error named(error.kind(), error.code(), FileNameToCp1251(error.text()), error.sqlCode());
        if (client::HasCode(status, isc_login))
            throw LoginRefused(named, Role, databaseName_, ParamValue(Params, "user_name"));
        throw named;
    }
    handle_ = handle;
    cancelHandle_ = handle;
    cutOff_ = false;
    cutAsInterruption_ = false;

    const char items[] = {isc_info_db_sql_dialect, isc_info_implementation};
    char answer[64] = {};
    api.database_info(status.data(), &handle_, sizeof items, items, sizeof answer, answer);
    if (client::Failed(status)) {
        Error error = client::ServerError(status);
        const bool refused = client::WriteRefused(status);
        ForceClose();
        RaiseServerError(std::move(error), refused);
    }
    std::string layers;
    if (!client::InfoItem(answer, sizeof answer, isc_info_implementation, layers) || !RemoteLayer(layers, throughServer_)) {
        ForceClose();
        throw Error(Error::Kind::Client, 0, "The attachment does not tell how it reaches its database");
    }
    long dialect = 0;
    if (client::InfoInteger(answer, sizeof answer, isc_info_db_sql_dialect, dialect) && dialect > 0 &&
        dialect < SQLDialect)
        SQLDialect = static_cast<int>(dialect);
}

void Connection::Disconnect() {
    if (!IsConnected()) return;
    if (cutOff_) return ForceClose();   // the link is gone by the program's own hand
    for (Transaction* transaction : std::vector<Transaction*>(transactions_)) {
        if (!transaction->IsActive()) continue;
        try {
            transaction->CommitTransaction();
        } catch (const std::exception&) {
            transaction->Rollback();
        }
    }
    for (Statement* statement : std::vector<Statement*>(statements_)) statement->Release();
    cancelHandle_ = 0;
    client::Status status{};
    client::Load().detach_database(status.data(), &handle_);
    client::Check(status);
    handle_ = 0;
}

bool Connection::CheckConnection() {
    if (!IsConnected()) return false;
    const char item = isc_info_base_level;
    char answer[32] = {};
    client::Status status{};
    client::Load().database_info(status.data(), &handle_, 1, &item, sizeof answer, answer);
    if (client::Failed(status)) {
        ForceClose();
        return false;
    }
    return true;
}

// The server's answer to database information items of the open attachment; raises its error.
void Connection::AskInfo(const char* items, short itemCount, char* answer, short answerSize) {
    if (!IsConnected()) throw ClientError(ClientCode::DatabaseClosed);
    client::Status status{};
    client::Load().database_info(status.data(), &handle_, itemCount, items, answerSize, answer);
    client::Check(status);
}

long Connection::AttachmentId() {
    const char item = isc_info_attachment_id;
    char answer[32] = {};
    AskInfo(&item, 1, answer, sizeof answer);
    long id = 0;
    client::InfoInteger(answer, sizeof answer, isc_info_attachment_id, id);
    return id;
}

std::string Connection::Identity() {
    const char items[] = {static_cast<char>(fb_info_db_file_id), isc_info_creation_date, isc_info_db_id};
    char answer[1024] = {};
    AskInfo(items, sizeof items, answer, sizeof answer);
    std::string file, created, names;
    client::InfoItem(answer, sizeof answer, isc_info_creation_date, created);
    if (client::InfoItem(answer, sizeof answer, static_cast<char>(fb_info_db_file_id), file) && !file.empty())
        return "file " + file + " created " + created;
    // A server without file identities: the file name it reports, expanded by the server.
    client::InfoItem(answer, sizeof answer, isc_info_db_id, names);
    return "name " + names + " created " + created;
}

std::string Connection::LocalFile() {
    const char item = isc_info_db_id;
    char answer[1024] = {};
    AskInfo(&item, 1, answer, sizeof answer);
    // A count, then counted strings: the file name as the server expanded it, the server's host.
    std::string ids;
    client::InfoItem(answer, sizeof answer, isc_info_db_id, ids);
    std::vector<std::string> names;
    for (std::size_t at = 1; at < ids.size() && names.size() < 2;) {
        const std::size_t length = static_cast<unsigned char>(ids[at]);
        names.push_back(ids.substr(at + 1, length));
        at += 1 + length;
    }
    char host[256] = {};
    if (names.size() < 2 || ::gethostname(host, sizeof host - 1) != 0 || names[1] != host) return {};
    return names[0];
}

void Connection::CancelCallRunningFor(std::chrono::milliseconds atLeast) noexcept {
    std::lock_guard lock(callMutex_);
    if (callCancelled_ || !callSince_ || CallRunning() < atLeast) return;
    // A copy of the handle: the client library looks it up, and a handle detached meanwhile
    // only makes the call fail.
    isc_db_handle handle = cancelHandle_;
    const client::Api* api = client::Loaded();
    if (!handle || !api) return;
    client::Status ignored{};
    api->cancel_operation(ignored.data(), &handle, fb_cancel_raise);
    callCancelled_ = true;
}

void Connection::CutOff(bool asInterruption) noexcept {
    isc_db_handle handle = cancelHandle_;
    const client::Api* api = client::Loaded();
    if (!handle || !api) return;
    cutAsInterruption_ = asInterruption;
    cutOff_ = true;
    client::Status ignored{};
    api->cancel_operation(ignored.data(), &handle, fb_cancel_abort);
}

bool Connection::ForcedWrites() {
    const char item = isc_info_forced_writes;
    char answer[32] = {};
    AskInfo(&item, 1, answer, sizeof answer);
    long on = 0;
    if (!client::InfoInteger(answer, sizeof answer, isc_info_forced_writes, on))
        throw Error(Error::Kind::Client, 0, "the server did not tell its forced writes");
    return on != 0;
}

void Connection::SetForcedWrites(bool on) const {
    if (databaseName_.empty()) throw ClientError(ClientCode::DatabaseNameMissing);
    client::Check(AttachOnce(client::Load(), databaseName_, Params, isc_dpb_force_write, on ? 1 : 0));
}

bool Connection::ServerAnswers(std::chrono::seconds within) const noexcept {
    const client::Api* api = client::Loaded();
    if (!api || databaseName_.empty()) return false;
    try {
        const client::Status status =
            AttachOnce(*api, databaseName_, Params, isc_dpb_connect_timeout, static_cast<std::uint32_t>(within.count()));
        // A refusal is an answer too; only a network failure or the timeout (reported as a
        // rejected connection) is none.
        if (!client::Failed(status)) return true;
        if (client::HasCode(status, isc_connect_reject)) return false;
        client::Raise(status);
    } catch (const ConnectionLost&) {
        return false;
    } catch (const Error&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::chrono::milliseconds Connection::CallRunning() const {
    auto since = callSince_.load();
    if (!since) return std::chrono::milliseconds(0);
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::duration(now - since));
}

// The attachment is gone or unusable: free what the client still holds, report nothing.
void Connection::ForceClose() noexcept {
    const client::Api* api = client::Loaded();
    for (Transaction* transaction : transactions_) {
        if (!transaction->handle_) continue;
        transaction->CloseCursors();
        client::Status ignored{};
        if (api) api->rollback_transaction(ignored.data(), &transaction->handle_);
        transaction->handle_ = 0;
    }
    for (Statement* statement : std::vector<Statement*>(statements_)) statement->Release();
    statements_.clear();
    cancelHandle_ = 0;
    if (handle_ && api) {
        client::Status ignored{};
        api->detach_database(ignored.data(), &handle_);
    }
    handle_ = 0;
}

// ---- Transaction ----

Transaction::Transaction() { client::Load(); }

Transaction::~Transaction() {
    if (IsActive()) {
        try {
            CommitTransaction();
        } catch (...) {
            Rollback();
        }
    }
    for (Statement* statement : statements_) statement->transaction_ = nullptr;
    if (connection_) {
        Forget(connection_->transactions_, this);
        if (connection_->DefaultTransaction == this) connection_->DefaultTransaction = nullptr;
    }
}

void Transaction::BindDatabase(Connection& connection) {
    if (connection_ == &connection) return;
    // The handle of an active transaction belongs to its connection's attachment.
    if (IsActive()) throw ClientError(ClientCode::TransactionActive);
    if (connection_) Forget(connection_->transactions_, this);
    connection_ = &connection;
    connection.transactions_.push_back(this);
}

void Transaction::BeginTransaction() {
    if (IsActive()) throw ClientError(ClientCode::TransactionActive);
    if (!connection_) throw ClientError(ClientCode::DatabaseNotAssigned);
    if (!connection_->IsConnected()) throw ClientError(ClientCode::DatabaseClosed);
    std::string tpb = TransactionParameterBlock(Params);
    client::Status status{};
    isc_tr_handle handle = 0;
    client::Load().start_transaction(status.data(), &handle, 1, &connection_->handle_,
                                     static_cast<int>(tpb.size()), tpb.empty() ? nullptr : tpb.data());
    client::Check(status);
    handle_ = handle;
}

void Transaction::CommitTransaction() {
    if (!IsActive()) throw ClientError(ClientCode::TransactionNotActive);
    CloseCursors();
    client::Status status{};
    client::Load().commit_transaction(status.data(), &handle_);
    client::Check(status);
    handle_ = 0;
}

void Transaction::Rollback() noexcept {
    if (!handle_) return;
    CloseCursors();
    if (const client::Api* api = client::Loaded()) {
        client::Status ignored{};
        api->rollback_transaction(ignored.data(), &handle_);
    }
    handle_ = 0;
}

void Transaction::CloseCursors() noexcept {
    for (Statement* statement : statements_) {
        try {
            statement->CloseCursor();
        } catch (...) {
            // The cursor is marked closed whatever the server answered.
        }
    }
}

} // namespace kestrix::db
