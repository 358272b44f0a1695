#include "monitors/common/system_state_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint64_t kSecond = 10'000'000;  // FILETIME units
constexpr std::uint64_t kBoot1 = 133'000'000'000'000'000;

using testing::Notice;

const Notice kStarted{act_id::kSystemStarted, "", "システムを開始しました。"};
const Notice kUnexpected{act_id::kUnexpectedShutdown, "", "予期せぬシャットダウンを検出しました。"};
const Notice kDump{act_id::kMemoryDump, "", "メモリダンプの生成を検出しました。"};

// One machine: its System log, registry and name.
struct Machine {
  Machine() {
    os.eventLogStore.AddChannel("System");
    os.system.computerName = "NAS-0001";
    os.registry.AddKey(kCommonKey);
  }
  void Boot(std::uint64_t at) { os.eventLogStore.Append("System", {"Microsoft-Windows-Kernel-General", 12, at, {}, 0}); }
  void UnexpectedShutdownNoted(std::uint64_t at) { os.eventLogStore.Append("System", {"EventLog", 6008, at, {}, 0}); }
  void StopErrorReported(std::uint64_t at) {
    os.eventLogStore.Append("System", {"Microsoft-Windows-WER-SystemErrorReporting", 1001, at, {}, 0});
  }
  std::vector<Notice> Check() {
    SystemStateMonitor(os.Ports(), queue).Check();
    return testing::DrainNotices(queue);
  }
  std::optional<std::uint32_t> Stored(std::string_view name) {
    return RegHandle::GetDword(os.registry, os::RegistryRoot::LocalMachine, kCommonKey, name);
  }

  fakes::FakeOs os;
  EventQueue queue;
};

class SystemStateTest : public ::testing::Test, public Machine {};

TEST_F(SystemStateTest, TheFirstCheckStoresEverythingAndPostsNothing) {
  Boot(kBoot1);
  EXPECT_THAT(Check(), IsEmpty());
  std::string name;
  EXPECT_TRUE(RegHandle::GetString(os.registry, os::RegistryRoot::LocalMachine, kCommonKey, "HostName", name));
  EXPECT_EQ(name, "NAS-0001");
  // No shutdown or stop entry yet: the first one later counts as new.
  EXPECT_EQ((std::vector{Stored("WakeupTimeLow"), Stored("WakeupTimeHigh"), Stored("IllegalShutdownLow"), Stored("BluescreenHigh")}),
            (std::vector<std::optional<std::uint32_t>>{static_cast<std::uint32_t>(kBoot1), static_cast<std::uint32_t>(kBoot1 >> 32), 0u, 0u}));
  EXPECT_THAT(Check(), IsEmpty()) << "restarting only the agent";
}

TEST(SystemState, EachRestartOfTheMachinePostsOneStartReport) {
  struct Case {
    const char* name;
    std::vector<std::uint64_t> boots;      // after the first check
    std::vector<std::uint64_t> shutdowns;  // unexpected-shutdown entries, after the first check
    std::vector<Notice> posted;
  };
  const Case cases[] = {
      {"a normal restart", {kBoot1 + 3600 * kSecond}, {}, {kStarted}},
      {"after power loss", {kBoot1 + 3600 * kSecond}, {kBoot1 + 3601 * kSecond}, {kUnexpected}},
      {"shutdown entry in the same second as the start",
       {kBoot1 + 3600 * kSecond + 1}, {kBoot1 + 3600 * kSecond + 9}, {kUnexpected}},
      {"a newer start after an older unexpected shutdown",
       {kBoot1 + 3600 * kSecond, kBoot1 + 7200 * kSecond}, {kBoot1 + 3601 * kSecond}, {kStarted}},
      {"only a new shutdown entry", {}, {kBoot1 + 60 * kSecond}, {kUnexpected}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Machine machine;
    machine.Boot(kBoot1);
    ASSERT_THAT(machine.Check(), IsEmpty());
    for (std::uint64_t at : c.boots) machine.Boot(at);
    for (std::uint64_t at : c.shutdowns) machine.UnexpectedShutdownNoted(at);
    EXPECT_EQ(machine.Check(), c.posted);
    EXPECT_THAT(machine.Check(), IsEmpty());
  }
}

TEST_F(SystemStateTest, ARenamedComputerAndAStopErrorReportArePostedOnce) {
  EXPECT_THAT(Check(), IsEmpty());
  os.system.computerName = "nas-0001";  // names compare exactly
  EXPECT_THAT(Check(), ElementsAre(Notice{act_id::kHostRenamed, "NAS-0001,nas-0001",
                                          "ホスト名が「NAS-0001」から 「nas-0001」へ変更されました。"}));
  EXPECT_THAT(Check(), IsEmpty());
  StopErrorReported(kBoot1);  // written after the first check: one memory dump
  EXPECT_THAT(Check(), ElementsAre(kDump));
  EXPECT_THAT(Check(), IsEmpty());
}

TEST_F(SystemStateTest, AnUnreadableLogPostsNothingAndKeepsWhatWasStored) {
  Boot(kBoot1);
  EXPECT_THAT(Check(), IsEmpty());
  os.eventLogStore.failures.query = os::kErrorEvtChannelNotFound;
  Boot(kBoot1 + kSecond);
  EXPECT_THAT(Check(), IsEmpty());
  EXPECT_EQ(Stored("WakeupTimeLow"), static_cast<std::uint32_t>(kBoot1));
  os.eventLogStore.failures.query = os::kSuccess;
  EXPECT_THAT(Check(), ElementsAre(kStarted)) << "reported once the log can be read again";
}

}  // namespace
}  // namespace orv
