#pragma once
// The databases of a run: the source and destination attachments with their transactions and
// statements, bound to each other once for the program's life. The engine reaches them
// through the sides.
#include <array>
#include <string>

#include "db/Connection.h"
#include "db/Side.h"
#include "db/Statement.h"

namespace kestrix::db {

// Whom a connection logs in as.
struct Credentials {
    std::string user;
    std::string password;
    bool operator==(const Credentials&) const = default;
};

// The login the program has always used, where no other is given.
const Credentials& FixedCredentials();

class Databases {
public:
    Databases();   // binds everything; raises client error 1 without the client library
    ~Databases();  // disconnects, swallowing errors
    Databases(const Databases&) = delete;
    Databases& operator=(const Databases&) = delete;

    Connection& SourceConnection() { return source_; }
    Connection& DestinationConnection() { return destination_; }
    // A second attachment to the destination that no statement uses: a run opens it after the
    // destination's first and closes it with the others, so a destination that admits only
    // one attachment fails the run at its start.
    Connection& SecondDestinationConnection() { return secondDestination_; }
    std::array<Connection*, 3> Connections() { return {&source_, &destination_, &secondDestination_}; }
    // The login of the source connection, and of both destination connections.
    void SetLogins(const Credentials& source, const Credentials& destination);

    Side Source() { return {sourceSql_, sourceTransaction_, source_}; }
    Side Destination() { return {destinationSql_, destinationTransaction_, destination_}; }
    // The scripts run on the destination connection in the source's transaction object,
    // which they bind there: the pre-transfer script through the destination's statement,
    // the post-transfer one through a statement of its own that sends its text unchanged.
    Side PreScriptSide() { return {destinationSql_, sourceTransaction_, destination_}; }
    Side PostScriptSide() { return {postScriptSql_, sourceTransaction_, destination_}; }
    // The second destination attachment's transaction, which no statement uses.
    Transaction& SecondDestinationTransaction() { return secondTransaction_; }

private:
    Connection source_;
    Transaction sourceTransaction_;
    Statement sourceSql_;
    Connection destination_;
    Transaction destinationTransaction_;
    Statement destinationSql_;
    Statement postScriptSql_;
    Connection secondDestination_;
    Transaction secondTransaction_;
};

// The connection parameter lines (the login, and the character set WIN1251), and the
// program's own file as the process name.
void SetStandardParams(Connection& connection, const Credentials& login = FixedCredentials());

// The process name of a run's attachments to its destination: the program's file and this
// mark, by which another run or a check finds a destination being written.
inline constexpr const char* kWriterMark = " (transfer run)";
std::string WriterProcessName();

} // namespace kestrix::db
