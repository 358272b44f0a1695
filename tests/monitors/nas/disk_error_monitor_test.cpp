#include "monitors/nas/disk_error_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr std::uint32_t kFourBay = model::kLcdSeries | model::kServer2019 | model::kFourBays;
constexpr const char* kDriverText = "デバイス \\Device\\Harddisk%1\\DR%1 に不良ブロックがあります。";

std::vector<DiskInfo> Disks() {
  std::vector<DiskInfo> disks(3);
  const char* names[] = {"\\\\?\\PhysicalDrive1", "\\\\?\\PhysicalDrive10", "\\\\?\\PhysicalDrive3"};
  for (std::size_t i = 0; i < disks.size(); ++i) {
    disks[i].present = i == 2 ? 0 : 1;  // an empty bay's placeholder never matches
    disks[i].number = static_cast<std::int32_t>(i) + 5;
    disks[i].deviceName = names[i];
  }
  return disks;
}

TEST(DiskErrorEventTest, TheMessageNamesTheDiskOfTheListOrNone) {
  struct Row {
    const char* message;
    std::uint32_t flags;
    const char* para;
    const char* msg;
  };
  const Row rows[] = {
      {"デバイス \\Device\\Harddisk1\\DR1 に不良ブロックがあります。", kFourBay, "5,DR1,0", "「HDD5」エラー"},
      {"デバイス \\Device\\Harddisk10\\DR10 に不良ブロックがあります。", kFourBay, "6,DR10,0", "「HDD6」エラー"},
      {"デバイス \\Device\\Harddisk3\\DR3 に不良ブロックがあります。", kFourBay, ",DR3,0", "「HDD」エラー"},
      {"The device, \\Device\\Harddisk1\\DR1, has a bad block.", kFourBay, "5,,0", "「HDD5」エラー"},
      {"Harddisk", kFourBay, ",,0", "「HDD」エラー"},  // no number: no disk, not the first one
      {"", kFourBay, ",,0", "「HDD」エラー"},
      {"デバイス \\Device\\Harddisk1\\DR1 に不良ブロックがあります。", kFourBay | model::kBoardSeries, ",DR1,0",
       "HDDエラー（故障ディスクの確認方法は製品のユーザーズマニュアルをご参照ください）"},
  };
  fakes::FakeClock clock;
  for (const Row& row : rows) {
    const AgentEvent event = DiskErrorEvent(row.message, Disks(), row.flags, clock);
    EXPECT_EQ(event.act_id, act_id::kDiskError);
    EXPECT_EQ(event.act_para, row.para) << row.message;
    EXPECT_EQ(event.msg, row.msg) << row.message;
  }
}

TEST(DiskErrorMonitorTest, OnlyDiskEntriesWrittenSinceTheStartAreReported) {
  fakes::FakeOs os;
  os.eventLogStore.AddChannel("System");
  os.eventLogStore.AddPublisher("disk", {{7, kDriverText}});
  os.eventLogStore.AddPublisher("Disk", {{7, kDriverText}});
  os.eventLogStore.AddPublisher("Ntfs", {{7, "not a disk entry"}});
  const auto log = [&os](const char* provider, std::uint16_t id, const char* number) {
    os.eventLogStore.Append("System", {provider, id, 0, {os::EventValue{os::EventValue::Kind::Text, number, 0, 0}}, 0});
  };
  log("disk", 7, "1");  // before the start
  EventQueue queue;
  DiskErrorMonitor monitor(os.Ports(), queue, kFourBay);
  monitor.Check(Disks());
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
  log("disk", 7, "1");
  log("Ntfs", 7, "1");
  log("disk", 51, "1");
  log("Disk", 7, "10");
  std::vector<AgentEvent> events;
  monitor.Check(Disks());
  queue.Drain([&](const AgentEvent& e) { events.push_back(e); });
  ASSERT_EQ(events.size(), 2U);
  EXPECT_EQ(events[0].act_para, "5,DR1,0");
  EXPECT_EQ(events[1].act_para, "6,DR10,0");
  EXPECT_EQ(events[1].source, "Disk");
  EXPECT_EQ(events[1].sourceEventId, 7U);
  monitor.Check(Disks());
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
}

}  // namespace
}  // namespace orv
