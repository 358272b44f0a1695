// The NAS monitors that turn records of the event logs into events: the RAID mode changes, the
// encryption product's records and the disk driver's bad-block records.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <utility>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "monitors/nas/disk_error_monitor.h"
#include "monitors/nas/encrypted_volume_monitor.h"
#include "monitors/nas/raid_mode_monitor.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using testing::Posted;

// Creation times with both halves in use, so a swapped or truncated half shows.
constexpr std::uint64_t kRaidFirst = 0x01DB'4A2F'8000'0001;
constexpr std::uint64_t kRaidSecond = 0x01DB'4A30'0000'0002;
constexpr std::uint64_t kRaidThird = 0x01DB'4A31'0000'0003;

class RaidModeTest : public ::testing::Test {
 public:
  RaidModeTest() {
    os.registry.AddKey(kNasKey);
    os.eventLogStore.AddChannel("Application");
  }
  void Log(std::uint64_t created, const std::string& mode, std::uint16_t id = 1111,
           const std::string& provider = "ArraySetup") {
    os.eventLogStore.Append("Application",
                            {provider, id, created, {os::EventValue{os::EventValue::Kind::Text, mode, 0, 0}}, 0});
  }
  std::vector<Posted> Run() {
    monitor.Check();
    return testing::DrainPosted(queue);
  }
  std::pair<std::optional<std::uint32_t>, std::optional<std::uint32_t>> Stored() {
    const RegHandle nas(os.registry, os::RegistryRoot::LocalMachine, std::string(kNasKey));
    return {nas.GetDword(kRaidChangeLow), nas.GetDword(kRaidChangeHigh)};
  }
  void Store(std::uint32_t low, std::uint32_t high) {
    const RegHandle nas(os.registry, os::RegistryRoot::LocalMachine, std::string(kNasKey));
    ASSERT_TRUE(nas.SetDword(kRaidChangeLow, low));
    ASSERT_TRUE(nas.SetDword(kRaidChangeHigh, high));
  }

  fakes::FakeOs os;
  EventQueue queue;
  RaidModeMonitor monitor{os.Ports(), queue};
};

Posted ModeChanged(const std::string& para, const std::string& mode) {
  return {3020, 0, "", para, "RAID動作モードが" + mode + "に変更されました。"};
}

TEST_F(RaidModeTest, TheFirstRecordIsTheStartingPointAndOnlyTheNewestLaterOneIsReportedOnce) {
  Log(kRaidFirst, "RAID1パターン");
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0x8000'0001u, 0x01DB'4A2Fu));
  Log(kRaidSecond, "RAID5パターン");
  Log(kRaidThird, "RAID6パターン");
  Log(kRaidThird + 1, "RAID0パターン", 1112);  // other records of the log do not count
  Log(kRaidThird + 2, "RAID0パターン", 1111, "OtherTool");
  EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID6", "RAID6パターン")));
  EXPECT_THAT(Stored(), Pair(0x0000'0003u, 0x01DB'4A31u));
  EXPECT_THAT(Run(), IsEmpty());
}

TEST_F(RaidModeTest, ATimeDifferingInEitherWordAloneIsANewRecord) {
  // The high word alone changes, then the low word alone.
  const std::uint64_t rows[] = {kRaidFirst + (std::uint64_t{1} << 32), kRaidFirst + (std::uint64_t{1} << 32) + 1};
  Store(0x8000'0001u, 0x01DB'4A2Fu);
  for (const std::uint64_t created : rows) {
    Log(created, "RAID5パターン");
    EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID5", "RAID5パターン"))) << std::hex << created;
    EXPECT_THAT(Stored(), Pair(static_cast<std::uint32_t>(created), static_cast<std::uint32_t>(created >> 32)));
  }
}

// A failed query, like an empty log, stores zero: the first record read later is news.
TEST_F(RaidModeTest, FailedQueryReportsNothingAndOnlyFillsMissingValues) {
  Log(kRaidFirst, "パターンAパターンB");
  os.eventLogStore.failures.query = os::kErrorEvtChannelNotFound;
  EXPECT_THAT(Run(), IsEmpty());
  EXPECT_THAT(Stored(), Pair(0u, 0u));
  os.eventLogStore.failures.query = os::kSuccess;
  monitor.Check();
  std::vector<AgentEvent> posted;
  queue.Drain([&posted](const AgentEvent& event) { posted.push_back(event); });
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].act_para, "AB") << "every pattern word leaves the parameter, not the message";
  EXPECT_EQ(posted[0].msg, "RAID動作モードがパターンAパターンBに変更されました。");
  EXPECT_EQ(posted[0].source + std::to_string(posted[0].sourceEventId), "ArraySetup1111");
  os.eventLogStore.failures.query = os::kErrorEvtChannelNotFound;

  Store(0x8000'0001u, 0x01DB'4A2Fu);
  Log(kRaidSecond, "RAID5パターン");
  EXPECT_THAT(Run(), IsEmpty());
  os.eventLogStore.failures.query = os::kSuccess;
  EXPECT_THAT(Run(), ElementsAre(ModeChanged("RAID5", "RAID5パターン")));
}

// The encryption product's records land in the same log as the RAID tool's.
class EncryptedVolumeTest : public RaidModeTest {
 public:
  EncryptedVolumeTest() {
    os.eventLogStore.AddPublisher("SEALVOL", {{1003, "Volume %1 has been encrypted."},
                                              {2003, "Volume %1 has been decrypted."},
                                              {6000, "The encrypted volumes have been locked."},
                                              {7000, "ボリューム %1 をアンロックしました。"}});
  }
  void Seal(std::uint16_t id, const std::string& volume, const std::string& provider = "SEALVOL") {
    Log(0, volume, id, provider);
  }
};

TEST_F(EncryptedVolumeTest, EachNewRecordIsOneEventInLogOrder) {
  Seal(1003, "C:");  // before the monitor: never reported
  EncryptedVolumeMonitor encryption(os.Ports(), queue);
  encryption.Check();
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());

  Seal(1003, "D:");
  Seal(1111, "E:");             // another record of the product: not asked for
  Seal(2003, "E:", "NOTSEAL");  // another provider's record
  Seal(2003, "E:");
  Seal(6000, "F:");
  Seal(7000, "G:");
  encryption.Check();
  EXPECT_THAT(testing::DrainPosted(queue),
              ElementsAre(Posted{act_id::kEncryption, 0, "", "暗号化,D:", "ボリューム(D:)が暗号化されました。"},
                          Posted{act_id::kEncryption, 0, "", "暗号化解除,E:", "暗号化ボリューム(E:)が暗号解除されました。"},
                          Posted{act_id::kEncryption, 0, "", "ロック", "暗号化ボリュームがロックされました。"},
                          Posted{act_id::kEncryption, 0, "", "アンロック,G:", "暗号化ボリューム(G:)がアンロックされました。"}));

  encryption.Check();
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty()) << "each record once";
}

TEST(VolumeTextIn, TakesTwoCharactersAfterVolumeElsePositionsSixAndSeven) {
  struct Case {
    const char* message;
    const char* volume;
  };
  const Case cases[] = {
      {"Volume D: has been encrypted.", "D:"},
      {"Drive G: has been encrypted.", "G:"},  // no "Volume ": positions 6 and 7
      {"ボリューム D: を暗号化しました。", "D:"},  // positions count characters, not bytes
      {"Locked", ""},   // shorter than 8 characters: nothing is read past the end
      {"abcde\xF0\x9F\x98\x80xyz", ""},  // position 6 is the second half of a character
  };
  for (const Case& c : cases) EXPECT_EQ(VolumeTextIn(c.message), c.volume) << c.message;
}

constexpr std::uint32_t kDiskErrorFourBay = model::kLcdSeries | model::kServer2019 | model::kFourBays;
constexpr const char* kDriverText = "デバイス \\Device\\Harddisk%1\\DR%1 に不良ブロックがあります。";

std::vector<DiskInfo> DiskErrorDisks() {
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
      {"デバイス \\Device\\Harddisk1\\DR1 に不良ブロックがあります。", kDiskErrorFourBay, "5,DR1,0", "「HDD5」エラー"},
      {"デバイス \\Device\\Harddisk10\\DR10 に不良ブロックがあります。", kDiskErrorFourBay, "6,DR10,0", "「HDD6」エラー"},
      {"デバイス \\Device\\Harddisk3\\DR3 に不良ブロックがあります。", kDiskErrorFourBay, ",DR3,0", "「HDD」エラー"},
      {"The device, \\Device\\Harddisk1\\DR1, has a bad block.", kDiskErrorFourBay, "5,,0", "「HDD5」エラー"},
      {"Harddisk", kDiskErrorFourBay, ",,0", "「HDD」エラー"},  // no number: no disk, not the first one
      {"デバイス \\Device\\Harddisk1\\DR1 に不良ブロックがあります。", kDiskErrorFourBay | model::kBoardSeries, ",DR1,0",
       "HDDエラー（故障ディスクの確認方法は製品のユーザーズマニュアルをご参照ください）"},
  };
  fakes::FakeClock clock;
  for (const Row& row : rows) {
    const AgentEvent event = DiskErrorEvent(row.message, DiskErrorDisks(), row.flags, clock);
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
  DiskErrorMonitor monitor(os.Ports(), queue, kDiskErrorFourBay);
  monitor.Check(DiskErrorDisks());
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
  log("disk", 7, "1");
  log("Ntfs", 7, "1");
  log("disk", 51, "1");
  log("Disk", 7, "10");
  std::string events;
  monitor.Check(DiskErrorDisks());
  queue.Drain([&](const AgentEvent& e) { events += e.act_para + " " + e.source + std::to_string(e.sourceEventId) + ";"; });
  EXPECT_EQ(events, "5,DR1,0 disk7;6,DR10,0 Disk7;");
  monitor.Check(DiskErrorDisks());
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
}

}  // namespace
}  // namespace orv
