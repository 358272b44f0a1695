#include "monitors/common/ups_monitor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "monitors/common/state_tables.h"
#include "platform/reg_handle.h"
#include "support/message_file_checks.h"
#include "support/monitor_fixture.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using testing::HidText;
using testing::ApcUps;

fakes::FakeHidDevice OtherDevice() {
  fakes::FakeHidDevice mouse;
  mouse.hardwareId = "HID\\VID_845E&PID_0001";
  mouse.failures.open = 5;  // would fail the search if it were opened
  return mouse;
}

using testing::Posted;

const Posted kLost{act_id::kUpsConnectionLost, 1, "1", "UPS", "UPSとの通信が切断されました。"};
const Posted kBack{act_id::kUpsConnectionLost, 3, "1", "UPS", "UPSとの通信が回復しました。"};
const Posted kDegraded{act_id::kUpsDegraded, 1, "1", "UPS", "UPSの劣化を検出しました。"};
const Posted kRecovered{act_id::kUpsDegraded, 3, "1", "UPS", "UPSの状態が回復しました。"};

class UpsMonitorTest : public ::testing::Test {
 protected:
  UpsMonitorTest() {
    os.registry.AddKey(kCommonKey);
    os.registry.AddKey(kStatusKey);
  }
  // A degraded UPS, then none: both conditions open.
  void OpenBoth() {
    os.hid.Set({ApcUps(0x18)});
    Pass();
    os.hid.Set({});
    Pass();
  }
  std::vector<Posted> Pass() {
    UpsMonitor(os.registry, os.clock, os.hid, queue, &search).Check(snapshot, connection, degradation);
    return testing::DrainPosted(queue);
  }

  fakes::FakeOs os;
  EventQueue queue;
  UpsSearchMemory search;
  UpsSnapshot snapshot;
  MonitorState connection;
  MonitorState degradation;
};

TEST_F(UpsMonitorTest, AReadingBecomesTheSnapshotsTokens) {
  struct Case {
    const char* name;
    std::uint32_t capacity, runTime, date;
    std::uint8_t status1, status2;
    std::int32_t bt_lev;
    const char *bt_time, *bt_sec, *prd_date, *bt_sts;
    bool abnormal;
  };
  const Case cases[] = {
      {"tenths of a percent", 1000, 7199, (44u << 9) | (5u << 5), 0x08, 0, 100, "1", "7199", "\"24/05\"", "\"充電完了\"", false},
      {"whole percent, 1999", 95, 3600, (19u << 9) | (12u << 5), 0x09, 0, 95, "1", "3600", "\"99/12\"", "\"充電中\"", false},
      {"discharging", 100, 0, 0, 0x0A, 0, 100, "0", "0", "\"80/00\"", "\"放電中\"", false},
      {"battery to replace beats low", 50, 60, 0, 0x18, 0x02, 50, "0", "60", "\"80/00\"", "\"劣化\"", true},
      {"no AC beats everything", 50, 60, 0, 0x92, 0x02, 50, "0", "60", "\"80/00\"", "\"未接続\"", true},
      {"widest values do not wrap", 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0x08, 0, 429496729, "1193046", "4294967295",
       "\"07/15\"", "\"充電完了\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UPSCtrl_APC reading(os.hid);
    reading.found = 1;
    reading.connection = "USB";
    reading.vendor = "APC";
    reading.model = "Back-UPS ";
    reading.firmware = "879.L4 .I USB FW:L4 ";
    reading.serial = "3B12";
    reading.remainingCapacity = c.capacity;
    reading.runTime = c.runTime;
    reading.manufactureDate = c.date;
    reading.status1 = c.status1;
    reading.status2 = c.status2;
    bool abnormal = false;
    const UpsSnapshot s = UpsMonitor::SnapshotOf(reading, abnormal);
    EXPECT_EQ(s.name + s.vnd + s.model + s.fwv + s.serial + s.connect,
              "\"UPS\"\"APC\"\"Back-UPS \"\"879.L4 .I USB FW:L4 \"\"3B12\"\"USB\"");
    EXPECT_EQ(std::to_string(s.bt_lev) + s.bt_time + "|" + s.bt_sec + s.prd_date + s.bt_sts + (abnormal ? "!" : ""),
              std::to_string(c.bt_lev) + c.bt_time + "|" + c.bt_sec + c.prd_date + c.bt_sts + (c.abnormal ? "!" : ""));
    EXPECT_EQ(s.bt_date + s.tmp + s.config, "nullnullnull");
  }
}

TEST_F(UpsMonitorTest, HowASearchEndsDecidesItsResult) {
  struct Case {
    const char* name;
    std::function<void(fakes::FakeHidDevices&)> arrange;
    bool result;
    std::int32_t found, readOk;
    os::OsError lastError;
  };
  auto withUps = [](std::function<void(fakes::FakeHidDevice&)> change) {
    return [change](fakes::FakeHidDevices& hid) {
      fakes::FakeHidDevice ups = ApcUps();
      change(ups);
      hid.Set({OtherDevice(), ups});
    };
  };
  const Case cases[] = {
      {"no UPS", [](fakes::FakeHidDevices& hid) { hid.Set({OtherDevice()}); }, true, 0, 1, os::kErrorNoMoreItems},
      {"a UPS that does not open", withUps([](fakes::FakeHidDevice& d) { d.failures.open = 32; }), false, 0, 1, 32},
      {"a feature report", withUps([](fakes::FakeHidDevice& d) { d.failures.feature = os::kErrorHidTimeout; }), true, 1, 0, os::kErrorHidTimeout},
      {"no status report", withUps([](fakes::FakeHidDevice& d) { d.caps.inputButtonReportIds.clear(); }), true, 1, 0, os::kErrorInvalidData},
      {"a status report too short for its bytes", withUps([](fakes::FakeHidDevice& d) { d.caps.inputReportLength = 2; }), true, 1, 0, os::kErrorInvalidData},
      {"feature reports without room for their id", withUps([](fakes::FakeHidDevice& d) { d.caps.featureReportLength = 0; }), true, 1, 0, os::kErrorInvalidData},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fakes::FakeHidDevices hid;
    c.arrange(hid);
    UPSCtrl_APC reading(hid);
    EXPECT_EQ(reading.ReadUps(), c.result);
    EXPECT_EQ(reading.found, c.found);
    EXPECT_EQ(reading.readOk, c.readOk);
    EXPECT_EQ(reading.lastError, c.lastError);
    EXPECT_EQ(hid.openDevices(), 0);
  }
}

TEST_F(UpsMonitorTest, WhateverTheDeviceSendsTheTokensAreValidJsonAndStayInTheBuffer) {
  std::vector<std::uint8_t> unterminated(os::kHidStringBytes, 'A');  // U+4141 x 128, no NUL
  std::vector<std::uint8_t> hostile = HidText(u"a\"b\\c\n\x01\x7F", false);
  hostile.insert(hostile.end(), {0x00, 0xD8, 'x', 0});  // a lone high surrogate
  std::vector<std::uint8_t> quoteAtEnd(os::kHidStringBytes, 0);
  for (std::size_t i = 0; i < quoteAtEnd.size(); i += 2) quoteAtEnd[i] = '"';
  fakes::FakeHidDevice ups = ApcUps();
  ups.strings[os::HidString::Manufacturer] = unterminated;
  ups.strings[os::HidString::SerialNumber] = hostile;
  ups.strings[os::HidString::Product] = quoteAtEnd;
  os.hid.Set({ups});
  Pass();
  for (const std::string* token : {&snapshot.vnd, &snapshot.serial, &snapshot.model, &snapshot.fwv}) {
    const std::string object = "\xEF\xBB\xBF{\"v\":" + *token + "}";
    EXPECT_TRUE(testing::IsStrictJsonMessage(object));
  }
  EXPECT_EQ(nlohmann::json::parse("[" + snapshot.vnd + "]")[0].get<std::string>().size(), 128u * 3);
  EXPECT_EQ(nlohmann::json::parse("[" + snapshot.serial + "]")[0].get<std::string>(),
            "a\"b\\c\n\x01\x7F\xEF\xBF\xBDx");
  EXPECT_EQ(nlohmann::json::parse("[" + snapshot.model + "]")[0].get<std::string>(), std::string(128, '"'));
}

TEST_F(UpsMonitorTest, UnpluggingAndReconnectingReportsEachOnce) {
  EXPECT_THAT(Pass(), IsEmpty()) << "no UPS at start is no event";
  os.hid.Set({ApcUps()});
  EXPECT_THAT(Pass(), IsEmpty());
  os.hid.Set({});
  EXPECT_THAT(Pass(), ElementsAre(kLost));
  EXPECT_EQ(snapshot.name, "");
  EXPECT_EQ(FormatStateRow(connection), "[4030][1][1][UPS][通信が切断しています。][][0]");
  EXPECT_THAT(Pass(), IsEmpty());
  os.hid.Set({ApcUps()});
  EXPECT_THAT(Pass(), ElementsAre(kBack));
  EXPECT_EQ(connection.act_sts, 0);
  EXPECT_THAT(Pass(), IsEmpty());
}

TEST_F(UpsMonitorTest, AnAbnormalStateOpensOnceAndClosesWhenNormal) {
  os.hid.Set({ApcUps(0x18)});
  EXPECT_THAT(Pass(), ElementsAre(kDegraded));
  EXPECT_EQ(snapshot.bt_sts, "\"残量低下\"");
  EXPECT_EQ(FormatStateRow(degradation), "[4040][1][1][UPS][劣化を検出しました][][0]");
  os.hid.Set({ApcUps(0x00)});
  EXPECT_THAT(Pass(), IsEmpty()) << "still abnormal (未接続), already open";
  EXPECT_EQ(snapshot.bt_sts, "\"未接続\"");
  os.hid.Set({ApcUps(0x08)});
  EXPECT_THAT(Pass(), ElementsAre(kRecovered));
  EXPECT_EQ(snapshot.bt_sts, "\"充電完了\"");
}

TEST_F(UpsMonitorTest, ConditionsOpenBeforeARestartAreNotReportedAgainAndCloseWhenRead) {
  OpenBoth();
  ASSERT_TRUE(SaveSingle(os.registry, kUPSConnectStatusTable, connection));
  ASSERT_TRUE(SaveSingle(os.registry, kUPSDegradeStatusTable, degradation));

  // The restart: a fresh snapshot, the entries from the registry.
  snapshot = {};
  connection = {};
  degradation = {};
  ASSERT_TRUE(LoadSingle(os.registry, kUPSConnectStatusTable, connection));
  ASSERT_TRUE(LoadSingle(os.registry, kUPSDegradeStatusTable, degradation));
  EXPECT_THAT(Pass(), IsEmpty()) << "still absent";
  os.hid.Set({ApcUps(0x10)});
  EXPECT_THAT(Pass(), ElementsAre(kBack)) << "still low: the degradation stays open, unreported";
  os.hid.Set({ApcUps(0x08)});
  EXPECT_THAT(Pass(), ElementsAre(kRecovered));
}

TEST_F(UpsMonitorTest, SwitchingMonitoringOffClosesBothConditionsInOrder) {
  OpenBoth();
  ASSERT_TRUE(RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine, kStatusKey, "UPSCheckStop", 1));
  EXPECT_THAT(Pass(), ElementsAre(Posted{act_id::kUpsConnectionLost, 3, "1", "UPS", "UPSの監視が解除されました。UPSとの通信切断検知を解除します。"},
                                  Posted{act_id::kUpsDegraded, 3, "1", "UPS", "UPSの監視が解除されました。UPSの劣化検知を解除します。"}));
  EXPECT_EQ(connection.act_sts, 0);
  EXPECT_EQ(degradation.act_sts, 0);
  os.hid.Set({ApcUps(0x18)});
  EXPECT_THAT(Pass(), IsEmpty()) << "the UPS is not read while switched off";
  EXPECT_EQ(snapshot.name, "");
  ASSERT_TRUE(RegHandle::SetDword(os.registry, os::RegistryRoot::LocalMachine, kStatusKey, "UPSCheckStop", 2));
  EXPECT_THAT(Pass(), ElementsAre(kDegraded));
}

}  // namespace
}  // namespace orv
