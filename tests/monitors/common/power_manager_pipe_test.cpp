// The power manager's sleep handshake, with a stand-in power manager on the test thread and the
// controller's side played by the test: in real (bounded) time where the controller answers,
// in simulated time where the 30-second wait runs out.
#include "monitors/common/power_manager_pipe.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "fakes/fake_os.h"
#include "os/object_security.h"
#include "platform/agent_event_ids.h"

namespace orv::service {
namespace {

using namespace std::chrono_literals;

class PowerManagerPipeTest : public ::testing::Test {
 protected:
  explicit PowerManagerPipeTest(bool simulated = false, bool controllerRuns = true)
      : os(simulated), controllerRuns_(controllerRuns) {}

  void SetUp() override {
    stop = os.sync.NewEvent(os::EventReset::Manual, "").take();
    // The controller's twelfth event, which the pipe thread opens by name.
    if (controllerRuns_) notification = os.sync.NewEvent(os::EventReset::Manual, kPowerNotificationEvent).take();
    ASSERT_TRUE(stop && (notification || !controllerRuns_));
  }

  void Start() {
    thread = std::thread([this] { RunPowerManagerPipe(os.pipes, os.sync, *stop, log, timing); });
  }

  void TearDown() override {
    if (stop) stop->Set();
    if (thread.joinable()) thread.join();
  }

  // The stand-in power manager: connects (waiting for the pipe to appear), says `message`,
  // and returns the answer.
  std::unique_ptr<os::PipeEnd> ConnectClient() {
    for (int i = 0; i < 200; ++i) {
      if (auto client = os.pipes.Connect(kPowerManagerPipeName, 100)) return std::move(client).take();
      std::this_thread::sleep_for(10ms);
    }
    return nullptr;
  }
  std::string Ask(std::string_view message) {
    auto client = ConnectClient();
    if (!client) return "<no pipe>";
    if (client->Write(PowerManagerText(message)) != os::kSuccess) return "<write failed>";
    std::vector<std::uint8_t> answer;
    if (client->Read(answer, 512, 20000) != os::kSuccess) return "<no answer>";
    std::string text;
    for (std::size_t i = 0; i + 1 < answer.size(); i += 2) text.push_back(static_cast<char>(answer[i]));
    if (answer.size() % 2 != 0) text += "<odd>";
    return text;
  }

  bool WaitForNotification() {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!os.sync.IsNamedEventSet(kPowerNotificationEvent)) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  // The controller's side: once the notification is set, writes its report and returns.
  std::thread Controller(bool reportWritten) {
    return std::thread([this, reportWritten] {
      WaitForNotification();
      notification->Reset();
      if (reportWritten) os.sync.SetNamedEvent(kPowerNotificationReturnEvent);
    });
  }

  fakes::FakeOs os;
  AgentEventLog log{os.eventReporter, os.system};
  PowerManagerPipeTiming timing{30000, 20, 20};
  std::unique_ptr<os::Event> stop;
  std::unique_ptr<os::Event> notification;
  std::thread thread;

 private:
  bool controllerRuns_;
};

// The message is compared over the length of the hibernate text only.
TEST_F(PowerManagerPipeTest, HibernateIsAnsweredOnceTheControllerReported) {
  Start();
  for (const char* message : {"SVCPOWMGR_Hibernate", "SVCPOWMGR_HibernateNow"}) {
    SCOPED_TRACE(message);
    std::thread controller = Controller(true);
    EXPECT_EQ(Ask(message), "SVCPOWMGR_Hibernate");
    controller.join();
    // The return event is left clear for the next announcement.
    EXPECT_FALSE(os.sync.IsNamedEventSet(kPowerNotificationReturnEvent));
  }
  EXPECT_EQ(os.sync.namedEventSecurity.at(std::string(kPowerNotificationReturnEvent)), os::kSystemAndAdminsEvent);
}

// A return event another user created before the agent could be set by that user to make the
// power manager believe a report was written: it is not used, and the pipe is not served.
TEST_F(PowerManagerPipeTest, AReturnEventAnotherUserCreatedIsNotTrusted) {
  os.sync.namedEventOwners[std::string(kPowerNotificationReturnEvent)] = "S-1-5-21-7-8-9-1001";
  auto planted = os.sync.NewEvent(os::EventReset::Manual, kPowerNotificationReturnEvent).take();
  ASSERT_TRUE(planted);
  RunPowerManagerPipe(os.pipes, os.sync, *stop, log, timing);  // returns at once
  EXPECT_EQ(os.pipes.ServersCreated(kPowerManagerPipeName), 0);
  const auto entries = os.eventReporter.Entries();
  ASSERT_EQ(entries.size(), 1U);
  EXPECT_EQ(entries[0].eventId, event_id::kUntrustedNamedEvent);
  EXPECT_EQ(entries[0].text,
            "名前付きイベント「SVCPOWMGR_NotificationReturn」は別のユーザー (S-1-5-21-7-8-9-1001) が作成したため使用しません。");
}

TEST_F(PowerManagerPipeTest, OtherMessagesGetTheErrorWithoutWakingTheController) {
  Start();
  EXPECT_EQ(Ask("SVCPOWMGR_Hiber"), "SVCPOWMGR_HibernateNotificationError");
  EXPECT_FALSE(os.sync.IsNamedEventSet(kPowerNotificationEvent));
}

class PowerManagerPipeWithoutControllerTest : public PowerManagerPipeTest {
 protected:
  PowerManagerPipeWithoutControllerTest() : PowerManagerPipeTest(false, false) {}
};

TEST_F(PowerManagerPipeWithoutControllerTest, NoControllerEventMeansError) {
  Start();
  EXPECT_EQ(Ask("SVCPOWMGR_Hibernate"), "SVCPOWMGR_HibernateNotificationError");
}

// The one instance is kept and reconnected, so the name is never free for another program to
// take; it admits only SYSTEM and Administrators on this machine.
TEST_F(PowerManagerPipeTest, ABrokenClientIsDroppedAndTheNextOneServedOnTheSameInstance) {
  Start();
  {
    auto client = ConnectClient();
    ASSERT_TRUE(client);
    ASSERT_EQ(client->Write(PowerManagerText("SVCPOWMGR_Suspend")), os::kSuccess);
    std::vector<std::uint8_t> answer;
    ASSERT_EQ(client->Read(answer, 512, 20000), os::kSuccess);
  }  // gone while the agent waits for its next message
  std::thread controller = Controller(true);
  EXPECT_EQ(Ask("SVCPOWMGR_Hibernate"), "SVCPOWMGR_Hibernate");
  controller.join();
  EXPECT_EQ(os.pipes.ServersCreated(kPowerManagerPipeName), 1);
  std::lock_guard lock(os.pipes.mutex);
  const auto& created = os.pipes.serverCreations.at(0);
  EXPECT_EQ(created.securityDescriptor, os::kSystemAndAdminsPipe);
  EXPECT_TRUE(created.rejectRemoteClients && created.firstInstance);
}

// The stop event here is auto-reset, so the handshake's wait consumes it: the thread must still end.
TEST_F(PowerManagerPipeTest, StopEndsTheThreadEvenDuringTheThirtySecondWait) {
  stop = os.sync.NewEvent(os::EventReset::Auto, "").take();
  ASSERT_TRUE(stop);
  std::promise<void> ended;
  std::future<void> threadEnded = ended.get_future();
  thread = std::thread([this, &ended] {
    RunPowerManagerPipe(os.pipes, os.sync, *stop, log, timing);
    ended.set_value();
  });
  auto client = ConnectClient();
  ASSERT_TRUE(client);
  ASSERT_EQ(client->Write(PowerManagerText("SVCPOWMGR_Hibernate")), os::kSuccess);
  ASSERT_TRUE(WaitForNotification());
  stop->Set();
  // Well under the 30 s the controller is given for its report: the stop does not wait for it.
  ASSERT_EQ(threadEnded.wait_for(15s), std::future_status::ready) << "still serving after the stop";
  thread.join();
  EXPECT_FALSE(os.pipes.IsServed(kPowerManagerPipeName)) << "the pipe exists only while the thread runs";
  std::vector<std::uint8_t> answer;
  // Answered with the error, or dropped: never left hanging.
  const os::OsError read = client->Read(answer, 512, 1000);
  if (read == os::kSuccess) EXPECT_EQ(answer, PowerManagerText("SVCPOWMGR_HibernateNotificationError"));
  else EXPECT_EQ(read, os::kErrorBrokenPipe);
}

// Another program serving the name first is never joined; the agent retries until it is gone.
TEST_F(PowerManagerPipeTest, PipeCreationFailureIsRetriedUntilStopped) {
  auto planted = os.pipes.CreateServer(kPowerManagerPipeName).take();
  ASSERT_TRUE(planted);
  Start();
  for (int i = 0; i < 1000; ++i) {
    {
      std::lock_guard lock(os.pipes.mutex);
      if (os.pipes.serverCreations.size() >= 2) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  planted.reset();
  std::thread controller = Controller(true);
  EXPECT_EQ(Ask("SVCPOWMGR_Hibernate"), "SVCPOWMGR_Hibernate");
  controller.join();
}

class PowerManagerPipeSimulatedTest : public PowerManagerPipeTest {
 protected:
  PowerManagerPipeSimulatedTest() : PowerManagerPipeTest(true) {}
};

TEST_F(PowerManagerPipeSimulatedTest, UnwrittenReportIsAnsweredWithTheErrorAfterThirtySeconds) {
  Start();
  const std::uint64_t before = os.clock.MillisecondsSinceStart();
  EXPECT_EQ(Ask("SVCPOWMGR_Hibernate"), "SVCPOWMGR_HibernateNotificationError");
  EXPECT_EQ(os.clock.MillisecondsSinceStart() - before, 30000u);
  EXPECT_TRUE(os.sync.IsNamedEventSet(kPowerNotificationEvent));
}

TEST_F(PowerManagerPipeSimulatedTest, ALateReturnFromAnEarlierAnnouncementDoesNotCount) {
  Start();
  ASSERT_TRUE(ConnectClient() != nullptr);
  // The controller answered after the previous announcement had already timed out.
  os.sync.SetNamedEvent(kPowerNotificationReturnEvent);
  EXPECT_EQ(Ask("SVCPOWMGR_Hibernate"), "SVCPOWMGR_HibernateNotificationError");
}

}  // namespace
}  // namespace orv::service
