#include <thread>

#include <gtest/gtest.h>

#include "db/Databases.h"
#include "db/Work.h"
#include "support/Fixtures.h"
#include "transfer/OwnerPhoto.h"

namespace kestrix::transfer {
namespace {

using test::CreateDatabase;
using test::TempDir;

using test::WorkLockFree;

bool Probe(const std::string& script) {
    TempDir dir;
    CreateDatabase(dir.File("p.fdb"), script);
    db::Databases dm;
    dm.DestinationConnection().SetDatabaseFile(dir.File("p.fdb"));
    dm.DestinationConnection().Connect();
    bool answer = ProbeOwnerPhotos(dm.Destination());
    EXPECT_TRUE(WorkLockFree());
    EXPECT_FALSE(dm.Destination().statement.CursorOpen());
    EXPECT_FALSE(dm.Destination().transaction.IsActive());
    return answer;
}

TEST(OwnerPhotoProbe, AnswersWhetherTheTableRuns) {
    EXPECT_TRUE(Probe("CREATE TABLE OWNERPHOTOS (OW_ID INTEGER, PHOTO BLOB);"));
    EXPECT_TRUE(Probe("CREATE TABLE OWNERPHOTOS (OW_ID INTEGER);\nINSERT INTO OWNERPHOTOS VALUES (1);"));
    EXPECT_FALSE(Probe("CREATE TABLE OWNERPHOTOS (OWNER_ID INTEGER);"));
    EXPECT_FALSE(Probe("CREATE TABLE OWNER (OW_ID INTEGER);"));
}

TEST(OwnerPhotoProbe, ClosedConnectionAnswersFalse) {
    db::Databases dm;
    EXPECT_FALSE(ProbeOwnerPhotos(dm.Source()));
    EXPECT_TRUE(WorkLockFree());
}

} // namespace
} // namespace kestrix::transfer
