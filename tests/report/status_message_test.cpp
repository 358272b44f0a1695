#include "report/status_message.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_monitor.h"
#include "monitors/nas/fan_temperature_monitor.h"
#include "monitors/nas/volume_capacity_monitor.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/model_identity.h"
#include "support/message_file_checks.h"

// The readings below are designated initializers that name only what each case sets; GCC would
// have every member without a default named too.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace orv {
namespace {

using namespace model;
using orv::testing::IsStrictJsonMessage;
using orv::testing::ReadGolden;

MonitorState State(std::int32_t actId, const char* trg, const char* para, const char* msg,
                   const char* key = "", std::int32_t code = 0, std::int32_t sts = 1) {
  MonitorState state;
  state.act_id = actId;
  state.act_sts = sts;
  state.act_trg = trg;
  state.act_para = para;
  state.msg = msg;
  state.item_key = key;
  state.item_code = code;
  return state;
}

// Open conditions as the NAS monitors record them: each monitor runs once on the fakes with the
// readings the message shows, so ids, triggers, parameters and texts are the ones they post.
struct MonitorsOpen {
  MonitorsOpen(std::uint32_t modelFlags, bool meridexBrand) : flags(modelFlags), meridex(meridexBrand) {
    os.registry.AddKey(kNasKey);
  }
  // The front panel publishing these readings (the two-bay line has no case fan).
  void Fans(NasStatusData& nas, std::uint32_t cpuFan, std::uint32_t cpuTemperature, std::uint32_t caseFan) {
    const std::string panel = (flags & kTwoBayLine) != 0 ? "SOFTWARE\\Wow6432Node\\Tavolen\\FrontLed\\Config"
                                                         : "SOFTWARE\\Wow6432Node\\MERIDEX\\FrontLcd\\Config";
    os.registry.AddKey(panel);
    const std::pair<const char*, std::uint32_t> values[] = {{"CpuFan", cpuFan}, {"CpuTemp", cpuTemperature}, {"SysFan", caseFan}};
    for (const auto& [name, value] : values) RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine, panel, name, value);
    FanTemperatureMonitor(os.Ports(), flags, queue).Check(nas);
  }
  // A layout that was read and found `disks`: the bays without one have dropped out.
  void Disks(NasStatusData& nas, const std::vector<DiskInfo>& disks) {
    std::vector<DiskInfo> bays;
    DiskMonitor(os.Ports(), queue, meridex, flags).Check(disks, true, bays, nas.hddStaStates, nas.hddTempStates);
  }
  void Capacity(NasStatusData& nas) {
    for (const VolumeInfo& volume : nas.volumes) {
      VolumeCapacityMonitor(queue, os.clock).Check(volume, kDefaultDiskCapaThreshold, nas.volCapaStates);
    }
  }

  fakes::FakeOs os;
  EventQueue queue;
  std::uint32_t flags;
  bool meridex;  // bays numbered from 1
};

void PutSmartEntry(DiskInfo& disk, std::size_t index, std::uint8_t id, std::uint8_t value,
                   std::uint8_t worst, std::uint64_t raw, std::uint8_t threshold) {
  const std::size_t at = 18 + 12 * index;
  disk.smartData[at] = id;
  disk.smartData[at + 3] = value;
  disk.smartData[at + 4] = worst;
  for (std::size_t b = 0; b < 7; ++b) disk.smartData[at + 5 + b] = static_cast<std::uint8_t>(raw >> (8 * b));
  disk.smartThresholds[at] = id;
  disk.smartThresholds[at + 1] = threshold;
}

std::string Message(const StatusHeader& header, int kind, int power, const CommonStatusData& common,
                    const NasStatusData& nas) {
  std::string body;
  AppendStatusMessage(header, static_cast<StatusKind>(kind), static_cast<PowerState>(power), common, nas, body);
  return "\xEF\xBB\xBF{\r\n" + body + "}";
}

TEST(StatusMessage, LcdApplianceAfterEventsMatchesTheHandWrittenFile) {
  StatusHeader header{"76543210BA98FEDC0123456789ABCDEF", {2026, 12, 1, 7, 9, 0, 30, 0}, "MDL-N01", "2.1",
                      "MDL-G01", "1.2", 36ULL * 3600 * 1000, kLcdSeries | kStorageServer2012R2 | kFourBays,
                      "BSN123", "1.05", "NAS-0001", 200};
  CommonStatusData common;
  SystemSample& now = common.current;
  now.snapshot.processorLoads = {{"0", 5}, {"_Total", 7}};
  now.snapshot.diskLoads = {{"0 C:", 3}, {"1 E:", 9}, {"_Total", 4}};
  now.snapshot.memoryLoad = 33;
  now.snapshot.networkRates = {{"Intel[R] Ethernet _2", 120, 80}};
  now.adapters = {{.description = "Intel(R) Ethernet #2", .hasAddress = 1, .address = {192, 168, 1, 10},
                   .mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x01}},
                  {.description = "Intel(R) Ethernet", .mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x02}}};
  now.backup = {1, {2026, 12, 0, 6, 1, 0, 0, 0}, {2026, 12, 0, 6, 1, 0, 0, 0}};
  now.ups = {.name = "\"UPS\"", .vnd = "\"APC\"", .model = "\"Back-UPS ES 550\"", .fwv = "\"828.D3\"",
             .serial = "\"3B1234X\"", .prd_date = "\"12/03\"", .bt_sts = "\"充電完了\"", .connect = "\"USB\"",
             .bt_lev = 100, .bt_time = "1", .bt_sec = "4200"};
  now.shareConnections = 2;
  now.windowsUpdateMessage = "更新プログラムがあります";
  common.upsDegradeState = State(act_id::kUpsDegraded, "1", "UPS", "劣化を検出しました");

  NasStatusData nas;
  MonitorsOpen monitors(header.modelFlags, /*meridexBrand=*/true);
  monitors.Fans(nas, 1800, 45, 900);
  DiskInfo disk{.present = 1, .name = "HDD1", .number = 1, .portMask = 1, .mediaType = kMediaTypeFixed,
                .deviceName = "\\\\?\\PhysicalDrive0", .friendlyName = "WDC WD20EFRX-68EUZN0",
                .transferMode = "SATA/600", .ataVersion = "ACS-2", .features = "S.M.A.R.T., 48bit LBA, NCQ",
                .productRevision = "82.00A82", .serialNumber = "  WD-WCC4M1234567  ", .logicalSectorSize = 512,
                .physicalSectorSize = 4096, .temperature = 62, .powerOnHours = 12345, .smartValid = 1};
  PutSmartEntry(disk, 0, 1, 200, 200, 0, 51);
  PutSmartEntry(disk, 1, 3, 178, 175, 0x1234, 21);
  PutSmartEntry(disk, 2, 5, 200, 200, 0, 140);
  PutSmartEntry(disk, 3, 4, 100, 100, 7, 36);  // out of order: skipped
  PutSmartEntry(disk, 4, 9, 83, 83, 12345, 0);
  PutSmartEntry(disk, 5, 251, 1, 1, 1, 1);     // beyond the last id written
  const DiskInfo emptyBay{.name = "HDD2", .portMask = 2};
  nas.disks = {disk, emptyBay};
  monitors.Disks(nas, {disk});
  nas.volumes = {{.driveLetter = u'C', .layoutName = "シンプル", .fileSystemName = "NTFS", .freeToCaller = 25ULL << 30,
                  .totalBytes = 100ULL << 30, .usedBytes = 75ULL << 30},
                 {.driveLetter = u'E', .layoutName = "シンプル", .fileSystemName = "FAT32", .volumeName = "MY \"USB\"",
                  .diskModel = "USB Flash", .usb = 1, .freeToCaller = 3ULL << 30, .totalBytes = 30ULL << 30,
                  .usedBytes = 27ULL << 30}};
  monitors.Capacity(nas);
  nas.tasks = {{.name = "Daily", .result = 2, .lastSuccess = {2026, 12, 0, 5, 2, 0, 0, 0},
                .lastResult = {2026, 12, 0, 6, 2, 0, 0, 0}}};
  nas.vaultBackupStates = {State(act_id::kBackupFailed, "1001", "Daily", "バックアップに失敗しました。", "Daily")};

  const std::string file = Message(header, 2, 1, common, nas);
  EXPECT_EQ(file, ReadGolden("status_lcd_event.json"));
  EXPECT_TRUE(IsStrictJsonMessage(file));
}

class StatusRulesTest : public ::testing::Test {
 protected:
  std::string Build(int kind = 2, int power = 1) {
    body_.clear();
    AppendStatusMessage(header, static_cast<StatusKind>(kind), static_cast<PowerState>(power), common, nas, body_);
    const std::string file = "\xEF\xBB\xBF{\r\n" + body_ + "}";
    EXPECT_TRUE(IsStrictJsonMessage(file));
    return file;
  }
  static bool Has(const std::string& file, std::string_view text) {
    return file.find(text) != std::string::npos;
  }

  StatusHeader header{std::string(32, '0'), {2026, 12, 1, 7, 9, 0, 0, 0}, "", "", "", "", 0, 0, "SN", "", "N", 0};
  CommonStatusData common;
  NasStatusData nas;
  std::string body_;
};

// Each row changes the inputs left by the rows before it. No "_Total" instance reads as null, in
// the head and in the CPU entry; the fans and the board serial follow the model flags; a disk's
// load comes from its own counter instance only.
TEST_F(StatusRulesTest, KindsPowerStatesFansAndLoadsFollowTheirRules) {
  const struct {
    std::function<void()> set;
    int kind, power;
    std::string text;
  } rows[] = {
      {[] {}, 3, 3, "\"sts_type\":2,\r\n"},
      {[] {}, 3, 3, "\"pow_sts\":200,\r\n"},
      {[] {}, 7, 9, "\"sts_type\":null,"},
      {[] {}, 7, 9, "\"pow_sts\":null,"},
      {[] {}, 1, 1, "\"cpu_load\":0.00,\r\n    \"mem_load\":0.00,\r\n    \"hd_load\":0.00,\r\n    \"lo_cnt\":0,"},
      {[] {}, 2, 1, "\"cpu_load\":null,"},
      {[] {}, 2, 1, "\"load\":null,"},
      {[this] { nas.readings = {2100, 50, 800}; header.modelFlags = kTwoBayLine; }, 2, 1,
       "\"fan_rpm\":2100,\r\n            \"tmp\":50,"},
      {[] {}, 2, 1, "\"case_fan\":[\r\n    ],"},
      {[] {}, 2, 1, "\"mb_sn\":null,"},
      {[this] { header.modelFlags = 0; }, 2, 1, "\"fan_rpm\":null,\r\n            \"tmp\":null,"},
      {[this] { header.modelFlags = kBoardSeries; }, 2, 1, "\"mb_sn\":\"SN\","},
      {[this] {
         nas.disks = {{.present = 1, .name = "HDD4", .portMask = 8, .deviceName = "\\\\?\\PhysicalDrive3"}};
         common.current.snapshot.diskLoads = {{"_Total", 50}, {"13 F:", 70}, {"3 D: E:", 11}};
       }, 2, 1, "\"load\":11.00,\r\n            \"smt\""},
      {[this] { common.current.snapshot.diskLoads = {{"3", 12}}; }, 2, 1, "\"load\":12.00,"},
      {[this] { common.current.snapshot.diskLoads = {{"_Total", 50}, {"3D:", 9}}; }, 2, 1,
       "\"load\":null,\r\n            \"smt\""},
      // User and device texts cannot break the file; what is no JSON value is written as null.
      {[this] {
         nas.cpuFanState = State(4080, "", "bad \" para", "line\nbreak");
         nas.tasks = {{.name = "week]ly \"copy\""}};
         common.current.ups.name = "\"UPS\"";
         common.current.ups.model = "\"broken";
         common.current.windowsUpdateMessage = std::string("tab\there\x01");
       }, 2, 1, "\"act_trg\":null,"},
      {[] {}, 2, 1, "\"act_para\":\"bad \\\" para\","},
      {[] {}, 2, 1, "\"model\":null,"},
      {[] {}, 2, 1, "\"wupd_msg\":\"tab\\there\\u0001\","},
  };
  for (const auto& row : rows) {
    row.set();
    EXPECT_TRUE(Has(Build(row.kind, row.power), row.text)) << row.text;
  }
}

TEST_F(StatusRulesTest, ADiskEntryAloneIsByteForByteTheEntryOfTheMessage) {
  DiskInfo disk{.present = 1, .name = "HDD0", .portMask = 1, .deviceName = "\\\\?\\PhysicalDrive0",
                .friendlyName = "ST4000VN008", .serialNumber = " ZDH1 ", .temperature = 41, .smartValid = 1};
  PutSmartEntry(disk, 0, 194, 41, 50, 0x29, 0);
  const DiskInfo emptyBay{.name = "HDD1", .portMask = 2};
  nas.disks = {disk, emptyBay};
  MonitorsOpen(kTwoBayLine | kStorageServer2012R2 | kTwoBays, false).Disks(nas, {disk});
  ASSERT_EQ(nas.hddStaStates.size(), 1U);
  common.current.snapshot.diskLoads = {{"0 C:", 4}};
  nas.samples.Add({}, {disk});
  common.samples.Add(common.current);
  for (const int kind : {1, 2, 3}) {
    SCOPED_TRACE(kind);
    const std::string file = Build(kind);
    const std::string first = DiskEntryText(disk, static_cast<StatusKind>(kind), common, nas);
    const std::string last = DiskEntryText(emptyBay, static_cast<StatusKind>(kind), common, nas);
    ASSERT_TRUE(first.ends_with("\r\n        }\r\n"));
    // In the array a comma follows every entry but the last.
    EXPECT_TRUE(Has(file, "    \"hd\":[\r\n" + first.substr(0, first.size() - 2) + ",\r\n" + last + "    ],\r\n"));
  }
}

TEST_F(StatusRulesTest, TheSmartArrayEndsWithTheAttributeTable) {
  DiskInfo disk{.present = 1, .name = "HDD0", .portMask = 1, .friendlyName = "ST9100821AS", .smartValid = 1};
  PutSmartEntry(disk, 0, 9, 100, 100, 1, 0);
  PutSmartEntry(disk, 29, 202, 100, 100, 2, 0);  // the 30th and last entry of the table
  PutSmartEntry(disk, 35, 223, 1, 0, 0, 0);      // vendor bytes after the table
  nas.disks = {disk};
  const std::string file = Build();
  EXPECT_TRUE(Has(file, "\"id\":202,"));
  EXPECT_FALSE(Has(file, "\"id\":223,"));
}

// The averaged members of a message, in message order.
std::vector<std::string> AveragedMembers(const std::string& file) {
  static const std::regex member(R"re("(cpu_load|mem_load|hd_load|lo_cnt|fan_rpm|tmp|load|rpm|tx|rx)":([^,\r]*))re");
  std::vector<std::string> lines;
  for (auto it = std::sregex_iterator(file.begin(), file.end(), member); it != std::sregex_iterator(); ++it) {
    lines.push_back((*it)[1].str() + ":" + (*it)[2].str());
  }
  return lines;
}

// The averages of a period from its running sums: sums that leave 32 bits, "_Total" read only
// by its own name, disk instances "1" and "1 D: E:" that reduce to the same disk and "3D:" that
// reduces to none, a disk listed twice in one round, a disk without SMART, an empty bay, and an
// adapter no counter names.
TEST(PeriodicStatus, RunningSumsGiveTheAveragesOfEverySample) {
  constexpr std::int32_t kMax = 0x7FFFFFFF;
  const StatusHeader header{std::string(32, '0'), {2026, 12, 1, 7, 9, 0, 0, 0}, "", "", "", "", 0, kLcdSeries, "", "", "N", 0};
  CommonStatusData common;
  common.current.adapters = {{.description = "Intel(R) Ethernet #2"}, {.description = "Never Counted"}};
  const std::string port = CounterInstanceName(common.current.adapters[0]);
  SystemSample first;
  first.snapshot = {{{"_Total", kMax}, {"0", 5}}, {{port, kMax, 1}}, {{"0 C:", kMax}, {"1", 3}, {"_Total", 10}}, 40};
  first.shareConnections = kMax;
  SystemSample second;
  second.snapshot = {{{"_Total", kMax}}, {{port, kMax, 2}}, {{"0 C:", kMax}, {"1 D: E:", 4}, {"_Total", 11}}, 41};
  second.shareConnections = 3;
  SystemSample third;
  third.snapshot = {{}, {}, {{"3D:", 9}}, 42};
  for (const SystemSample& sample : {first, second, third}) common.samples.Add(sample);

  NasStatusData nas;
  nas.disks = {{.present = 1, .name = "HDD1", .portMask = 1, .deviceName = "\\\\?\\PhysicalDrive0"},
               {.present = 1, .name = "HDD2", .portMask = 2, .deviceName = "\\\\?\\PhysicalDrive1"},
               {.name = "HDD3", .portMask = 4}};
  const auto sampled = [&nas](std::size_t bay, std::uint32_t celsius, std::uint32_t smartValid = 1) {
    DiskInfo disk = nas.disks[bay];
    disk.temperature = celsius;
    disk.smartValid = smartValid;
    return disk;
  };
  nas.samples.Add({2000, 40, 1000}, {sampled(0, 38), sampled(1, 99, 0)});
  nas.samples.Add({2001, 41, 0}, {sampled(0, 41), sampled(0, 1)});

  std::string body;
  AppendStatusMessage(header, StatusKind::Periodic, PowerState::Running, common, nas, body);
  EXPECT_EQ(AveragedMembers(body),
            (std::vector<std::string>{"cpu_load:1431655764.67", "mem_load:41.00", "hd_load:7.00", "lo_cnt:715827883",
                                      "fan_rpm:2000", "tmp:40", "load:1431655764.67", "rpm:500",
                                      "tmp:40", "load:1431655764.67", "tmp:0", "load:2.33", "tmp:null", "load:null",
                                      "tx:1431655764", "rx:1", "tx:0", "rx:0"}));
}

}  // namespace
}  // namespace orv

#pragma GCC diagnostic pop
