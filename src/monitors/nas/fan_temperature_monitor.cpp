#include "monitors/nas/fan_temperature_monitor.h"

#include <string>
#include <string_view>

#include "model/act_ids.h"
#include "model/model_flags.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"

namespace orv {
namespace {

constexpr std::uint64_t kFanRecoveryMargin = 100;
constexpr std::uint32_t kTemperatureRecoveryMargin = 5;

constexpr std::string_view kLcdPanelKey = "SOFTWARE\\Wow6432Node\\MERIDEX\\FrontLcd\\Config";
constexpr std::string_view kLedPanelKey = "SOFTWARE\\Wow6432Node\\Tavolen\\FrontLed\\Config";

std::optional<std::uint32_t> Reading(const RegHandle& key, std::string_view name) {
  const std::optional<std::uint32_t> value = key.GetDword(name);
  if (!value || *value == RegHandle::kMissingDword) return std::nullopt;
  return value;
}

std::string Number(std::uint32_t value) { return std::to_string(value); }

}  // namespace

FanTemperatureReadings ReadFanTemperature(os::Registry& registry, std::uint32_t modelFlags) {
  FanTemperatureReadings readings;
  if ((modelFlags & model::kLcdSeries) != 0) {
    const RegHandle panel(registry, os::RegistryRoot::LocalMachine, std::string(kLcdPanelKey));
    readings = {Reading(panel, "CpuFan"), Reading(panel, "CpuTemp"), Reading(panel, "SysFan")};
  } else if ((modelFlags & model::kTemperatureSeries) != 0) {
    const RegHandle panel(registry, os::RegistryRoot::LocalMachine, std::string(kLcdPanelKey));
    readings.cpuTemperature = Reading(panel, "CpuTemp");
  } else if ((modelFlags & model::kTwoBayLine) != 0) {
    const RegHandle panel(registry, os::RegistryRoot::LocalMachine, std::string(kLedPanelKey));
    readings.cpuFanRpm = Reading(panel, "CpuFan");
    readings.cpuTemperature = Reading(panel, "CpuTemp");
  }
  return readings;
}

void FanTemperatureMonitor::Check(NasStatusData& data) const {
  const FanTemperatureReadings now = ReadFanTemperature(os_.registry, modelFlags_);
  if (now.cpuFanRpm) data.readings.cpuFanRpm = *now.cpuFanRpm;
  if (now.cpuTemperature) data.readings.cpuTemperature = *now.cpuTemperature;
  if (now.caseFanRpm) data.readings.caseFanRpm = *now.caseFanRpm;

  const RegHandle settings(os_.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
  CheckFan(now.cpuFanRpm, settings.GetDwordOr("CPUFanThreshold", kDefaultCpuFanThreshold), data.cpuFanState,
           act_id::kCpuFan, "CPUファンの回転数に異常を検出しました(%d回転)。", "CPUファン回転数が異常です(%d回転)。",
           "CPUファンの回転数が回復しました。");
  CheckTemperature(now.cpuTemperature, settings.GetDwordOr("CPUTempThreshold", kDefaultCpuTempThreshold),
                   data.cpuTempState);
  CheckFan(now.caseFanRpm, settings.GetDwordOr("CASEFanThreshold", kDefaultCaseFanThreshold), data.caseFanState,
           act_id::kCaseFan, "ケースファンの回転数に異常を検出しました(%d回転)。", "回転数が異常です(%d回転)。",
           "ケースファンの回転数が回復しました。");
}

namespace {

// The texts carry "%d" where the reading goes.
std::string WithNumber(std::string_view text, std::uint32_t value) {
  std::string out(text);
  const std::size_t at = out.find("%d");
  if (at != std::string::npos) out.replace(at, 2, Number(value));
  return out;
}

}  // namespace

void FanTemperatureMonitor::CheckFan(std::optional<std::uint32_t> rpm, std::uint32_t threshold, MonitorState& row,
                                     std::int32_t actId, const char* detected, const char* status,
                                     const char* recovered) const {
  if (!rpm) return;
  // Wide: a threshold near the top of the range must not wrap to a margin that closes at once.
  const bool slow = *rpm <= threshold;
  const bool recovered_ = std::uint64_t{*rpm} > std::uint64_t{threshold} + kFanRecoveryMargin;
  if (!slow && !recovered_) return;  // between the threshold and the margin: as it was
  const ConditionOpening opening{actId, "0", "0," + Number(*rpm), WithNumber(detected, *rpm), WithNumber(status, *rpm)};
  const ConditionClosing closing{row.act_trg + "," + Number(*rpm), recovered};
  (void)tracker_.Track(row, slow, opening, closing);
}

void FanTemperatureMonitor::CheckTemperature(std::optional<std::uint32_t> celsius, std::uint32_t threshold,
                                             MonitorState& row) const {
  if (!celsius) return;
  const bool hot = *celsius >= threshold;
  const std::uint32_t limit = threshold > kTemperatureRecoveryMargin ? threshold - kTemperatureRecoveryMargin : threshold;
  const bool cooled = *celsius < limit;
  if (!hot && !cooled) return;
  const std::string values = Number(*celsius) + "," + Number(threshold);
  const ConditionOpening opening{act_id::kCpuTemperature, "0", "0," + values,
                                 WithNumber("CPUの温度異常を検出しました(%d℃)。", *celsius),
                                 WithNumber("CPU温度が異常です(%d℃)。", *celsius)};
  const ConditionClosing closing{row.act_trg + "," + values, "CPUの温度が回復しました。"};
  (void)tracker_.Track(row, hot, opening, closing);
}

}  // namespace orv
