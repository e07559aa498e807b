#include "db/Work.h"

#include <utility>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Statement.h"

namespace kestrix::db {

namespace {
thread_local std::recursive_mutex* t_ownLock = nullptr;
} // namespace

std::recursive_mutex& WorkLock() {
    static std::recursive_mutex lock;
    return t_ownLock ? *t_ownLock : lock;
}

OwnWorkLock::OwnWorkLock() : before_(t_ownLock) { t_ownLock = &lock_; }
OwnWorkLock::~OwnWorkLock() { t_ownLock = before_; }

void BeginWork(Statement& statement) {
    WorkLock().lock();
    Transaction* transaction = statement.GetTransaction();
    if (!transaction) return;
    // Other failures show up in the statements that follow: a failed commit leaves the old
    // transaction active (and the start then fails), a closed connection leaves none. A lost
    // connection is raised, with the lock released: the statements that follow would only
    // fail with "Transaction is active" or "Transaction is not active" and hide it.
    try {
        try {
            if (transaction->IsActive()) transaction->CommitTransaction();
        } catch (const Error&) {
        }
        try {
            transaction->BeginTransaction();
        } catch (const Error&) {
        }
    } catch (...) {
        WorkLock().unlock();
        throw;
    }
}

bool WorkUnit::Commit() {
    Statement* statement = std::exchange(statement_, nullptr);
    if (!statement) return true;
    Transaction* transaction = statement->GetTransaction();
    try {
        if (transaction && transaction->IsActive()) transaction->CommitTransaction();
    } catch (const Error&) {
    } catch (...) {
        WorkLock().unlock();
        throw;
    }
    WorkLock().unlock();
    return !transaction || !transaction->IsActive();
}

void EndWork(Statement& statement) noexcept {
    if (Transaction* transaction = statement.GetTransaction()) {
        try {
            if (transaction->IsActive()) transaction->CommitTransaction();
        } catch (const std::exception&) {
        }
    }
    WorkLock().unlock();
}

} // namespace kestrix::db
