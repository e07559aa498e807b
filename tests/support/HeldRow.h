#pragma once
// A row that another attachment holds in an open transaction, so that a statement of a run
// that deletes or changes it waits for the lock.
#include <chrono>
#include <functional>
#include <string>

#include "db/Connection.h"
#include "db/Statement.h"

namespace kestrix::test {

class HeldRow {
public:
    // Executes update (which must change the row) in a transaction left open.
    HeldRow(const std::string& database, const std::string& update);
    ~HeldRow();

    // Runs work while the row is held, then releases it (commits the update). Should work
    // not end within holdFor (nothing cancelled the waiting statement), the row is released
    // then, so that the run goes on instead of hanging, and GaveUp() tells.
    void During(const std::function<void()>& work, std::chrono::milliseconds holdFor = std::chrono::minutes(1));
    bool GaveUp() const { return gaveUp_; }

private:
    void Release();

    db::Connection connection_;
    db::Transaction transaction_;
    db::Statement update_;
    bool gaveUp_ = false;
};

// Waits until a statement whose text starts with textStart waits for a lock in database;
// false when none did within the timeout.
bool AwaitWaitingStatement(const std::string& database, const std::string& textStart,
                           std::chrono::seconds timeout = std::chrono::seconds(120));

} // namespace kestrix::test
