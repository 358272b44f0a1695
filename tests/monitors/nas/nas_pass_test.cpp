// The storage half of the NAS pass as the controller runs it: the layout read through the
// Virtual Disk Service, the disks through their SMART and property requests, the volumes
// through the file system, the conditions kept across a restart.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "monitors/nas/agent_ctrl_lnas.h"
#include "monitors/nas/vs_query.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "support/ata_sectors.h"
#include "support/posted_events.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr std::uint64_t kGiB = 1ULL << 30;

class NasPassTest : public ::testing::Test {
 protected:
  NasPassTest() {
    os.registry.AddKey(std::string(kStatusKey));
    os.registry.AddKey(std::string(kNasKey));
    os::VdsSnapshot snapshot;
    for (int bay = 0; bay < 3; ++bay) {
      const std::string id = "{" + std::to_string(bay) + "}";
      const std::string device = "\\\\?\\PhysicalDrive" + std::to_string(bay);
      snapshot.disks.push_back({id, 1, 1, 12, 11, 0, "Port0Path" + std::to_string(bay) + "Target0Lun0", device,
                                "WDC WD40EFRX"});
      fakes::FakeStorageDevice::Disk& disk = os.storage.disks[device];
      disk.identify.bytes = testing::IdentifySector("WDC WD40EFRX");
      disk.smartData.bytes = testing::SmartSector({{9, 1000}, {12, 20}, {194, 38}, {197, 0}});
      disk.smartThresholds.bytes = std::vector<std::uint8_t>(512, 0);
      disk.deviceDescriptor.bytes = fakes::FakeStorageDevice::DescriptorAnswer("", "WDC WD40EFRX", "FW", "SER" + std::to_string(bay));
    }
    snapshot.volumes = {{"{d}", "\\\\?\\Volume{d}", 13, 1, 1, 4, {"{0}", "{1}"}},
                        {"{e}", "\\\\?\\Volume{e}", 10, 1, 1, 4, {"{2}"}}};
    snapshot.driveLetters = {{u'D', "{d}", true}, {u'E', "{e}", true}};
    os.diskService.Serve(snapshot);
    os.volumes.volumes["D:\\"] = {{3000 * kGiB, 4000 * kGiB, 3000 * kGiB}, "NTFS"};
    os.volumes.volumes["E:\\"] = {{100 * kGiB, 4000 * kGiB, 100 * kGiB}, "NTFS"};
    (void)testing::DrainPosted(NasEventQueue());
  }
  ~NasPassTest() override { (void)testing::DrainPosted(NasEventQueue()); }

  std::vector<Posted> Pass(AgentCtrl_LNAS& nas) {
    nas.Check(PassKind::Round);
    return testing::DrainPosted(NasEventQueue());
  }

  fakes::FakeOs os;
};

TEST_F(NasPassTest, BaysAndVolumesAreReportedOnceAcrossARestart) {
  {
    AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay);
    EXPECT_THAT(Pass(nas), ElementsAre(Posted{act_id::kDiskDropOut, 1, "3", "3,1", "HDD3がボリューム構成から切り離されました。"},
                                       Posted{act_id::kLowSpace, 1, "5", "E:,2", "ドライブE:の残り容量が2％に低下しています。"}));
    const NasStatusData& data = nas.Data();
    ASSERT_EQ(data.disks.size(), 4U);
    EXPECT_EQ(data.disks[1].serialNumber, "SER1");
    EXPECT_EQ(data.disks[1].temperature, 38U);
    ASSERT_EQ(data.volumes.size(), 2U);
    EXPECT_EQ(data.volumes[0].memberMask, 3U);
    EXPECT_EQ(data.samples.diskTemperatures.size(), 3U) << "the bays with a disk";
  }
  AgentCtrl_LNAS restarted(os.Ports(), false, kTavolenFourBay);
  EXPECT_THAT(Pass(restarted), IsEmpty());
  EXPECT_THAT(os.eventReporter.Ids(), IsEmpty());
}

TEST_F(NasPassTest, AnUnreadableLayoutIsLoggedEachPassAndReportsNoEmptyBay) {
  os.diskService.FailWith(0x80040154);
  AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay);
  for (int pass = 0; pass < 2; ++pass) EXPECT_THAT(Pass(nas), IsEmpty());
  EXPECT_THAT(os.eventReporter.Ids(), ElementsAre(event_id::kDiskInfoFailed, event_id::kVolumeInfoFailed,
                                                  event_id::kDiskInfoFailed, event_id::kVolumeInfoFailed));
  EXPECT_EQ(nas.Data().disks.size(), 4U);
  EXPECT_THAT(nas.Data().volumes, IsEmpty());
}

TEST_F(NasPassTest, TheBoardLineWatchesVolumesButNoBays) {
  AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay | model::kBoardSeries);
  EXPECT_THAT(Pass(nas), ElementsAre(Posted{act_id::kLowSpace, 1, "5", "E:,2", "ドライブE:の残り容量が2％に低下しています。"}));
  EXPECT_THAT(nas.Data().disks, IsEmpty());
  EXPECT_TRUE(os.storage.calls.empty());
}

TEST_F(NasPassTest, EncryptedVolumesGetTheirLetterFromOneLibraryLoadPerPass) {
  // Two volumes the layout sees raw and letterless: the encryption product names F and G.
  const os::VdsSnapshot plain = os.diskService.snapshot;
  os::VdsSnapshot snapshot = plain;
  snapshot.volumes.push_back({"{f}", "\\\\?\\Volume{f}", 10, 1, 1, 1, {"{2}"}});
  snapshot.volumes.push_back({"{g}", "\\\\?\\Volume{g}", 10, 1, 1, 1, {"{2}"}});
  os.diskService.Serve(snapshot);
  fakes::FakeService product;
  product.config.startType = 2;
  product.config.binaryPath = "C:\\Sealvol\\sealsvc.exe";
  os.serviceManager.services[std::string(kEncryptionServiceName)] = product;
  os.encryption.installedAt = "C:\\Sealvol\\sealvol_query.dll";
  os.encryption.driveNumbers = {{"{f}", 5}, {"{g}", 6}};
  os.volumes.volumes["F:\\"] = {{3000 * kGiB, 4000 * kGiB, 3000 * kGiB}, "NTFS"};
  os.volumes.volumes["G:\\"] = {{3000 * kGiB, 4000 * kGiB, 3000 * kGiB}, "ReFS"};

  AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay);
  for (int pass = 1; pass <= 2; ++pass) {
    (void)Pass(nas);
    EXPECT_EQ(os.encryption.loads.size(), static_cast<std::size_t>(pass)) << "one load for both volumes";
    EXPECT_EQ(os.encryption.unloads, pass) << "and unloaded when the pass is done";
  }
  std::string letters;
  for (const VolumeInfo& volume : nas.Data().volumes) letters += static_cast<char>(volume.driveLetter);
  EXPECT_EQ(letters, "DEFG");
  EXPECT_EQ(nas.Data().volumes[3].fileSystemName, "ReFS");

  // Without a raw letterless volume the product is never asked, not even whether it is installed.
  os.diskService.Serve(plain);
  os.serviceManager.openAccesses.clear();
  (void)Pass(nas);
  EXPECT_EQ(os.encryption.loads.size(), 2U);
  EXPECT_THAT(os.serviceManager.openAccesses, IsEmpty());
}

TEST_F(NasPassTest, TheEventStepReportsEncryptionRecordsAndRaidModeChangesAfterStart) {
  os.eventLogStore.AddChannel("Application");
  os.eventLogStore.AddPublisher("SEALVOL", {{1003, "Volume %1 has been encrypted."}});
  const auto log = [this](const std::string& provider, std::uint16_t id, std::uint64_t created, const std::string& text) {
    os.eventLogStore.Append("Application", {provider, id, created, {os::EventValue{os::EventValue::Kind::Text, text, 0, 0}}, 0});
  };
  log("SEALVOL", 1003, 1, "D:");  // before the agent started: not reported
  log("ArraySetup", 1111, 2, "パフォーマンスパターン");  // the starting point of the mode

  AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay);
  nas.CheckEncryptedVolumes();
  EXPECT_THAT(testing::DrainPosted(NasEventQueue()), IsEmpty());

  log("SEALVOL", 1003, 3, "E:");
  log("ArraySetup", 1111, 4, "セーフティパターン");
  nas.CheckEncryptedVolumes();
  EXPECT_THAT(testing::DrainPosted(NasEventQueue()),
              ElementsAre(Posted{act_id::kEncryption, 0, "", "暗号化,E:", "ボリューム(E:)が暗号化されました。"},
                          Posted{act_id::kRaidMode, 0, "", "セーフティ", "RAID動作モードがセーフティパターンに変更されました。"}));
}

}  // namespace
}  // namespace orv
