#include "monitors/common/driver_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "platform/agent_event_ids.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using testing::Notice;

constexpr const char* kStorage = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kIde = "{4D36E96A-E325-11CE-BFC1-08002BE10318}";
constexpr const char* kNet = "{4D36E972-E325-11CE-BFC1-08002BE10318}";
constexpr std::uint64_t kDay = 864'000'000'000;  // FILETIME units

constexpr std::uint64_t Version(std::uint64_t a, std::uint64_t b, std::uint64_t c, std::uint64_t d) {
  return a << 48 | b << 32 | c << 16 | d;
}

os::PresentDevice Device(std::string name, std::vector<os::CompatibleDriver> drivers) {
  return {std::move(name), os::kSuccess, std::move(drivers)};
}

class DriverMonitorTest : public ::testing::Test {
 protected:
  DriverMonitorTest() { os.registry.AddKey(kCommonKey); }
  std::vector<Notice> CheckAndDrain(const std::vector<AdapterEntry>& ports = {}) {
    DriverMonitor(os.Ports(), log, queue).Check(ports);  // built per check: the tables carry over
    return testing::DrainNotices(queue);
  }
  std::vector<TextPair> Table(const PairListTable& table) {
    std::vector<TextPair> list;
    (void)LoadList(os.registry, table, list);
    return list;
  }

  fakes::FakeOs os;
  AgentEventLog log{os.eventReporter, os.system};
  EventQueue queue;
};

TEST_F(DriverMonitorTest, AKnownDeviceWithANewDriverVersionPostsOneUpdate) {
  os.devices.classes[kStorage] = {Device("RAID Controller", {{100 * kDay, Version(10, 0, 1, 2)}})};
  EXPECT_THAT(CheckAndDrain(), IsEmpty()) << "a device seen the first time is only recorded";
  EXPECT_THAT(Table(kSATAInfo), ElementsAre(Pair("RAID Controller", "10.0.1.2")));

  os.devices.classes[kStorage] = {Device("RAID Controller", {{100 * kDay, Version(10, 0, 1, 2)},
                                                             {200 * kDay, Version(10, 0, 1, 3)},
                                                             {150 * kDay, Version(11, 0, 0, 0)}})};
  EXPECT_THAT(CheckAndDrain(),
              ElementsAre(Notice{act_id::kDriverUpdated, "RAID Controller,10.0.1.3", "「RAID Controller Ver 10.0.1.2」が「Ver 10.0.1.3」に更新されました。"}))
      << "the newest driver by date counts, not the highest version";
  EXPECT_THAT(Table(kSATAInfo), ElementsAre(Pair("RAID Controller", "10.0.1.3")));
  EXPECT_THAT(CheckAndDrain(), IsEmpty());

  os.devices.classes[kStorage].clear();
  EXPECT_THAT(CheckAndDrain(), IsEmpty());
  EXPECT_THAT(Table(kSATAInfo), ElementsAre(Pair("RAID Controller", "10.0.1.3"))) << "a removed device is kept";

  // Among network devices only the appliance's own ports are recorded.
  AdapterEntry lan1;
  lan1.description = "Intel(R) I210 Gigabit Network Connection";
  os.devices.classes[kNet] = {Device(lan1.description, {{kDay, Version(12, 15, 0, 0)}}),
                              Device("WAN Miniport (IP)", {{kDay, Version(10, 0, 0, 1)}})};
  EXPECT_THAT(CheckAndDrain({lan1}), IsEmpty());
  EXPECT_THAT(Table(kLANInfo), ElementsAre(Pair(lan1.description, "12.15.0.0")));
}

TEST_F(DriverMonitorTest, FailuresLeaveTheTablesAsTheyWere) {
  os.devices.classes[kIde] = {Device("IDE A", {{kDay, Version(1, 0, 0, 0)}})};
  EXPECT_THAT(CheckAndDrain(), IsEmpty());

  os.devices.failingClasses[kIde] = os::kErrorAccessDenied;
  os.devices.classes[kStorage] = {{"Unlisted", os::kErrorInvalidData, {}}, Device("Controller", {})};
  EXPECT_THAT(CheckAndDrain(), IsEmpty());
  EXPECT_EQ(os.eventReporter.Ids(), std::vector<std::uint32_t>{event_id::kDriverInfoFailed});
  EXPECT_THAT(Table(kIDEInfo), ElementsAre(Pair("IDE A", "1.0.0.0")));
  EXPECT_THAT(Table(kSATAInfo), ElementsAre(Pair("Controller", "0.0.0.0")))
      << "a device whose drivers cannot be listed is skipped; one with none listed is version 0";
}

// Every check runs on a freshly built monitor, as after a restart: the rows must match again.
TEST_F(DriverMonitorTest, EachStoredNameIsComparedOncePerCheckAcrossRestarts) {
  struct Case {
    const char* name;
    std::vector<std::vector<os::PresentDevice>> checks;  // the class's devices at each check
    std::vector<std::vector<Notice>> posted;             // per check
    std::vector<TextPair> rows;                          // after the last check
  };
  const auto one = [](const char* name, std::uint64_t major) { return Device(name, {{kDay, Version(major, 0, 0, 0)}}); };
  const Case cases[] = {
      {"twins on different drivers: the highest version stands for both",
       {{one("Twin", 1)}, {one("Twin", 1), one("Twin", 2)}, {one("Twin", 2), one("Twin", 1)}, {one("Twin", 1), one("Twin", 3)}},
       {{},
        {{act_id::kDriverUpdated, "Twin,2.0.0.0", "「Twin Ver 1.0.0.0」が「Ver 2.0.0.0」に更新されました。"}},
        {},
        {{act_id::kDriverUpdated, "Twin,3.0.0.0", "「Twin Ver 2.0.0.0」が「Ver 3.0.0.0」に更新されました。"}}},
       {{"Twin", "3.0.0.0"}}},
      {"a name with a closing bracket",
       {{one("SAS [x8] ctl]", 1)}, {one("SAS [x8] ctl]", 1)}, {one("SAS [x8] ctl]", 2)}},
       {{}, {}, {{act_id::kDriverUpdated, "SAS [x8] ctl],2.0.0.0", "「SAS [x8] ctl] Ver 1.0.0.0」が「Ver 2.0.0.0」に更新されました。"}}},
       {{"SAS [x8］ ctl］", "2.0.0.0"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    (void)os.registry.DeleteValue(os::RegistryRoot::LocalMachine, kCommonKey, kSATAInfo.value);
    for (std::size_t check = 0; check < c.checks.size(); ++check) {
      SCOPED_TRACE(check);
      os.devices.classes[kStorage] = c.checks[check];
      EXPECT_EQ(CheckAndDrain(), c.posted[check]);
    }
    EXPECT_EQ(Table(kSATAInfo), c.rows);
  }
}

}  // namespace
}  // namespace orv
