#include "monitors/nas/backup_task_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/state_tables.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr const char* kProvider = "VaultBackupService";
// 2026/12/01 00:00:00 UTC; local is nine hours later in the fake clock's zone.
const std::uint64_t kMidnightUtc = ToFileTime({2026, 12, 2, 1, 0, 0, 0, 0});
constexpr std::uint64_t kMinute = 600'000'000;

class BackupTaskTest : public ::testing::Test {
 public:
  BackupTaskTest() {
    os.registry.AddKey(kNasKey);
    os.registry.AddKey(kBackupProductKey);
    os.eventLogStore.AddChannel(kBackupLogChannel);
    os.eventLogStore.AddPublisher(kProvider, {{1010, "タスク「%1」を開始しました。"},
                                              {1011, "タスク「%1」を中断しました。"},
                                              {1012, "タスク「%1」が完了しました。"},
                                              {3010, "タスク「%1」でエラーが発生しました。"}});
  }
  void AddTask(const std::string& key, const std::string& name) {
    const std::string path = std::string(kBackupProductKey) + "\\" + key;
    os.registry.AddKey(path);
    (void)RegHandle::SetString(os.registry, os::RegistryRoot::LocalMachine, path, "Name", name);
  }
  void RemoveTask(const std::string& key) {
    (void)os.registry.DeleteKeyTree(os::RegistryRoot::LocalMachine, std::string(kBackupProductKey) + "\\" + key);
  }
  void Log(std::uint16_t id, const std::string& name, int minute) {
    fakes::FakeLogEntry entry{kProvider, id, kMidnightUtc + static_cast<std::uint64_t>(minute) * kMinute,
                              {os::EventValue{os::EventValue::Kind::Text, name, 0, 0}}, 0};
    os.eventLogStore.Append(kBackupLogChannel, entry);
  }
  // One run of a monitor built now (the log is read from here on) or of `kept`.
  std::vector<Posted> Run() {
    if (!monitor) monitor = std::make_unique<BackupTaskMonitor>(os.Ports(), queue);
    monitor->Check(tasks, failures);
    return testing::DrainPosted(queue);
  }
  // What a restart leaves: the task list and the failures from the registry, a new log position.
  void Restart() {
    (void)SaveList(os.registry, kVaultBackupStatusTable, failures);
    tasks = LoadBackupTasks(os.registry);
    failures.clear();
    (void)LoadList(os.registry, kVaultBackupStatusTable, failures);
    monitor.reset();
  }

  fakes::FakeOs os;
  EventQueue queue;
  std::unique_ptr<BackupTaskMonitor> monitor;
  std::vector<BackupTask> tasks;
  std::vector<MonitorState> failures;
};

const Posted kDailyFailed{act_id::kBackupFailed, 1, "1003", "Daily", "バックアップに失敗しました(Daily)。"};

TEST_F(BackupTaskTest, AFailedRunIsReportedOnceAndTheNextSuccessClosesIt) {
  AddTask("Task:3", "Daily");
  EXPECT_THAT(Run(), IsEmpty());
  Log(1010, "Daily", 0);
  Log(3010, "Daily", 5);
  EXPECT_THAT(Run(), ElementsAre(kDailyFailed));
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].result, 2u);
  EXPECT_EQ(tasks[0].lastResult.hour, 9) << "the 1010 record's time, local";

  Log(1010, "Daily", 60);
  Log(3010, "Daily", 65);
  EXPECT_THAT(Run(), IsEmpty()) << "still failed: nothing more";

  Log(1010, "Daily", 120);
  Log(1012, "Daily", 150);
  EXPECT_THAT(Run(), ElementsAre(Posted{act_id::kBackupFailed, 3, "1003", "Daily", "バックアップに成功しました(Daily)"}));
  EXPECT_EQ(tasks[0].result, 1u);
  EXPECT_EQ(tasks[0].lastSuccess.hour, 11);
  EXPECT_THAT(failures, IsEmpty());
}

TEST_F(BackupTaskTest, RunTransitionsSetResultAndTimes) {
  struct Case {
    const char* name;
    std::vector<std::uint16_t> records;  // one minute apart
    std::uint32_t result;
    bool failed;
  };
  const Case cases[] = {
      {"started and completed", {1010, 1012}, 1, false},
      {"started and stopped", {1010, 1011}, 3, false},
      {"started and failed", {1010, 3010}, 2, true},
      {"failed, then started", {3010, 1010}, 2, true},
      {"a failure's own stop record is not a second stop", {1010, 3010, 1011, 1010, 1012}, 1, false},
      {"completed before the start record arrived", {1012, 1010}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTask("T:1");
    tasks.clear();
    failures.clear();
    monitor.reset();
    AddTask("T:1", "Task");
    (void)Run();
    int minute = 0;
    for (std::uint16_t id : c.records) Log(id, "Task", minute++);
    (void)Run();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].result, c.result);
    EXPECT_EQ(failures.size(), c.failed ? 1u : 0u);
    Restart();
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].result, c.result) << "as stored for the next start";
  }
}

TEST_F(BackupTaskTest, DeletingOrRenamingAFailedTaskClosesItsFailure) {
  AddTask("A:1", "Alpha");
  AddTask("B:2", "Beta");
  AddTask("C:3", "Gamma");
  (void)Run();
  for (const char* name : {"Alpha", "Beta", "Gamma"}) {
    Log(1010, name, 0);
    Log(3010, name, 1);
  }
  EXPECT_EQ(Run().size(), 3u);

  RemoveTask("A:1");
  RemoveTask("B:2");
  AddTask("C:3", "Gamma 2");
  EXPECT_THAT(Run(), ElementsAre(Posted{act_id::kBackupFailed, 3, "1001", "Alpha", "バックアップタスクが削除されました(Alpha)"},
                                 Posted{act_id::kBackupFailed, 3, "1002", "Beta", "バックアップタスクが削除されました(Beta)"},
                                 Posted{act_id::kBackupFailed, 3, "1003", "Gamma", "バックアップタスクが削除されました(Gamma)"}));
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].name, "Gamma 2");
}

TEST_F(BackupTaskTest, AdversarialNamesSurviveARestartAndStillMatchTheirTask) {
  const std::string name = "週次 [NAS]\"backup\"";
  AddTask("{X}:7", name);
  (void)Run();
  Log(1010, name, 0);
  Log(3010, name, 1);
  EXPECT_EQ(Run().size(), 1u);
  Restart();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].key, "{X}:7");
  EXPECT_EQ(tasks[0].result, 2u);
  EXPECT_EQ(tasks[0].lastResult.minute, 0);
  EXPECT_THAT(Run(), IsEmpty()) << "the same task after the restart: no rename, no deletion";
  Log(1010, name, 10);
  Log(1012, name, 11);
  EXPECT_THAT(Run(), ElementsAre(::testing::Field(&Posted::sts, 3)));
}

}  // namespace
}  // namespace orv
