// The Windows Server Backup and UPS members of status messages written by the running
// controller, from the common passes of its rounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "fakes/fake_os.h"
#include "model/act_ids.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/reg_handle.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "support/message_file_checks.h"

namespace orv {
namespace {

constexpr auto kHklm = os::RegistryRoot::LocalMachine;
constexpr const char* kPool = "C:\\orvsvc\\MessagePool";
constexpr std::uint64_t kMinute = 60'000;
constexpr std::uint64_t kFileTimeMinute = 600'000'000;

std::vector<std::uint8_t> Utf16(std::u16string_view text) {
  std::vector<std::uint8_t> bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return bytes;  // unterminated: the device need not end its strings
}

fakes::FakeHidDevice Ups(std::uint8_t status1) {
  fakes::FakeHidDevice ups;
  ups.hardwareId = "HID\\VID_051D&PID_0002&REV_0106";
  ups.strings[os::HidString::Manufacturer] = Utf16(u"American Power Conversion");
  ups.strings[os::HidString::Product] = Utf16(u"Back-UPS ES 550G FW:870.O4 .I USB FW:O4/x");
  ups.strings[os::HidString::SerialNumber] = Utf16(u"5B\"17\\\x0001\x0008");
  ups.caps.featureReportLength = 4;
  ups.caps.inputReportLength = 3;
  ups.caps.featureValues = {{0x85, 0x66, 1, 0}, {0x85, 0x68, 2, 0}, {0x85, 0x85, 3, 0}};
  ups.caps.inputButtonReportIds = {9};
  ups.featureValues = {{0x66, 1000}, {0x68, 7199}, {0x85, (44u << 9) | (5u << 5) | 3u}};
  ups.inputReport = {status1, 0};
  return ups;
}

class StatusBackupUpsTest : public ::testing::Test {
 protected:
  StatusBackupUpsTest() : os(/*simulatedTime=*/true) {
    os.registry.AddKey(kStatusKey);
    os.registry.AddKey(kCommonKey);
    os.registry.AddKey(kNasKey);
    os.files.AddDirectory("C:\\orvsvc");
    os.sync.DriveTimeFrom(std::this_thread::get_id());
    SetDword("InitEvent", 1);
    SetDword("CheckInterval", 60);
    SetDword("OutputInterval", 1800);
    const std::vector<std::uint8_t> id{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    RegHandle::SetBinary(os.registry, kHklm, kStatusKey, "DEVICEID", id);
  }
  void SetDword(const char* name, std::uint32_t value) { RegHandle::SetDword(os.registry, kHklm, kStatusKey, name, value); }
  void RunUntil(std::uint64_t stopAt) {
    CORVSvcCtrl controller(os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess);
    os.clock.ScheduleAt(stopAt, [this, &controller] {
      controller.RequestStop();
      os.serviceHost.SendControl(kControlStop);
    });
    controller.ServiceMain({}, &ServiceControlCallback, &ServiceWorkerProc);
  }
  void Backup(std::uint16_t id, std::uint64_t fileTime) {
    os.eventLogStore.Append("Microsoft-Windows-Backup", {"Microsoft-Windows-Backup", id, fileTime, {}, 0});
  }
  std::vector<std::string> Files(const char* prefix) {
    std::vector<std::string> found;
    for (const std::string& file : os.files.FilesIn(kPool)) {
      if (file.find(prefix) != std::string::npos) found.push_back(*os.files.Content(file));
    }
    return found;
  }

  fakes::FakeOs os;
};

TEST_F(StatusBackupUpsTest, APeriodicStatusShowsTheBackupAndTheUpsAsThePassesLeftThem) {
  const std::uint64_t now = ToFileTime(os.clock.UtcNow());
  Backup(1, now - 120 * kFileTimeMinute);
  Backup(4, now - 90 * kFileTimeMinute);
  os.hid.Set({Ups(0x08)});

  std::uint64_t failedStart = 0;
  os.clock.ScheduleAt(10 * kMinute, [&] {
    failedStart = ToFileTime(os.clock.UtcNow());
    Backup(1, failedStart);
    Backup(5, failedStart + kFileTimeMinute);
  });
  os.clock.ScheduleAt(15 * kMinute, [&] { os.hid.Set({}); });
  os.clock.ScheduleAt(20 * kMinute, [&] { os.hid.Set({Ups(0x18)}); });
  RunUntil(45 * kMinute);

  const std::vector<std::string> statuses = Files("RL[");
  ASSERT_GE(statuses.size(), 2u);
  for (const std::string& file : statuses) EXPECT_TRUE(testing::IsStrictJsonMessage(file));
  const std::string& last = *std::max_element(statuses.begin(), statuses.end(), [](const auto& a, const auto& b) {
    return nlohmann::json::parse(a.substr(3))["date"] < nlohmann::json::parse(b.substr(3))["date"];
  });
  const nlohmann::json status = nlohmann::json::parse(last.substr(3));

  ASSERT_EQ(status["bkup"].size(), 1u) << last;
  const nlohmann::json& backup = status["bkup"][0];
  const os::CalendarTime failedLocal = FromFileTime(failedStart + 9 * 60 * kFileTimeMinute);  // the fake zone: UTC+9
  char date[32];
  std::snprintf(date, sizeof date, "%d/%02d/%02d %02d:%02d", failedLocal.year, failedLocal.month, failedLocal.day,
                failedLocal.hour, failedLocal.minute);
  EXPECT_EQ(backup["config"], "Windows Server バックアップ");
  EXPECT_EQ(backup["date"], date);
  EXPECT_EQ(backup["result"], "失敗");
  ASSERT_EQ(backup["sts"].size(), 1u);
  EXPECT_EQ(backup["sts"][0]["act_id"], act_id::kBackupFailed);
  EXPECT_EQ(backup["sts"][0]["msg"], "バックアップに失敗しました。");

  ASSERT_EQ(status["ups"].size(), 1u) << last;
  const nlohmann::json& ups = status["ups"][0];
  EXPECT_EQ(ups["name"], "UPS");
  EXPECT_EQ(ups["vnd"], "American Power Conversion");
  EXPECT_EQ(ups["model"], "Back-UPS ES 550G ");
  EXPECT_EQ(ups["fwv"], "870.O4 .I USB FW:O4");
  EXPECT_EQ(ups["serial"], "5B\"17\\\x01\x08") << "the device's own quote, backslash and controls, kept";
  EXPECT_EQ(ups["prd_date"], "24/05");
  EXPECT_EQ(ups["bt_lev"], 100);
  EXPECT_EQ(ups["bt_sec"], 7199);
  EXPECT_EQ(ups["bt_time"], 1);
  EXPECT_EQ(ups["bt_sts"], "残量低下");
  EXPECT_EQ(ups["connect"], "USB");
  ASSERT_EQ(ups["sts"].size(), 1u) << "the connection came back; the low battery stays open";
  EXPECT_EQ(ups["sts"][0]["act_id"], 4040);

  // Each condition opened and closed exactly once, in the event messages of the run.
  std::vector<std::pair<int, int>> events;
  for (const std::string& file : Files("RE[")) {
    const nlohmann::json event = nlohmann::json::parse(file.substr(3));
    const int id = event["act_id"];
    if (id == act_id::kBackupFailed || id == act_id::kUpsConnectionLost || id == act_id::kUpsDegraded) events.emplace_back(id, event["act_sts"]);
  }
  std::sort(events.begin(), events.end());
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{act_id::kBackupFailed, 1}, {act_id::kUpsConnectionLost, 1}, {act_id::kUpsConnectionLost, 3}, {act_id::kUpsDegraded, 1}}));

  std::string row;
  ASSERT_TRUE(RegHandle::GetString(os.registry, kHklm, kCommonKey, "UPSDegradeStatusTable", row));
  EXPECT_EQ(row, "[4040][1][1][UPS][劣化を検出しました][][0]");
  EXPECT_FALSE(RegHandle(os.registry, kHklm, std::string(kCommonKey)).ValueExists("UPSConnectStatusTable"));
}

}  // namespace
}  // namespace orv
