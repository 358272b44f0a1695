#include "report/status_message.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>

#include "model/smart_table.h"
#include "platform/text_encoding.h"
#include "platform/formatted_text.h"
#include "platform/json_escape.h"
#include "report/model_identity.h"

namespace orv {
namespace {

constexpr const char* kIndent1 = "    ";
constexpr const char* kIndent2 = "        ";
constexpr const char* kIndent3 = "            ";
constexpr const char* kIndent4 = "                ";
constexpr const char* kIndent5 = "                    ";

std::string Quoted(std::string_view text) { return '"' + EscapeJson(text) + '"'; }
std::string QuotedOrNull(std::string_view text, bool isNull) {
  return isNull ? std::string("null") : Quoted(text);
}

std::string TimeOrNull(const os::CalendarTime& time) {
  if (time.year == 0) return "null";
  return FormatText("\"%d/%02d/%02d %02d:%02d\"", time.year, time.month, time.day, time.hour, time.minute);
}

std::string Trimmed(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Letter(char16_t letter) { return Utf16ToUtf8(std::u16string(1, letter)); }

// The message's lines. Members of the message and of array entries are written as key and
// value; the writer places indentation, quotes around the key and the line end. Every entry
// ends with its "sts" array, so entry members always take a comma.
class StatusWriter {
 public:
  explicit StatusWriter(std::string& body) : body_(body) {}

  void Member(std::string_view key, std::string_view value) { KeyLine(kIndent1, key, value, true); }
  void EntryMember(std::string_view key, std::string_view value) { KeyLine(kIndent3, key, value, true); }

  // An array of `count` entries; `entry(i)` writes the members of each, the writer the braces.
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

  // One array entry on its own, braces included, as it stands inside its array.
  void Entry(const std::function<void()>& members) {
    Line(kIndent2, "{", false);
    members();
    Line(kIndent2, "}", false);
  }

  // The "smt" array of a disk entry: one object per attribute, members given as key and value.
  void SmartArray(const std::vector<std::vector<std::pair<const char*, std::string>>>& attributes) {
    body_.append(kIndent3).append("\"smt\":[\r\n");
    for (std::size_t i = 0; i < attributes.size(); ++i) {
      if (i > 0) Line(kIndent4, "}", true);
      Line(kIndent4, "{", false);
      const auto& members = attributes[i];
      for (std::size_t m = 0; m < members.size(); ++m) {
        KeyLine(kIndent5, members[m].first, members[m].second, m + 1 < members.size());
      }
    }
    if (!attributes.empty()) Line(kIndent4, "}", false);
    Line(kIndent3, "]", true);
  }

  // The state array that ends every entry.
  void States(const std::vector<const MonitorState*>& states, const char* replacedTrigger = nullptr) {
    body_.append(kIndent3).append("\"sts\":[\r\n");
    for (std::size_t i = 0; i < states.size(); ++i) {
      if (i > 0) Line(kIndent4, "}", true);
      Line(kIndent4, "{", false);
      const MonitorState& state = *states[i];
      KeyLine(kIndent5, "act_id", std::to_string(state.act_id), true);
      KeyLine(kIndent5, "act_trg", JsonTokenOrQuoted(replacedTrigger ? replacedTrigger : state.act_trg), true);
      KeyLine(kIndent5, "act_para", Quoted(state.act_para), true);
      KeyLine(kIndent5, "act_sts", std::to_string(state.act_sts), true);
      KeyLine(kIndent5, "msg", Quoted(state.msg), false);
    }
    if (!states.empty()) Line(kIndent4, "}", false);
    Line(kIndent3, "]", false);
  }

 private:
  void Line(const char* indent, std::string_view text, bool comma) {
    body_.append(indent).append(text).append(comma ? ",\r\n" : "\r\n");
  }
  void KeyLine(const char* indent, std::string_view key, std::string_view value, bool comma) {
    body_.append(indent).append("\"").append(key).append("\":").append(value).append(comma ? ",\r\n" : "\r\n");
  }

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

std::string DiskNumberOf(const DiskInfo& disk) {
  std::string name = disk.deviceName;
  constexpr std::string_view kPrefix = "\\\\?\\PhysicalDrive";
  for (std::size_t at = name.find(kPrefix); at != std::string::npos; at = name.find(kPrefix, at)) {
    name.erase(at, kPrefix.size());
  }
  return name;
}

// The loads and readings the message reports: for a periodic status the averages over the
// rounds of its period (from their running sums), for any other status the current sample.
// Nothing else in this file makes that choice. Averages are integer quotients where the
// readings are whole numbers, and "%.2f" of the floating-point quotient for loads.
class Readings {
 public:
  Readings(bool periodic, const CommonStatusData& common, const NasStatusData& nas)
      : periodic_(periodic), common_(common), nas_(nas) {}

  std::string ProcessorLoad() const {
    if (periodic_) return AverageLoad(common_.samples.processorLoad);
    return CurrentLoad(common_.current.snapshot.processorLoads);
  }
  std::string MemoryLoad() const {
    if (periodic_) return AverageLoad(common_.samples.memoryLoad);
    return FormatText("%d.00", common_.current.snapshot.memoryLoad);
  }
  std::string DiskLoadTotal() const {
    if (periodic_) return AverageLoad(common_.samples.diskLoad);
    return CurrentLoad(common_.current.snapshot.diskLoads);
  }
  std::uint32_t ShareConnections() const {
    if (!periodic_) return common_.current.shareConnections;
    const std::uint64_t sum = common_.samples.shareConnections;
    return sum == 0 ? 0 : static_cast<std::uint32_t>(sum / common_.samples.count);
  }
  FanReadings Fans() const {
    if (!periodic_) return nas_.readings;
    const FanReadingSums& sums = nas_.samples.fans;
    return {AverageReading(sums.cpuFanRpm), AverageReading(sums.cpuTemperature), AverageReading(sums.caseFanRpm)};
  }

  std::string DiskLoad(const DiskInfo& disk) const {
    if (disk.present == 0) return "null";
    const std::string number = DiskNumberOf(disk);
    if (number.empty()) return "null";
    if (!periodic_) {
      for (const CounterValue& value : common_.current.snapshot.diskLoads) {
        if (ReducedInstance(value.instance) == number) return FormatText("%d.00", value.value);
      }
      return "null";
    }
    const auto found = common_.samples.diskLoads.find(number);
    if (found == common_.samples.diskLoads.end()) return "null";
    double sum = found->second;
    if (sum != 0) sum /= static_cast<double>(common_.samples.count);
    return FormatText("%.2f", sum);
  }

  std::string DiskTemperature(const DiskInfo& disk) const {
    if (disk.present == 0) return "null";
    if (!periodic_) return disk.smartValid == 1 ? std::to_string(disk.temperature) : "null";
    const auto found = nas_.samples.diskTemperatures.find(disk.portMask);
    std::uint64_t sum = found == nas_.samples.diskTemperatures.end() ? 0 : found->second;
    if (sum != 0) sum /= nas_.samples.count;
    return std::to_string(sum);
  }

  // Sent and received rates of a port's counter instance; null when the current sample has none.
  std::pair<std::string, std::string> NetworkRates(const std::string& instance) const {
    if (!periodic_) {
      for (const NetworkRate& rate : common_.current.snapshot.networkRates) {
        if (rate.instance == instance) return {std::to_string(rate.sent), std::to_string(rate.received)};
      }
      return {"null", "null"};
    }
    const auto found = common_.samples.networkRates.find(instance);
    const NetworkRateSum sum = found == common_.samples.networkRates.end() ? NetworkRateSum{} : found->second;
    const auto count = static_cast<std::int64_t>(common_.samples.count);
    return {std::to_string(sum.sent != 0 ? sum.sent / count : 0),
            std::to_string(sum.received != 0 ? sum.received / count : 0)};
  }

 private:
  static std::string CurrentLoad(const std::vector<CounterValue>& values) {
    const CounterValue* total = FindInstance(values, "_Total");
    return total ? FormatText("%d.00", total->value) : std::string("null");
  }
  std::string AverageLoad(std::int64_t sum) const {
    if (common_.samples.count == 0 || sum == 0) return "0.00";
    return FormatText("%.2f", static_cast<double>(sum) / static_cast<double>(common_.samples.count));
  }
  // Whole-number average of one fan reading over the NAS rounds.
  std::uint32_t AverageReading(std::uint64_t sum) const {
    if (sum == 0 || nas_.samples.count == 0) return 0;
    return static_cast<std::uint32_t>(sum / nas_.samples.count);
  }

  bool periodic_;
  const CommonStatusData& common_;
  const NasStatusData& nas_;
};

std::string UsedShare(std::uint64_t used, std::uint64_t total) {
  if (total == 0) return "0.00";
  return FormatText("%.2f", static_cast<double>(used) * 100.0 / static_cast<double>(total));
}

std::string Label(const VolumeInfo& volume) {
  return Quoted(volume.volumeName.empty() ? std::string("Volume") : volume.volumeName);
}

std::string ValidTokenOrNull(const std::string& token) {
  return IsJsonValueToken(token) ? token : std::string("null");
}

std::string Number(std::uint64_t value) { return std::to_string(value); }

void WriteHead(StatusWriter& out, const StatusHeader& header, StatusKind kind, PowerState power, const Readings& readings,
               const std::string& processorLoad, const SystemSample& current) {
  const char* stsType = kind == StatusKind::Periodic      ? "0"
                        : kind == StatusKind::AfterEvents ? "1"
                        : kind == StatusKind::Test        ? "2"
                                                          : "null";
  const char* powSts = power == PowerState::Running        ? "0"
                       : power == PowerState::ShuttingDown ? "100"
                       : power == PowerState::Sleeping     ? "200"
                                                           : "null";
  out.Member("type", "\"status\"");
  out.Member("ver", "\"1.10\"");
  out.Member("prdct", "\"NAS\"");
  out.Member("sts_type", stsType);
  out.Member("dev_id", Quoted(header.devId));
  out.Member("date", FormatText("\"%04u/%02u/%02u %02u:%02u\"", unsigned{header.now.year}, unsigned{header.now.month},
                            unsigned{header.now.day}, unsigned{header.now.hour}, unsigned{header.now.minute}));
  out.Member("ms_name", Quoted(header.msName));
  out.Member("ms_ver", Quoted(header.msVer));
  out.Member("agt_name", Quoted(header.agtName));
  out.Member("agt_ver", Quoted(header.agtVer));
  out.Member("uptime", Number(header.millisecondsSinceStart / 60'000));
  out.Member("pow_sts", powSts);
  out.Member("cpu_load", processorLoad);
  out.Member("mem_load", readings.MemoryLoad());
  out.Member("hd_load", readings.DiskLoadTotal());
  out.Member("lo_cnt", Number(readings.ShareConnections()));
  out.Member("wupd_msg", Quoted(current.windowsUpdateMessage));
  out.Member("mb_sn", QuotedOrNull(header.boardSerial, (header.modelFlags & model::kBoardSeries) == 0));
  out.Member("bios_ver", Quoted(header.firmware));
  out.Member("host_name", Quoted(header.hostName));
  out.Member("ng_type", std::to_string(header.networkGroupType));
}

void WriteCpu(StatusWriter& out, std::uint32_t flags, const FanReadings& fans, const std::string& processorLoad,
              const NasStatusData& nas) {
  out.Array("cpu", 1, [&](std::size_t) {
    out.EntryMember("name", "\"CPU\"");
    if (flags & (model::kLcdSeries | model::kTwoBayLine)) {
      out.EntryMember("fan_rpm", Number(fans.cpuFanRpm));
      out.EntryMember("tmp", Number(fans.cpuTemperature));
    } else if (flags & model::kTemperatureSeries) {
      out.EntryMember("fan_rpm", "null");
      out.EntryMember("tmp", Number(fans.cpuTemperature));
    } else {
      out.EntryMember("fan_rpm", "null");
      out.EntryMember("tmp", "null");
    }
    out.EntryMember("load", processorLoad);
    out.States(Active({&nas.cpuFanState, &nas.cpuTempState}));
  });
}

void WriteCaseFan(StatusWriter& out, std::uint32_t flags, const FanReadings& fans, const NasStatusData& nas) {
  out.Array("case_fan", (flags & model::kLcdSeries) ? 1 : 0, [&](std::size_t) {
    out.EntryMember("name", "\"ケースファン\"");
    out.EntryMember("rpm", Number(fans.caseFanRpm));
    out.States(Active({&nas.caseFanState}));
  });
}

// Every attribute of a disk's SMART block that the table walk counts, in block order. Seagate
// disks carry seven raw bytes, others six.
void WriteSmart(StatusWriter& out, const DiskInfo& disk) {
  std::vector<std::vector<std::pair<const char*, std::string>>> attributes;
  if (disk.present != 0 && disk.smartValid != 0) {
    const bool sevenByteRaw = disk.friendlyName.starts_with("ST");
    const std::span<const std::uint8_t> data(disk.smartData);
    WalkSmartTable(data, *SmartTableStart(kSmartBlockSize), [&](std::size_t at) {
      const auto rawText = static_cast<unsigned long long>(SmartRawValue(data, at, sevenByteRaw));
      attributes.push_back({{"id", Number(data[at + smart_entry::kId])},
                            {"val", Number(data[at + smart_entry::kCurrent])},
                            {"ws", Number(data[at + smart_entry::kWorst])},
                            {"ts", Number(disk.smartThresholds[at + smart_entry::kThreshold])},
                            {"dt", sevenByteRaw ? FormatText("\"%014llX\"", rawText) : FormatText("\"%012llX\"", rawText)}});
      return true;
    });
  }
  out.SmartArray(attributes);
}

// The members of one "hd" entry.
void WriteDisk(StatusWriter& out, const DiskInfo& disk, const NasStatusData& nas, const Readings& readings) {
  const bool absent = disk.present == 0;
  const auto textOrNull = [absent](const std::string& text) { return QuotedOrNull(text, absent || text.empty()); };
  const auto numberOrNull = [absent](std::uint64_t value) { return absent ? std::string("null") : Number(value); };
  out.EntryMember("name", Quoted(disk.name));
  out.EntryMember("vnd", textOrNull(disk.vendorId));
  out.EntryMember("model", textOrNull(disk.friendlyName));
  out.EntryMember("fwv", textOrNull(disk.productRevision));
  out.EntryMember("serial", QuotedOrNull(Trimmed(disk.serialNumber), absent || disk.serialNumber.empty()));
  out.EntryMember("sata_md", textOrNull(disk.transferMode));
  out.EntryMember("ata_ver", textOrNull(disk.ataVersion));
  out.EntryMember("features", textOrNull(disk.features));
  out.EntryMember("sec_size", numberOrNull(disk.logicalSectorSize));
  out.EntryMember("phys_size", numberOrNull(disk.physicalSectorSize));
  out.EntryMember("uptime", disk.smartValid == 0 ? std::string("null") : numberOrNull(disk.powerOnHours));
  out.EntryMember("tmp", readings.DiskTemperature(disk));
  out.EntryMember("load", readings.DiskLoad(disk));
  WriteSmart(out, disk);
  std::vector<const MonitorState*> states;
  const auto byPort = [&disk](const MonitorState& s) { return static_cast<std::uint32_t>(s.item_code) == disk.portMask; };
  Select(nas.hddTempStates, byPort, states);
  Select(nas.hddStaStates, byPort, states);
  out.States(states);
}

void WriteDisks(StatusWriter& out, const NasStatusData& nas, const Readings& readings) {
  out.Array("hd", nas.disks.size(), [&](std::size_t i) { WriteDisk(out, nas.disks[i], nas, readings); });
}

void WriteVolumes(StatusWriter& out, const NasStatusData& nas) {
  out.Array("vlm", nas.volumes.size(), [&](std::size_t i) {
    const VolumeInfo& volume = nas.volumes[i];
    const std::string letter = Letter(volume.driveLetter);
    out.EntryMember("name", Quoted("VOLUME_" + letter));
    out.EntryMember("log_name", Quoted(letter + ":"));
    out.EntryMember("label", Label(volume));
    out.EntryMember("type", Quoted(volume.layoutName));
    out.EntryMember("fmt", Quoted(volume.fileSystemName));
    out.EntryMember("used", Number(volume.usedBytes));
    out.EntryMember("total", Number(volume.totalBytes));
    out.EntryMember("free_per", UsedShare(volume.usedBytes, volume.totalBytes));
    std::vector<const MonitorState*> states;
    const auto byLetter = [&letter](const MonitorState& s) { return s.item_key == letter; };
    Select(nas.volStaStates, byLetter, states);
    Select(nas.volCapaStates, byLetter, states);
    out.States(states);
  });
}

void WriteExternalDevices(StatusWriter& out, const NasStatusData& nas) {
  std::vector<const VolumeInfo*> external;
  for (const VolumeInfo& volume : nas.volumes) {
    if (volume.usb != 0 || volume.esata != 0) external.push_back(&volume);
  }
  out.Array("ex_dev", external.size(), [&](std::size_t i) {
    const VolumeInfo& volume = *external[i];
    const std::string letter = Letter(volume.driveLetter);
    const bool optical = volume.fileSystemCode == 5 || volume.fileSystemCode == 6 || volume.status == 3;
    out.EntryMember("name", Quoted(volume.diskModel));
    out.EntryMember("log_name", Quoted(letter + ":"));
    out.EntryMember("label", Label(volume));
    out.EntryMember("port", volume.usb ? "\"USB\"" : volume.esata ? "\"eSATA\"" : "null");
    out.EntryMember("type", optical ? "\"ODD\"" : "\"HDD\"");
    out.EntryMember("fmt", Quoted(volume.fileSystemName));
    out.EntryMember("used", Number(volume.usedBytes));
    out.EntryMember("total", Number(volume.totalBytes));
    out.EntryMember("free_per", UsedShare(volume.usedBytes, volume.totalBytes));
    std::vector<const MonitorState*> states;
    Select(nas.volCapaStates, [&letter](const MonitorState& s) { return s.item_key == letter; }, states);
    out.States(states, "0");
  });
}

void WriteNetwork(StatusWriter& out, const SystemSample& current, const Readings& readings) {
  out.Array("ntwk", current.adapters.size(), [&](std::size_t i) {
    const AdapterEntry& adapter = current.adapters[i];
    out.EntryMember("name", FormatText("\"LAN%u\"", static_cast<unsigned>(i + 1)));
    out.EntryMember("ip_adr", adapter.hasAddress == 1 ? FormatText("\"%d.%d.%d.%d\"", adapter.address[0], adapter.address[1],
                                                               adapter.address[2], adapter.address[3])
                                                      : std::string("null"));
    out.EntryMember("mac_adr", FormatText("\"%02X:%02X:%02X:%02X:%02X:%02X\"", adapter.mac[0], adapter.mac[1],
                                      adapter.mac[2], adapter.mac[3], adapter.mac[4], adapter.mac[5]));
    const auto [tx, rx] = readings.NetworkRates(CounterInstanceName(adapter));
    out.EntryMember("tx", tx);
    out.EntryMember("rx", rx);
    out.States({});
  });
}

void WriteBackups(StatusWriter& out, const CommonStatusData& common, const NasStatusData& nas) {
  const ServerBackupInfo& serverBackup = common.current.backup;
  const std::size_t serverEntries = serverBackup.lastResult.year != 0 ? 1 : 0;
  out.Array("bkup", serverEntries + nas.tasks.size(), [&](std::size_t i) {
    if (i < serverEntries) {
      out.EntryMember("config", "\"Windows Server バックアップ\"");
      out.EntryMember("last_bkup", TimeOrNull(serverBackup.lastBackup));
      out.EntryMember("date", TimeOrNull(serverBackup.lastResult));
      out.EntryMember("result", serverBackup.result == 1 ? "\"成功\"" : serverBackup.result == 2 ? "\"失敗\"" : "null");
      out.States(Active({&common.backupState}));
      return;
    }
    const BackupTask& task = nas.tasks[i - serverEntries];
    out.EntryMember("config", Quoted(task.name));
    out.EntryMember("last_bkup", TimeOrNull(task.lastSuccess));
    out.EntryMember("date", TimeOrNull(task.lastResult));
    out.EntryMember("result", task.result == 1   ? "\"完了\""
                              : task.result == 2 ? "\"エラー\""
                              : task.result == 3 ? "\"停止\""
                                                 : "null");
    std::vector<const MonitorState*> states;
    Select(nas.vaultBackupStates, [&task](const MonitorState& s) { return s.item_key == task.name && s.act_sts != 0; },
           states);
    out.States(states);
  });
}

void WriteUps(StatusWriter& out, const CommonStatusData& common) {
  const UpsSnapshot& ups = common.current.ups;
  const bool shown = !ups.name.empty() || common.upsConnectState.act_sts != 0 || common.upsDegradeState.act_sts != 0;
  out.Array("ups", shown ? 1 : 0, [&](std::size_t) {
    out.EntryMember("name", "\"UPS\"");
    out.EntryMember("vnd", ValidTokenOrNull(ups.vnd));
    out.EntryMember("model", ValidTokenOrNull(ups.model));
    out.EntryMember("fwv", ValidTokenOrNull(ups.fwv));
    out.EntryMember("serial", ValidTokenOrNull(ups.serial));
    out.EntryMember("prd_date", ValidTokenOrNull(ups.prd_date));
    out.EntryMember("bt_date", ValidTokenOrNull(ups.bt_date));
    out.EntryMember("bt_lev", !ups.name.empty() && ups.readOk != 0 ? std::to_string(ups.bt_lev) : std::string("null"));
    out.EntryMember("bt_sec", ValidTokenOrNull(ups.bt_sec));
    out.EntryMember("bt_time", ValidTokenOrNull(ups.bt_time));
    out.EntryMember("tmp", ValidTokenOrNull(ups.tmp));
    out.EntryMember("bt_sts", ValidTokenOrNull(ups.bt_sts));
    out.EntryMember("connect", ValidTokenOrNull(ups.connect));
    out.EntryMember("config", "null");
    out.States(Active({&common.upsConnectState, &common.upsDegradeState}));
  }, /*last=*/true);
}

}  // namespace

std::string DiskEntryText(const DiskInfo& disk, StatusKind kind, const CommonStatusData& common,
                          const NasStatusData& nas) {
  std::string text;
  StatusWriter out(text);
  const Readings readings(kind == StatusKind::Periodic, common, nas);
  out.Entry([&] { WriteDisk(out, disk, nas, readings); });
  return text;
}

void AppendStatusMessage(const StatusHeader& header, StatusKind kind, PowerState power,
                         const CommonStatusData& common, const NasStatusData& nas,
                         std::string& body) {
  StatusWriter out(body);
  const Readings readings(kind == StatusKind::Periodic, common, nas);
  const std::string processorLoad = readings.ProcessorLoad();
  const FanReadings fans = readings.Fans();
  WriteHead(out, header, kind, power, readings, processorLoad, common.current);
  WriteCpu(out, header.modelFlags, fans, processorLoad, nas);
  WriteCaseFan(out, header.modelFlags, fans, nas);
  WriteDisks(out, nas, readings);
  WriteVolumes(out, nas);
  WriteExternalDevices(out, nas);
  WriteNetwork(out, common.current, readings);
  WriteBackups(out, common, nas);
  WriteUps(out, common);
}

}  // namespace orv
