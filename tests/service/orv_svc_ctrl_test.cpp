#include "platform/agent_event_ids.h"
#include "service/orv_svc_ctrl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "fakes/fake_os.h"
#include "os/object_security.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "service/program_entry.h"
#include "service/service_identity.h"

namespace orv {
namespace {

// The whole service as the control manager starts it: the program entry on its own thread,
// controls from the test.
class ServiceRunTest : public ::testing::Test {
 protected:
  ServiceRunTest() {
    os.files.AddDirectory("C:\\orvsvc");
    os.registry.AddKey(kStatusKey);
  }
  void Start() {
    program_ = std::thread([this] { exitCode_ = RunProgram(os.Ports(), "C:\\orvsvc\\ORVSVC.exe"); });
    ASSERT_TRUE(os.serviceHost.WaitForState(kServiceRunning));
  }
  void StopAndJoin() {
    os.serviceHost.SendControl(kControlStop);
    program_.join();
  }
  ~ServiceRunTest() override {
    if (program_.joinable()) StopAndJoin();
  }

  fakes::FakeOs os;
  std::thread program_;
  int exitCode_ = -1;
};

TEST_F(ServiceRunTest, StartsRunningLogsItsStartAndStopsCleanly) {
  // Installed by an older agent: the system's default list, which lets users send controls.
  os.serviceManager.services[std::string(kServiceName)];
  Start();
  EXPECT_EQ(os.serviceManager.services.at(std::string(kServiceName)).security.sddl, os::kServiceDacl)
      << "narrowed before the service reports running";
  EXPECT_EQ(os.serviceHost.LastStatus().controlsAccepted, 0x14DU);
  ASSERT_TRUE(os.eventReporter.WaitForEntries(3));
  EXPECT_EQ(os.eventReporter.Entries()[0].text, "Orvaneエージェントサービスが開始しました。");

  StopAndJoin();
  EXPECT_EQ(exitCode_, 0);
  EXPECT_TRUE(os.files.DirectoryExists("C:\\orvsvc\\MessagePool"));
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\ORVCONFIG.xml"));
  EXPECT_EQ(os.eventReporter.Ids(), (std::vector<std::uint32_t>{event_id::kServiceStarted, event_id::kStartupCheckStarted, event_id::kUnregistered}))
      << "started, checked its registration, found itself unregistered; nothing failed";
  const auto statuses = os.serviceHost.Statuses();
  std::vector<std::uint32_t> states;
  for (const auto& status : statuses) states.push_back(status.currentState);
  EXPECT_EQ(states, (std::vector<std::uint32_t>{kServiceStartPending, kServiceRunning,
                                                kServiceStopPending, kServiceStopped}));
  EXPECT_EQ(statuses[2].checkPoint, 1U);
  EXPECT_EQ(statuses[2].waitHint, 6000U);
  EXPECT_EQ(statuses[3].win32ExitCode, 0U);
}

// WinHTTP's own time-outs add up to minutes; a stop cancels the exchange instead.
TEST_F(ServiceRunTest, AStopEndsARequestTheCloudNeverAnswers) {
  const std::vector<std::uint8_t> id(16, 0x5A);
  RegHandle::SetBinary(os.registry, os::RegistryRoot::LocalMachine, kStatusKey, "DEVICEID", id);
  std::atomic<bool> asked{false};
  os.http.handler = [this, &asked](const os::HttpRequest&, os::HttpResponse&, os::OsError&) {
    asked = true;
    os.http.HangUntilCancelled();
    return false;
  };
  Start();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!asked && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(asked);
  StopAndJoin();
  // Without the cancel the exchange would have ended only at the fake server's own bound.
  EXPECT_TRUE(os.http.IsCancelled()) << "the stop cancelled the exchange";
  EXPECT_EQ(exitCode_, 0);
  EXPECT_EQ(os.serviceHost.LastStatus().currentState, kServiceStopped);
  for (const auto& entry : os.eventReporter.Entries()) {
    EXPECT_NE(entry.kind, os::EventKind::Error) << "a cancelled request is no failure: " << entry.text;
  }
}

// After a pre-shutdown the worker keeps waiting, so the framework's clean-up gives it its
// 10 s. The fake join waits that long in real time too (its grace for a slow machine) before
// the clock passes them, hence the longer bound here.
TEST(ServicePreShutdown, StopsTheServiceLikeAStopAfterTheWorkerGrace) {
  fakes::FakeOs os(/*simulatedTime=*/true);
  std::thread program([&os] { RunProgram(os.Ports(), "ORVSVC.exe"); });
  ASSERT_TRUE(os.serviceHost.WaitForState(kServiceRunning));
  os.serviceHost.SendControl(kControlPreShutdown);
  ASSERT_TRUE(os.serviceHost.WaitForState(kServiceStopped, std::chrono::seconds(120)));
  program.join();
  EXPECT_EQ(os.serviceHost.LastStatus().currentState, kServiceStopped);
  EXPECT_GE(os.clock.MillisecondsSinceStart(), 10'000U);
}

// Asked of the controller directly: in a running service the loop resets a handled control's
// event on its own thread, so the set state could be gone before a test looked.
// The event is the agent's own: one another user created first (and could set at will to make
// the agent write sleep reports) is logged and not waited on.
TEST(ServiceControls, ThePowerManagerEventIsTheAgentsOwnAndUserControlSetsIt) {
  for (const bool planted : {false, true}) {
    SCOPED_TRACE(planted ? "created first by another user" : "created by the agent");
    fakes::FakeOs os;
    std::unique_ptr<os::Event> plantedEvent;
    if (planted) {
      os.sync.namedEventOwners["SVCPOWMGR_Notification"] = "S-1-5-21-7-8-9-1001";
      plantedEvent = os.sync.NewEvent(os::EventReset::Manual, "SVCPOWMGR_Notification").take();
    }
    CORVSvcCtrl controller(os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess);
    controller.Init();
    EXPECT_FALSE(os.sync.IsNamedEventSet("SVCPOWMGR_Notification"));
    controller.OnUserControl(135, 0, nullptr);
    EXPECT_EQ(os.sync.IsNamedEventSet("SVCPOWMGR_Notification"), !planted);
    if (planted) {
      EXPECT_EQ(os.eventReporter.Ids(), std::vector<std::uint32_t>{event_id::kUntrustedNamedEvent});
    } else {
      EXPECT_TRUE(os.eventReporter.Entries().empty());
      EXPECT_EQ(os.sync.namedEventSecurity.at("SVCPOWMGR_Notification"), os::kSystemAndAdminsEvent);
    }
  }
}

}  // namespace
}  // namespace orv
