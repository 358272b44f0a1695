// The registration cycle against a scripted cloud: the daily check, control 130 with its
// record for the settings program, and the state changes the answers cause.
#include <gtest/gtest.h>

#include <functional>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "model/pipe_records.h"
#include "platform/agent_event_ids.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "report/device_id.h"
#include "service/orv_svc_ctrl.h"
#include "service/send_pipe.h"
#include "service/service_identity.h"
#include "service/service_instance.h"
#include "support/shared_names.h"

namespace orv {
namespace {

constexpr const char* kDeviceText = "0403020106050807090A0B0C0D0E0F10";
const DeviceId kDevice{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

os::RawAdapter Port(std::uint8_t last) {
  os::RawAdapter adapter;
  adapter.description = "Ethernet";
  adapter.physicalAddress = {0x00, 0x11, 0x22, 0x00, 0x00, last};
  return adapter;
}

class RegistrationTest : public orv::testing::AgentFixture {
 protected:
  RegistrationTest() {
    os.registry.AddKey(kStatusKey);
    os.registry.AddKey(kCommonKey);
    os.registry.AddKey(kNasKey);
    os.registry.AddKey("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion");
    os.files.AddDirectory("C:\\orvsvc");
    os.adapters.adapters = {Port(2), Port(1)};
    upload = std::make_unique<AgentCtrl_Upload>(os.Ports());
    upload->Initialize();
  }

  void Register() {
    upload->SetDeviceId(&kDevice);
  }
  std::vector<std::uint32_t> Ids() { return os.eventReporter.Ids(); }

  std::unique_ptr<AgentCtrl_Upload> upload;
  CORVSvcCtrl controller{os.Ports(), kServiceName, kServiceDisplayName, kServiceWin32OwnProcess};
};

TEST_F(RegistrationTest, TheRequestNamesTheDeviceAndItsFirstPort) {
  Register();
  RegHandle::SetString(os.registry, kHklm, kStatusKey, "WebAPIFilePath", "v1");
  Answer(200, R"({"dev_id":"x","dev_id_changed":"0","mac_adr_changed":"0"})");
  EXPECT_EQ(controller.DailyCheck(*upload, CheckTime::Daily), DailyOutcome::Done);
  ASSERT_EQ(os.http.requests.size(), 1U);
  const os::HttpRequest& request = os.http.requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, std::string("/v1/devices/") + kDeviceText);
  EXPECT_EQ(request.headers, "X-NASAPI-Device-Subkey:00:11:22:00:00:01") << "the port ending 01 is LAN1";
  EXPECT_EQ(Ids().front(), event_id::kDailyCheckStarted) << "the daily run says so";
  EXPECT_EQ(controller.State(), AgentState::Undecided) << "a 200 changes nothing but state 4";

  // Test switch 7 cuts the identifier and the subkey short.
  os.files.AddFile("C:\\orvsvc\\SVS_TESTMODE_7", "");
  controller.DailyCheck(*upload, CheckTime::AtStart);
  EXPECT_EQ(os.http.requests.back().path, std::string("/v1/devices/") + std::string(kDeviceText).substr(0, 30));
  EXPECT_EQ(os.http.requests.back().headers, "X-NASAPI-Device-Subkey:00:11:22:00:00:");
}

TEST_F(RegistrationTest, AChangedIdentifierIsStoredAsTheServerWroteIt) {
  Register();
  Answer(200, R"({"dev_id":"{00112233-4455-6677-8899-AABBCCDDEEFF}","dev_id_changed":"1"})");
  controller.DailyCheck(*upload, CheckTime::AtStart);
  DeviceId stored{};
  upload->GetDeviceId(stored);
  EXPECT_EQ(FormatDeviceId(stored), "00112233445566778899AABBCCDDEEFF");
  std::vector<std::uint8_t> persisted;
  ASSERT_TRUE(RegHandle::GetBinary(os.registry, kHklm, kStatusKey, "DEVICEID", persisted));
  EXPECT_EQ(persisted, std::vector<std::uint8_t>(stored.begin(), stored.end()));

  Answer(200, R"({"dev_id":"0011223344556677889AABBCCDDEEFF","dev_id_changed":"1"})");  // 31 digits
  controller.DailyCheck(*upload, CheckTime::AtStart);
  upload->GetDeviceId(stored);
  EXPECT_TRUE(IsZeroDeviceId(stored)) << "a malformed identifier unregisters the device";
}

TEST_F(RegistrationTest, UnknownDeviceIsForgotten) {
  Register();
  controller.SetState(AgentState::Monitoring);
  Answer(401, R"({"error_id":"4012","error_field":"dev_id","error_value":"x"})");
  EXPECT_EQ(controller.DailyCheck(*upload, CheckTime::Daily), DailyOutcome::Unregistered);
  EXPECT_FALSE(upload->HasDeviceId());
  std::vector<std::uint8_t> persisted;
  (void)RegHandle::GetBinary(os.registry, kHklm, kStatusKey, "DEVICEID", persisted);
  EXPECT_NE(persisted, std::vector<std::uint8_t>(kDevice.begin(), kDevice.end())) << "erased in the registry too";
  EXPECT_EQ(controller.State(), AgentState::Unregistered);
  EXPECT_EQ(Dword("ServiceStatus"), 1U);
  EXPECT_EQ(TextOf(event_id::kDeviceUnknown), "本機器はOrvaneサーバーに登録されておりません。\n機器IDをリセットしました。");
}

TEST_F(RegistrationTest, FailedRequestsMonitorWithoutRegistrationAndSayWhy) {
  Register();
  controller.SetState(AgentState::Monitoring);
  Answer(500, R"({"error_id":"5001","error_field":"dev_id","error_value":"v"})");
  EXPECT_EQ(controller.DailyCheck(*upload, CheckTime::Daily), DailyOutcome::Done) << "the pool is still kept";
  EXPECT_EQ(controller.State(), AgentState::MonitoringWithoutRegistration);
  EXPECT_EQ(TextOf(event_id::kRegistrationFailed),
            "登録情報の取得に失敗しました。\n登録情報更新処理に失敗しました。\n\nstatus[500]\nerror_id[5001]\n"
            "error_field[dev_id]\nerror_value[v]");

  Answer(200, "{}");
  controller.DailyCheck(*upload, CheckTime::Daily);
  EXPECT_EQ(controller.State(), AgentState::Monitoring) << "a 200 ends monitoring without registration";
}

// What the settings program receives on control 130.
class RefreshRegistrationTest : public RegistrationTest {
 protected:
  std::vector<std::uint8_t> Receive(std::string_view pipeName) {
    auto server = os.pipes.CreateServer(pipeName);
    EXPECT_TRUE(server);
    if (!server) return {};
    EXPECT_EQ(controller.RefreshRegistration(*upload), 1);
    std::vector<std::uint8_t> received;
    if (server->WaitForClient(0) != os::kSuccess) return {};
    (void)server->Read(received, 4096, 1000);
    return received;
  }
  static std::string Text(const std::vector<std::uint8_t>& record, service::RecordField field) {
    std::string text(record.begin() + static_cast<std::ptrdiff_t>(field.offset),
                     record.begin() + static_cast<std::ptrdiff_t>(field.End()));
    return text.substr(0, text.find('\0'));
  }
};

TEST_F(RefreshRegistrationTest, CarriesTheDeviceAsTheSettingsProgramRegistersIt) {
  namespace layout = service::registration_layout;
  Register();
  Answer(200, "{}");
  RegHandle::SetString(os.registry, kHklm, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "RegisteredOwner",
                       "TS-X400 SERIES Tavolen");
  RegHandle::SetString(os.registry, kHklm, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName",
                       "Windows Storage Server 2016 Workgroup");
  controller.SetState(AgentState::Monitoring);
  const auto record = Receive(service::kSettingsPipeName);
  ASSERT_EQ(record.size(), layout::kSize);
  EXPECT_EQ(record[layout::kAgentState.offset], 2);
  EXPECT_TRUE(std::equal(kDevice.begin(), kDevice.end(), record.begin() + layout::kDeviceId.offset));
  // The owner's product is cut before " SERIES"; product and system names are left empty.
  std::vector<std::string> texts;
  for (const auto field : {layout::kProductId, layout::kMacAddress, layout::kOsMnemonic, layout::kOsCode, layout::kHostName,
                           layout::kModuleName, layout::kDefinitionVersion, layout::kProductName, layout::kOsName}) {
    texts.push_back(Text(record, field));
  }
  EXPECT_EQ(texts, (std::vector<std::string>{"TS-X400", "00:11:22:00:00:01", "WSS2016WG", "WIN", "NAS-0001", "ORVSVC",
                                             "1.00", "", ""}));
}

TEST_F(RefreshRegistrationTest, OsMnemonics) {
  struct Case {
    const char* product;
    const char* edition;
    const char* mnemonic;
  };
  const Case cases[] = {
      {"Windows Storage Server 2016 Standard", "", "WSS2016STD"},
      {"Windows Storage Server 2012 R2 Workgroup", "", "WSS2012R2WG"},
      {"Windows Server 2019 Standard", "Workgroup", "WSIOT2019WG"},
      {"Windows Server 2019 Standard", "Datacenter", ""},
  };
  os.registry.AddKey("SOFTWARE\\MERIDEX\\NAS");  // after the brand was decided: Tavolen
  for (const Case& c : cases) {
    RegHandle::SetString(os.registry, kHklm, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", "ProductName", c.product);
    RegHandle::SetString(os.registry, kHklm, "SOFTWARE\\MERIDEX\\NAS", "OSEdition", c.edition);
    EXPECT_EQ(controller.BuildRegistrationRecord(*upload).osMnemonic, c.mnemonic) << c.product << " / " << c.edition;
  }
}

TEST_F(RefreshRegistrationTest, AnUnreachableSettingsProgramIsLoggedAndAFailedRequestKeepsAStoppedMonitor) {
  Register();
  controller.SetState(AgentState::MonitoringStopped);
  EXPECT_EQ(controller.RefreshRegistration(*upload), 1);
  EXPECT_EQ(controller.State(), AgentState::MonitoringStopped) << "no answer from the cloud; 3 stays 3";
  EXPECT_TRUE(Logged(event_id::kRegistrationTransportFailed));
  const std::string text = TextOf(event_id::kSettingsRecordNotSent);
  EXPECT_EQ(text.rfind("Orvane設定プログラムへ情報送信できませんでした。\n\nERROR CODE:[0x00000002]", 0), 0U) << text;
}

}  // namespace
}  // namespace orv
