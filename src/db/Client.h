#pragma once
// The client library, loaded at run time, and the helpers every part of the layer uses
// to call it: status vectors, server errors, info buffers and owned blob handles.
#include <array>
#include <functional>
#include <string>

#include <ibase.h>

#include "db/Error.h"

namespace kestrix::db::client {

struct Api {
    decltype(&::isc_attach_database) attach_database;
    decltype(&::isc_detach_database) detach_database;
    decltype(&::fb_cancel_operation) cancel_operation;
    decltype(&::isc_database_info) database_info;
    decltype(&::isc_start_transaction) start_transaction;
    decltype(&::isc_commit_transaction) commit_transaction;
    decltype(&::isc_rollback_transaction) rollback_transaction;
    decltype(&::isc_dsql_allocate_statement) dsql_allocate_statement;
    decltype(&::isc_dsql_prepare) dsql_prepare;
    decltype(&::isc_dsql_sql_info) dsql_sql_info;
    decltype(&::isc_dsql_describe) dsql_describe;
    decltype(&::isc_dsql_describe_bind) dsql_describe_bind;
    decltype(&::isc_dsql_execute) dsql_execute;
    decltype(&::isc_dsql_execute2) dsql_execute2;
    decltype(&::isc_dsql_fetch) dsql_fetch;
    decltype(&::isc_dsql_free_statement) dsql_free_statement;
    decltype(&::isc_create_blob2) create_blob2;
    decltype(&::isc_open_blob2) open_blob2;
    decltype(&::isc_get_segment) get_segment;
    decltype(&::isc_put_segment) put_segment;
    decltype(&::isc_blob_info) blob_info;
    decltype(&::isc_close_blob) close_blob;
    decltype(&::isc_cancel_blob) cancel_blob;
    decltype(&::fb_interpret) interpret;
    decltype(&::isc_sqlcode) sqlcode;
    decltype(&::isc_vax_integer) vax_integer;
    decltype(&::isc_encode_timestamp) encode_timestamp;
    // The library's own decoding of dates and times, which db::DecodeDate and DecodeTime match.
    decltype(&::isc_decode_sql_date) decode_sql_date;
    decltype(&::isc_decode_sql_time) decode_sql_time;
};

// Loads the library once ("libfbclient.so.2", then "libfbclient.so", or the name in
// KESTRIX_FBCLIENT). Raises client error 1 when it cannot be loaded.
const Api& Load();
// The table when already loaded, else nullptr; never raises (for destructors).
const Api* Loaded() noexcept;

using Status = std::array<ISC_STATUS, ISC_STATUS_LENGTH>;

// The waiter this thread set with db::SetLongCallWaiter; nullptr when none is.
using Waiter = void (*)(const std::function<void()>& call);
Waiter CurrentWaiter() noexcept;

// Runs a call that may wait long: at once, or through the waiter when one is set. The call is
// handed over by reference, so that an execute or fetch of a row allocates nothing for it.
template <class Call>
void RunLongCall(Call& call) {
    if (Waiter waiter = CurrentWaiter()) waiter(std::function<void()>(std::ref(call)));
    else call();
}

inline bool Failed(const Status& status) { return status[0] == 1 && status[1] != 0; }
// Whether the status vector carries the error code anywhere.
bool HasCode(const Status& status, ISC_STATUS code);
// The server error of a failed call: text message by message, SQL code, first error code.
Error ServerError(const Status& status);
// Whether the status vector tells of a write the storage refused: an I/O error of a write,
// a full disk or a database file at its size limit, wherever in the vector (a failed insert
// may report first that its undo failed).
bool WriteRefused(const Status& status);
// Raises the failure of a call (RaiseServerError).
[[noreturn]] inline void Raise(const Status& status) { RaiseServerError(ServerError(status), WriteRefused(status)); }
inline void Check(const Status& status) {
    if (Failed(status)) Raise(status);
}

// One item of an info answer (item, 2-byte length, value): its value bytes; false when the
// item is missing or the buffer is malformed.
bool InfoItem(const char* buffer, std::size_t size, char item, std::string& value);
// The same item read as an integer of 1 to 4 bytes.
bool InfoInteger(const char* buffer, std::size_t size, char item, long& value);

// An open or created blob, closed (read) or cancelled (write, unfinished) when dropped.
class Blob {
public:
    Blob() = default;
    ~Blob();
    Blob(const Blob&) = delete;
    Blob& operator=(const Blob&) = delete;
    void Open(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* id);
    void Create(isc_db_handle* db, isc_tr_handle* tr, ISC_QUAD* id);
    // Reads up to size bytes; returns the count, 0 at the end of the blob.
    std::size_t Read(char* to, std::size_t size);
    void Write(const char* from, std::size_t size);   // in segments of 16384 bytes
    void Close();

private:
    isc_blob_handle handle_ = 0;
    bool writing_ = false;
};

constexpr std::size_t kSegmentSize = 16384;

} // namespace kestrix::db::client
