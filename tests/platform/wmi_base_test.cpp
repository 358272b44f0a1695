#include "platform/wmi_base.h"

#include <gtest/gtest.h>

#include "fakes/fake_wmi.h"

namespace orv {
namespace {

constexpr std::string_view kBiosQuery = "SELECT * FROM Win32_BIOS";

class WmiBaseTest : public ::testing::Test {
 protected:
  WmiBaseTest() { wmi.AddInstance("Win32_BIOS", {{"SerialNumber", "S-1"}}); }
  fakes::FakeWmi wmi;
};

TEST_F(WmiBaseTest, QueriesReadEachInstanceAndKeepTheLastResult) {
  WmiBase base(wmi);
  ASSERT_TRUE(base.Connected());

  std::unique_ptr<os::WmiEnumerator> enumerator;
  ASSERT_TRUE(base.ExecQuery(kBiosQuery, enumerator));
  std::unique_ptr<os::WmiObject> object;
  ASSERT_TRUE(base.NextObject(enumerator.get(), object));
  std::string serial;
  EXPECT_EQ(object->GetText("SerialNumber", serial), os::kWmiOk);
  EXPECT_EQ(serial, "S-1");
  EXPECT_FALSE(base.NextObject(enumerator.get(), object));
  EXPECT_EQ(object, nullptr) << "the end leaves no stale instance behind";
  EXPECT_EQ(base.LastResult(), os::kWmiFalse);

  EXPECT_FALSE(base.ExecQuery("SELECT * FROM Win32_Nothing", enumerator));
  EXPECT_EQ(enumerator, nullptr);
  EXPECT_EQ(base.LastResult(), os::kWmiInvalidClass);

  // A hung provider costs one deadline and counts as a failure.
  wmi.Hang("Win32_BIOS");
  ASSERT_TRUE(base.ExecQuery(kBiosQuery, enumerator));
  EXPECT_FALSE(base.NextObject(enumerator.get(), object));
  EXPECT_EQ(base.LastResult(), os::kWmiTimedOut);
  EXPECT_EQ(wmi.Timeouts(), std::vector<std::uint32_t>(3, 10'000U));
}

TEST_F(WmiBaseTest, ConnectingStopsAtTheFirstFailedStepAndThenMakesNoCalls) {
  struct Case {
    os::WmiResult fakes::FakeWmi::Failures::*step;
    int callsMade;
    int apartmentsWhileAlive;
  };
  for (const Case& c : {Case{&fakes::FakeWmi::Failures::join, 1, 0},
                        Case{&fakes::FakeWmi::Failures::security, 2, 1},
                        Case{&fakes::FakeWmi::Failures::connect, 3, 1}}) {
    fakes::FakeWmi failing;
    failing.failures.*c.step = os::kWmiAccessDenied;
    {
      WmiBase base(failing);
      EXPECT_FALSE(base.Connected());
      EXPECT_EQ(base.LastResult(), os::kWmiAccessDenied);
      EXPECT_EQ(failing.calls(), c.callsMade);
      EXPECT_EQ(failing.openApartments(), c.apartmentsWhileAlive);
      std::unique_ptr<os::WmiEnumerator> enumerator;
      EXPECT_FALSE(base.ExecQuery(kBiosQuery, enumerator));
      EXPECT_EQ(failing.calls(), c.callsMade);
    }
    EXPECT_EQ(failing.openApartments(), 0) << "left exactly when joining worked";
  }
}

TEST_F(WmiBaseTest, NestedJoinsBalanceAndEverythingIsReleasedBeforeCOMIsLeft) {
  {
    WmiBase base(wmi);
    WmiBase second(wmi);  // same thread: S_FALSE, and RPC_E_TOO_LATE for the security
    EXPECT_TRUE(second.Connected());
    EXPECT_EQ(wmi.openApartments(), 2);
  }
  EXPECT_EQ(wmi.openApartments(), 0);
  {
    WmiBase base(wmi);
    EXPECT_EQ(wmi.openObjects(), 1);
    // Connecting elsewhere drops the earlier connection; a failure leaves none behind.
    EXPECT_FALSE(base.Connect("root\\nothing"));
    EXPECT_FALSE(base.Connected());
    EXPECT_EQ(base.LastResult(), os::kWmiInvalidNamespace);
    EXPECT_EQ(wmi.openObjects(), 0);
  }
  EXPECT_EQ(wmi.openObjects(), 0);
  EXPECT_EQ(wmi.openApartments(), 0);
  EXPECT_EQ(wmi.releasedAfterLeaving(), 0);
  wmi.failures.security = os::kWmiChangedMode;
  EXPECT_FALSE(WmiBase(wmi).Connected()) << "any other security failure still fails";
}

}  // namespace
}  // namespace orv
