#include "monitors/common/windows_update_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/agent_ctrl_common.h"
#include "monitors/common/windows_update_policy.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint32_t kMissing = RegHandle::kMissingDword;

using testing::Notice;

Notice PolicyChanged(const char* shown) {
  return {act_id::kUpdatePolicyChanged, shown, std::string("Windows Updateの 設定が変更されました(") + shown + ")。"};
}
Notice Installed(const char* at) { return {act_id::kUpdatesInstalled, at, "Windows Update が実施されました。"}; }

struct Machine {
  Machine() { os.registry.AddKey(kCommonKey); }

  // kMissing leaves a value out; `present` false removes the policy key.
  void SetPolicy(bool present, std::uint32_t noAutoUpdate = kMissing, std::uint32_t auOptions = kMissing) {
    (void)os.registry.DeleteKeyTree(kHklm, kAuPolicyKey);
    if (!present) return;
    os.registry.AddKey(kAuPolicyKey);
    if (noAutoUpdate != kMissing) RegHandle::SetDword(os.registry, kHklm, kAuPolicyKey, "NoAutoUpdate", noAutoUpdate);
    if (auOptions != kMissing) RegHandle::SetDword(os.registry, kHklm, kAuPolicyKey, "AUOptions", auOptions);
  }
  void Store(std::string_view name, std::uint32_t value) {
    if (value == kMissing) {
      (void)RegHandle::DeleteValue(os.registry, kHklm, kCommonKey, name);
    } else {
      RegHandle::SetDword(os.registry, kHklm, kCommonKey, name, value);
    }
  }
  std::uint32_t Stored(std::string_view name) {
    return RegHandle::GetDword(os.registry, kHklm, kCommonKey, name).value_or(kMissing);
  }
  std::optional<std::string> StoredText(std::string_view name) {
    std::string text;
    if (!RegHandle::GetString(os.registry, kHklm, kCommonKey, name, text)) return std::nullopt;
    return text;
  }
  void InstalledAt(std::uint16_t day, std::uint16_t hour, std::uint16_t minute) {
    os.windowsUpdate.times = {os::kUpdateOk, os::CalendarTime{2026, 12, 0, day, hour, minute, 42, 0}, std::nullopt};
  }

  std::vector<Notice> Check(bool periodic) {
    WindowsUpdateMonitor monitor(os.Ports(), queue);
    if (periodic) {
      monitor.Check(message);
    } else {
      monitor.CheckAtStartUp(message);
    }
    return testing::DrainNotices(queue);
  }

  fakes::FakeOs os;
  EventQueue queue;
  std::string message;
};

// Every pair of what the agent stored and what the policy says, in both forms of the check:
// the periodic one reports a change, the start-up one only stores.
TEST(WindowsUpdatePolicy, StoredAgainstCurrentPolicy) {
  struct Case {
    const char* name;
    std::uint32_t storedN, storedA;
    bool policy;
    std::uint32_t n, a;
    std::vector<Notice> posted;  // by the periodic form
    std::uint32_t nowN, nowA;    // stored afterwards, by either form
  };
  const Case cases[] = {
      {"no policy, first seen", kMissing, kMissing, false, kMissing, kMissing, {}, 25, 0},
      {"policy removed", 1, kMissing, false, kMissing, kMissing, {PolicyChanged("0")}, 25, 0},
      {"policy first seen without NoAutoUpdate", kMissing, kMissing, true, kMissing, 3, {}, 25, kMissing},
      {"policy key appears, automatic", 25, 0, true, 0, 4, {PolicyChanged("4")}, 0, 4},
      {"policy key appears without NoAutoUpdate", 25, 0, true, kMissing, 3, {}, 25, 0},
      {"automatic, options removed", 0, 3, true, 0, kMissing, {PolicyChanged("0")}, 0, kMissing},
      {"NoAutoUpdate removed from the policy", 1, kMissing, true, kMissing, kMissing, {PolicyChanged("0")}, 25, kMissing},
  };
  for (const Case& c : cases) {
    for (const bool periodic : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (periodic ? " (periodic)" : " (start-up)"));
      Machine machine;
      machine.Store("NoAutoUpdate", c.storedN);
      machine.Store("AUOptions", c.storedA);
      machine.SetPolicy(c.policy, c.n, c.a);
      EXPECT_EQ(machine.Check(periodic), periodic ? c.posted : std::vector<Notice>{});
      EXPECT_EQ(machine.Stored("NoAutoUpdate"), c.nowN);
      EXPECT_EQ(machine.Stored("AUOptions"), c.nowA);
      EXPECT_THAT(machine.Check(true), IsEmpty()) << "a change is reported once";
    }
  }
}

TEST(WindowsUpdateInstallation, TheFirstCheckRecordsWithoutReporting) {
  for (const bool periodic : {true, false}) {
    Machine machine;
    machine.InstalledAt(1, 3, 15);
    EXPECT_THAT(machine.Check(periodic), IsEmpty());
    EXPECT_EQ(machine.StoredText("UpdateLastInst"), "2026/12/01 03:15:42");
    EXPECT_THAT(machine.Check(true), IsEmpty());
  }
  Machine never;  // Windows has not installed anything yet
  EXPECT_THAT(never.Check(false), IsEmpty());
  EXPECT_EQ(never.StoredText("UpdateLastInst"), "");
  never.InstalledAt(7, 3, 0);
  EXPECT_THAT(never.Check(true), ElementsAre(Installed("2026/12/07 03:00:42")));

  // Not knowing the time is not "never installed": reported as a difference, it would announce
  // an installation now and another one when the time can be read again.
  Machine unreadable;
  unreadable.os.windowsUpdate.times = {os::kUpdateNotImplemented, std::nullopt, std::nullopt};
  EXPECT_THAT(unreadable.Check(false), IsEmpty());
  EXPECT_EQ(unreadable.StoredText("UpdateLastInst"), std::nullopt);
}

// Through the monitor object the controller owns: the start-up form runs in CheckSystemState.
TEST(WindowsUpdateInstallation, AnInstallationWhileTheAgentWasStoppedIsReportedAtTheFirstPeriodicCheck) {
  Machine machine;
  machine.InstalledAt(1, 3, 15);
  EXPECT_THAT(machine.Check(true), IsEmpty());
  machine.InstalledAt(6, 3, 0);  // the agent is stopped meanwhile

  AgentCtrl_COMMON common(machine.os.Ports());
  common.CheckSystemState();
  EXPECT_EQ(machine.StoredText("UpdateLastInst"), "2026/12/01 03:15:42") << "the start-up check does not store it";
  common.CheckWindowsUpdate();
  std::vector<Notice> posted;
  CommonEventQueue().Drain([&posted](const AgentEvent& e) {
    if (e.act_id == act_id::kUpdatesInstalled || e.act_id == act_id::kUpdatePolicyChanged) posted.push_back({e.act_id, e.act_para, e.msg});
  });
  EXPECT_THAT(posted, ElementsAre(Installed("2026/12/06 03:00:42")));
  EXPECT_EQ(machine.StoredText("UpdateLastInst"), "2026/12/06 03:00:42");
  EXPECT_EQ(common.Data().current.windowsUpdateMessage, "取得中");
}

TEST(WindowsUpdateMessage, TellsWhatTheLastSearchFound) {
  struct Case {
    std::uint32_t count;
    std::uint32_t restart;
    const char* message;
  };
  const Case cases[] = {
      {3, 1, "3件の更新が利用可能です。再起動が必要な更新があります。"},
      {12, 2, "12件の更新が利用可能です。再起動が必要な場合があります。"},
      {1, 0, "1件の更新が利用可能です。再起動が必要な更新はありません。"},
      {0, 1, "利用可能な更新はありません。"},
      {kMissing, 0, "取得中"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    Machine machine;
    machine.Store("WinUpdateNum", c.count);
    machine.Store("ReqReboot", c.restart);
    (void)machine.Check(false);
    EXPECT_EQ(machine.message, c.message);
    machine.message.clear();
    (void)machine.Check(true);
    EXPECT_EQ(machine.message, c.message);
  }
}

}  // namespace
}  // namespace orv
