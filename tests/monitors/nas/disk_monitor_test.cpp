#include "monitors/nas/disk_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "monitors/common/state_tables.h"
#include "monitors/nas/bay_tables.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/port_map.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/ata_sectors.h"
#include "support/posted_events.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;


DiskInfo Disk(std::uint32_t mask, const std::string& serial, bool meridex, std::uint32_t flags) {
  DiskInfo disk;
  disk.present = 1;
  disk.portMask = mask;
  disk.name = BayName(mask, meridex, flags);
  disk.number = BayNumber(mask, meridex);
  disk.slotIndex = SlotIndexOf(mask);
  disk.mediaType = kMediaTypeFixed;
  disk.smartValid = 1;
  disk.serialNumber = serial;
  disk.friendlyName = "WDC WD40EFRX";
  disk.deviceName = "\\\\?\\PhysicalDrive" + std::to_string(disk.slotIndex);
  disk.temperature = 35;
  disk.powerOnHours = 1200;
  disk.powerCycleCount = 33;
  return disk;
}

// Each pass runs on a monitor built afresh from the registry when `restart` is set, as after
// an agent restart; the tables are saved and reloaded around every pass as the NAS pass does.
class DiskMonitorTest : public ::testing::Test {
 protected:
  DiskMonitorTest() {
    os.registry.AddKey(std::string(kStatusKey));
    os.registry.AddKey(std::string(kNasKey));
  }

  std::vector<Posted> Pass(const std::vector<DiskInfo>& found, bool layoutRead = true, bool restart = false) {
    if (restart || !monitor) monitor = std::make_unique<DiskMonitor>(os.Ports(), queue, meridex, flags);
    std::vector<MonitorState> dropOuts;
    std::vector<MonitorState> hot;
    LoadList(os.registry, kHDDStaStatusTable, dropOuts);
    LoadList(os.registry, kHDDTempStatusTable, hot);
    monitor->Check(found, layoutRead, current, dropOuts, hot);
    SaveList(os.registry, kHDDStaStatusTable, dropOuts);
    SaveList(os.registry, kHDDTempStatusTable, hot);
    return testing::DrainPosted(queue);
  }

  // `disk` in its bay of a full 4-bay Tavolen.
  std::vector<DiskInfo> Full(const DiskInfo& disk) {
    std::vector<DiskInfo> disks;
    for (const std::uint32_t mask : {1U, 2U, 4U, 8U}) {
      disks.push_back(mask == disk.portMask ? disk : Disk(mask, "X" + std::to_string(mask), false, flags));
    }
    return disks;
  }

  std::vector<std::string> Stored(const char* value) {
    std::vector<std::string> rows;
    (void)RegHandle::GetMultiString(os.registry, kHklm, kNasKey, value, rows);
    return rows;
  }

  fakes::FakeOs os;
  EventQueue queue;
  bool meridex = true;
  std::uint32_t flags = kMeridexFiveBay;
  std::unique_ptr<DiskMonitor> monitor;
  std::vector<DiskInfo> current;
};

TEST_F(DiskMonitorTest, AnEmptyBayIsReportedOnceAndItsReturnWithAReplacement) {
  // Bay mask 8 of a 5-bay Meridex is "HDD4".
  const std::vector<DiskInfo> four = {Disk(1, "S1", true, flags), Disk(2, "S2", true, flags), Disk(4, "S3", true, flags),
                                      Disk(16, "S5", true, flags)};
  std::vector<DiskInfo> five = four;
  five.insert(five.begin() + 3, Disk(8, "S4", true, flags));
  EXPECT_THAT(Pass(five), IsEmpty());  // the serials are remembered
  EXPECT_THAT(Pass(four), ElementsAre(Posted{act_id::kDiskDropOut, 1, "3", "4,1", "HDD4がボリューム構成から切り離されました。"}));
  ASSERT_EQ(current.size(), 5U);
  EXPECT_EQ(current[3].present, 0U);
  EXPECT_EQ(current[3].name, "HDD3");  // this line names its first bay "SSD"
  EXPECT_THAT(Pass(four, true, /*restart=*/true), IsEmpty());
  EXPECT_THAT(Stored("HDDStaStatusTable"),
              ElementsAre("[4120][1][3][4,1][ボリューム構成から切り離されています。][HDD3][8]"));

  five[3].serialNumber = "NEW";
  EXPECT_THAT(Pass(five), ElementsAre(Posted{act_id::kDiskDropOut, 3, "3", "", "HDD4の状態が回復しました。"},
                                      Posted{act_id::kDiskReplaced, 0, "", "4", "HDD4の交換を検出しました。"}));
  EXPECT_THAT(Stored("HDDStaStatusTable"), IsEmpty());
  EXPECT_THAT(Stored("HDDSerialInfo"), ElementsAre("[0][S1]", "[1][S2]", "[2][S3]", "[3][NEW]", "[4][S5]"));
}

TEST_F(DiskMonitorTest, BaysThePortMapCannotPlaceAreNotTakenForDropOutsAndAreNamedOnce) {
  meridex = false;
  constexpr std::uint32_t kTwelveBays = model::kLcdSeries | model::kServer2019 | 0x80;  // a map of four
  const std::string unwatched = "ディスクの位置を識別できないベイは切り離しを監視しません。\n";
  struct Case {
    const char* model;
    std::uint32_t flags;
    std::vector<std::uint32_t> filled;  // the masks of the bays with a disk
    std::vector<Posted> posted;
    std::vector<std::string> logged;
  };
  const Case cases[] = {
      {"an unrecognised model", 0, {}, {}, {unwatched + "[HDD0,HDD1,HDD2,HDD3]"}},
      {"twelve bays, a mapped one empty", kTwelveBays, {1, 2, 8},
       {{act_id::kDiskDropOut, 1, "2", "2,1", "HDD2がボリューム構成から切り離されました。"}},
       {unwatched + "[HDD5,HDD6,HDD7,HDD8,HDD9,HDD10,HDD11,HDD12]"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    flags = c.flags;
    monitor.reset();
    (void)os.registry.DeleteValue(kHklm, kNasKey, "HDDStaStatusTable");
    os.eventReporter.ClearRecords();
    std::vector<DiskInfo> found;
    for (const std::uint32_t mask : c.filled) found.push_back(Disk(mask, "S" + std::to_string(mask), false, flags));
    EXPECT_EQ(Pass(found), c.posted);
    EXPECT_THAT(Pass(found), IsEmpty());
    std::vector<std::string> logged;
    for (const fakes::LoggedEvent& entry : os.eventReporter.Entries()) {
      EXPECT_EQ(entry.eventId, event_id::kBaysNotWatched);
      logged.push_back(entry.text);
    }
    EXPECT_EQ(logged, c.logged) << "once per monitoring start";
    EXPECT_EQ(current.size(), BayCount(CodesOf(flags).bayCode)) << "every bay has its entry";
  }
}

TEST_F(DiskMonitorTest, SerialMemoryKeepsItsRowsAcrossRestartsAndOddSlots) {
  (void)RegHandle::SetMultiString(os.registry, kHklm, kNasKey, "HDDSerialInfo",
                                  std::vector<std::string>{"[0][OLD]", "[x][JUNK]", "[11][LAST]"});
  const std::vector<RememberedSerial> memory = LoadSerialMemory(os.registry);
  std::vector<std::uint32_t> masks;
  for (const RememberedSerial& row : memory) masks.push_back(row.portMask);
  EXPECT_EQ(masks, (std::vector<std::uint32_t>{1, 0, 4096}));
  SaveSerialMemory(os.registry, memory);
  EXPECT_THAT(Stored("HDDSerialInfo"), ElementsAre("[0][OLD]", "[-1][JUNK]", "[11][LAST]"));
  // A disk in bay 0 with another serial is a replacement, even on the first pass.
  flags = kTavolenFourBay;
  meridex = false;
  EXPECT_THAT(Pass({Disk(1, "NEW", false, flags), Disk(2, "B", false, flags), Disk(4, "C", false, flags),
                    Disk(8, "D", false, flags)}),
              ElementsAre(Posted{act_id::kDiskReplaced, 0, "", "0", "HDD0の交換を検出しました。"}));
}

TEST_F(DiskMonitorTest, TemperatureOpensAtTheThresholdAndClosesFiveBelow) {
  flags = kTavolenFourBay;
  meridex = false;
  struct Step {
    std::uint32_t celsius;
    std::vector<Posted> expected;
  };
  const Step steps[] = {
      {59, {}},
      {60, {{act_id::kDiskTemperature, 1, "1", "1,60,60", "HDD1の温度異常を検出しました。(60℃)"}}},
      {55, {}},
      {54, {{act_id::kDiskTemperature, 3, "1", "1,54,60", "HDD1の温度が回復しました。"}}},
  };
  for (const Step& step : steps) {
    DiskInfo disk = Disk(2, "S", false, flags);
    disk.temperature = step.celsius;
    EXPECT_EQ(Pass(Full(disk), true, /*restart=*/true), step.expected) << step.celsius;
  }
  // A disk without SMART data is never too hot.
  DiskInfo unread = Disk(2, "S", false, flags);
  unread.temperature = 90;
  unread.smartValid = 0;
  EXPECT_THAT(Pass(Full(unread)), IsEmpty());
}

TEST_F(DiskMonitorTest, SmartChangesAreComparedOnlyForTheSameDiskBetweenPasses) {
  flags = kTavolenFourBay;
  meridex = false;
  const auto withSmart = [&](std::uint64_t pending, std::uint64_t reallocated, const std::string& serial) {
    DiskInfo disk = Disk(1, serial, false, flags);
    disk.smartData = testing::SmartAnswer({{5, reallocated}, {197, pending}});
    return disk;
  };
  const std::string prefix = "0,S,1200,33,";
  EXPECT_THAT(Pass(Full(withSmart(0, 0, "S"))), IsEmpty());  // nothing to compare with yet
  EXPECT_THAT(Pass(Full(withSmart(2, 0, "S"))),
              ElementsAre(Posted{act_id::kSmartChanged, 0, "0", prefix + "C5,100,000000000002", "HDD0のSMART値に変化を検出しました(IDC5=000000000002)。"},
                          Posted{act_id::kSmartAttention, 0, "0", prefix + "C5,100,000000000002",
                                 "HDD0のSMART値に注意が必要な変化を検出しました(IDC5=000000000002)。"}));
  EXPECT_THAT(Pass(Full(withSmart(0, 1, "S"))),
              ElementsAre(Posted{act_id::kSmartChanged, 0, "0", prefix + "05,100,000000000001", "HDD0のSMART値に変化を検出しました(ID05=000000000001)。"},
                          Posted{act_id::kSmartChanged, 0, "0", prefix + "C5,100,000000000000", "HDD0のSMART値に変化を検出しました(IDC5=000000000000)。"}));
  // Another disk in the bay is a replacement, not a change of values.
  EXPECT_THAT(Pass(Full(withSmart(9, 9, "T"))), ElementsAre(Posted{act_id::kDiskReplaced, 0, "", "0", "HDD0の交換を検出しました。"}));
  // A Seagate raw value whose upper bytes change while the read number stays is no change.
  DiskInfo seagate = withSmart(0, 0, "T");
  seagate.friendlyName = "ST4000VN008";
  seagate.smartData = testing::SmartAnswer({{5, 9}, {197, 9}});
  EXPECT_THAT(Pass(Full(seagate)), IsEmpty());
  seagate.smartData = testing::SmartAnswer({{5, 0x0000'7700'0000'0009}, {197, 9}});
  EXPECT_THAT(Pass(Full(seagate)), IsEmpty());
}

}  // namespace
}  // namespace orv
