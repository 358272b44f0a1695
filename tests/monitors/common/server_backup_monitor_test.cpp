#include "monitors/common/server_backup_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/state_tables.h"
#include "platform/calendar.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::string_view kBackup = ServerBackupMonitor::kChannel;

// The fake clock runs nine hours ahead of UTC: an entry made at 01:00 UTC reads as 10:00.
std::uint64_t UtcAt(int day, int hour, int minute, int second = 0, int ms = 0) {
  return ToFileTime({2025, 3, 0, static_cast<std::uint16_t>(day), static_cast<std::uint16_t>(hour),
                     static_cast<std::uint16_t>(minute), static_cast<std::uint16_t>(second),
                     static_cast<std::uint16_t>(ms)});
}

std::string Text(const os::CalendarTime& t) {
  if (t.year == 0) return "none";
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day, t.hour,
                t.minute, t.second, t.milliseconds);
  return text;
}

using testing::Posted;

class ServerBackupMonitorTest : public ::testing::Test {
 protected:
  ServerBackupMonitorTest() { os.registry.AddKey(kCommonKey); }

  void Log(std::uint16_t id, std::uint64_t time) {
    os.eventLogStore.Append(kBackup, {"Microsoft-Windows-Backup", id, time, {}, 0});
  }
  std::vector<Posted> Drain() { return testing::DrainPosted(queue); }
  // Builds a monitor as AgentCtrl_COMMON does at the start of monitoring.
  ServerBackupMonitor& Start() {
    monitor.emplace(os.eventLogStore, os.clock, queue);
    return *monitor;
  }
  void Pass() { monitor->Check(info, failure); }

  fakes::FakeOs os;
  EventQueue queue;
  std::optional<ServerBackupMonitor> monitor;
  ServerBackupInfo info;
  MonitorState failure;
};

TEST_F(ServerBackupMonitorTest, HistoryGivesTheNewestResultAndTheStartsThatGoWithIt) {
  struct Case {
    const char* name;
    std::vector<std::uint16_t> newestFirst;
    int result;
    const char* lastResult;
    const char* lastBackup;
  };
  // Entry i (newest first) is made at 01:0i UTC, 10:0i local, with milliseconds that must go.
  const Case cases[] = {
      {"success after a failure", {4, 1, 5, 1}, 1, "2025-03-02 10:01:30.000", "2025-03-02 10:01:30.000"},
      {"a run that failed at its start", {19, 4, 1}, 2, "2025-03-02 10:00:30.000", "2025-03-02 10:02:30.000"},
      {"failures only", {49, 1, 5}, 2, "2025-03-02 10:01:30.000", "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeOs fresh;
    for (std::size_t i = c.newestFirst.size(); i-- > 0;) {
      fresh.eventLogStore.Append(kBackup, {"Microsoft-Windows-Backup", c.newestFirst[i],
                                           UtcAt(2, 1, static_cast<int>(i), 30, 250), {}, 0});
    }
    fresh.eventLogStore.Append(kBackup, {"Microsoft-Windows-Backup", 14, UtcAt(2, 2, 0), {}, 0});  // not relevant
    ServerBackupMonitor fromHistory(fresh.eventLogStore, fresh.clock, queue);
    ServerBackupInfo sample;
    MonitorState entry;
    fromHistory.Check(sample, entry);
    EXPECT_EQ(std::to_string(sample.result) + " " + Text(sample.lastResult) + " / " + Text(sample.lastBackup),
              std::to_string(c.result) + " " + c.lastResult + " / " + c.lastBackup);
    EXPECT_THAT(Drain(), IsEmpty()) << "history is never reported";
    EXPECT_EQ(entry.act_sts, 0);
  }
}

TEST_F(ServerBackupMonitorTest, ANewFailureIsReportedOnceAndClosedByTheNextSuccess) {
  Log(1, UtcAt(1, 1, 0));
  Log(4, UtcAt(1, 2, 0));
  Start();
  Pass();
  ASSERT_EQ(info.result, 1);

  Log(1, UtcAt(2, 1, 0));
  Log(5, UtcAt(2, 1, 30));
  Pass();
  EXPECT_EQ(std::to_string(info.result) + " " + Text(info.lastResult) + " / " + Text(info.lastBackup),
            "2 2025-03-02 10:00:00.000 / 2025-03-01 10:00:00.000");
  EXPECT_THAT(Drain(), ElementsAre(Posted{act_id::kBackupFailed, 1, "0", "Windows Server バックアップ",
                                          "バックアップに失敗しました(Windows Server バックアップ)。"}));
  EXPECT_EQ(FormatStateRow(failure), "[2010][1][0][Windows Server バックアップ][バックアップに失敗しました。][][0]");

  Log(1, UtcAt(3, 1, 0));
  Log(49, UtcAt(3, 1, 5));
  Pass();
  EXPECT_THAT(Drain(), IsEmpty()) << "a second failure while one is open";

  Log(1, UtcAt(4, 1, 0));
  Log(4, UtcAt(4, 3, 0));
  Pass();
  EXPECT_EQ(info.result, 1);
  EXPECT_EQ(Text(info.lastBackup), "2025-03-04 10:00:00.000") << "the start of the successful run";
  EXPECT_THAT(Drain(), ElementsAre(Posted{act_id::kBackupFailed, 3, "0", "Windows Server バックアップ",
                                          "バックアップに成功しました(Windows Server バックアップ)。"}));
  EXPECT_EQ(failure.act_sts, 0);

  Pass();
  EXPECT_THAT(Drain(), IsEmpty()) << "entries are read once";
}

TEST_F(ServerBackupMonitorTest, FailuresWhileStoppedOnlySetTheResultAndALoadedFailureIsClosedBySuccess) {
  MonitorState before;
  before.act_id = act_id::kBackupFailed;
  before.act_sts = 1;
  before.act_trg = "0";
  before.act_para = "Windows Server バックアップ";
  before.msg = "バックアップに失敗しました。";
  ASSERT_TRUE(SaveSingle(os.registry, kBackupStatusTable, before));
  Log(1, UtcAt(1, 1, 0));
  Log(5, UtcAt(1, 2, 0));

  ASSERT_TRUE(LoadSingle(os.registry, kBackupStatusTable, failure));
  Start();
  Pass();
  EXPECT_EQ(info.result, 2);
  Log(5, UtcAt(2, 2, 0));
  Pass();
  EXPECT_THAT(Drain(), IsEmpty()) << "the failure reported before the restart is still open";

  Log(1, UtcAt(3, 1, 0));
  Log(4, UtcAt(3, 2, 0));
  Pass();
  EXPECT_THAT(Drain(), ElementsAre(Posted{act_id::kBackupFailed, 3, "0", "Windows Server バックアップ",
                                          "バックアップに成功しました(Windows Server バックアップ)。"}));
}

}  // namespace
}  // namespace orv
