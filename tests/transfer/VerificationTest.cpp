// The read-back of a run on the sample installation: what the run copied is found as copied,
// and a destination changed behind the run's back between the copy and the read-back is
// reported at the right key and column, embedded and through a server with blocks.
#include <filesystem>

#include <gtest/gtest.h>

#include "app/StartupChecks.h"
#include "support/Fixtures.h"
#include "support/ReadBackRun.h"
#include "support/Sample.h"

namespace kestrix {
namespace {

using test::Db;
using test::TempDir;

class VerificationTest : public test::ReadBackRunTest {
protected:
    void SetUp() override {
        ReadBackRunTest::SetUp();
        test::MakeSampleSource(dir.File("source.fdb"));
        test::MakeSampleDest(dir.File("dest.fdb"));
        std::filesystem::create_directories(appDir);
        test::CopySampleAppDir(appDir);
        ASSERT_EQ(RunStartupChecks(state, options, appDir), std::nullopt);
        options.events = true;
        options.startDate = db::DateTime{2026, 1, 1, 0, 0, 0, 0};
    }

    const TableAccount& Table(const std::string& name) const {
        for (const TableAccount& t : state.Account().Tables())
            if (t.table == name && t.verification) return t;
        throw std::runtime_error("no read-back of " + name);
    }
};

TEST_P(VerificationTest, ChangesBehindTheRunsBackAreReportedAtTheirKeyAndColumn) {
    struct Change {
        const char* table;
        const char* column;   // "" for a row deleted
        std::string key;      // the source key reported
    };
    std::vector<Change> changes;
    driver.Control().beforeReadBack = [&] {
        // A second attachment, as another program would change the destination.
        Db other(Name("dest.fdb"));
        const std::string oldHost = driver.Maps().OldIds(kHosts).front();
        const std::string newHost = driver.Maps().NewIds(kHosts).front();
        other.Exec("UPDATE HOSTS SET HS_NAME = 'changed' WHERE HS_ID = " + newHost);
        changes.push_back({"HOSTS", "HS_NAME", oldHost});
        const std::string owner = other.Scalar("SELECT MIN(OW_ID) FROM OWNERPHOTOS WHERE OW_PHOTO IS NOT NULL");
        other.Exec("UPDATE OWNERPHOTOS SET OW_PHOTO = OVERLAY(OW_PHOTO PLACING 'x' FROM 3) WHERE OW_ID = " + owner);
        changes.push_back({"OWNERPHOTOS", "OW_PHOTO", owner});
        const std::string event = other.Scalar("SELECT MAX(EV_ID) FROM EVENTS");
        other.Exec("DELETE FROM EVENTS WHERE EV_ID = " + event);
        changes.push_back({"EVENTS", "", event});
    };
    driver.Run(options);
    ASSERT_EQ(changes.size(), 3u);

    int verifiedTables = 0, verifiedRows = 0;
    for (const TableAccount& t : state.Account().Tables()) {
        if (!t.verification) continue;
        ++verifiedTables;
        verifiedRows += t.verification->verified;
        const bool changed = std::any_of(changes.begin(), changes.end(), [&](const Change& c) { return t.table == c.table; });
        EXPECT_EQ(t.verification->differ, changed ? 1 : 0) << t.table;
    }
    EXPECT_EQ(verifiedTables, static_cast<int>(driver.Copies().size()));
    EXPECT_GT(verifiedRows, 250);
    for (const Change& c : changes) {
        SCOPED_TRACE(c.table);
        const TableVerification& v = *Table(c.table).verification;
        ASSERT_EQ(v.listed.size(), 1u);
        EXPECT_EQ(v.listed[0].key, c.key);
        EXPECT_EQ(v.listed[0].column, c.column);
        EXPECT_NE(v.listed[0].source, v.listed[0].destination);
    }
    EXPECT_EQ(Table("HOSTS").verification->listed[0].destination, "'changed'");
    EXPECT_EQ(state.Account().Differ(), 3);
}

INSTANTIATE_TEST_SUITE_P(Routes, VerificationTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Server" : "Embedded"; });

} // namespace
} // namespace kestrix
