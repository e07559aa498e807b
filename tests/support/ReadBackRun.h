#pragma once
// A run of the run driver that reads its copies back, on a source and a destination database
// in a folder of its own: embedded, or through a private server when the test's parameter is
// true.
#include <chrono>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "app/RunDriver.h"
#include "db/Databases.h"
#include "support/Fixtures.h"
#include "support/Process.h"
#include "support/TestRunState.h"

namespace kestrix::test {

class ReadBackRunTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (GetParam()) server = std::make_unique<PrivateServer>();
        options.verify = true;
        options.sourceName = Name("source.fdb");
        options.destName = Name("dest.fdb");
        driver.Control().postScriptPause = std::chrono::milliseconds(0);
    }
    // The database file of the folder under the name the run uses for it.
    std::string Name(const std::string& file) const { return server ? server->Remote(dir.File(file)) : dir.File(file); }

    TempDir dir;
    std::string appDir = dir.File("app");
    std::unique_ptr<PrivateServer> server;
    TestRunState state;
    RunOptions options;
    db::Databases dm;
    RunDriver driver{state, dm};
};

} // namespace kestrix::test
