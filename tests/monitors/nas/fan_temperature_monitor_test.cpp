#include "monitors/nas/fan_temperature_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "model/model_flags.h"
#include "monitors/common/state_tables.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::Posted;

constexpr const char* kLcdPanel = "SOFTWARE\\Wow6432Node\\MERIDEX\\FrontLcd\\Config";
constexpr const char* kLedPanel = "SOFTWARE\\Wow6432Node\\Tavolen\\FrontLed\\Config";

class FanTemperatureTest : public ::testing::Test {
 protected:
  FanTemperatureTest() {
    for (const char* key : {kStatusKey.data(), kNasKey.data(), kLcdPanel, kLedPanel}) os.registry.AddKey(key);
  }
  void Publish(const char* key, const char* name, std::uint32_t value) {
    (void)RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine, key, name, value);
  }
  void Setting(const char* name, std::uint32_t value) { Publish(kStatusKey.data(), name, value); }
  // One NAS pass's first step, with the state tables saved and reloaded as a restart would.
  std::vector<Posted> Pass(std::uint32_t flags = model::kLcdSeries) {
    NasStatusData data;
    LoadSingle(os.registry, kCPUFanStatusTable, data.cpuFanState);
    LoadSingle(os.registry, kCPUTempStatusTable, data.cpuTempState);
    LoadSingle(os.registry, kCASEFanStatusTable, data.caseFanState);
    data.readings = readings;
    FanTemperatureMonitor(os.Ports(), flags, queue).Check(data);
    readings = data.readings;
    SaveSingle(os.registry, kCPUFanStatusTable, data.cpuFanState);
    SaveSingle(os.registry, kCPUTempStatusTable, data.cpuTempState);
    SaveSingle(os.registry, kCASEFanStatusTable, data.caseFanState);
    return testing::DrainPosted(queue);
  }

  fakes::FakeOs os;
  EventQueue queue;
  FanReadings readings;
};

TEST_F(FanTemperatureTest, AFanOpensAtItsThresholdAndClosesOnlyPastTheMargin) {
  Setting("CPUFanThreshold", 0xFFFFFFFF);  // the default, 2000
  const struct {
    std::uint32_t rpm;
    std::vector<Posted> posted;
  } steps[] = {
      {2001, {}},
      {2000, {{act_id::kCpuFan, 1, "0", "0,2000", "CPUファンの回転数に異常を検出しました(2000回転)。"}}},
      {1500, {}},
      {2100, {}},
      {2101, {{act_id::kCpuFan, 3, "0", "0,2101", "CPUファンの回転数が回復しました。"}}},
      {2050, {}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.rpm);
    Publish(kLcdPanel, "CpuFan", step.rpm);
    EXPECT_EQ(Pass(), step.posted);
  }
  EXPECT_EQ(readings.cpuFanRpm, 2050u);
}

TEST_F(FanTemperatureTest, TheCaseFanHasItsOwnThresholdAndTexts) {
  Setting("CASEFanThreshold", 800);
  Publish(kLcdPanel, "SysFan", 800);
  EXPECT_THAT(Pass(), ElementsAre(Posted{act_id::kCaseFan, 1, "0", "0,800", "ケースファンの回転数に異常を検出しました(800回転)。"}));
  std::string row;
  ASSERT_TRUE(RegHandle::GetString(os.registry, os::RegistryRoot::LocalMachine, kNasKey, "CASEFanStatusTable", row));
  EXPECT_EQ(row, "[4070][1][0][0,800][回転数が異常です(800回転)。][][0]");
  Publish(kLcdPanel, "SysFan", 901);
  EXPECT_THAT(Pass(), ElementsAre(Posted{act_id::kCaseFan, 3, "0", "0,901", "ケースファンの回転数が回復しました。"}));
}

TEST_F(FanTemperatureTest, TheTemperatureClosesFiveDegreesBelowItsThreshold) {
  struct Case {
    std::uint32_t threshold;
    std::vector<std::pair<std::uint32_t, int>> steps;  // reading, act_sts posted (0: none)
  };
  const Case cases[] = {
      {70, {{69, 0}, {70, 1}, {65, 0}, {64, 3}, {69, 0}}},
      {5, {{5, 1}, {4, 3}}},    // with a threshold of 5 or less, any reading below it closes
      {0, {{0, 1}, {0, 0}}},    // nothing is below 0: it stays open
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.threshold);
    Setting("CPUTempThreshold", c.threshold);
    for (const auto& [celsius, sts] : c.steps) {
      Publish(kLcdPanel, "CpuTemp", celsius);
      const std::vector<Posted> posted = Pass();
      if (sts == 0) {
        EXPECT_THAT(posted, IsEmpty()) << celsius;
        continue;
      }
      ASSERT_EQ(posted.size(), 1u) << celsius;
      const std::string values = std::to_string(celsius) + "," + std::to_string(c.threshold);
      EXPECT_EQ(posted[0], (sts == 1 ? Posted{act_id::kCpuTemperature, 1, "0", "0," + values,
                                              "CPUの温度異常を検出しました(" + std::to_string(celsius) + "℃)。"}
                                     : Posted{act_id::kCpuTemperature, 3, "0", "0," + values, "CPUの温度が回復しました。"}));
    }
  }
}

TEST_F(FanTemperatureTest, ThePlatformChoosesWhichReadingsExist) {
  Setting("CPUTempThreshold", 50);
  Publish(kLcdPanel, "CpuFan", 10);
  Publish(kLcdPanel, "CpuTemp", 90);
  Publish(kLcdPanel, "SysFan", 10);
  Publish(kLedPanel, "CpuFan", 10);
  Publish(kLedPanel, "CpuTemp", 90);
  const struct {
    const char* name;
    std::uint32_t flags;
    std::vector<int> actIds;
  } cases[] = {
      {"LCD series: both fans and the temperature", model::kLcdSeries | model::kTwoBayLine, {act_id::kCpuFan, act_id::kCpuTemperature, act_id::kCaseFan}},
      {"temperature series: the temperature only", model::kTemperatureSeries | model::kTwoBayLine, {act_id::kCpuTemperature}},
      {"two-bay line: its own panel, no case fan", model::kTwoBayLine, {act_id::kCpuFan, act_id::kCpuTemperature}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* table : {"CPUFanStatusTable", "CPUTempStatusTable", "CASEFanStatusTable"}) {
      (void)RegHandle::DeleteValue(os.registry, os::RegistryRoot::LocalMachine, kNasKey, table);
    }
    std::vector<int> ids;
    for (const Posted& p : Pass(c.flags)) ids.push_back(p.actId);
    EXPECT_EQ(ids, c.actIds);
  }
}

TEST_F(FanTemperatureTest, MissingReadingsChangeNothingAndThresholdsNearTheTopDoNotWrap) {
  Publish(kLcdPanel, "CpuFan", 0xFFFFFFFF);
  EXPECT_THAT(Pass(), IsEmpty());
  EXPECT_EQ(readings.cpuFanRpm, 0u);

  Setting("CPUFanThreshold", 0xFFFFFFF0);  // T + 100 would wrap to 84 in 32 bits
  Publish(kLcdPanel, "CpuFan", 3000);
  EXPECT_EQ(Pass().size(), 1u);
  Publish(kLcdPanel, "CpuFan", 0xFFFFFFFE);
  EXPECT_THAT(Pass(), IsEmpty()) << "below the margin: still open";
}

}  // namespace
}  // namespace orv
