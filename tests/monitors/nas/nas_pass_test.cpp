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
#include "platform/agent_registry.h"
#include "support/posted_events.h"
#include "support/quiet_appliance.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr std::uint64_t kGiB = 1ULL << 30;

// The quiet appliance with its last bay empty and a one-disk volume E: nearly full.
class NasPassTest : public ::testing::Test {
 protected:
  NasPassTest() {
    os::VdsSnapshot snapshot = os.diskService.snapshot;
    snapshot.disks.pop_back();
    snapshot.volumes[1] = {"{e}", "\\\\?\\Volume{e}", 10, 1, 1, 4, {"{2}"}};
    os.diskService.Serve(snapshot);
    os.volumes.volumes["E:\\"].space = {100 * kGiB, 4000 * kGiB, 100 * kGiB};
    (void)testing::DrainPosted(NasEventQueue());
  }
  ~NasPassTest() override { (void)testing::DrainPosted(NasEventQueue()); }

  std::vector<Posted> Pass(AgentCtrl_LNAS& nas) {
    nas.Check(PassKind::Round);
    return testing::DrainPosted(NasEventQueue());
  }

  testing::QuietAppliance appliance;
  fakes::FakeOs& os = appliance.fake;
};

TEST_F(NasPassTest, BaysAndVolumesAreReportedOnceAcrossARestart) {
  {
    AgentCtrl_LNAS nas(os.Ports(), false, kTavolenFourBay);
    EXPECT_THAT(Pass(nas), ElementsAre(Posted{act_id::kDiskDropOut, 1, "3", "3,1", "HDD3がボリューム構成から切り離されました。"},
                                       Posted{act_id::kLowSpace, 1, "5", "E:,2", "ドライブE:の残り容量が2％に低下しています。"}));
    const NasStatusData& data = nas.Data();
    ASSERT_EQ(data.disks.size(), 4U);
    ASSERT_EQ(data.volumes.size(), 2U);
    EXPECT_EQ(data.disks[1].serialNumber + "," + std::to_string(data.disks[1].temperature), "SER1,38");
    EXPECT_EQ(data.volumes[0].memberMask, 3U);
    EXPECT_EQ(data.samples.diskTemperatures.size(), 3U) << "the bays with a disk";
  }
  AgentCtrl_LNAS restarted(os.Ports(), false, kTavolenFourBay);
  EXPECT_THAT(Pass(restarted), IsEmpty());
  EXPECT_THAT(os.eventReporter.Ids(), IsEmpty());
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

}  // namespace
}  // namespace orv
