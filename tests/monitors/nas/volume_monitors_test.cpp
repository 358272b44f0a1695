#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "monitors/nas/raid_build.h"
#include "monitors/nas/volume_capacity_monitor.h"
#include "monitors/nas/volume_list.h"
#include "monitors/nas/volume_redundancy_monitor.h"
#include "support/posted_events.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr std::uint64_t kMiB = 1ULL << 20;
constexpr std::uint64_t kTiB = 1ULL << 40;

VolumeInfo Volume(char letter, std::uint64_t freeBytes, std::uint64_t totalBytes, std::uint32_t fileSystem = 4) {
  VolumeInfo volume;
  volume.driveLetter = static_cast<char16_t>(letter);
  volume.freeToCaller = freeBytes;
  volume.totalBytes = totalBytes;
  volume.fileSystemCode = fileSystem;
  volume.status = 1;
  volume.health = 1;
  return volume;
}

TEST(VolumeCapacityTest, LowSpaceOpensAtTheThresholdAndClosesTenPointsAbove) {
  EventQueue queue;
  fakes::FakeClock clock;
  const VolumeCapacityMonitor monitor(queue, clock);
  std::vector<MonitorState> rows;
  struct Step {
    std::uint64_t freeMiB;
    std::vector<Posted> expected;
  };
  const Step steps[] = {
      {31, {}},
      {30, {{act_id::kLowSpace, 1, "4", "D:,30", "ドライブD:の残り容量が30％に低下しています。"}}},
      {10, {}},
      {40, {}},
      {41, {{act_id::kLowSpace, 3, "4", "D,41", "ドライブD:の残り容量が回復しました。"}}},
  };
  for (const Step& step : steps) {
    monitor.Check(Volume('D', step.freeMiB * kMiB, 100 * kMiB), 30, rows);
    EXPECT_EQ(testing::DrainPosted(queue), step.expected) << step.freeMiB;
  }
  // Never tested: below 1 MiB in size, optical media, no media.
  VolumeInfo noMedia = Volume('G', 0, 100 * kMiB);
  noMedia.status = 3;
  for (const VolumeInfo& volume : {Volume('E', 0, kMiB - 1), Volume('F', 0, 100 * kMiB, kFileSystemCdfs),
                                   Volume('F', 0, 100 * kMiB, kFileSystemUdf), noMedia}) {
    monitor.Check(volume, 30, rows);
  }
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
  // A nearly empty 12-bay volume: free MiB × 100 does not fit 32 bits.
  monitor.Check(Volume('H', 49 * kTiB, 50 * kTiB), 30, rows);
  EXPECT_THAT(testing::DrainPosted(queue), IsEmpty());
  EXPECT_THAT(rows, IsEmpty());
}

TEST(VolumeListTest, LetteredAndEncryptedVolumesAreListedByLetterWithTheirSpace) {
  fakes::FakeVolumeQueries queries;
  queries.volumes["E:\\"] = {{kTiB / 4, kTiB, kTiB / 4}, "NTFS"};
  queries.volumes["D:\\"] = {{3 * kTiB, 4 * kTiB, 3 * kTiB}, "NTFS"};
  queries.volumes["K:\\"] = {{0, 0, 0}, "ReFS"};
  std::vector<LayoutVolume> layout(4);
  layout[0] = {u'E', "\\\\?\\Volume1", "{e}", 13, 1, 1, 4, 3, 0, 0, 0, ""};
  layout[1] = {u'D', "\\\\?\\Volume2", "{d}", 14, 1, 1, 9, 15, 0, 1, 0, "\\\\?\\PhysicalDrive7"};
  layout[2] = {u'\0', "\\\\?\\Volume3", "{k}", 10, 1, 1, kFileSystemRaw, 1, 0, 0, 0, ""};  // encrypted
  layout[3] = {u'\0', "\\\\?\\Volume4", "{x}", 10, 1, 1, kFileSystemRaw, 1, 0, 0, 0, ""};  // unknown to it
  const std::vector<LayoutDisk> disks = {{"Port5Path0Target0Lun0", "\\\\?\\PhysicalDrive7", "USB Stick", 11, 7, 32, 1, 1}};
  const auto encrypted = [](const std::string& id, std::uint32_t& number) {
    if (id != "{k}") return false;
    number = 10;
    return true;
  };
  const std::vector<VolumeInfo> list = BuildVolumeList(layout, disks, queries, encrypted);
  ASSERT_EQ(list.size(), 3U);
  EXPECT_EQ(list[0].layoutName + "|" + list[0].fileSystemName + "|" + list[0].diskModel, "RAID 5|ReFS|USB Stick");
  // K: has what the file system says, not "RAW", and without a total no percent.
  EXPECT_EQ((std::u16string{list[0].driveLetter, list[1].driveLetter, list[2].driveLetter}), u"DEK");
  EXPECT_EQ(std::tuple(list[0].usedPercent, list[1].usedPercent, list[2].usedPercent, list[2].fileSystemCode),
            std::tuple(25U, 75U, 0U, 9U));
  // Without the library the encrypted volume is simply not listed.
  EXPECT_EQ(BuildVolumeList(layout, disks, queries, nullptr).size(), 2U);
}

TEST(RaidBuildTest, VolumesGetLettersMembersAndExternalFlagsFromTheirDisks) {
  os::VdsSnapshot snapshot;
  snapshot.disks = {{"{1}", 1, 1, 12, 11, 0, "Port1Path0Target0Lun0", "\\\\?\\PhysicalDrive0", "A"},
                    {"{2}", 5, 1, 12, 11, 0, "Port1Path0Target1Lun0", "\\\\?\\PhysicalDrive1", "B"},
                    {"{3}", 1, 1, 11, 7, 0, "Port9Path0Target0Lun0", "\\\\?\\PhysicalDrive2", "USB"},
                    {"{4}", 1, 1, 12, 11, 0, "Port0Path1Target0Lun0", "\\\\?\\PhysicalDrive3", "ESATA"}};
  snapshot.volumes = {{"{v1}", "V1", 13, 1, 1, 4, {"{1}", "{2}", "{1}"}},
                      {"{v2}", "V2", 10, 1, 1, 4, {"{3}", "{gone}"}},
                      {"{v3}", "V3", 10, 1, 1, 4, {"{4}"}}};
  snapshot.driveLetters = {{u'C', "{v1}", false}, {u'D', "{v1}", true}, {u'E', "{v2}", true}};
  const RaidBuild layout(snapshot, model::kTemperatureSeries | model::kServer2019 | model::kFourBays);
  ASSERT_EQ(layout.Volumes().size(), 3U);
  const LayoutVolume& mirror = layout.Volumes()[0];
  EXPECT_EQ(std::tuple(mirror.driveLetter, mirror.memberMask, mirror.offlineMember, mirror.usb + mirror.esata),
            std::tuple(u'D', 3U, 1U, 0U));
  EXPECT_EQ(layout.Volumes()[1].usb, 1U);
  const LayoutVolume& external = layout.Volumes()[2];
  EXPECT_EQ(external.diskName + "," + std::to_string(external.esata), "\\\\?\\PhysicalDrive3,1");

  fakes::FakeVirtualDiskService missing;
  EXPECT_FALSE(RaidBuild(missing, kTavolenFourBay).Initialized());
}

TEST(MissingDisksTest, ExpectedBaysAbsentFromTheVolumeAreNamedByTheirNumbers) {
  struct Row {
    std::uint32_t expected, present, sraid;
    bool meridex;
    std::uint32_t flags;
    const char* missing;
  };
  const Row rows[] = {
      {15, 11, 0, true, kTavolenFourBay, "3"},
      {15, 15, 1U << 9, false, kTavolenFourBay, "1"},  // slot 1 failed: bit 5 + 4
      {15, 3, 0, false, kTavolenFourBay, "2,3"},
      {30, 30, 1U << 5, true, kMeridexFiveBay, "2"},  // the 5-bay line: slot 0 is bay bit 1
      {31, 0, 0, true, kMeridexFiveBay, "2,3,4,5"},    // its first bay never counts
      {0xFFFF, 0xFFFF, 0xFFFFFFFF, false, model::kLcdSeries | 0x80, "0,1,2,3,5,6"},  // 12 bays: no bits past 31
  };
  for (const Row& row : rows) {
    EXPECT_EQ(MissingDisks(row.expected, row.present, row.sraid, row.meridex, row.flags), row.missing)
        << row.expected << "/" << row.present << "/" << row.sraid;
  }
}

class RedundancyTest : public ::testing::Test {
 protected:
  std::vector<Posted> Pass(std::uint32_t health, std::uint32_t memberMask = 11) {
    VolumeInfo volume = Volume('D', kTiB, 4 * kTiB);
    volume.health = health;
    volume.memberMask = memberMask;
    monitor.Check(volume, companion, rows);
    return testing::DrainPosted(queue);
  }
  fakes::FakeOs os;
  EventQueue queue;
  VolumeRedundancyMonitor monitor{os.Ports(), queue, false, kTavolenFourBay};
  RaidCompanionValues companion{{{"D", 15}}, {}, 0};
  std::vector<MonitorState> rows;
};

TEST_F(RedundancyTest, ADegradedVolumeIsReportedThenItsRebuildThenItsRepair) {
  EXPECT_THAT(Pass(2), IsEmpty());  // rebuilding without a row: nothing to say
  EXPECT_THAT(Pass(5), ElementsAre(Posted{act_id::kVolumeDegraded, 1, "4", "D:,2", "ボリューム(D:)の冗長性に障害を検出しました。"}));
  EXPECT_THAT(Pass(5), IsEmpty());
  EXPECT_THAT(Pass(2), ElementsAre(Posted{act_id::kVolumeDegraded, 2, "4", "D:", "ボリューム(D:)の修復を開始しました。"}));
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_EQ(rows[0].msg, "ボリューム(D:)の修復を開始しました。");
  EXPECT_THAT(Pass(2), IsEmpty());
  companion.errorDiskMasks = {8};  // healthy, but a member is on the failed list
  EXPECT_THAT(Pass(1), IsEmpty());
  companion.errorDiskMasks = {4};  // a failed disk that is no member
  EXPECT_THAT(Pass(1), ElementsAre(Posted{act_id::kVolumeDegraded, 3, "4", "D:", "ボリューム(D:)の修復を完了しました。"}));
  EXPECT_THAT(rows, IsEmpty());
}

}  // namespace
}  // namespace orv
