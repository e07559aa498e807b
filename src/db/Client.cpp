#include "db/Client.h"
#include "db/Connection.h"

#include <dlfcn.h>
#include <langinfo.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <atomic>
#include <cstdlib>
#include <cstring>

namespace kestrix::db::client {

namespace {

struct Library {
    Api api{};
    bool ok = false;
};

template <class F> bool Bind(void* lib, F& target, const char* name) {
    target = reinterpret_cast<F>(dlsym(lib, name));
    return target != nullptr;
}

// The client library and the embedded engine convert file names between UTF-8 and the
// character set of the process's locale, chosen once at their first conversion. File
// names are UTF-8 here: a process that has no UTF-8 locale (the plain "C" locale of a
// program that never calls setlocale) gets one for its character classes.
void UseUtf8FileNames() {
    const char* codeset = nl_langinfo(CODESET);
    if (codeset && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0)) return;
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
}

Library LoadLibrary() {
    Library result;
    UseUtf8FileNames();
    void* lib = nullptr;
    if (const char* name = std::getenv("KESTRIX_FBCLIENT"); name && *name) {
        lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    } else {
        lib = dlopen("libfbclient.so.2", RTLD_NOW | RTLD_LOCAL);
        if (!lib) lib = dlopen("libfbclient.so", RTLD_NOW | RTLD_LOCAL);
    }
    if (!lib) return result;
    Api& a = result.api;
    bool ok = Bind(lib, a.attach_database, "isc_attach_database") &&
              Bind(lib, a.detach_database, "isc_detach_database") &&
              Bind(lib, a.cancel_operation, "fb_cancel_operation") &&
              Bind(lib, a.database_info, "isc_database_info") &&
              Bind(lib, a.start_transaction, "isc_start_transaction") &&
              Bind(lib, a.commit_transaction, "isc_commit_transaction") &&
              Bind(lib, a.rollback_transaction, "isc_rollback_transaction") &&
              Bind(lib, a.dsql_allocate_statement, "isc_dsql_allocate_statement") &&
              Bind(lib, a.dsql_prepare, "isc_dsql_prepare") &&
              Bind(lib, a.dsql_sql_info, "isc_dsql_sql_info") &&
              Bind(lib, a.dsql_describe, "isc_dsql_describe") &&
              Bind(lib, a.dsql_describe_bind, "isc_dsql_describe_bind") &&
              Bind(lib, a.dsql_execute, "isc_dsql_execute") &&
              Bind(lib, a.dsql_execute2, "isc_dsql_execute2") &&
              Bind(lib, a.dsql_fetch, "isc_dsql_fetch") &&
              Bind(lib, a.dsql_free_statement, "isc_dsql_free_statement") &&
              Bind(lib, a.create_blob2, "isc_create_blob2") &&
              Bind(lib, a.open_blob2, "isc_open_blob2") &&
              Bind(lib, a.get_segment, "isc_get_segment") &&
              Bind(lib, a.put_segment, "isc_put_segment") &&
              Bind(lib, a.blob_info, "isc_blob_info") &&
              Bind(lib, a.close_blob, "isc_close_blob") &&
              Bind(lib, a.cancel_blob, "isc_cancel_blob") &&
              Bind(lib, a.interpret, "fb_interpret") &&
              Bind(lib, a.sqlcode, "isc_sqlcode") &&
              Bind(lib, a.vax_integer, "isc_vax_integer") &&
              Bind(lib, a.encode_timestamp, "isc_encode_timestamp") &&
              Bind(lib, a.decode_sql_date, "isc_decode_sql_date") &&
              Bind(lib, a.decode_sql_time, "isc_decode_sql_time");
    // The library stays loaded for the life of the process: its engine keeps threads
    // and exit handlers that must not outlive the code.
    if (!ok) {
        dlclose(lib);
        return result;
    }
    result.ok = true;
    return result;
}

const Library& TheLibrary() {
    static const Library library = LoadLibrary();
    return library;
}

} // namespace

const Api& Load() {
    const Library& library = TheLibrary();
    if (!library.ok) throw ClientError(ClientCode::LibraryNotFound);
    return library.api;
}

const Api* Loaded() noexcept {
    const Library& library = TheLibrary();
    return library.ok ? &library.api : nullptr;
}

namespace {
// Per thread: the waiter handles the messages of the thread that set it, and a call made on
// any other thread (a stream of the parallel journal copy) runs where it is made.
thread_local LongCallWaiter g_waiter = nullptr;
} // namespace

Waiter CurrentWaiter() noexcept { return g_waiter; }

bool HasCode(const Status& status, ISC_STATUS code) {
    std::size_t i = 0;
    while (i + 1 < status.size() && status[i] != isc_arg_end) {
        ISC_STATUS kind = status[i];
        if (kind == isc_arg_gds && status[i + 1] == code) return true;
        // Every argument takes one slot after its kind, except counted strings, which take two.
        i += kind == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

bool WriteRefused(const Status& status) {
    if (HasCode(status, isc_io_error) && HasCode(status, isc_io_write_err)) return true;
    if (HasCode(status, isc_io_32bit_exceeded_err) || HasCode(status, isc_old_no_space)) return true;
    // The operating system's own word, as the engine passes it on.
    for (std::size_t i = 0; i + 1 < status.size() && status[i] != isc_arg_end; i += status[i] == isc_arg_cstring ? 3 : 2)
        if (status[i] == isc_arg_unix && (status[i + 1] == ENOSPC || status[i + 1] == EDQUOT || status[i + 1] == EFBIG))
            return true;
    return false;
}

Error ServerError(const Status& status) {
    const Api& api = Load();
    int sqlCode = static_cast<int>(api.sqlcode(status.data()));
    int code = static_cast<int>(status[0] == 1 ? status[1] : 0);
    std::string text;
    const ISC_STATUS* vector = status.data();
    char buffer[1024];
    for (;;) {
        ISC_LONG length = api.interpret(buffer, sizeof buffer, &vector);
        if (length <= 0) break;
        std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length), sizeof buffer - 1);
        if (!text.empty() && text.back() != '\n') text += "\r\n";
        text.append(buffer, strnlen(buffer, n));
    }
    if (!text.empty() && text.back() == '.') text.pop_back();
    return Error(Error::Kind::Server, code, std::move(text), sqlCode);
}

bool InfoItem(const char* buffer, std::size_t size, char item, std::string& value) {
    std::size_t i = 0;
    while (i < size) {
        char current = buffer[i];
        if (current == isc_info_end || current == isc_info_truncated) return false;
        if (i + 3 > size) return false;
        auto length = static_cast<std::size_t>(static_cast<unsigned char>(buffer[i + 1]) |
                                               (static_cast<unsigned char>(buffer[i + 2]) << 8));
        if (i + 3 + length > size) return false;
        if (current == item) {
            value.assign(buffer + i + 3, length);
            return true;
        }
        i += 3 + length;
    }
    return false;
}

bool InfoInteger(const char* buffer, std::size_t size, char item, long& value) {
    std::string bytes;
    if (!InfoItem(buffer, size, item, bytes) || bytes.empty() || bytes.size() > 4) return false;
    value = Load().vax_integer(bytes.data(), static_cast<short>(bytes.size()));
    return true;
}

Blob::~Blob() {
    if (!handle_) return;
    if (const Api* api = Loaded()) {
        Status status{};
        if (writing_) api->cancel_blob(status.data(), &handle_);
        else api->close_blob(status.data(), &handle_);
    }
}

void Blob::Open(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* id) {
    Status status{};
    Load().open_blob2(status.data(), db, tr, &handle_, id, 0, nullptr);
    if (Failed(status)) {
        handle_ = 0;
        Raise(status);
    }
    writing_ = false;
}

void Blob::Create(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* id) {
    Status status{};
    Load().create_blob2(status.data(), db, tr, &handle_, id, 0, nullptr);
    if (Failed(status)) {
        handle_ = 0;
        Raise(status);
    }
    writing_ = true;
}

std::size_t Blob::Read(char* to, std::size_t size) {
    const Api& api = Load();
    std::size_t done = 0;
    while (done < size) {
        unsigned short want = static_cast<unsigned short>(std::min(size - done, kSegmentSize));
        unsigned short got = 0;
        Status status{};
        ISC_STATUS result = api.get_segment(status.data(), &handle_, &got, want, to + done);
        if (result == isc_segstr_eof) break;
        // A partly read segment is reported as isc_segment and is no error.
        if (Failed(status) && result != isc_segment) Raise(status);
        done += std::min<std::size_t>(got, want);
    }
    return done;
}

void Blob::Write(const char* from, std::size_t size) {
    const Api& api = Load();
    for (std::size_t done = 0; done < size;) {
        unsigned short part = static_cast<unsigned short>(std::min(size - done, kSegmentSize));
        Status status{};
        api.put_segment(status.data(), &handle_, part, from + done);
        Check(status);
        done += part;
    }
}

void Blob::Close() {
    Status status{};
    Load().close_blob(status.data(), &handle_);
    Check(status);
    handle_ = 0;
}

} // namespace kestrix::db::client

namespace kestrix::db {

void SetLongCallWaiter(LongCallWaiter waiter) { client::g_waiter = waiter; }

} // namespace kestrix::db
