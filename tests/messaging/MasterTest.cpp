// The master data module: the posted close box and the shutdown pause.
#include <chrono>
#include <vector>

#include <gtest/gtest.h>

#include "messaging/MasterModule.h"
#include "support/Fixtures.h"

namespace kestrix::messaging {
namespace {

TEST(MasterModule, OnlyAPostedCloseRequestShowsTheBox) {
    MasterModule master;
    master.ShutdownPause = {};
    std::vector<std::string> shown;
    master.ShowMessage = [&](const std::string& text) { shown.push_back(text); };

    master.aeMessage(kWmClose, false);
    master.aeMessage(kEventNotice, true);
    master.aeMessage(15, true);
    EXPECT_TRUE(shown.empty());
    master.aeMessage(kWmClose, true);
    EXPECT_EQ(shown, std::vector<std::string>{"Wm_Close"});
}

// Only a lower bound: a shared machine may take longer than the pause.
TEST(MasterModule, DestructionPausesOneSecondAndLeavesTheWorkLockUsable) {
    const auto start = std::chrono::steady_clock::now();
    { MasterModule master; }
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_TRUE(test::WorkLockFree());
}

} // namespace
} // namespace kestrix::messaging
