#include "monitors/common/drive_watcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/watcher_thread.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using fakes::FakeWmiEvent;

FakeWmiEvent DriveEvent(const char* eventClass, const char* caption) {
  return {{{"__CLASS", eventClass}}, fakes::FakeWmiInstance{{"Caption", caption}}};
}

class DriveWatcherTest : public ::testing::Test {
 protected:
  std::vector<testing::Notice> Drain() { return testing::DrainNotices(queue); }
  void StartWatcher() {
    ASSERT_TRUE(watcher.Start(os.sync, [ports = os.Ports(), this](os::Event& stop) {
      RunDriveWatcher(ports, stop, queue);
    }));
  }
  bool WaitForSubscriptions(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (os.wmi.subscriptions() != count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return os.wmi.subscriptions() == count;
  }

  fakes::FakeOs os;
  EventQueue queue;
  WatcherThread watcher;
};

TEST_F(DriveWatcherTest, ConnectedAndRemovedDrivesArePostedAndVirtualDisksSkippedAlone) {
  StartWatcher();
  ASSERT_TRUE(WaitForSubscriptions(1));
  EXPECT_THAT(os.wmi.Queries(), ElementsAre(std::string(kDriveEventQuery)));

  EXPECT_EQ(os.wmi.Deliver({DriveEvent("__InstanceCreationEvent", "Microsoft Virtual Disk"),
                            DriveEvent("__InstanceCreationEvent", "BUFFALO USB Flash Disk USB Device"),
                            DriveEvent("__InstanceModificationEvent", "BUFFALO USB Flash Disk USB Device"),
                            DriveEvent("__InstanceDeletionEvent", "HL-DT-ST DVDRAM GP57EB40")}),
            1);
  EXPECT_THAT(Drain(),
              ElementsAre(testing::Notice{act_id::kDriveConnected, "BUFFALO USB Flash Disk USB Device", "BUFFALO USB Flash Disk USB Deviceが接続されました。"},
                          testing::Notice{act_id::kDriveRemoved, "HL-DT-ST DVDRAM GP57EB40", "HL-DT-ST DVDRAM GP57EB40が取り外されました。"}));

  EXPECT_TRUE(watcher.Stop());
  EXPECT_EQ(os.wmi.subscriptions(), 0) << "the query is cancelled";
  EXPECT_EQ(os.wmi.openObjects(), 0);
  EXPECT_EQ(os.wmi.releasedAfterLeaving(), 0) << "cancelled before COM was left";
  EXPECT_EQ(os.wmi.Deliver({DriveEvent("__InstanceCreationEvent", "Late")}), 0);
  EXPECT_THAT(Drain(), IsEmpty());
}

TEST_F(DriveWatcherTest, AWatcherWithoutItsQueryLetsGoOfWmiAtOnceAndItsStopFindsItEnded) {
  os.wmi.failures.subscribe = os::kWmiAccessDenied;
  StartWatcher();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const auto released = [&] { return !os.wmi.Queries().empty() && os.wmi.openApartments() == 0; };
  while (!released() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(released()) << "the query was asked for and everything let go before any stop";
  EXPECT_TRUE(watcher.Stop());
}

}  // namespace
}  // namespace orv
