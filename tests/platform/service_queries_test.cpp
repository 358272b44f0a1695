#include "platform/service_queries.h"

#include <gtest/gtest.h>

#include "fakes/fake_service_manager.h"
#include "service/service_identity.h"

namespace orv {
namespace {

class ServiceQueriesTest : public ::testing::Test {
 protected:
  ServiceQueriesTest() {
    fakes::FakeService companion;
    companion.status.currentState = kServiceRunning;
    companion.config.startType = 3;
    manager.services["CompanionSvc"] = companion;
  }
  fakes::FakeServiceManager manager;
};

TEST_F(ServiceQueriesTest, AnswersForAnInstalledServiceAndZeroWithTheSystemErrorOtherwise) {
  os::OsError error = 99;
  EXPECT_EQ(QueryServiceState(manager, "CompanionSvc", &error), kServiceRunning);
  EXPECT_EQ(error, 0U);
  EXPECT_TRUE(IsServiceRunning(manager, "CompanionSvc"));
  EXPECT_EQ(QueryStartType(manager, "CompanionSvc"), 3U);
  EXPECT_TRUE(IsServiceInstalled(manager, "CompanionSvc"));
  os::ServiceConfig config;
  manager.openAccesses.clear();
  EXPECT_TRUE(ReadServiceConfig(manager, "CompanionSvc", config, &error));
  EXPECT_EQ(config.startType, 3U);
  EXPECT_EQ(manager.openAccesses, std::vector<std::uint32_t>{os::kServiceQueryConfig}) << "reading needs no more";
  // Every query opens the control manager for execution only, and closes what it opened.
  for (const std::uint32_t access : manager.connectAccesses) EXPECT_EQ(access, os::kGenericExecute);
  EXPECT_EQ(manager.openHandles, 0);

  EXPECT_EQ(QueryServiceState(manager, "Missing", &error), 0U);
  EXPECT_EQ(error, os::kErrorServiceDoesNotExist);
  EXPECT_FALSE(IsServiceRunning(manager, "Missing"));
  manager.connectError = os::kErrorAccessDenied;
  EXPECT_FALSE(IsServiceInstalled(manager, "CompanionSvc", &error));
  EXPECT_EQ(error, os::kErrorAccessDenied);
}

}  // namespace
}  // namespace orv
