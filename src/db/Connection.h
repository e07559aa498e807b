#pragma once
// Connections and transactions over the client library.
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "db/Error.h"

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
    // The side named by LoginRefused when the server refuses the login.
    DatabaseRole Role = DatabaseRole::Source;
    Transaction* DefaultTransaction = nullptr;
    // The name the attachment gives the server for this process, with the process id (the
    // server shows both among its attachments); none when empty. At most 255 bytes are sent.
    std::string ProcessName;

    // Raises LoginRefused when the server refuses the user name or password.
    void Connect();
    void Disconnect();
    bool IsConnected() const { return handle_ != 0; }
    // Whether the open attachment reaches its database through a server, as the client
    // library told when it attached (a connect fails when it does not tell).
    bool ThroughServer() const { return throughServer_; }
    bool CheckConnection();
    // The server's number of the open attachment, as its monitoring tables show it.
    long AttachmentId();
    // Which database the open connection reached, as its server tells: the database file's
    // identity (device and inode) and the database's creation time. Equal for two
    // attachments of one database under any two names, embedded or through a server.
    std::string Identity();
    // The open database's file as a name on this machine: the name the server expanded,
    // when the server (or the embedded engine) runs on this machine; "" when it runs on
    // another one.
    std::string LocalFile();

    // Asks the server, once per call, to cancel the statement's execute or fetch now running
    // on this attachment when it has run at least that long; the call then ends with
    // "operation was cancelled". Safe from any thread; does nothing when no such call runs.
    // The request is never sent once the call has returned: the client library sends it on
    // the attachment's link, which the next call of the running thread would be using.
    void CancelCallRunningFor(std::chrono::milliseconds atLeast) noexcept;
    // Cuts the attachment's link to its server at once. The call waiting in it then fails
    // as a lost connection, or, with asInterruption, ends as the operator's cancel would have
    // ended it: for a server that took the cancel but lost the call's answer. Disconnect then
    // only drops what the client holds. Safe from any thread; does nothing when not connected.
    void CutOff(bool asInterruption) noexcept;
    // Whether the server of the database answers an attachment within the time: one of its
    // own, made and dropped at once, with the connection's parameters. Safe from any thread.
    bool ServerAnswers(std::chrono::seconds within) const noexcept;
    // Whether the open database writes each page through to the disk (forced writes).
    bool ForcedWrites();
    // Switches the database's forced writes, through an attachment of its own made and dropped
    // with the connection's parameters; the setting holds for every later attachment. Only for
    // a database that has no other attachment: the engine reopens its file for the change, and
    // another attachment's write meanwhile can fail. Raises what that attach raises: a login
    // that neither owns the database nor administers the server is refused.
    void SetForcedWrites(bool on) const;
    // How long the statement's execute or fetch now running on this attachment has run
    // so far; zero when none runs. Safe from any thread.
    std::chrono::milliseconds CallRunning() const;

private:
    void AskInfo(const char* items, short itemCount, char* answer, short answerSize);
    friend class Transaction;
    friend class Statement;
    void ForceClose() noexcept;

    std::string databaseName_;
    unsigned int handle_ = 0;
    bool throughServer_ = false;
    // The attachment handle for other threads' cancel and abort: set once attached, cleared
    // before the detach.
    std::atomic<unsigned int> cancelHandle_{0};
    // When the running execute or fetch started (steady clock ticks), 0 when none runs.
    std::atomic<std::chrono::steady_clock::rep> callSince_{0};
    // Held while a cancel is sent and while a call is marked ended, so that no cancel goes
    // out after its call returned; with whether the running call was cancelled already.
    std::mutex callMutex_;
    bool callCancelled_ = false;
    // Set by CutOff until the next Connect.
    std::atomic<bool> cutOff_{false}, cutAsInterruption_{false};
    std::vector<Transaction*> transactions_;
    std::vector<Statement*> statements_;
};

class Transaction {
public:
    Transaction();
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Parameter lines; none, or empty lines, give a block without options. "lock_timeout=N":
    // a lock held by another transaction is waited for N seconds, then the statement or
    // commit that waits fails with a lock time-out.
    std::vector<std::string> Params;

    void BindDatabase(Connection& connection);
    Connection* Database() const { return connection_; }
    void BeginTransaction();
    void CommitTransaction();
    bool IsActive() const { return handle_ != 0; }
    // Undoes the transaction's changes and ends it; what the server answers is passed over
    // (a lost connection has ended it anyway). Does nothing when it is not active.
    void Rollback() noexcept;

private:
    friend class Connection;
    friend class Statement;
    void CloseCursors() noexcept;  // before the transaction ends

    Connection* connection_ = nullptr;
    unsigned int handle_ = 0;
    std::vector<Statement*> statements_;
};

} // namespace kestrix::db
