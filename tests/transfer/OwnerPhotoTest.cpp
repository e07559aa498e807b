#include <thread>

#include <gtest/gtest.h>

#include "db/DMUnit1.h"
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
    db::TDM1 dm;
    dm.IBDatabase1.SetDatabaseFile(dir.File("p.fdb"));
    dm.IBDatabase1.Connect();
    bool answer = UstNalOwnerPhoto(dm.Destination());
    EXPECT_TRUE(WorkLockFree());
    EXPECT_FALSE(dm.IBSQL3.CursorOpen());
    EXPECT_FALSE(dm.IBTransaction1.IsActive());
    return answer;
}

TEST(OwnerPhotoProbe, AnswersWhetherTheTableRuns) {
    EXPECT_TRUE(Probe("CREATE TABLE OWNERPHOTOS (OW_ID INTEGER, PHOTO BLOB);"));
    EXPECT_TRUE(Probe("CREATE TABLE OWNERPHOTOS (OW_ID INTEGER);\nINSERT INTO OWNERPHOTOS VALUES (1);"));
    EXPECT_FALSE(Probe("CREATE TABLE OWNERPHOTOS (OWNER_ID INTEGER);"));
    EXPECT_FALSE(Probe("CREATE TABLE OWNER (OW_ID INTEGER);"));
}

TEST(OwnerPhotoProbe, ClosedConnectionAnswersFalse) {
    db::TDM1 dm;
    EXPECT_FALSE(UstNalOwnerPhoto(dm.Source()));
    EXPECT_TRUE(WorkLockFree());
}

TEST(OwnerPhotoProbe, BindsTheGivenObjects) {
    TempDir dir;
    CreateDatabase(dir.File("p.fdb"), "CREATE TABLE OWNERPHOTOS (OW_ID INTEGER);");
    db::TDM1 dm;
    dm.IBDatabase2.SetDatabaseFile(dir.File("p.fdb"));
    dm.IBDatabase2.Connect();
    EXPECT_TRUE(UstNalOwnerPhoto({dm.IBSQL4, dm.IBTransaction2, dm.IBDatabase2}));
    EXPECT_EQ(dm.IBSQL4.GetTransaction(), &dm.IBTransaction2);
    EXPECT_EQ(dm.IBSQL4.SqlText(), "SELECT OW_ID FROM OWNERPHOTOS \r\nWHERE OW_ID = 1\r\n");
}

} // namespace
} // namespace kestrix::transfer
