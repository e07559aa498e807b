#include "support/HeldRow.h"

#include <condition_variable>
#include <mutex>
#include <thread>

#include "db/Databases.h"
#include "support/Fixtures.h"

namespace kestrix::test {

HeldRow::HeldRow(const std::string& database, const std::string& update) {
    db::SetStandardParams(connection_);
    connection_.SetDatabaseFile(database);
    connection_.Connect();
    transaction_.BindDatabase(connection_);
    update_.BindTransaction(transaction_);
    transaction_.BeginTransaction();
    update_.AddSqlLine(update);
    update_.Execute();
}

HeldRow::~HeldRow() {
    try {
        Release();
    } catch (const std::exception&) {
    }
}

void HeldRow::Release() {
    if (transaction_.IsActive()) transaction_.CommitTransaction();
}

void HeldRow::During(const std::function<void()>& work, std::chrono::milliseconds holdFor) {
    std::mutex mutex;
    std::condition_variable ended;
    bool workEnded = false;
    std::thread fallback([&] {
        std::unique_lock lock(mutex);
        if (ended.wait_for(lock, holdFor, [&] { return workEnded; })) return;
        gaveUp_ = true;
        Release();
    });
    auto finish = [&] {
        {
            std::lock_guard lock(mutex);
            workEnded = true;
        }
        ended.notify_one();
        fallback.join();
    };
    try {
        work();
    } catch (...) {
        finish();
        throw;
    }
    finish();
    Release();
}

bool AwaitWaitingStatement(const std::string& database, const std::string& textStart, std::chrono::seconds timeout) {
    Db monitor(database);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (monitor.Scalar("SELECT COUNT(*) FROM MON$STATEMENTS WHERE MON$STATE = 1 AND "
                          "MON$SQL_TEXT STARTING WITH '" + textStart + "'") == "0") {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace kestrix::test
