#include "model/CatalogTestSupport.h"

#include <gtest/gtest.h>

// What the interface may know of a connection's libpq handle is taken on the
// connection's queue at each state change; the main thread never reads PQdb.
TEST(ConnectionHandleInfo, FollowsTheHandleAsOfTheLastStateChange) {
    auto server = connectedServer(QStringLiteral("postgres"));
    const ZNTConnection::HandleInfo connected = server->mainConnection()->handleInfo();
    EXPECT_TRUE(connected.exists);
    EXPECT_EQ(connected.databaseName, QStringLiteral("postgres"));

    // Refused before libpq is asked: there never is a handle.
    auto refused = ZNTConnection::create({{"host", "/tmp"}, {"dbname", "shop"}});
    refused->connectInBackground();
    ASSERT_TRUE(pumpUntil([&] { return refused->state() == ZNTConnection::ZNTConnectionStateFailed; }));
    EXPECT_FALSE(refused->handleInfo().exists);
    EXPECT_TRUE(refused->handleInfo().databaseName.isNull());
}
