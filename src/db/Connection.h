#pragma once
// Connections and transactions over the client library.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace kestrix::db {

class Transaction;
class Statement;

// A client call that may wait long (a statement's execute or fetch, which a row held by
// another client can hold up without end) runs on the calling thread, unless a front end
// whose thread must go on handling its messages meanwhile (so that a cancel press gets
// through) sets a waiter: it runs the call on another thread and returns when the call has
// ended. The call raises nothing. nullptr: on the calling thread again. The waiter holds for
// the calls of the thread that set it only.
using LongCallWaiter = void (*)(const std::function<void()>& call);
void SetLongCallWaiter(LongCallWaiter waiter);

class Connection {
public:
    // Raises client error 1 when the client library cannot be loaded.
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void SetDatabaseFile(const std::string& name);
    const std::string& DatabaseName() const { return databaseName_; }

    // Parameter lines of the form name=value: user_name, password, lc_ctype.
    std::vector<std::string> Params;
    int SQLDialect = 1;
    Transaction* DefaultTransaction = nullptr;

    void Connect();
    void Disconnect();
    bool IsConnected() const { return handle_ != 0; }
    // Whether the open attachment reaches its database through a server, as the client
    // library told when it attached (a connect fails when it does not tell).
    bool ThroughServer() const { return throughServer_; }
    bool CheckConnection();
    // Which database the open connection reached, as its server tells: the database file's
    // identity (device and inode) and the database's creation time. Equal for two
    // attachments of one database under any two names, embedded or through a server.
    std::string Identity();
    // The open database's file as a name on this machine: the name the server expanded,
    // when the server (or the embedded engine) runs on this machine; "" when it runs on
    // another one.
    std::string LocalFile();

    // Asks the server to cancel the call now running on this attachment, which then ends
    // with "operation was cancelled". Safe from any thread; does nothing when not connected.
    // A cancel that meets no running call is dropped by the server.
    void Cancel() noexcept;
    // How long the statement's execute or fetch now running on this attachment has run
    // so far; zero when none runs. Safe from any thread.
    std::chrono::milliseconds CallRunning() const;

private:
    friend class Transaction;
    friend class Statement;
    void ForceClose() noexcept;

    std::string databaseName_;
    unsigned int handle_ = 0;
    bool throughServer_ = false;
    // The attachment handle for other threads' Cancel: set once attached, cleared before
    // the detach.
    std::atomic<unsigned int> cancelHandle_{0};
    // When the running execute or fetch started (steady clock ticks), 0 when none runs.
    std::atomic<std::chrono::steady_clock::rep> callSince_{0};
    std::vector<Transaction*> transactions_;
    std::vector<Statement*> statements_;
};

class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Parameter lines; none, or empty lines, give a block without options.
    std::vector<std::string> Params;

    void BindDatabase(Connection& connection);
    Connection* Database() const { return connection_; }
    void BeginTransaction();
    void CommitTransaction();
    bool IsActive() const { return handle_ != 0; }


private:
    friend class Connection;
    friend class Statement;
    void Rollback() noexcept;      // only as the fallback of a failed commit at disconnect
    void CloseCursors() noexcept;  // before the transaction ends

    Connection* connection_ = nullptr;
    unsigned int handle_ = 0;
    std::vector<Statement*> statements_;
};

} // namespace kestrix::db
