// The master data module: the posted close box and the shutdown pause.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "messaging/MasterModule.h"
#include "support/Fixtures.h"

namespace kestrix::messaging {
namespace {

TEST(MasterModule, OnlyAPostedCloseRequestShowsTheBoxAndNothingIsHandled) {
    MasterModule master;
    master.Sleep = nullptr;
    std::vector<std::string> shown;
    master.ShowMessage = [&](const std::string& text) { shown.push_back(text); };

    master.aeMessage(kWmClose, false);
    master.aeMessage(kEventNotice, true);
    master.aeMessage(15, true);
    EXPECT_TRUE(shown.empty());
    master.aeMessage(kWmClose, true);
    EXPECT_EQ(shown, std::vector<std::string>{"Wm_Close"});
}

TEST(MasterModule, ShutdownPausesOneSecondOnceAndLeavesTheWorkLockUsable) {
    std::chrono::steady_clock::duration took{};
    {
        MasterModule master;
        auto start = std::chrono::steady_clock::now();
        master.DataModuleDestroy();
        took = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(master.Destroyed());
        start = std::chrono::steady_clock::now();
        master.DataModuleDestroy();   // and the destructor: no second pause
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    }
    EXPECT_GE(took, std::chrono::milliseconds(1000));
    EXPECT_TRUE(test::WorkLockFree());
}

TEST(MasterModule, DestructionRunsTheShutdownSequence) {
    std::vector<std::chrono::milliseconds> pauses;
    {
        MasterModule master;
        master.Sleep = [&](std::chrono::milliseconds pause) { pauses.push_back(pause); };
    }
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(1000)});
}

} // namespace
} // namespace kestrix::messaging
