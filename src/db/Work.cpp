#include "db/Work.h"

#include "db/Connection.h"
#include "db/Statement.h"

namespace kestrix::db {

std::recursive_mutex& WorkLock() {
    static std::recursive_mutex lock;
    return lock;
}

void BeginWork(Statement& statement) noexcept {
    WorkLock().lock();
    Transaction* transaction = statement.GetTransaction();
    if (!transaction) return;
    // Failures show up in the statements that follow: a failed commit leaves the old
    // transaction active (and the start then fails), a closed connection leaves none.
    try {
        if (transaction->IsActive()) transaction->CommitTransaction();
    } catch (const std::exception&) {
    }
    try {
        transaction->BeginTransaction();
    } catch (const std::exception&) {
    }
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
