// A registered 4-bay appliance on which nothing changes, and the monitoring session running on
// it in simulated time: four healthy disks in their bays, two volumes with room, fans and
// temperatures within their limits, no UPS, nothing in the event logs. What its quiet rounds
// ask of the system is counted by kind, for the tests and the benchmark of a quiet round.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_os.h"
#include "model/model_flags.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "service/monitoring_session.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "support/ata_sectors.h"
#include "support/shared_names.h"

namespace orv::testing {

// The port calls of a stretch of work, by kind.
struct PortCalls {
  fakes::FakeRegistry::KeyUses registry;
  int deviceWalks = 0;   // device classes and HID interfaces listed
  int comCreations = 0;  // Virtual Disk Service loads and WMI connections
};

class QuietAppliance {
 public:
  static constexpr std::uint32_t kModel = model::kLcdSeries | model::kServer2019 | model::kFourBays;
  static constexpr const char* kModelKey = "SOFTWARE\\Wow6432Node\\Tavolen\\TavolenNas";
  static constexpr const char* kPanelKey = "SOFTWARE\\Wow6432Node\\MERIDEX\\FrontLcd\\Config";

  QuietAppliance() : fake(/*simulatedTime=*/true) {
    fake.sync.DriveTimeFrom(std::this_thread::get_id());
    for (const std::string_view key : {kStatusKey, kCommonKey, kNasKey}) fake.registry.AddKey(key);
    fake.registry.AddKey(kModelKey);
    fake.registry.AddKey(kPanelKey);
    (void)RegHandle::SetDword(fake.registry, kHklm, kModelKey, "ModelInfo", kModel);
    (void)RegHandle::SetDword(fake.registry, kHklm, kPanelKey, "CpuFan", 3000);
    (void)RegHandle::SetDword(fake.registry, kHklm, kPanelKey, "CpuTemp", 40);
    (void)RegHandle::SetDword(fake.registry, kHklm, kPanelKey, "SysFan", 2000);
    (void)RegHandle::SetDword(fake.registry, kHklm, kStatusKey, "InitEvent", 1);
    (void)RegHandle::SetBinary(fake.registry, kHklm, kStatusKey, "DEVICEID",
                               std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    for (const char* channel : {"System", "Application", "VaultBackupService"}) fake.eventLogStore.AddChannel(channel);
    fake.files.AddDirectory("C:\\orvsvc");

    os::VdsSnapshot snapshot;
    for (int bay = 0; bay < 4; ++bay) {
      const std::string id = "{" + std::to_string(bay) + "}";
      const std::string device = "\\\\?\\PhysicalDrive" + std::to_string(bay);
      snapshot.disks.push_back({id, 1, 1, 12, 11, 0, "Port0Path" + std::to_string(bay) + "Target0Lun0", device,
                                "WDC WD40EFRX"});
      fakes::FakeStorageDevice::Disk& disk = fake.storage.disks[device];
      disk.identify.bytes = IdentifySector("WDC WD40EFRX");
      disk.smartData.bytes = SmartSector({{9, 1000}, {12, 20}, {194, 38}, {197, 0}});
      disk.smartThresholds.bytes = std::vector<std::uint8_t>(512, 0);
      disk.deviceDescriptor.bytes =
          fakes::FakeStorageDevice::DescriptorAnswer("", "WDC WD40EFRX", "FW", "SER" + std::to_string(bay));
    }
    constexpr std::uint64_t kGiB = 1ULL << 30;
    snapshot.volumes = {{"{d}", "\\\\?\\Volume{d}", 13, 1, 1, 4, {"{0}", "{1}"}},
                        {"{e}", "\\\\?\\Volume{e}", 13, 1, 1, 4, {"{2}", "{3}"}}};
    snapshot.driveLetters = {{u'D', "{d}", true}, {u'E', "{e}", true}};
    fake.diskService.Serve(snapshot);
    fake.volumes.volumes["D:\\"] = {{3000 * kGiB, 4000 * kGiB, 3000 * kGiB}, "NTFS"};
    fake.volumes.volumes["E:\\"] = {{3000 * kGiB, 4000 * kGiB, 3000 * kGiB}, "NTFS"};
  }

  // Counting starts again.
  void ResetCounts() {
    fake.registry.ResetUses();
    start_ = {{}, fake.devices.walks + fake.hid.walks(), fake.diskService.enumerations + fake.wmi.connections()};
  }
  PortCalls Counts() const {
    return {fake.registry.TotalUses(), fake.devices.walks + fake.hid.walks() - start_.deviceWalks,
            fake.diskService.enumerations + fake.wmi.connections() - start_.comCreations};
  }

  fakes::FakeOs fake;

 private:
  PortCalls start_;
};

// The controller's monitoring session on the appliance, started. Rounds run at one simulated
// instant, so no periodic status falls due: every round is a quiet one.
struct QuietSession {
  explicit QuietSession(QuietAppliance& appliance)
      : controller(appliance.fake.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess),
        upload(appliance.fake.Ports()),
        session((controller.ReadState(upload), controller), upload) {
    (void)session.Start();
  }

  CORVSvcCtrl controller;
  AgentCtrl_Upload upload;
  MonitoringSession session;
};

}  // namespace orv::testing
