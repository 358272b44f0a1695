#include "report/status_message.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <random>
#include <regex>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_monitor.h"
#include "monitors/nas/fan_temperature_monitor.h"
#include "monitors/nas/volume_capacity_monitor.h"
#include "platform/agent_registry.h"
#include "platform/formatted_text.h"
#include "platform/reg_handle.h"
#include "report/model_identity.h"
#include "support/message_file_checks.h"

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
  AdapterEntry lan1;
  lan1.description = "Intel(R) Ethernet #2";
  lan1.hasAddress = 1;
  lan1.address = {192, 168, 1, 10};
  lan1.mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x01};
  AdapterEntry lan2;
  lan2.description = "Intel(R) Ethernet";
  lan2.mac = {0x00, 0x1B, 0x21, 0x0A, 0x0B, 0x02};
  now.adapters = {lan1, lan2};
  now.backup = {1, {2026, 12, 0, 6, 1, 0, 0, 0}, {2026, 12, 0, 6, 1, 0, 0, 0}};
  now.ups.name = "\"UPS\"";
  now.ups.vnd = "\"APC\"";
  now.ups.model = "\"Back-UPS ES 550\"";
  now.ups.fwv = "\"828.D3\"";
  now.ups.serial = "\"3B1234X\"";
  now.ups.prd_date = "\"12/03\"";
  now.ups.bt_sts = "\"充電完了\"";
  now.ups.connect = "\"USB\"";
  now.ups.bt_lev = 100;
  now.ups.bt_time = "1";
  now.ups.bt_sec = "4200";
  now.shareConnections = 2;
  now.windowsUpdateMessage = "更新プログラムがあります";
  common.upsDegradeState = State(act_id::kUpsDegraded, "1", "UPS", "劣化を検出しました");

  NasStatusData nas;
  MonitorsOpen monitors(header.modelFlags, /*meridexBrand=*/true);
  monitors.Fans(nas, 1800, 45, 900);
  DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD1";
  disk.number = 1;
  disk.mediaType = kMediaTypeFixed;
  disk.portMask = 1;
  disk.deviceName = "\\\\?\\PhysicalDrive0";
  disk.friendlyName = "WDC WD20EFRX-68EUZN0";
  disk.productRevision = "82.00A82";
  disk.serialNumber = "  WD-WCC4M1234567  ";
  disk.transferMode = "SATA/600";
  disk.ataVersion = "ACS-2";
  disk.features = "S.M.A.R.T., 48bit LBA, NCQ";
  disk.logicalSectorSize = 512;
  disk.physicalSectorSize = 4096;
  disk.temperature = 62;
  disk.powerOnHours = 12345;
  disk.smartValid = 1;
  PutSmartEntry(disk, 0, 1, 200, 200, 0, 51);
  PutSmartEntry(disk, 1, 3, 178, 175, 0x1234, 21);
  PutSmartEntry(disk, 2, 5, 200, 200, 0, 140);
  PutSmartEntry(disk, 3, 4, 100, 100, 7, 36);  // out of order: skipped
  PutSmartEntry(disk, 4, 9, 83, 83, 12345, 0);
  PutSmartEntry(disk, 5, 251, 1, 1, 1, 1);     // beyond the last id written
  DiskInfo emptyBay;
  emptyBay.name = "HDD2";
  emptyBay.portMask = 2;
  nas.disks = {disk, emptyBay};
  monitors.Disks(nas, {disk});
  VolumeInfo c;
  c.driveLetter = u'C';
  c.layoutName = "シンプル";
  c.fileSystemName = "NTFS";
  c.usedBytes = 75ULL << 30;
  c.freeToCaller = 25ULL << 30;
  c.totalBytes = 100ULL << 30;
  VolumeInfo e;
  e.driveLetter = u'E';
  e.layoutName = "シンプル";
  e.fileSystemName = "FAT32";
  e.volumeName = "MY \"USB\"";
  e.diskModel = "USB Flash";
  e.usb = 1;
  e.usedBytes = 27ULL << 30;
  e.freeToCaller = 3ULL << 30;
  e.totalBytes = 30ULL << 30;
  nas.volumes = {c, e};
  monitors.Capacity(nas);
  BackupTask task;
  task.name = "Daily";
  task.result = 2;
  task.lastSuccess = {2026, 12, 0, 5, 2, 0, 0, 0};
  task.lastResult = {2026, 12, 0, 6, 2, 0, 0, 0};
  nas.tasks = {task};
  nas.vaultBackupStates = {State(act_id::kBackupFailed, "1001", "Daily", "バックアップに失敗しました。", "Daily")};

  const std::string file = Message(header, 2, 1, common, nas);
  EXPECT_EQ(file, ReadGolden("status_lcd_event.json"));
  EXPECT_TRUE(IsStrictJsonMessage(file));
}

TEST(StatusMessage, PeriodicStatusAveragesTheSamplesAndWidensSeagateRawValues) {
  StatusHeader header{std::string(32, '0'), {2026, 12, 1, 7, 9, 0, 0, 0}, "", "", "MDL-G02", "", 0,
                      kTemperatureSeries | kStorageServer2016, "X", "", "NAS-0001", 0};
  CommonStatusData common;
  AdapterEntry lan;
  lan.description = "Realtek Ethernet";
  lan.hasAddress = 1;
  lan.address = {10, 0, 0, 5};
  lan.mac = {0xAA, 0xBB, 0xCC, 0, 0, 1};
  common.current.adapters = {lan};
  SystemSample first;
  first.snapshot = {{{"_Total", 7}}, {{"Realtek Ethernet", 100, 50}}, {{"0 C:", 10}, {"_Total", 0}}, 30};
  first.shareConnections = 3;
  SystemSample second;
  second.snapshot = {{{"_Total", 8}}, {{"Realtek Ethernet", 101, 0}}, {{"0 C:", 15}, {"_Total", 0}}, 31};
  second.shareConnections = 4;
  common.samples.Add(first);
  common.samples.Add(second);

  NasStatusData nas;
  DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD1";
  disk.portMask = 1;
  disk.deviceName = "\\\\?\\PhysicalDrive0";
  disk.friendlyName = "ST2000DM001-1CH164";
  disk.vendorId = "ATA";
  disk.productRevision = "CC27";
  disk.serialNumber = "Z1E12345";
  disk.transferMode = "SATA/600";
  disk.ataVersion = "ATA8-ACS";
  disk.features = "S.M.A.R.T.";
  disk.logicalSectorSize = 512;
  disk.physicalSectorSize = 4096;
  disk.powerOnHours = 8000;
  disk.temperature = 99;  // the periodic status shows the sampled average instead
  disk.smartValid = 1;
  PutSmartEntry(disk, 0, 1, 117, 99, 0x0A1B2C3D, 6);
  nas.disks = {disk};
  DiskInfo sampled = disk;
  sampled.temperature = 38;
  nas.samples.Add({0, 40, 0}, {sampled});
  sampled.temperature = 40;
  nas.samples.Add({0, 43, 0}, {sampled});

  const std::string file = Message(header, 1, 2, common, nas);
  EXPECT_EQ(file, ReadGolden("status_temperature_periodic.json"));
  EXPECT_TRUE(IsStrictJsonMessage(file));
}

TEST(StatusMessage, TwoBayTestStatusBeforeSleepWithAnEsataDiscAndALostUps) {
  StatusHeader header{std::string(32, '0'), {2026, 12, 1, 7, 9, 0, 0, 0}, "MDL-N12", "1.0", "MDL-G01", "1.2",
                      119'999, kTwoBayLine | kStorageServer2012R2 | kTwoBays, "", "20190412", "NAS-0002", 200};
  CommonStatusData common;
  common.current.snapshot.processorLoads = {{"_Total", 12}};
  common.current.snapshot.memoryLoad = 40;
  common.upsConnectState = State(4030, "1", "UPS", "通信が切断しています。");
  NasStatusData nas;
  MonitorsOpen(header.modelFlags, false).Fans(nas, 1500, 75, 0);
  VolumeInfo disc;
  disc.driveLetter = u'Q';
  disc.layoutName = "不明";
  disc.fileSystemName = "UDF";
  disc.fileSystemCode = 6;
  disc.volumeName = "DVD";
  disc.diskModel = "PLDS DVD-RW";
  disc.esata = 1;
  nas.volumes = {disc};

  const std::string file = Message(header, 3, 3, common, nas);
  EXPECT_EQ(file, ReadGolden("status_twobay_test_sleep.json"));
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

TEST_F(StatusRulesTest, KindsPowerStatesAndEmptySamples) {
  EXPECT_TRUE(Has(Build(3, 3), "\"sts_type\":2,\r\n"));
  EXPECT_TRUE(Has(Build(3, 3), "\"pow_sts\":200,\r\n"));
  const std::string odd = Build(7, 9);
  EXPECT_TRUE(Has(odd, "\"sts_type\":null,"));
  EXPECT_TRUE(Has(odd, "\"pow_sts\":null,"));
  // A periodic status right after the lists were emptied.
  const std::string periodic = Build(1, 1);
  EXPECT_TRUE(Has(periodic, "\"cpu_load\":0.00,\r\n    \"mem_load\":0.00,\r\n    \"hd_load\":0.00,\r\n    \"lo_cnt\":0,"));
  // No "_Total" instance: null, in the head and in the CPU entry.
  const std::string current = Build(2, 1);
  EXPECT_TRUE(Has(current, "\"cpu_load\":null,"));
  EXPECT_TRUE(Has(current, "\"load\":null,"));
}

TEST_F(StatusRulesTest, FansAndBoardSerialFollowTheModelFlags) {
  nas.readings = {2100, 50, 800};
  header.modelFlags = kTwoBayLine;
  std::string file = Build();
  EXPECT_TRUE(Has(file, "\"fan_rpm\":2100,\r\n            \"tmp\":50,"));
  EXPECT_TRUE(Has(file, "\"case_fan\":[\r\n    ],"));
  EXPECT_TRUE(Has(file, "\"mb_sn\":null,"));
  header.modelFlags = 0;
  file = Build();
  EXPECT_TRUE(Has(file, "\"fan_rpm\":null,\r\n            \"tmp\":null,"));
  header.modelFlags = kBoardSeries;
  EXPECT_TRUE(Has(Build(), "\"mb_sn\":\"SN\","));
}

TEST_F(StatusRulesTest, DiskLoadComesFromTheDisksOwnCounterInstance) {
  DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD4";
  disk.portMask = 8;
  disk.deviceName = "\\\\?\\PhysicalDrive3";
  nas.disks = {disk};
  common.current.snapshot.diskLoads = {{"_Total", 50}, {"13 F:", 70}, {"3 D: E:", 11}};
  EXPECT_TRUE(Has(Build(), "\"load\":11.00,\r\n            \"smt\""));
  common.current.snapshot.diskLoads = {{"3", 12}};
  EXPECT_TRUE(Has(Build(), "\"load\":12.00,"));
  common.current.snapshot.diskLoads = {{"_Total", 50}, {"3D:", 9}};
  EXPECT_TRUE(Has(Build(), "\"load\":null,\r\n            \"smt\""));
}

TEST_F(StatusRulesTest, ADiskEntryAloneIsByteForByteTheEntryOfTheMessage) {
  DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD0";
  disk.portMask = 1;
  disk.deviceName = "\\\\?\\PhysicalDrive0";
  disk.friendlyName = "ST4000VN008";
  disk.serialNumber = " ZDH1 ";
  disk.temperature = 41;
  disk.smartValid = 1;
  PutSmartEntry(disk, 0, 194, 41, 50, 0x29, 0);
  DiskInfo emptyBay;
  emptyBay.name = "HDD1";
  emptyBay.portMask = 2;
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
  DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD0";
  disk.portMask = 1;
  disk.friendlyName = "ST9100821AS";
  disk.smartValid = 1;
  PutSmartEntry(disk, 0, 9, 100, 100, 1, 0);
  PutSmartEntry(disk, 29, 202, 100, 100, 2, 0);  // the 30th and last entry of the table
  PutSmartEntry(disk, 35, 223, 1, 0, 0, 0);      // vendor bytes after the table
  nas.disks = {disk};
  const std::string file = Build();
  EXPECT_TRUE(Has(file, "\"id\":202,"));
  EXPECT_FALSE(Has(file, "\"id\":223,"));
}

TEST_F(StatusRulesTest, UserTextsCannotBreakTheFile) {
  nas.cpuFanState = State(4080, "", "bad \" para", "line\nbreak");
  nas.tasks.resize(1);
  nas.tasks[0].name = "week]ly \"copy\"";
  common.current.ups.name = "\"UPS\"";
  common.current.ups.model = "\"broken";  // not a JSON value: written as null
  common.current.windowsUpdateMessage = std::string("tab\there\x01");
  const std::string file = Build();
  EXPECT_TRUE(Has(file, "\"act_trg\":null,"));
  EXPECT_TRUE(Has(file, "\"act_para\":\"bad \\\" para\","));
  EXPECT_TRUE(Has(file, "\"model\":null,"));
  EXPECT_TRUE(Has(file, "\"wupd_msg\":\"tab\\there\\u0001\","));
}

// The periodic averages as the status message made them from every sample of its period, kept
// here as the reference that the running sums must match to the byte: integer quotients, and
// the floating-point sums of disk loads added in round order.
struct PeriodSamples {
  std::vector<SystemSample> common;
  std::vector<std::pair<FanReadings, std::vector<DiskInfo>>> nas;
};

std::vector<std::string> AveragesFromTheSamples(const PeriodSamples& period, const NasStatusData& nas,
                                                const std::vector<AdapterEntry>& adapters) {
  const auto commonCount = period.common.size();
  const auto nasCount = period.nas.size();
  const auto total = [](const std::vector<CounterValue>& values) {
    std::int64_t sum = 0;
    for (const CounterValue& value : values) sum += value.instance == "_Total" ? value.value : 0;
    return sum;
  };
  const auto load = [&](auto valueOf) {
    std::int64_t sum = 0;
    for (const SystemSample& sample : period.common) sum += valueOf(sample);
    if (commonCount == 0 || sum == 0) return std::string("0.00");
    return FormatText("%.2f", static_cast<double>(sum) / static_cast<double>(commonCount));
  };
  const auto fan = [&](std::uint32_t FanReadings::*reading) {
    std::uint64_t sum = 0;
    for (const auto& sample : period.nas) sum += sample.first.*reading;
    return std::to_string(sum == 0 || nasCount == 0 ? 0 : sum / nasCount);
  };
  std::vector<std::string> lines;
  const std::string cpu = load([&](const SystemSample& s) { return total(s.snapshot.processorLoads); });
  lines.push_back("cpu_load:" + cpu);
  lines.push_back("mem_load:" + load([](const SystemSample& s) { return std::int64_t{s.snapshot.memoryLoad}; }));
  lines.push_back("hd_load:" + load([&](const SystemSample& s) { return total(s.snapshot.diskLoads); }));
  std::uint64_t shares = 0;
  for (const SystemSample& sample : period.common) shares += sample.shareConnections;
  lines.push_back("lo_cnt:" + std::to_string(shares == 0 ? 0 : shares / commonCount));
  lines.push_back("fan_rpm:" + fan(&FanReadings::cpuFanRpm));
  lines.push_back("tmp:" + fan(&FanReadings::cpuTemperature));
  lines.push_back("load:" + cpu);
  lines.push_back("rpm:" + fan(&FanReadings::caseFanRpm));
  for (const DiskInfo& disk : nas.disks) {
    std::uint64_t celsius = 0;
    for (const auto& sample : period.nas) {
      for (const DiskInfo& sampled : sample.second) {
        if (sampled.portMask == disk.portMask && sampled.smartValid == 1) celsius += sampled.temperature;
      }
    }
    if (celsius != 0) celsius /= nasCount;
    lines.push_back("tmp:" + (disk.present == 0 ? std::string("null") : std::to_string(celsius)));
    const std::string number =
        disk.present == 0 ? std::string() : disk.deviceName.substr(std::string_view("\\\\?\\PhysicalDrive").size());
    double sum = 0;
    bool matched = false;
    for (const SystemSample& sample : period.common) {
      for (const CounterValue& value : sample.snapshot.diskLoads) {
        const std::size_t space = value.instance.find(' ');
        const std::string reduced = value.instance.size() == 1       ? value.instance
                                    : space == std::string::npos ? std::string()
                                                                 : value.instance.substr(0, space);
        if (reduced != number) continue;
        sum += value.value;
        matched = true;
      }
    }
    if (sum != 0) sum /= static_cast<double>(commonCount);
    lines.push_back("load:" + (disk.present == 0 || !matched ? std::string("null") : FormatText("%.2f", sum)));
  }
  for (const AdapterEntry& adapter : adapters) {
    std::int64_t sent = 0;
    std::int64_t received = 0;
    for (const SystemSample& sample : period.common) {
      for (const NetworkRate& rate : sample.snapshot.networkRates) {
        if (rate.instance != CounterInstanceName(adapter)) continue;
        sent += rate.sent;
        received += rate.received;
      }
    }
    const auto count = static_cast<std::int64_t>(commonCount);
    lines.push_back("tx:" + std::to_string(sent != 0 ? sent / count : 0));
    lines.push_back("rx:" + std::to_string(received != 0 ? received / count : 0));
  }
  return lines;
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

// Random periods over a 5-bay appliance: instances that come and go, several "_Total"s, disk
// instances that reduce to one number ("1" and "1 D:"), loads up to the counters' limit so the
// sums leave 32 bits, disks of one bay listed twice, and periods without any round.
TEST(PeriodicStatus, RunningSumsGiveTheAveragesOfEverySample) {
  std::mt19937 random(20261207);
  const auto pick = [&random](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
  const auto reading = [&] { return pick(0, 9) == 0 ? pick(0, 0x7FFFFFFF) : pick(0, 100); };
  const char* const diskInstances[] = {"0 C:", "1 D: E:", "1", "2", "13 F:", "3D:", "_Total", "_Total"};
  StatusHeader header{std::string(32, '0'), {2026, 12, 1, 7, 9, 0, 0, 0}, "", "", "", "", 0, kLcdSeries, "", "", "N", 0};
  NasStatusData nasShape;
  const std::tuple<const char*, std::uint32_t, std::uint32_t> bays[] = {
      {"0", 1, 1}, {"1", 2, 1}, {"2", 4, 1}, {"13", 8, 1}, {"", 16, 0}};  // device number, mask, present
  for (const auto& [device, mask, present] : bays) {
    DiskInfo disk;
    disk.present = present;
    disk.name = "HDD" + std::to_string(mask);
    disk.portMask = mask;
    disk.deviceName = present ? std::string("\\\\?\\PhysicalDrive") + device : std::string();
    nasShape.disks.push_back(disk);
  }
  std::vector<AdapterEntry> adapters(3);
  adapters[0].description = "Intel(R) Ethernet #2";
  adapters[1].description = "Realtek";
  adapters[2].description = "Never Counted";
  for (int period = 0; period < 300; ++period) {
    SCOPED_TRACE(period);
    PeriodSamples samples;
    CommonStatusData common;
    NasStatusData nas = nasShape;
    common.current.adapters = adapters;
    for (int round = pick(0, 40); round > 0; --round) {
      SystemSample sample;
      for (int n = pick(0, 3); n > 0; --n) sample.snapshot.processorLoads.push_back({pick(0, 1) ? "_Total" : "0", reading()});
      for (int n = pick(0, 6); n > 0; --n) sample.snapshot.diskLoads.push_back({diskInstances[pick(0, 7)], reading()});
      for (std::size_t a = 0; a < 2; ++a) {
        if (pick(0, 4) != 0) sample.snapshot.networkRates.push_back({CounterInstanceName(adapters[a]), reading(), reading()});
      }
      sample.snapshot.memoryLoad = reading();
      sample.shareConnections = static_cast<std::uint32_t>(pick(0, 3) == 0 ? 0 : reading());
      samples.common.push_back(sample);
      common.samples.Add(sample);
    }
    for (int round = pick(0, 40); round > 0; --round) {
      const FanReadings fans{static_cast<std::uint32_t>(reading()), static_cast<std::uint32_t>(reading()),
                             static_cast<std::uint32_t>(reading())};
      std::vector<DiskInfo> disks;
      for (int n = pick(0, 6); n > 0; --n) {
        DiskInfo disk = nasShape.disks[static_cast<std::size_t>(pick(0, 4))];
        disk.smartValid = pick(0, 5) != 0 ? 1 : 0;
        disk.temperature = static_cast<std::uint32_t>(reading());
        disks.push_back(disk);
      }
      samples.nas.emplace_back(fans, disks);
      nas.samples.Add(fans, disks);
    }
    std::string body;
    AppendStatusMessage(header, StatusKind::Periodic, PowerState::Running, common, nas, body);
    ASSERT_EQ(AveragedMembers(body), AveragesFromTheSamples(samples, nas, adapters));
  }
}

// CheckInterval 1 for a day: the period's sums hold as much heap after 86,400 rounds as after
// 3,600. (Under the sanitizers mallinfo2 sees none of it; the entry count still holds.)
TEST(PeriodicStatus, ADayOfOneSecondRoundsHoldsNoMoreThanAnHour) {
  SystemSample sample;
  for (const char* cpu : {"0", "1", "2", "3", "_Total"}) sample.snapshot.processorLoads.push_back({cpu, 7});
  for (const char* disk : {"0 C:", "1 D:", "2 E:", "3 F:", "_Total"}) sample.snapshot.diskLoads.push_back({disk, 3});
  sample.snapshot.networkRates = {{"Intel[R] Ethernet", 1000, 2000}, {"Intel[R] Ethernet _2", 10, 20}};
  std::vector<DiskInfo> disks(4);
  for (std::uint32_t bay = 0; bay < 4; ++bay) {
    disks[bay].portMask = 1u << bay;
    disks[bay].smartValid = 1;
    disks[bay].temperature = 38;
  }
  CommonStatusData common;
  NasStatusData nas;
  const auto footprint = [&] {
    return std::pair{mallinfo2().uordblks, common.samples.diskLoads.size() + common.samples.networkRates.size() +
                                               nas.samples.diskTemperatures.size()};
  };
  const auto rounds = [&](int count) {
    for (int round = 0; round < count; ++round) {
      common.samples.Add(sample);
      nas.samples.Add({2000, 40, 1000}, disks);
    }
  };
  rounds(3600);
  const auto hour = footprint();
  rounds(86400 - 3600);
  EXPECT_EQ(footprint(), hour);
  EXPECT_EQ(hour.second, 10U) << "four disk numbers, two ports, four bays";
  EXPECT_EQ(common.samples.count, 86400U);
}

}  // namespace
}  // namespace orv
