// A reading that fails for one round, on a steady appliance, across the NAS pass and the
// common checks as the controller runs them: the failed round and the next good one raise
// nothing a steady appliance would not, and a real change made across the failed round is
// still reported, once, when the reading works again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/event_queue.h"
#include "model/model_flags.h"
#include "monitors/common/agent_ctrl_common.h"
#include "monitors/common/software_watcher.h"
#include "monitors/nas/agent_ctrl_lnas.h"
#include "platform/agent_ctrl_config_file.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/ata_sectors.h"
#include "support/monitor_fixture.h"
#include "support/posted_events.h"
#include "support/quiet_appliance.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using testing::Posted;

constexpr std::uint64_t kGiB = 1ULL << 30;
constexpr std::string_view kFanPanelKey = testing::QuietAppliance::kPanelKey;
constexpr std::string_view kStorageControllers = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
constexpr std::string_view kBackupChannel = "Microsoft-Windows-Backup";
constexpr std::uint64_t kFileTimeDay = 864'000'000'000ULL;

std::string Device(int bay) { return "\\\\?\\PhysicalDrive" + std::to_string(bay); }

// The quiet 4-bay appliance with one network port, one storage driver, one program, a backup
// history, a UPS charged and Windows Update done; its monitors built as a monitoring loop
// builds them.
class Appliance : public testing::QuietAppliance {
 public:
  Appliance() : snapshot(os.diskService.snapshot) {
    for (const std::string_view key : {kUninstallKey64, kUninstallKey32}) os.registry.AddKey(key);
    os::RawAdapter port;
    port.description = "Intel(R) Ethernet";
    port.physicalAddress = {0x00, 0x90, 0x27, 0x00, 0x00, 0x01};
    port.operStatus = 2;
    os.adapters.adapters = {port};
    SetStorageDriver(0x0001'0000'0000'0000);
    Install("{A}", "Office Suite", "1.0");

    os.eventLogStore.AddChannel(kBackupChannel);
    os.eventLogStore.AddPublisher("disk", {{7, "デバイス \\Device\\Harddisk%1\\DR%1 に不良ブロックがあります。"}});
    Backup(4, kFileTimeDay);
    DiskError(kFileTimeDay);  // before the agent started: not reported

    os.hid.Set({testing::ApcUps()});
    os.windowsUpdate.times.lastInstallation = os::CalendarTime{2026, 12, 0, 1, 3, 0, 0, 0};

    nas = std::make_unique<AgentCtrl_LNAS>(os.Ports(), false, kTavolenFourBay);
    common = std::make_unique<AgentCtrl_COMMON>(os.Ports());
    programs = ReadInstalledSoftware(os.registry, kUninstallKey64);
    stop = os.sync.NewEvent(os::EventReset::Manual, {}).take();
  }

  ~Appliance() {
    (void)testing::DrainPosted(NasEventQueue());
    (void)testing::DrainPosted(CommonEventQueue());
  }

  // One round as the controller runs it, with the software comparison a registry notice
  // starts: what the NAS monitors posted, then what the common ones did.
  std::vector<Posted> Round() {
    nas->Check(PassKind::Round);
    common->Check(PassKind::Round, definitions);
    common->CheckNetwork();
    common->CheckDrivers();
    CompareInstalledSoftware(os.Ports(), *stop, kUninstallKey64, programs, CommonEventQueue());
    std::vector<Posted> posted = testing::DrainPosted(NasEventQueue());
    for (Posted& p : testing::DrainPosted(CommonEventQueue())) posted.push_back(std::move(p));
    return posted;
  }

  void SetFan(std::string_view name, std::uint32_t value) {
    ASSERT_TRUE(RegHandle::SetDword(os.registry, kHklm, kFanPanelKey, name, value));
  }
  void SetSmart(int bay, std::uint64_t celsius, std::uint64_t pendingSectors) {
    os.storage.disks[Device(bay)].smartData.bytes =
        testing::SmartSector({{9, 1000}, {12, 20}, {194, celsius}, {197, pendingSectors}});
  }
  void SetStorageDriver(std::uint64_t version) {
    os.devices.classes[std::string(kStorageControllers)] = {{"Intel SATA", os::kSuccess, {{kFileTimeDay, version}}}};
  }
  void Install(const std::string& keyName, const char* name, const char* version) {
    const std::string path = std::string(kUninstallKey64) + "\\" + keyName;
    os.registry.AddKey(path);
    ASSERT_TRUE(RegHandle::SetString(os.registry, kHklm, path, "DisplayName", name));
    ASSERT_TRUE(RegHandle::SetString(os.registry, kHklm, path, "DisplayVersion", version));
  }
  void Backup(std::uint16_t id, std::uint64_t fileTime) {
    os.eventLogStore.Append(kBackupChannel, {std::string(kBackupChannel), id, fileTime, {}, 0});
  }
  void DiskError(std::uint64_t fileTime) {
    os.eventLogStore.Append("System", {"disk", 7, fileTime, {{os::EventValue::Kind::Text, "0", 0, 0}}, 0});
  }

  fakes::FakeOs& os = fake;
  os::VdsSnapshot snapshot;
  AgentCtrl_ConfigFile definitions{os.files, os.xmlReader};
  std::unique_ptr<AgentCtrl_LNAS> nas;
  std::unique_ptr<AgentCtrl_COMMON> common;
  std::vector<SoftwareEntry> programs;
  std::unique_ptr<os::Event> stop;
};

using Step = std::function<void(Appliance&)>;

struct Row {
  const char* reading;
  Step fail;   // the read fails from now on
  Step heal;   // and works again
  Step change;  // a real change made just before the failed round
  std::vector<Posted> changeDuringFailure;  // what the failed round reports of the change
  std::vector<Posted> changeAfterwards;     // what the next good round reports of it
};
// A failing row is named by its reading, not dumped as bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.reading; }

const std::string kSmartChange = "0,SER0,1000,20,C5,100,000000000002";
const std::vector<Posted> kPendingSectorsRose = {
    {act_id::kSmartChanged, 0, "0", kSmartChange, "HDD0のSMART値に変化を検出しました(IDC5=000000000002)。"},
    {act_id::kSmartAttention, 0, "0", kSmartChange, "HDD0のSMART値に注意が必要な変化を検出しました(IDC5=000000000002)。"}};
const Step kPendingSectors = [](Appliance& a) { a.SetSmart(0, 38, 2); };

std::vector<Row> Rows() {
  const Step failLayout = [](Appliance& a) { a.os.diskService.FailWith(0x80070015); };
  const Step serveLayout = [](Appliance& a) { a.os.diskService.Serve(a.snapshot); };
  const Step failSmart = [](Appliance& a) { a.os.storage.disks[Device(0)].smartData.error = 31; };
  const Step readSmart = [](Appliance& a) { a.os.storage.disks[Device(0)].smartData.error = 0; };
  return {
      {"disk serial", [](Appliance& a) { a.os.storage.disks[Device(0)].deviceDescriptor.error = 31; },
       [](Appliance& a) { a.os.storage.disks[Device(0)].deviceDescriptor.error = 0; }, kPendingSectors, {},
       kPendingSectorsRose},
      {"SMART block", failSmart, readSmart, [](Appliance& a) { a.SetSmart(0, 61, 0); }, {},
       {{act_id::kDiskTemperature, 1, "0", "0,61,60", "HDD0の温度異常を検出しました。(61℃)"}}},
      {"storage layout: a disk drops out", failLayout, serveLayout,
       [](Appliance& a) { a.snapshot.disks.pop_back(); }, {},
       {{act_id::kDiskDropOut, 1, "3", "3,1", "HDD3がボリューム構成から切り離されました。"}}},
      {"volume sizes", [](Appliance& a) { a.os.volumes.volumes["D:\\"].spaceError = 21; },
       [](Appliance& a) { a.os.volumes.volumes["D:\\"].spaceError = 0; },
       [](Appliance& a) { a.os.volumes.volumes["D:\\"].space = {40 * kGiB, 4000 * kGiB, 40 * kGiB}; }, {},
       {{act_id::kLowSpace, 1, "4", "D:,1", "ドライブD:の残り容量が1％に低下しています。"}}},
      {"fan speeds and temperatures", [](Appliance& a) { a.os.registry.FailKey(kFanPanelKey, 5); },
       [](Appliance& a) { a.os.registry.FailKey(kFanPanelKey, 0); }, [](Appliance& a) { a.SetFan("CpuFan", 0); }, {},
       {{act_id::kCpuFan, 1, "0", "0,0", "CPUファンの回転数に異常を検出しました(0回転)。"}}},
      {"adapters and MAC list", [](Appliance& a) { a.os.adapters.failWith = 122; },
       [](Appliance& a) { a.os.adapters.failWith = 0; },
       [](Appliance& a) { a.os.adapters.adapters[0].physicalAddress.back() = 0x02; }, {},
       {{act_id::kBareboneExchanged, 0, "", "", "ベアボーン交換を検出しました。"}}},
      {"installed programs", [](Appliance& a) { a.os.registry.FailKey(kUninstallKey64, 1018); },
       [](Appliance& a) { a.os.registry.FailKey(kUninstallKey64, 0); },
       [](Appliance& a) { a.Install("{B}", "Backup Tool", "2.1"); }, {},
       {{act_id::kSoftwareInstalled, 0, "", "Backup Tool,2.1", "「Backup Tool(2.1)」がインストールされました。"}}},
      {"drivers", [](Appliance& a) { a.os.devices.failingClasses[std::string(kStorageControllers)] = 13; },
       [](Appliance& a) { a.os.devices.failingClasses.clear(); },
       [](Appliance& a) { a.SetStorageDriver(0x0002'0000'0000'0000); }, {},
       {{act_id::kDriverUpdated, 0, "", "Intel SATA,2.0.0.0", "「Intel SATA Ver 1.0.0.0」が「Ver 2.0.0.0」に更新されました。"}}},
      {"backup log", [](Appliance& a) { a.os.eventLogStore.failures.query = 1717; },
       [](Appliance& a) { a.os.eventLogStore.failures.query = 0; }, [](Appliance& a) { a.Backup(5, 2 * kFileTimeDay); },
       {},
       {{act_id::kBackupFailed, 1, "0", "Windows Server バックアップ", "バックアップに失敗しました(Windows Server バックアップ)。"}}},
      {"UPS report", [](Appliance& a) { a.os.hid.listError = 13; }, [](Appliance& a) { a.os.hid.listError = 0; },
       [](Appliance& a) { a.os.hid.Set({testing::ApcUps(0x18)}); }, {},
       {{act_id::kUpsDegraded, 1, "1", "UPS", "UPSの劣化を検出しました。"}}},
      {"Windows Update results", [](Appliance& a) { a.os.windowsUpdate.times.result = os::kUpdateFail; },
       [](Appliance& a) { a.os.windowsUpdate.times.result = os::kUpdateOk; },
       [](Appliance& a) { a.os.windowsUpdate.times.lastInstallation = os::CalendarTime{2026, 12, 0, 6, 3, 0, 0, 0}; },
       {}, {{act_id::kUpdatesInstalled, 0, "", "2026/12/06 03:00:00", "Windows Update が実施されました。"}}},
      // The record is still there, its text is not: it is reported naming no disk.
      {"disk error message", [](Appliance& a) { a.os.eventLogStore.failures.format = 15100; },
       [](Appliance& a) { a.os.eventLogStore.failures.format = 0; },
       [](Appliance& a) { a.DiskError(3 * kFileTimeDay); },
       {{act_id::kDiskError, 0, "", ",,0", "「HDD」エラー"}}, {}},
  };
}

class TransientReadTest : public ::testing::TestWithParam<Row> {};

TEST_P(TransientReadTest, AFailedRoundRaisesNothingAndHidesNoChange) {
  const Row& row = GetParam();
  for (const bool changed : {false, true}) {
    SCOPED_TRACE(changed ? "with a change across the failed round" : "steady");
    Appliance appliance;
    ASSERT_THAT(appliance.Round(), ::testing::IsEmpty()) << "a steady appliance";
    if (changed) row.change(appliance);
    row.fail(appliance);
    EXPECT_EQ(appliance.Round(), changed ? row.changeDuringFailure : std::vector<Posted>{}) << "the failed round";
    row.heal(appliance);
    EXPECT_EQ(appliance.Round(), changed ? row.changeAfterwards : std::vector<Posted>{}) << "the next good round";
    EXPECT_THAT(appliance.Round(), ::testing::IsEmpty()) << "and the one after";
  }
}

INSTANTIATE_TEST_SUITE_P(EveryComparedReading, TransientReadTest, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                           std::string name = row.param.reading;
                           std::erase_if(name, [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; });
                           return name;
                         });

}  // namespace
}  // namespace orv
