#include "service/svs_base.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

#include "fakes/fake_os.h"
#include "service/service_identity.h"
#include "service/service_instance.h"

namespace orv {
namespace {

using fakes::FatalExitCalled;
using SvsFieldList = std::vector<std::uint32_t>;

// A status as its seven fields, in SERVICE_STATUS order: type, state, controls accepted, the two
// exit codes, checkpoint, wait hint.
SvsFieldList SvsFields(const os::ServiceStatusRecord& s) {
  return {s.serviceType, s.currentState, s.controlsAccepted, s.win32ExitCode, s.serviceSpecificExitCode,
          s.checkPoint, s.waitHint};
}

// A service whose body is the test itself, recording every framework call it receives.
class RecordingService : public SvsBase {
 public:
  RecordingService(const os::OsPorts& os, std::function<void(RecordingService&)> body)
      : SvsBase(os, kServiceName, kServiceDisplayName, kServiceWin32OwnProcess),
        body_(std::move(body)) {}

  void Init() override { Record("Init"); }
  void ParseArgs(const std::vector<std::string>& args) override {
    Record("ParseArgs:" + std::to_string(args.size()));
  }
  void Run() override {
    Record("Run");
    if (body_) body_(*this);
  }
  void OnStop() override { Record("OnStop"); }
  void OnPause() override { Record("OnPause"); }
  void OnContinue() override { Record("OnContinue"); }
  void OnUserControl(std::uint32_t control, std::uint32_t, void*) override {
    Record("OnUserControl:" + std::to_string(control));
  }

  std::vector<std::string> Calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // Bounded real-time wait for a call made on the worker thread.
  bool WaitForCall(const std::string& call) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
    });
  }

 private:
  void Record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
  }

  std::function<void(RecordingService&)> body_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
};

class SvsBaseTest : public ::testing::Test {
 protected:

  // Runs ServiceMain with `body` as the service body; the worker is real.
  void RunService(std::function<void(RecordingService&)> body) {
    service_ = std::make_unique<RecordingService>(os.Ports(), std::move(body));
    SetServiceInstance(service_.get());
    service_->ServiceMain({"ORVSVC", "/x"}, &ServiceControlCallback, &ServiceWorkerProc);
  }
  std::uint32_t Send(std::uint32_t control, std::uint32_t eventType = 0) {
    return os.serviceHost.SendControl(control, eventType);
  }
  std::vector<std::string> Calls() const { return service_->Calls(); }

  fakes::FakeOs os;
  std::unique_ptr<RecordingService> service_;
};

TEST_F(SvsBaseTest, ServiceMainRunsTheLifeOfTheServiceInOrder) {
  RunService([this](RecordingService& service) {
    EXPECT_EQ(os.serviceHost.registeredName, "ORVSVC");
    EXPECT_EQ(os.serviceHost.notificationsRegistered, 1);
    EXPECT_EQ(service.CurrentState(), kServiceStartPending);
    service.SetStatus(kServiceRunning, 0, 0, kAcceptStop);
    Send(kControlStop);
    ASSERT_TRUE(service.WaitForCall("OnStop"));
  });
  EXPECT_EQ(Calls(), (std::vector<std::string>{"ParseArgs:2", "Init", "Run", "OnStop"}));
  EXPECT_EQ(os.serviceHost.notificationsUnregistered, 1);

  const auto statuses = os.serviceHost.Statuses();
  ASSERT_EQ(statuses.size(), 3U);
  EXPECT_EQ(SvsFields(statuses[0]), (SvsFieldList{kServiceWin32OwnProcess, kServiceStartPending, 0, 0, 0, 1, 5000}));
  EXPECT_EQ(statuses[1].currentState, kServiceRunning);
  EXPECT_EQ(SvsFields(statuses[2]), (SvsFieldList{kServiceWin32OwnProcess, kServiceStopped, 0, 0, 0, 0, 0}));
}

TEST_F(SvsBaseTest, FrameworkFailuresEndTheProcessWithTheirErrorCode) {
  struct Case {
    const char* name;
    std::function<void(fakes::FakeOs&)> arrange;
    std::uint32_t code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"handler", [](fakes::FakeOs& o) { o.serviceHost.registerError = 5; }, 5,
       "RegisterServiceCtrlHandler failed: アクセスが拒否されました。"},
      {"status", [](fakes::FakeOs& o) { o.serviceHost.statusError = 6; }, 6,
       "SetServiceStatus failed: Unknown error 6"},
      {"worker", [](fakes::FakeOs& o) { o.sync.threadError = 8; }, 8,
       "_beginthreadex failed: Unknown error 8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeOs fresh;
    c.arrange(fresh);
    RecordingService service(fresh.Ports(), nullptr);
    SetServiceInstance(&service);
    try {
      service.ServiceMain({}, &ServiceControlCallback, &ServiceWorkerProc);
      ADD_FAILURE() << "expected a fatal end";
    } catch (const FatalExitCalled& exit) {
      EXPECT_EQ(exit.code, c.code);
    }
    const auto entries = fresh.eventReporter.Entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0].text, c.text);
    EXPECT_EQ(entries[0].source, "Orvaneエージェントサービス");
    const auto calls = service.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "Run"), 0);
  }
}

TEST_F(SvsBaseTest, RepeatedSystemControlsAreDroppedButUserControlsAlwaysPass) {
  RunService([this](RecordingService& service) {
    // Code 14 is no framework control: it goes to OnUserControl at once, like 128 to 255.
    Send(14);
    Send(14);
    Send(130);
    Send(130);
    Send(14);
    const auto calls = service.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "OnUserControl:14"), 2);
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "OnUserControl:130"), 2);

    // Continue while running is ignored; the pause after it proves the worker got there.
    service.SetStatus(kServiceRunning, 0, 0, kAcceptStop);
    Send(kControlContinue);
    Send(kControlPause);
    ASSERT_TRUE(service.WaitForCall("OnPause"));
    Send(kControlStop);
    ASSERT_TRUE(service.WaitForCall("OnStop"));
    EXPECT_EQ(Send(kControlStop), 0U) << "every control is answered with success";
  });
  const auto calls = Calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "OnContinue"), 0);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "OnStop"), 1);
}

}  // namespace
}  // namespace orv
