#pragma once
// Units of work: every database step runs between BeginWork and EndWork.
#include <mutex>

namespace kestrix::db {

class Statement;

// The process-wide recursive lock. The master data module creates it first and
// destroys it last; here it simply lives for the whole program. On a thread that holds an
// OwnWorkLock, that lock instead.
std::recursive_mutex& WorkLock();

// For its life, the units of work of the constructing thread take a lock of their own: a
// stream of the parallel journal copy works on attachments no other thread uses, and the
// process-wide lock would only put the streams back in a row.
class OwnWorkLock {
public:
    OwnWorkLock();
    ~OwnWorkLock();
    OwnWorkLock(const OwnWorkLock&) = delete;
    OwnWorkLock& operator=(const OwnWorkLock&) = delete;

private:
    std::recursive_mutex lock_;
    std::recursive_mutex* before_;
};

// Takes WorkLock and keeps it; commits the statement's transaction if active and starts
// it anew. Raises only a lost connection (or what is no error of the layer, as running out
// of memory), and then does not keep WorkLock; other failures are left to the statements
// that follow.
void BeginWork(Statement& statement);
// Commits the statement's transaction if active, then releases WorkLock. Never raises.
void EndWork(Statement& statement) noexcept;

// A unit of work begun at construction and ended on every way out of its scope, so that no
// return or error leaves WorkLock held.
class WorkUnit {
public:
    // Raises what BeginWork raises; the unit is then not begun.
    explicit WorkUnit(Statement& statement) : statement_(&statement) { BeginWork(statement); }
    ~WorkUnit() { End(); }
    WorkUnit(const WorkUnit&) = delete;
    WorkUnit& operator=(const WorkUnit&) = delete;
    // Ends the unit early; the destructor then does nothing.
    void End() noexcept {
        if (statement_) EndWork(*statement_);
        statement_ = nullptr;
    }
    // Ends the unit as End does, but tells whether its transaction committed (or there was
    // none to commit), and raises a lost connection or refused write met by the commit.
    bool Commit();

private:
    Statement* statement_;
};

} // namespace kestrix::db
