// The controller's loops in simulated time: rounds, clocks, controls and power events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/event_queue.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "support/agent_fixture.h"
#include "support/message_file_checks.h"
#include "support/monitor_fixture.h"
#include "support/quiet_appliance.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::HasSubstr;
using ::testing::Contains;
constexpr std::uint64_t kMinute = 60'000;
constexpr std::uint64_t kHour = 60 * kMinute;

constexpr const char* kUploaderCommand =
    "\"C:\\orvsvc\\ORVUPLD.exe\" --poolpath \"C:\\orvsvc\\MessagePool\" --rcount 6 --rseconds 10 "
    "--messagehide --configpath \"C:\\orvsvc\\config.ini\"";
constexpr const char* kCloudOk = R"({"result":"0","dev_id_changed":"0","agt_ver":"0.0.0.0"})";

using orv::testing::CloudAnswers;

// An uploader that takes the whole pool and ends with `exitCode`.
void UploaderTakesThePool(fakes::FakeOs& os, std::uint32_t exitCode = 0) {
  os.files.AddFile("C:\\orvsvc\\ORVUPLD.exe", "MZ");
  os.processes.Script(kUploaderCommand, fakes::ScriptedProcess{0, false, {}, exitCode});
  os.processes.OnLaunch(kUploaderCommand, [&os] {
    for (const std::string& file : os.files.FilesIn(kPool)) (void)os.files.RemoveFile(file);
  });
}

class ControllerLoopTest : public orv::testing::AgentFixture {
 protected:
  ControllerLoopTest() : AgentFixture(/*simulatedTime=*/true) {
    os.registry.AddKey(kStatusKey);
    os.registry.AddKey(kCommonKey);
    os.registry.AddKey(kNasKey);
    os.files.AddDirectory("C:\\orvsvc");
    os.sync.DriveTimeFrom(std::this_thread::get_id());
    SetDword("InitEvent", 1);
  }

  void Register() {
    const std::vector<std::uint8_t> id{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    RegHandle::SetBinary(os.registry, kHklm, kStatusKey, "DEVICEID", id);
  }
  // Registered, a round every minute and a periodic status every half hour.
  void RegisterWithHalfHourStatus() {
    Register();
    SetDword("CheckInterval", 60);
    SetDword("OutputInterval", 1800);
  }
  // Runs the service as the control manager would, with `at` scheduling the test's actions on
  // the simulated clock; the service stops at `stopAt`.
  void RunUntil(std::uint64_t stopAt, const std::function<void(CORVSvcCtrl&)>& at = {}) {
    CORVSvcCtrl controller(os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess);
    if (at) at(controller);
    os.clock.ScheduleAt(stopAt, [this, &controller] {
      controller.RequestStop();
      os.serviceHost.SendControl(kControlStop);
    });
    controller.ServiceMain({}, &ServiceControlCallback, &ServiceWorkerProc);
    finalState = controller.State();
    stopReason = controller.StopReason();
  }
  std::vector<std::string> Files(const char* prefix) {
    std::vector<std::string> found;
    for (const std::string& file : os.files.FilesIn(kPool)) {
      if (file.find(prefix) != std::string::npos) found.push_back(*os.files.Content(file));
    }
    return found;
  }

  AgentState finalState = AgentState::Undecided;
  std::string stopReason;
};

TEST(ControllerClocks, StatusAndDailyTimes) {
  const auto at = [](int day, int hour, int minute) {
    return ToCalendarMilliseconds({2026, 12, 0, static_cast<std::uint16_t>(day), static_cast<std::uint16_t>(hour),
                                   static_cast<std::uint16_t>(minute), 0, 0});
  };
  // From the status second of the hour, whole steps of the output interval; a time that falls
  // exactly on a step is due then, not one step later.
  const struct {
    std::int64_t now;
    std::uint32_t statusSecond, outputInterval;
    std::int64_t next;
  } statuses[] = {
      {at(7, 10, 20), 300, 1800, at(7, 10, 35)},
      {at(7, 10, 40), 300, 1800, at(7, 11, 5)},
      {at(7, 10, 5), 300, 1800, at(7, 10, 5)},
      {at(7, 10, 35), 300, 1800, at(7, 10, 35)},
      {at(7, 10, 59), 0, 60, at(7, 10, 59)},
      {at(7, 10, 59) + 1, 0, 60, at(7, 11, 0)},
  };
  for (const auto& row : statuses) {
    EXPECT_EQ(CORVSvcCtrl::NextStatusTime(row.now, row.statusSecond, row.outputInterval), row.next)
        << row.now << " " << row.statusSecond << " " << row.outputInterval;
  }
  EXPECT_EQ(CORVSvcCtrl::NextDailyTime(at(7, 23, 30), 3600), at(8, 23, 0));
  EXPECT_EQ(CORVSvcCtrl::NextDailyTime(at(7, 22, 30), 3600), at(7, 23, 0));
  EXPECT_EQ(CORVSvcCtrl::NextDailyTime(at(31, 23, 0), 0), at(31, 23, 0) + 23 * 3'600'000LL) << "across the month";
}

TEST_F(ControllerLoopTest, ADayOfMonitoringInSimulatedTime) {
  RegisterWithHalfHourStatus();
  SetDword("AgentDailySecond", 600);
  RunUntil(24 * kHour - 30'000);

  const auto statuses = Files("RL[");
  ASSERT_EQ(statuses.size(), 48U) << "one periodic status every 30 minutes";
  for (const auto& file : statuses) {
    EXPECT_TRUE(orv::testing::IsStrictJsonMessage(file));
    EXPECT_THAT(file, HasSubstr("\"sts_type\":0,"));
  }
  EXPECT_EQ(Count(event_id::kDailyCheckStarted), 1) << "one daily check, at 22:10";
  EXPECT_EQ(Count(event_id::kStartupCheckStarted), 1) << "one check at start";
  // With the cloud unreachable the registration request fails: the agent keeps monitoring
  // without registration data, writing statuses but starting no uploader.
  EXPECT_EQ(finalState, AgentState::MonitoringWithoutRegistration);
  EXPECT_EQ(Dword("ServiceStatus"), 4U);
  EXPECT_TRUE(os.processes.Launched().empty());
}

// The loads of a periodic status are those the rounds of its period read from the counters
// and shares, averaged, and its ports are those the network check found. Every sample reads new values; those taken after the first status and
// up to the second (the second's own round included) must give the second's loads.
TEST_F(ControllerLoopTest, APeriodicStatusAveragesTheLoadsItsRoundsRead) {
  RegisterWithHalfHourStatus();
  // The sums of what the rounds of the second period read: processor, memory, connections, packets.
  std::int64_t sums[4] = {};
  int rounds = 0;
  std::string firstStatus;
  std::string secondStatus;
  // The machine's counters exist from the start; each sample gives them new values.
  os.counters.Set("Processor", "0", "% Processor Time", 0);
  os.counters.Set("Processor", "_Total", "% Processor Time", 0);
  os.counters.Set("Memory", "", "% Committed Bytes In Use", 0);
  os::RawAdapter port;
  port.description = "Ethernet (PCI) #2";  // its counter instance is "Ethernet [PCI] _2"
  port.physicalAddress = {0x00, 0x90, 0x27, 0xAB, 0xCD, 0xEF};
  port.operStatus = 1;
  port.unicast = {{1, {2, 0, 0, 0, 192, 168, 1, 10, 0, 0, 0, 0, 0, 0, 0, 0}}};
  os.adapters.adapters = {port};
  os.counters.Set("Network Interface", "Ethernet [PCI] _2", "Packets Sent/sec", 0);
  os.counters.Set("Network Interface", "Ethernet [PCI] _2", "Packets Received/sec", 0);
  int sample = 0;
  os.counters.beforeCollect = [&] {
    ++sample;
    const int read[4] = {10 + 7 * (sample % 5), 40 + sample % 3, sample % 4, 100 * sample};
    os.counters.Set("Processor", "0", "% Processor Time", read[0] + 1);
    os.counters.Set("Processor", "_Total", "% Processor Time", read[0]);
    os.counters.Set("Memory", "", "% Committed Bytes In Use", read[1]);
    os.counters.Set("Network Interface", "Ethernet [PCI] _2", "Packets Sent/sec", read[3]);
    os.shares.shares = {{"data", 0, static_cast<std::uint32_t>(read[2])}, {"C$", 0x80000000, 5}};
    const auto statuses = Files("RL[");
    if (statuses.size() == 1) {
      firstStatus = statuses.front();
      ++rounds;
      for (int i = 0; i < 4; ++i) sums[i] += read[i];
    } else if (statuses.size() == 2 && secondStatus.empty()) {
      secondStatus = statuses.front() == firstStatus ? statuses.back() : statuses.front();
    }
  };
  RunUntil(45 * kMinute);

  ASSERT_FALSE(secondStatus.empty());
  ASSERT_GE(rounds, 25) << "the rounds of one period";
  const auto average = [rounds](std::int64_t sum) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(sum) / rounds);
    return std::string(text);
  };
  EXPECT_THAT(secondStatus, HasSubstr("\"cpu_load\":" + average(sums[0]) + ","));
  EXPECT_THAT(secondStatus, HasSubstr("\"mem_load\":" + average(sums[1]) + ","));
  EXPECT_THAT(secondStatus, HasSubstr("\"lo_cnt\":" + std::to_string(sums[2] / rounds) + ","));
  EXPECT_THAT(secondStatus, HasSubstr(R"("ip_adr":"192.168.1.10",)"));
  EXPECT_THAT(secondStatus, HasSubstr(R"("mac_adr":"00:90:27:AB:CD:EF",)"));
  EXPECT_THAT(secondStatus, HasSubstr("\"tx\":" + std::to_string(sums[3] / rounds) + ","));
}

// Faults of the world around a monitoring agent, each struck ten minutes into two hours of
// monitoring: the entries it must leave in the log, the state the agent ends in, and in every
// case a service that still stops and a pool of whole, readable message files.
struct Fault {
  const char* name;
  std::function<void(fakes::FakeOs&, CORVSvcCtrl&)> strike;
  std::vector<std::uint32_t> logged;
  AgentState endsIn;
};

class ControllerFaultTest : public ControllerLoopTest, public ::testing::WithParamInterface<Fault> {};

std::function<void(fakes::FakeOs&, CORVSvcCtrl&)> CloudThenRefresh(std::uint32_t status, std::string body) {
  return [status, body](fakes::FakeOs& os, CORVSvcCtrl& c) {
    CloudAnswers(os, status, body);
    c.OnUserControl(130, 0, nullptr);
  };
}

std::function<void(fakes::FakeOs&, CORVSvcCtrl&)> UploaderEndsWith(std::uint32_t code) {
  return [code](fakes::FakeOs& os, CORVSvcCtrl&) {
    os.processes.Script(kUploaderCommand, fakes::ScriptedProcess{0, false, {}, code});
  };
}

const Fault kFaults[] = {
    {"Cloud401", CloudThenRefresh(401, R"({"result":"1","error_id":"E401"})"), {event_id::kDeviceUnknown}, AgentState::Unregistered},
    {"Cloud500", CloudThenRefresh(500, "{}"), {event_id::kRegistrationFailed}, AgentState::MonitoringWithoutRegistration},
    // An empty body counts as no answer at all, whatever the status.
    {"Cloud503EmptyBody", CloudThenRefresh(503, ""), {event_id::kRegistrationTransportFailed}, AgentState::MonitoringWithoutRegistration},
    {"Cloud200MalformedBody", CloudThenRefresh(200, "{\"result\":"), {}, AgentState::Monitoring},
    {"CloudUnreachable",
     [](fakes::FakeOs& os, CORVSvcCtrl& c) {
       os.http.handler = nullptr;
       c.OnUserControl(130, 0, nullptr);
     },
     {event_id::kRegistrationTransportFailed}, AgentState::MonitoringWithoutRegistration},
    {"UploaderExits64", UploaderEndsWith(64), {event_id::kUploaderFailed}, AgentState::Monitoring},
    {"UploaderMissing",
     [](fakes::FakeOs& os, CORVSvcCtrl&) { (void)os.files.RemoveFile("C:\\orvsvc\\ORVUPLD.exe"); },
     {event_id::kUploaderMissing}, AgentState::Monitoring},
    {"PoolRemoved",
     [](fakes::FakeOs& os, CORVSvcCtrl&) {
       for (const std::string& file : os.files.FilesIn(kPool)) (void)os.files.RemoveFile(file);
       (void)os.files.RemoveEmptyDirectory(kPool);
     },
     {event_id::kPoolMissing, event_id::kStoppedWithReason}, AgentState::MonitoringStopped},
    {"DiskFull", [](fakes::FakeOs& os, CORVSvcCtrl&) { os.files.writeError = 112; },
     {event_id::kJsonWriteFailed, event_id::kStoppedWithReason}, AgentState::MonitoringStopped},
    {"RegistryRefusesWrites", [](fakes::FakeOs& os, CORVSvcCtrl&) { os.registry.MakeReadOnly(kStatusKey); },
     {}, AgentState::Monitoring},
    {"DefinitionFileVanishes",
     [](fakes::FakeOs& os, CORVSvcCtrl& c) {
       (void)os.files.RemoveFile("C:\\orvsvc\\ORVCONFIG.xml");
       c.OnUserControl(133, 0, nullptr);
     },
     {}, AgentState::Monitoring},
    {"EventLogFails", [](fakes::FakeOs& os, CORVSvcCtrl&) { os.eventLogStore.failures.query = 5; }, {},
     AgentState::Monitoring},
};

TEST_P(ControllerFaultTest, IsLoggedAndLeavesTheAgentSoundAndStoppable) {
  const Fault& fault = GetParam();
  RegisterWithHalfHourStatus();
  CloudAnswers(os, 200, kCloudOk);
  UploaderTakesThePool(os);
  RunUntil(2 * kHour, [&](CORVSvcCtrl& c) {
    os.clock.ScheduleAt(10 * kMinute + 1, [&] { fault.strike(os, c); });
  });
  const auto ids = os.eventReporter.Ids();
  for (const std::uint32_t id : fault.logged) {
    EXPECT_THAT(ids, Contains(id)) << std::hex << "0x" << id << " not logged";
  }
  EXPECT_EQ(finalState, fault.endsIn);
  for (const std::string& file : os.files.FilesIn(kPool)) {
    EXPECT_TRUE(orv::testing::IsStrictJsonMessage(*os.files.Content(file))) << file;
  }
}

INSTANTIATE_TEST_SUITE_P(World, ControllerFaultTest, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault>& param) { return std::string(param.param.name); });

// 131 only re-dispatches what is in memory, 133 re-reads the registration, 132 stops.
TEST_F(ControllerLoopTest, ControlsRereadStopAndResumeMonitoring) {
  RunUntil(10 * kMinute, [this](CORVSvcCtrl& c) {
    os.clock.ScheduleAt(kMinute, [this, &c] {
      Register();
      c.OnUserControl(131, 0, nullptr);
    });
    os.clock.ScheduleAt(2 * kMinute, [&c] { c.OnUserControl(133, 0, nullptr); });
    os.clock.ScheduleAt(4 * kMinute + 1, [&c] { c.OnUserControl(132, 0, nullptr); });
    os.clock.ScheduleAt(6 * kMinute + 1, [this, &c] {
      EXPECT_EQ(c.State(), AgentState::MonitoringStopped);
      EXPECT_EQ(Dword("ServiceStatus"), 3U);
      c.OnUserControl(131, 0, nullptr);
    });
  });
  EXPECT_EQ(Count(event_id::kUnregistered), 2);
  EXPECT_EQ(Count(event_id::kMonitoring), 2);
  EXPECT_EQ(Count(event_id::kMonitoringStopped), 1) << "stopped by request: the plain entry, no reason";
  EXPECT_EQ(Count(event_id::kStoppedWithReason), 0);
  EXPECT_EQ(finalState, AgentState::Monitoring);
}

TEST_F(ControllerLoopTest, TheInitialisationEventIsSentOnceAcrossStarts) {
  Register();
  // Each way of reading as missing: written as 0, the event follows at the next start.
  const std::pair<const char*, std::function<void()>> missing[] = {
      {"absent", [this] { os.registry.DeleteValue(kHklm, kStatusKey, "InitEvent"); }},
      {"0xFFFFFFFF", [this] { SetDword("InitEvent", 0xFFFFFFFF); }},
      {"not a DWORD", [this] { RegHandle::SetString(os.registry, kHklm, kStatusKey, "InitEvent", "0"); }},
  };
  for (const auto& [name, make] : missing) {
    make();
    RunUntil(os.clock.MillisecondsSinceStart() + kMinute / 2);
    EXPECT_EQ(Dword("InitEvent"), 0U) << name;
    EXPECT_TRUE(Files("RE[").empty()) << name;
  }
  RunUntil(os.clock.MillisecondsSinceStart() + kMinute / 2);
  RunUntil(os.clock.MillisecondsSinceStart() + kMinute / 2);
  const auto events = Files("RE[");
  ASSERT_EQ(events.size(), 1U);
  EXPECT_THAT(events[0], HasSubstr("\"act_id\":5060"));
  EXPECT_EQ(Dword("InitEvent"), 1U);
}

TEST_F(ControllerLoopTest, SuspendAndAutomaticResumeReportOnce) {
  Register();
  RunUntil(20 * kMinute, [this](CORVSvcCtrl& c) {
    os.clock.ScheduleAt(3 * kMinute, [&c] { c.OnPowerEvent(4); });
    os.clock.ScheduleAt(8 * kMinute, [&c] { c.OnPowerEvent(18); });
  });
  const auto events = Files("RE[");
  ASSERT_EQ(events.size(), 1U);
  EXPECT_THAT(events[0], HasSubstr("\"act_id\":1030"));
}

// A round whose monitors only posted events starts the uploader at once, not with the next
// status (each start rewrites "config.ini" first; the uploader itself runs on its own thread);
// a sleep notice goes out as a sleeping status.
TEST_F(ControllerLoopTest, EventsAndASleepNoticeAreSentWithoutWaitingForTheStatus) {
  Register();
  CloudAnswers(os, 200, kCloudOk);
  SetDword("CheckInterval", 60);
  SetDword("OutputInterval", 3600);
  std::mutex takenMutex;
  std::string written;  // whatever the uploader took, then what it left
  os.files.AddFile("C:\\orvsvc\\ORVUPLD.exe", "MZ");
  os.processes.Script(kUploaderCommand, fakes::ScriptedProcess{});
  os.processes.OnLaunch(kUploaderCommand, [&] {
    const std::lock_guard lock(takenMutex);
    for (const std::string& file : os.files.FilesIn(kPool)) {
      written += *os.files.Content(file);
      (void)os.files.RemoveFile(file);
    }
  });
  constexpr const char* kUploaderConfig = "C:\\orvsvc\\config.ini";
  bool startedForTheEvent = false;
  RunUntil(20 * kMinute, [&](CORVSvcCtrl& c) {
    os.clock.ScheduleAt(5 * kMinute + 30'000, [this] {
      (void)os.files.RemoveFile(kUploaderConfig);
      CommonEventQueue().Post(AgentEvent(act_id::kHostRenamed, os.clock));
    });
    os.clock.ScheduleAt(9 * kMinute, [&] { startedForTheEvent = os.files.FileExists(kUploaderConfig); });
    os.clock.ScheduleAt(10 * kMinute + 30'000, [&c] { c.OnUserControl(135, 0, nullptr); });
  });
  EXPECT_TRUE(startedForTheEvent);
  const std::lock_guard lock(takenMutex);
  for (const std::string& file : os.files.FilesIn(kPool)) written += *os.files.Content(file);
  EXPECT_THAT(written, HasSubstr("\"act_id\":1040"));
  EXPECT_THAT(written, HasSubstr("\"pow_sts\":200,"));
}

// The worker serves a stop before a resume that follows it, so the stop alone must end the
// suspended sleep; no resume report is written for a resume that never happened.
TEST_F(ControllerLoopTest, AStopWhileSuspendedEndsTheServiceWithoutAResumeReport) {
  Register();
  RunUntil(5 * kMinute, [this](CORVSvcCtrl& c) {
    os.clock.ScheduleAt(3 * kMinute, [&c] { c.OnPowerEvent(4); });
    os.clock.ScheduleAt(60 * kMinute, [&c] { c.OnPowerEvent(18); });
  });
  EXPECT_LT(os.clock.MillisecondsSinceStart(), 6 * kMinute);
  EXPECT_TRUE(Files("RE[").empty());
}

TEST_F(ControllerLoopTest, AStopWhileWaitingForTheNetworkEndsTheStartUp) {
  Register();
  os.system.networkAlive = false;
  RunUntil(7'000);
  EXPECT_LT(os.clock.MillisecondsSinceStart(), 10'000U) << "not the whole 30 s of questions";
  EXPECT_TRUE(os.http.requests.empty()) << "no registration request after the stop";
  EXPECT_EQ(finalState, AgentState::Undecided) << "no loop started";
}

TEST_F(ControllerLoopTest, PreShutdownWritesTheShutdownReportBeforeTheLoopEnds) {
  Register();
  CORVSvcCtrl controller(os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess);
  os.clock.ScheduleAt(3 * kMinute, [this] { os.serviceHost.SendControl(kControlPreShutdown); });
  // The pre-shutdown reaches the loop through the worker thread; the clock waits for it.
  os.clock.ScheduleAt(3 * kMinute + 1, [this] {
    (void)os.serviceHost.WaitForState(kServiceStopPending, std::chrono::seconds(20));
  });
  controller.ServiceMain({}, &ServiceControlCallback, &ServiceWorkerProc);
  const auto events = Files("RE[");
  ASSERT_EQ(events.size(), 1U);
  EXPECT_THAT(events[0], HasSubstr("\"act_id\":1060"));
  const auto statuses = Files("RL[");
  ASSERT_FALSE(statuses.empty());
  EXPECT_THAT(statuses.back(), HasSubstr("\"pow_sts\":100,"));
}

TEST_F(ControllerLoopTest, AFailedStatusWriteStopsMonitoringWithItsReason) {
  Register();
  RunUntil(5 * kMinute, [this](CORVSvcCtrl&) {
    os.clock.ScheduleAt(30'000, [this] { os.files.writeError = 112; });
  });
  EXPECT_EQ(finalState, AgentState::MonitoringStopped);
  EXPECT_EQ(stopReason, "ステータスJSON作成処理に失敗しました。");
  EXPECT_EQ(Count(event_id::kStoppedWithReason), 1);
  EXPECT_EQ(Dword("ServiceStatus"), 3U);
}

// The Windows Server Backup and UPS members of periodic statuses, from the common passes of the
// rounds.
class StatusBackupUpsTest : public ControllerLoopTest {};

constexpr std::uint64_t kStatusUpsFileTimeMinute = 600'000'000;

fakes::FakeHidDevice StatusUpsDevice(std::uint8_t status1) {
  fakes::FakeHidDevice ups;
  ups.hardwareId = "HID\\VID_051D&PID_0002&REV_0106";
  ups.strings[os::HidString::Manufacturer] = testing::HidText(u"American Power Conversion", /*terminated=*/false);
  ups.strings[os::HidString::Product] = testing::HidText(u"Back-UPS ES 550G FW:870.O4 .I USB FW:O4/x", /*terminated=*/false);
  ups.strings[os::HidString::SerialNumber] = testing::HidText(u"5B\"17\\\x0001\x0008", /*terminated=*/false);
  ups.caps.featureReportLength = 4;
  ups.caps.inputReportLength = 3;
  ups.caps.featureValues = {{0x85, 0x66, 1, 0}, {0x85, 0x68, 2, 0}, {0x85, 0x85, 3, 0}};
  ups.caps.inputButtonReportIds = {9};
  ups.featureValues = {{0x66, 1000}, {0x68, 7199}, {0x85, (44u << 9) | (5u << 5) | 3u}};
  ups.inputReport = {status1, 0};
  return ups;
}

TEST_F(StatusBackupUpsTest, APeriodicStatusShowsTheBackupAndTheUpsAsThePassesLeftThem) {
  RegisterWithHalfHourStatus();
  const auto Backup = [this](std::uint16_t id, std::uint64_t fileTime) {
    os.eventLogStore.Append("Microsoft-Windows-Backup", {"Microsoft-Windows-Backup", id, fileTime, {}, 0});
  };
  const std::uint64_t now = ToFileTime(os.clock.UtcNow());
  Backup(1, now - 120 * kStatusUpsFileTimeMinute);
  Backup(4, now - 90 * kStatusUpsFileTimeMinute);
  os.hid.Set({StatusUpsDevice(0x08)});

  os.clock.ScheduleAt(10 * kMinute, [&] {
    const std::uint64_t failedStart = ToFileTime(os.clock.UtcNow());
    Backup(1, failedStart);
    Backup(5, failedStart + kStatusUpsFileTimeMinute);
  });
  os.clock.ScheduleAt(15 * kMinute, [&] { os.hid.Set({}); });
  os.clock.ScheduleAt(20 * kMinute, [&] { os.hid.Set({StatusUpsDevice(0x18)}); });
  RunUntil(45 * kMinute);

  const std::vector<std::string> statuses = Files("RL[");
  ASSERT_GE(statuses.size(), 2u);
  for (const std::string& file : statuses) EXPECT_TRUE(testing::IsStrictJsonMessage(file));
  const std::string& last = *std::max_element(statuses.begin(), statuses.end(), [](const auto& a, const auto& b) {
    return nlohmann::json::parse(a.substr(3))["date"] < nlohmann::json::parse(b.substr(3))["date"];
  });
  const nlohmann::json status = nlohmann::json::parse(last.substr(3));

  // The fake zone is UTC+9; the failed run started ten minutes into the run.
  EXPECT_EQ(status["bkup"], nlohmann::json::parse(R"([{"config":"Windows Server バックアップ","date":"2026/12/07 09:10",
      "last_bkup":"2026/12/07 07:00","result":"失敗","sts":[{"act_id":2010,"act_para":"Windows Server バックアップ",
      "act_sts":1,"act_trg":0,"msg":"バックアップに失敗しました。"}]}])"));
  // The device's own quote, backslash and controls kept; whole hours of run time; the connection
  // came back and the low battery stays open.
  EXPECT_EQ(status["ups"], nlohmann::json::parse(R"([{"bt_date":null,"bt_lev":100,"bt_sec":7199,"bt_sts":"残量低下",
      "bt_time":1,"config":null,"connect":"USB","fwv":"870.O4 .I USB FW:O4","model":"Back-UPS ES 550G ","name":"UPS",
      "prd_date":"24/05","serial":"5B\"17\\\u0001\b","sts":[{"act_id":4040,"act_para":"UPS","act_sts":1,"act_trg":1,
      "msg":"劣化を検出しました"}],"tmp":null,"vnd":"American Power Conversion"}])"));

  // Each condition opened and closed exactly once, in the event messages of the run.
  std::vector<std::pair<int, int>> events;
  for (const std::string& file : Files("RE[")) {
    const nlohmann::json event = nlohmann::json::parse(file.substr(3));
    const int id = event["act_id"];
    if (id == act_id::kBackupFailed || id == act_id::kUpsConnectionLost || id == act_id::kUpsDegraded) events.emplace_back(id, event["act_sts"]);
  }
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{act_id::kBackupFailed, 1}, {act_id::kUpsConnectionLost, 1}, {act_id::kUpsConnectionLost, 3}, {act_id::kUpsDegraded, 1}}));

  std::string row;
  ASSERT_TRUE(RegHandle::GetString(os.registry, kHklm, kCommonKey, "UPSDegradeStatusTable", row));
  EXPECT_EQ(row, "[4040][1][1][UPS][劣化を検出しました][][0]");
  EXPECT_FALSE(RegHandle(os.registry, kHklm, std::string(kCommonKey)).ValueExists("UPSConnectStatusTable"));
}

// A day at one round a minute with a periodic status every 30 minutes: after the first round the
// monitors' keys are never written again, and the status key only takes the message numbers.
TEST(QuietRoundTest, AQuietDayWritesNoStateAfterTheFirstRound) {
  orv::testing::QuietAppliance appliance;
  orv::testing::QuietSession run{appliance};
  (void)run.session.Round();
  appliance.fake.registry.ResetUses();
  const std::size_t filesBefore = appliance.fake.files.FilesIn(kPool).size();
  for (int minute = 1; minute < 24 * 60; ++minute) {
    appliance.fake.clock.Advance(kMinute);
    (void)run.session.Round();
  }
  for (const std::string_view key : {kCommonKey, kNasKey}) {
    EXPECT_EQ(appliance.fake.registry.Uses(key).writes, 0) << key;
    EXPECT_EQ(appliance.fake.registry.Uses(key).deletes, 0) << key;
  }
  const std::size_t files = appliance.fake.files.FilesIn(kPool).size() - filesBefore;
  EXPECT_EQ(files, 47U) << "one periodic status every 30 minutes after the first round's";
  EXPECT_EQ(appliance.fake.registry.Uses(kStatusKey).writes, static_cast<int>(files)) << "FileCount, once a file";
  EXPECT_EQ(appliance.fake.registry.Uses(kStatusKey).deletes, 0);
}

}  // namespace
}  // namespace orv
