#include "report/status_message.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>

#include "platform/text_encoding.h"
#include "report/json_escape.h"
#include "report/model_identity.h"

namespace orv {
namespace {

constexpr const char* kIndent1 = "    ";
constexpr const char* kIndent2 = "        ";
constexpr const char* kIndent3 = "            ";
constexpr const char* kIndent4 = "                ";
constexpr const char* kIndent5 = "                    ";

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buffer[128];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return length < 0 ? std::string() : std::string(buffer, std::min<std::size_t>(sizeof buffer - 1, static_cast<std::size_t>(length)));
}

std::string Quoted(std::string_view text) { return '"' + EscapeJson(text) + '"'; }
std::string QuotedOrNull(std::string_view text, bool isNull) {
  return isNull ? std::string("null") : Quoted(text);
}

std::string TimeOrNull(const os::CalendarTime& time) {
  if (time.year == 0) return "null";
  return Format("\"%d/%02d/%02d %02d:%02d\"", time.year, time.month, time.day, time.hour, time.minute);
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Letter(char16_t letter) { return Utf16ToUtf8(std::u16string(1, letter)); }

// Lines of one JSON object or array level; commas are the caller's.
class Writer {
 public:
  explicit Writer(std::string& body) : body_(body) {}
  void Line(const char* indent, std::string_view text, bool comma) {
    body_.append(indent).append(text).append(comma ? ",\r\n" : "\r\n");
  }
  void Member(std::string_view text) { Line(kIndent1, text, true); }
  void EntryMember(std::string_view text) { Line(kIndent3, text, true); }

  // An array of entries; `entries` calls `entry(i)` for each and the writer places the braces.
  void Array(std::string_view key, std::size_t count, const std::function<void(std::size_t)>& entry,
             bool last = false) {
    body_.append(kIndent1).append("\"").append(key).append("\":[\r\n");
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) Line(kIndent2, "}", true);
      Line(kIndent2, "{", false);
      entry(i);
    }
    if (count > 0) Line(kIndent2, "}", false);
    Line(kIndent1, "]", !last);
  }

  // The state array that ends every entry.
  void States(const std::vector<const MonitorState*>& states, const char* replacedTrigger = nullptr) {
    body_.append(kIndent3).append("\"sts\":[\r\n");
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (i > 0) Line(kIndent4, "}", true);
      Line(kIndent4, "{", false);
      const MonitorState& state = *states[i];
      Line(kIndent5, "\"act_id\":" + std::to_string(state.act_id), true);
      Line(kIndent5, "\"act_trg\":" + JsonTokenOrQuoted(replacedTrigger ? replacedTrigger : state.act_trg), true);
      Line(kIndent5, "\"act_para\":" + Quoted(state.act_para), true);
      Line(kIndent5, "\"act_sts\":" + std::to_string(state.act_sts), true);
      Line(kIndent5, "\"msg\":" + Quoted(state.msg), false);
    }
    if (!states.empty()) Line(kIndent4, "}", false);
    Line(kIndent3, "]", false);
  }

 private:
  std::string& body_;
};

std::vector<const MonitorState*> Active(std::initializer_list<const MonitorState*> states) {
  std::vector<const MonitorState*> active;
  for (const MonitorState* state : states) {
    if (state->act_sts != 0) active.push_back(state);
  }
  return active;
}

template <typename Match>
void Select(const std::vector<MonitorState>& table, Match match, std::vector<const MonitorState*>& out) {
  for (const MonitorState& state : table) {
    if (match(state)) out.push_back(&state);
  }
}

const CounterValue* FindInstance(const std::vector<CounterValue>& values, std::string_view name) {
  for (const CounterValue& value : values) {
    if (value.instance == name) return &value;
  }
  return nullptr;
}

// Loads of the message head: current values, or for the periodic status the averages of the
// "_Total" instances over the samples.
std::string CurrentLoad(const std::vector<CounterValue>& values) {
  const CounterValue* total = FindInstance(values, "_Total");
  return total ? Format("%d.00", total->value) : std::string("null");
}

std::string AverageLoad(const std::vector<SystemSample>& samples,
                        const std::function<std::int64_t(const SystemSample&)>& valueOf) {
  std::int64_t sum = 0;
  for (const SystemSample& sample : samples) sum += valueOf(sample);
  if (samples.empty() || sum == 0) return "0.00";
  return Format("%.2f", static_cast<double>(sum) / static_cast<double>(samples.size()));
}

std::int64_t TotalOf(const std::vector<CounterValue>& values) {
  std::int64_t sum = 0;
  for (const CounterValue& value : values) {
    if (value.instance == "_Total") sum += value.value;
  }
  return sum;
}

// Whole-number averages of the fan readings over the NAS samples.
std::uint32_t AverageReading(const std::vector<NasSample>& samples,
                             std::uint32_t FanReadings::*reading) {
  std::uint64_t sum = 0;
  for (const NasSample& sample : samples) sum += sample.readings.*reading;
  if (sum == 0 || samples.empty()) return 0;
  return static_cast<std::uint32_t>(sum / samples.size());
}

// A disk-load counter instance reduced to the disk number it starts with ("3 D: E:" gives
// "3"); a one-character name stays as it is.
std::string_view ReducedInstance(std::string_view instance) {
  if (instance.size() == 1) return instance;
  const std::size_t space = instance.find(' ');
  return space == std::string_view::npos ? std::string_view() : instance.substr(0, space);
}

std::string DiskNumberOf(const DiskInfo& disk) {
  std::string name = disk.deviceName;
  constexpr std::string_view kPrefix = "\\\\?\\PhysicalDrive";
  for (std::size_t at = name.find(kPrefix); at != std::string::npos; at = name.find(kPrefix, at)) {
    name.erase(at, kPrefix.size());
  }
  return name;
}

std::string DiskLoad(const DiskInfo& disk, int kind, const CommonStatusData& common) {
  if (disk.present == 0) return "null";
  const std::string number = DiskNumberOf(disk);
  if (number.empty()) return "null";
  if (kind != 1) {
    for (const CounterValue& value : common.current.snapshot.diskLoads) {
      if (ReducedInstance(value.instance) == number) return Format("%d.00", value.value);
    }
    return "null";
  }
  double sum = 0;
  bool matched = false;
  for (const SystemSample& sample : common.samples) {
    for (const CounterValue& value : sample.snapshot.diskLoads) {
      if (ReducedInstance(value.instance) != number) continue;
      sum += value.value;
      matched = true;
    }
  }
  if (!matched) return "null";
  if (sum != 0) sum /= static_cast<double>(common.samples.size());
  return Format("%.2f", sum);
}

std::string DiskTemperature(const DiskInfo& disk, int kind, const NasStatusData& nas) {
  if (disk.present == 0) return "null";
  if (kind != 1) return disk.smartValid == 1 ? std::to_string(disk.temperature) : "null";
  std::uint64_t sum = 0;
  for (const NasSample& sample : nas.samples) {
    for (const DiskInfo& sampled : sample.disks) {
      if (sampled.portMask == disk.portMask && sampled.smartValid == 1) sum += sampled.temperature;
    }
  }
  if (sum != 0) sum /= nas.samples.size();
  return std::to_string(sum);
}

void WriteSmart(Writer& out, std::string& body, const DiskInfo& disk) {
  body.append(kIndent3).append("\"smt\":[\r\n");
  if (disk.present != 0 && disk.smartValid != 0) {
    const bool sevenByteRaw = disk.friendlyName.starts_with("ST");
    int lastWritten = 0;
    bool any = false;
    for (std::size_t at = 18; at + 12 <= kSmartBlockSize; at += 12) {
      const std::uint8_t* entry = disk.smartData.data() + at;
      const int id = entry[0];
      if (id <= lastWritten || id >= 251) continue;
      lastWritten = id;
      std::uint64_t raw = 0;
      for (int b = sevenByteRaw ? 6 : 5; b >= 0; --b) raw = (raw << 8) | entry[5 + b];
      if (any) out.Line(kIndent4, "}", true);
      out.Line(kIndent4, "{", false);
      out.Line(kIndent5, Format("\"id\":%d", id), true);
      out.Line(kIndent5, Format("\"val\":%d", entry[3]), true);
      out.Line(kIndent5, Format("\"ws\":%d", entry[4]), true);
      out.Line(kIndent5, Format("\"ts\":%d", disk.smartThresholds[at + 1]), true);
      out.Line(kIndent5, sevenByteRaw ? Format("\"dt\":\"%014llX\"", static_cast<unsigned long long>(raw))
                                      : Format("\"dt\":\"%012llX\"", static_cast<unsigned long long>(raw)),
               false);
      any = true;
    }
    if (any) out.Line(kIndent4, "}", false);
  }
  out.Line(kIndent3, "]", true);
}

std::string UsedShare(std::uint64_t used, std::uint64_t total) {
  if (total == 0) return "0.00";
  return Format("%.2f", static_cast<double>(used) * 100.0 / static_cast<double>(total));
}

std::string Label(const VolumeInfo& volume) {
  return Quoted(volume.volumeName.empty() ? std::string("Volume") : volume.volumeName);
}

std::string ValidTokenOrNull(const std::string& token) {
  return IsJsonValueToken(token) ? token : std::string("null");
}

}  // namespace

void AppendStatusMessage(const StatusHeader& header, int kind, int power,
                         const CommonStatusData& common, const NasStatusData& nas,
                         std::string& body) {
  using namespace model;
  Writer out(body);
  const SystemSample& current = common.current;
  const bool periodic = kind == 1;

  std::string cpuLoad;
  std::string memLoad;
  std::string diskLoad;
  std::uint32_t shares = 0;
  if (periodic) {
    cpuLoad = AverageLoad(common.samples, [](const SystemSample& s) { return TotalOf(s.snapshot.processorLoads); });
    memLoad = AverageLoad(common.samples, [](const SystemSample& s) { return std::int64_t{s.snapshot.memoryLoad}; });
    diskLoad = AverageLoad(common.samples, [](const SystemSample& s) { return TotalOf(s.snapshot.diskLoads); });
    std::uint64_t sum = 0;
    for (const SystemSample& sample : common.samples) sum += sample.shareConnections;
    shares = sum == 0 ? 0 : static_cast<std::uint32_t>(sum / common.samples.size());
  } else {
    cpuLoad = CurrentLoad(current.snapshot.processorLoads);
    memLoad = Format("%d.00", current.snapshot.memoryLoad);
    diskLoad = CurrentLoad(current.snapshot.diskLoads);
    shares = current.shareConnections;
  }

  const char* stsType = kind == 1 ? "0" : kind == 2 ? "1" : kind == 3 ? "2" : "null";
  const char* powSts = power == 1 ? "0" : power == 2 ? "100" : power == 3 ? "200" : "null";
  out.Member("\"type\":\"status\"");
  out.Member("\"ver\":\"1.10\"");
  out.Member("\"prdct\":\"NAS\"");
  out.Member(std::string("\"sts_type\":") + stsType);
  out.Member("\"dev_id\":" + Quoted(header.devId));
  out.Member(Format("\"date\":\"%04u/%02u/%02u %02u:%02u\"", unsigned{header.now.year}, unsigned{header.now.month},
                    unsigned{header.now.day}, unsigned{header.now.hour}, unsigned{header.now.minute}));
  out.Member("\"ms_name\":" + Quoted(header.msName));
  out.Member("\"ms_ver\":" + Quoted(header.msVer));
  out.Member("\"agt_name\":" + Quoted(header.agtName));
  out.Member("\"agt_ver\":" + Quoted(header.agtVer));
  out.Member("\"uptime\":" + std::to_string(header.millisecondsSinceStart / 60'000));
  out.Member(std::string("\"pow_sts\":") + powSts);
  out.Member("\"cpu_load\":" + cpuLoad);
  out.Member("\"mem_load\":" + memLoad);
  out.Member("\"hd_load\":" + diskLoad);
  out.Member("\"lo_cnt\":" + std::to_string(shares));
  out.Member("\"wupd_msg\":" + Quoted(current.windowsUpdateMessage));
  out.Member("\"mb_sn\":" + QuotedOrNull(header.boardSerial, (header.modelFlags & kBoardSeries) == 0));
  out.Member("\"bios_ver\":" + Quoted(header.firmware));
  out.Member("\"host_name\":" + Quoted(header.hostName));
  out.Member("\"ng_type\":" + std::to_string(header.networkGroupType));

  const FanReadings fans = periodic ? FanReadings{AverageReading(nas.samples, &FanReadings::cpuFanRpm),
                                                  AverageReading(nas.samples, &FanReadings::cpuTemperature),
                                                  AverageReading(nas.samples, &FanReadings::caseFanRpm)}
                                    : nas.readings;
  const std::uint32_t flags = header.modelFlags;
  out.Array("cpu", 1, [&](std::size_t) {
    out.EntryMember("\"name\":\"CPU\"");
    if (flags & (kLcdSeries | kTwoBayLine)) {
      out.EntryMember("\"fan_rpm\":" + std::to_string(fans.cpuFanRpm));
      out.EntryMember("\"tmp\":" + std::to_string(fans.cpuTemperature));
    } else if (flags & kTemperatureSeries) {
      out.EntryMember("\"fan_rpm\":null");
      out.EntryMember("\"tmp\":" + std::to_string(fans.cpuTemperature));
    } else {
      out.EntryMember("\"fan_rpm\":null");
      out.EntryMember("\"tmp\":null");
    }
    out.EntryMember("\"load\":" + cpuLoad);
    out.States(Active({&nas.cpuFanState, &nas.cpuTempState}));
  });
  out.Array("case_fan", (flags & kLcdSeries) ? 1 : 0, [&](std::size_t) {
    out.EntryMember("\"name\":\"ケースファン\"");
    out.EntryMember("\"rpm\":" + std::to_string(fans.caseFanRpm));
    out.States(Active({&nas.caseFanState}));
  });

  out.Array("hd", nas.disks.size(), [&](std::size_t i) {
    const DiskInfo& disk = nas.disks[i];
    const bool absent = disk.present == 0;
    const auto ruleP = [absent](const std::string& text) { return QuotedOrNull(text, absent || text.empty()); };
    out.EntryMember("\"name\":" + Quoted(disk.name));
    out.EntryMember("\"vnd\":" + ruleP(disk.vendorId));
    out.EntryMember("\"model\":" + ruleP(disk.friendlyName));
    out.EntryMember("\"fwv\":" + ruleP(disk.productRevision));
    out.EntryMember("\"serial\":" + QuotedOrNull(Trimmed(disk.serialNumber), absent || disk.serialNumber.empty()));
    out.EntryMember("\"sata_md\":" + ruleP(disk.transferMode));
    out.EntryMember("\"ata_ver\":" + ruleP(disk.ataVersion));
    out.EntryMember("\"features\":" + ruleP(disk.features));
    out.EntryMember("\"sec_size\":" + (absent ? std::string("null") : std::to_string(disk.logicalSectorSize)));
    out.EntryMember("\"phys_size\":" + (absent ? std::string("null") : std::to_string(disk.physicalSectorSize)));
    out.EntryMember("\"uptime\":" + (absent || disk.smartValid == 0 ? std::string("null") : std::to_string(disk.powerOnHours)));
    out.EntryMember("\"tmp\":" + DiskTemperature(disk, kind, nas));
    out.EntryMember("\"load\":" + DiskLoad(disk, kind, common));
    WriteSmart(out, body, disk);
    std::vector<const MonitorState*> states;
    const auto byPort = [&disk](const MonitorState& s) { return static_cast<std::uint32_t>(s.item_code) == disk.portMask; };
    Select(nas.hddTempStates, byPort, states);
    Select(nas.hddStaStates, byPort, states);
    out.States(states);
  });

  out.Array("vlm", nas.volumes.size(), [&](std::size_t i) {
    const VolumeInfo& volume = nas.volumes[i];
    const std::string letter = Letter(volume.driveLetter);
    out.EntryMember("\"name\":" + Quoted("VOLUME_" + letter));
    out.EntryMember("\"log_name\":" + Quoted(letter + ":"));
    out.EntryMember("\"label\":" + Label(volume));
    out.EntryMember("\"type\":" + Quoted(volume.layoutName));
    out.EntryMember("\"fmt\":" + Quoted(volume.fileSystemName));
    out.EntryMember("\"used\":" + std::to_string(volume.usedBytes));
    out.EntryMember("\"total\":" + std::to_string(volume.totalBytes));
    out.EntryMember("\"free_per\":" + UsedShare(volume.usedBytes, volume.totalBytes));
    std::vector<const MonitorState*> states;
    const auto byLetter = [&letter](const MonitorState& s) { return s.item_key == letter; };
    Select(nas.volStaStates, byLetter, states);
    Select(nas.volCapaStates, byLetter, states);
    out.States(states);
  });

  std::vector<const VolumeInfo*> external;
  for (const VolumeInfo& volume : nas.volumes) {
    if (volume.usb != 0 || volume.esata != 0) external.push_back(&volume);
  }
  out.Array("ex_dev", external.size(), [&](std::size_t i) {
    const VolumeInfo& volume = *external[i];
    const std::string letter = Letter(volume.driveLetter);
    out.EntryMember("\"name\":" + Quoted(volume.diskModel));
    out.EntryMember("\"log_name\":" + Quoted(letter + ":"));
    out.EntryMember("\"label\":" + Label(volume));
    out.EntryMember(std::string("\"port\":") + (volume.usb ? "\"USB\"" : volume.esata ? "\"eSATA\"" : "null"));
    const bool optical = volume.fileSystemCode == 5 || volume.fileSystemCode == 6 || volume.status == 3;
    out.EntryMember(std::string("\"type\":") + (optical ? "\"ODD\"" : "\"HDD\""));
    out.EntryMember("\"fmt\":" + Quoted(volume.fileSystemName));
    out.EntryMember("\"used\":" + std::to_string(volume.usedBytes));
    out.EntryMember("\"total\":" + std::to_string(volume.totalBytes));
    out.EntryMember("\"free_per\":" + UsedShare(volume.usedBytes, volume.totalBytes));
    std::vector<const MonitorState*> states;
    Select(nas.volCapaStates, [&letter](const MonitorState& s) { return s.item_key == letter; }, states);
    out.States(states, "0");
  });

  out.Array("ntwk", current.adapters.size(), [&](std::size_t i) {
    const AdapterEntry& adapter = current.adapters[i];
    out.EntryMember(Format("\"name\":\"LAN%u\"", static_cast<unsigned>(i + 1)));
    out.EntryMember(adapter.hasAddress == 1
                        ? Format("\"ip_adr\":\"%d.%d.%d.%d\"", adapter.address[0], adapter.address[1],
                                 adapter.address[2], adapter.address[3])
                        : std::string("\"ip_adr\":null"));
    out.EntryMember(Format("\"mac_adr\":\"%02X:%02X:%02X:%02X:%02X:%02X\"", adapter.mac[0], adapter.mac[1],
                           adapter.mac[2], adapter.mac[3], adapter.mac[4], adapter.mac[5]));
    const std::string instance = CounterInstanceName(adapter);
    std::string tx = "null";
    std::string rx = "null";
    if (!periodic) {
      for (const NetworkRate& rate : current.snapshot.networkRates) {
        if (rate.instance != instance) continue;
        tx = std::to_string(rate.sent);
        rx = std::to_string(rate.received);
        break;
      }
    } else {
      std::int64_t sent = 0;
      std::int64_t received = 0;
      for (const SystemSample& sample : common.samples) {
        for (const NetworkRate& rate : sample.snapshot.networkRates) {
          if (rate.instance != instance) continue;
          sent += rate.sent;
          received += rate.received;
        }
      }
      const auto count = static_cast<std::int64_t>(common.samples.size());
      tx = std::to_string(sent != 0 ? sent / count : 0);
      rx = std::to_string(received != 0 ? received / count : 0);
    }
    out.EntryMember("\"tx\":" + tx);
    out.EntryMember("\"rx\":" + rx);
    out.States({});
  });

  const ServerBackupInfo& serverBackup = current.backup;
  const std::size_t serverEntries = serverBackup.lastResult.year != 0 ? 1 : 0;
  out.Array("bkup", serverEntries + nas.tasks.size(), [&](std::size_t i) {
    if (i < serverEntries) {
      out.EntryMember("\"config\":\"Windows Server バックアップ\"");
      out.EntryMember("\"last_bkup\":" + TimeOrNull(serverBackup.lastBackup));
      out.EntryMember("\"date\":" + TimeOrNull(serverBackup.lastResult));
      const char* result = serverBackup.result == 1 ? "\"成功\"" : serverBackup.result == 2 ? "\"失敗\"" : "null";
      out.EntryMember(std::string("\"result\":") + result);
      out.States(Active({&common.backupState}));
      return;
    }
    const BackupTask& task = nas.tasks[i - serverEntries];
    out.EntryMember("\"config\":" + Quoted(task.name));
    out.EntryMember("\"last_bkup\":" + TimeOrNull(task.lastSuccess));
    out.EntryMember("\"date\":" + TimeOrNull(task.lastResult));
    const char* result = task.result == 1   ? "\"完了\""
                         : task.result == 2 ? "\"エラー\""
                         : task.result == 3 ? "\"停止\""
                                            : "null";
    out.EntryMember(std::string("\"result\":") + result);
    std::vector<const MonitorState*> states;
    Select(nas.vaultBackupStates, [&task](const MonitorState& s) { return s.item_key == task.name && s.act_sts != 0; },
           states);
    out.States(states);
  });

  const UpsSnapshot& ups = current.ups;
  const bool upsShown = !ups.name.empty() || common.upsConnectState.act_sts != 0 || common.upsDegradeState.act_sts != 0;
  out.Array("ups", upsShown ? 1 : 0, [&](std::size_t) {
    out.EntryMember("\"name\":\"UPS\"");
    out.EntryMember("\"vnd\":" + ValidTokenOrNull(ups.vnd));
    out.EntryMember("\"model\":" + ValidTokenOrNull(ups.model));
    out.EntryMember("\"fwv\":" + ValidTokenOrNull(ups.fwv));
    out.EntryMember("\"serial\":" + ValidTokenOrNull(ups.serial));
    out.EntryMember("\"prd_date\":" + ValidTokenOrNull(ups.prd_date));
    out.EntryMember("\"bt_date\":" + ValidTokenOrNull(ups.bt_date));
    out.EntryMember("\"bt_lev\":" + (!ups.name.empty() && ups.readOk != 0 ? std::to_string(ups.bt_lev) : std::string("null")));
    out.EntryMember("\"bt_sec\":" + ValidTokenOrNull(ups.bt_sec));
    out.EntryMember("\"bt_time\":" + ValidTokenOrNull(ups.bt_time));
    out.EntryMember("\"tmp\":" + ValidTokenOrNull(ups.tmp));
    out.EntryMember("\"bt_sts\":" + ValidTokenOrNull(ups.bt_sts));
    out.EntryMember("\"connect\":" + ValidTokenOrNull(ups.connect));
    out.EntryMember("\"config\":null");
    out.States(Active({&common.upsConnectState, &common.upsDegradeState}));
  }, /*last=*/true);
}

}  // namespace orv
