// AgentCtrl_WebAPI against the in-memory OS: hosts, TLS, proxy, the three requests, downloads,
// and the registration body.
#include "webapi/agent_ctrl_webapi.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "platform/agent_registry.h"
#include "platform/formatted_text.h"
#include "platform/reg_handle.h"
#include "platform/text_encoding.h"
#include "webapi/api_hosts.h"

namespace orv {
namespace {

// The port's digest of `text`, as the cloud expects it: upper-case hex.
std::string UpperHexDigest(std::string_view text) {
  std::string hex;
  for (const auto b : fakes::FakeCrypto::Digest(std::vector<std::uint8_t>(text.begin(), text.end()))) {
    hex += FormatText("%02X", b);
  }
  return hex;
}

using ::testing::HasSubstr;
using ::testing::Not;
using os::RegistryRoot;

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

class WebApiTest : public orv::testing::AgentFixture {
 protected:
  void SetUp() override {
    os.registry.AddKey(kStatusKey);
    // Every exchange answers 200 with `answer` unless a test replaces the handler.
    os.http.handler = [this](const os::HttpRequest&, os::HttpResponse& response, os::OsError&) {
      response.status = status;
      response.body = Bytes(answer);
      return true;
    };
  }
  const os::HttpRequest& Sent() {
    EXPECT_EQ(os.http.requests.size(), 1u);
    return os.http.requests.back();
  }
  // The last request as one line: method, scheme, host, port, path, [extra headers].
  std::string LastLine() {
    const os::HttpRequest& r = os.http.requests.back();
    return r.method + (r.secure ? " https://" : " http://") + r.host + ":" + std::to_string(r.port) + r.path + " [" +
           r.headers + "]";
  }

  std::uint32_t status = 200;
  std::string answer = R"({"dev_id":"0123456789ABCDEF0123456789ABCDEF","dev_id_changed":"0"})";
};

TEST_F(WebApiTest, RegistrationDataRequestIsExact) {
  SetString("WebAPIFilePath", "api/v1");
  AgentCtrl_WebAPI client(os.Ports());
  client.SetDeviceIdText("0123456789ABCDEF0123456789ABCDEF");
  client.SetDeviceSubkey("00:11:22:AA:BB:CC");
  ASSERT_EQ(client.Request(kRequestRegistrationData), 1);
  const os::HttpRequest& request = Sent();
  EXPECT_EQ(LastLine(), "GET https://" + std::string(kProductionApiHost) +
                            ":443/api/v1/devices/0123456789ABCDEF0123456789ABCDEF [X-NASAPI-Device-Subkey:00:11:22:AA:BB:CC]");
  EXPECT_EQ(request.userAgent, "Orvane Agent");
  EXPECT_TRUE(request.proxy.server.empty());
  EXPECT_TRUE(request.body.empty());
  EXPECT_EQ(client.LastError(), 0u);
  EXPECT_EQ(client.Response().status, 200u);
  EXPECT_EQ(client.Response().dev_id, "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(client.ResultMessage(false), "正常終了");
}

TEST_F(WebApiTest, TlsAndHostByConstruction) {
  SetDword("WebAPINoneSSL", 0);  // present: TLS off, whatever it holds
  AgentCtrl_WebAPI plain(os.Ports());
  EXPECT_FALSE(plain.UsesTls());
  EXPECT_EQ(plain.Request(kRequestRegistrationData), 1);
  EXPECT_EQ(LastLine(), "GET http://" + std::string(kProductionApiHost) + ":80//devices/ [X-NASAPI-Device-Subkey:]");

  // The flagged construction ignores WebAPINoneSSL: TLS follows the production flag.
  AgentCtrl_WebAPI production(os.Ports(), 1);
  EXPECT_TRUE(production.UsesTls());
  EXPECT_EQ(production.Host(), kProductionApiHost);
  AgentCtrl_WebAPI staging(os.Ports(), 0);
  EXPECT_FALSE(staging.UsesTls());
  EXPECT_EQ(staging.Host(), kStagingApiHost);
  EXPECT_EQ(staging.Request(kRequestRegistrationData), 1);
  EXPECT_EQ(LastLine(), "GET http://" + std::string(kStagingApiHost) + ":80//devices/ [X-NASAPI-Device-Subkey:]");

  ASSERT_TRUE(RegHandle::DeleteValue(os.registry, RegistryRoot::LocalMachine, kStatusKey, "WebAPINoneSSL"));
  EXPECT_TRUE(AgentCtrl_WebAPI(os.Ports()).UsesTls());
}

// The proxy goes only with ProxyEnable exactly 1; a user or password that is missing or cannot
// be decrypted goes as none, and a missing port as 0.
TEST_F(WebApiTest, ProxyFromTheSettings) {
  const struct {
    std::uint32_t enable;
    bool withPortAndUser;
    bool decryptable;
    const char* server;
    const char* user;
    const char* password;
  } cases[] = {
      {1, true, true, "proxy.local:8080", "user1", "pa55"},
      {1, false, false, "proxy.local:0", "", ""},
      {2, true, true, "", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    os.http.requests.clear();
    (void)os.registry.DeleteKeyTree(RegistryRoot::LocalMachine, kStatusKey);
    os.registry.AddKey(kStatusKey);
    SetDword("ProxyEnable", c.enable);
    SetString("ProxyServer", "proxy.local");
    if (c.withPortAndUser) {
      SetDword("ProxyPort", 8080);
      SetString("ProxyUser", "user1");
    }
    ASSERT_TRUE(RegHandle::SetBinary(os.registry, RegistryRoot::LocalMachine, kStatusKey, "ProxyPassword",
                                     fakes::FakeCrypto::Encrypt("TokHarvelinSeedQRZ", "pa55")));
    if (!c.decryptable) os.crypto.FailKeyAt(os::KeyStep::Provider);
    AgentCtrl_WebAPI client(os.Ports());
    ASSERT_EQ(client.Request(kRequestRegistrationData), 1);
    EXPECT_EQ(Sent().proxy.server, c.server);
    EXPECT_EQ(Sent().proxy.user, c.user);
    EXPECT_EQ(Sent().proxy.password, c.password);
  }
}

TEST_F(WebApiTest, RegistrationIsPostedAsUtf16WithItsTerminator) {
  status = 201;
  answer = R"({"dev_id":"D","dev_id_changed":"1","agt_daily_sec":"60","agt_status_sec":"5"})";
  service::RegistrationRecord record;
  record.productId = "P1";
  AccountData account{"a@b.example", "pw", "", ""};
  AgentCtrl_WebAPI client(os.Ports());
  ASSERT_EQ(client.Request(kRequestRegistration, &record, &account), 1);
  EXPECT_EQ(LastLine(), "POST https://" + std::string(kProductionApiHost) +
                            ":443//devices [Content-Type:application/json\r\nAccept:application/json]");
  std::vector<std::uint8_t> expected = Utf16ToLeBytes(Utf8ToUtf16(client.LastBody()));
  expected.insert(expected.end(), {0, 0});
  EXPECT_EQ(Sent().body, expected);
  EXPECT_TRUE(client.LastBody().starts_with(R"({"email":"a@b.example","password":")"));
  EXPECT_EQ(client.Response().agt_daily_sec, "60");
  EXPECT_EQ(client.ResultMessage(true), "正常終了");
}

TEST_F(WebApiTest, AnEmptyAnswerIsAFailureWithoutErrorCodeAnErrorAnswerIsExplained) {
  AgentCtrl_WebAPI client(os.Ports());
  os.http.handler = nullptr;
  EXPECT_EQ(client.Request(kRequestRegistrationData), 0);  // leaves a transport error behind
  EXPECT_EQ(client.LastError(), fakes::FakeHttpClient::kCannotConnect);
  Answer(500, "");
  EXPECT_EQ(client.Request(kRequestRegistrationData), 0);
  EXPECT_EQ(client.LastError(), 0u);
  EXPECT_EQ(client.Response().status, 500u);

  // An error answer with a body is received, and explained.
  Answer(401, R"({"error_id":"4012","error_field":"dev_id","error_value":"AB"})");
  EXPECT_EQ(client.Request(kRequestRegistrationData), 1);
  EXPECT_EQ(client.Response().error_id, "4012");
  EXPECT_EQ(client.ResultMessage(false), "機器は登録されておりません。");
}

TEST_F(WebApiTest, DownloadTakesHostAndPathFromTheUrl) {
  answer = std::string("PK\x03\x04\0\xff", 6);
  AgentCtrl_WebAPI client(os.Ports(), 1);
  ASSERT_EQ(client.Download("http://files.example/pkg/agent.zip"), 1);
  EXPECT_EQ(LastLine(), "GET http://files.example:80/pkg/agent.zip []");
  EXPECT_EQ(client.Host(), "files.example");
  EXPECT_EQ(client.DownloadBuffer(), Bytes(answer));

  AgentCtrl_WebAPI staging(os.Ports(), 0);
  ASSERT_EQ(staging.Download("https://files.example"), 1);
  EXPECT_EQ(LastLine(), "GET https://files.example:443/ []");
  EXPECT_TRUE(staging.UsesTls());
}

TEST_F(WebApiTest, DownloadRefusesOtherSchemesAndFailedAnswers) {
  AgentCtrl_WebAPI client(os.Ports());
  EXPECT_EQ(client.Download("ftp://files.example/a.zip"), 0);
  EXPECT_EQ(client.Download(""), 0);
  EXPECT_TRUE(os.http.requests.empty());

  ASSERT_EQ(client.Download("https://files.example/a.zip"), 1);
  status = 404;
  EXPECT_EQ(client.Download("https://files.example/b.zip"), 0);
  EXPECT_TRUE(client.DownloadBuffer().empty());  // the earlier file is not left behind
}

TEST_F(WebApiTest, RegistrationBodyOrderPresenceAndEscaping) {
  service::RegistrationRecord record{
      .definitionVersion = {}, .deviceId = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
      .productName = "NAS \"Pro\"", .productId = "PID", .macAddress = "00:11:22:33:44:55", .boardMnemonic = {},
      .boardName = {}, .boardSerial = {}, .biosVersion = {}, .osMnemonic = {}, .osName = "Windows Server", .osCode = "7",
      .osVersion = {}, .hostName = {}, .networkType = "1", .managementMnemonic = "MS", .managementVersion = "1.0",
      .agentMnemonic = "AG", .agentVersion = "1.2.0.0", .moduleName = {}, .stopReason = {}};
  AccountData account{"user@example.jp", "abc", "", "SN-1"};
  const std::string hash = UpperHexDigest("abc");
  EXPECT_EQ(BuildRegistrationBody(record, account, os.Ports()),
            R"({"email":"user@example.jp","password":")" + hash +
                R"(","serial_no":"SN-1","dev_id":"00112233445566778899AABBCCDDEEFF","prdct_name":"NAS \"Pro\"",)"
                R"("prdct_id":"PID","mac_adr":"00:11:22:33:44:55","os_name":"Windows Server","os_cd":"7",)"
                R"("ng_type":"1","ms_mnemonic":"MS","ms_ver":"1.0","agt_mnemonic":"AG","agt_ver":"1.2.0.0"})");

  // Every optional field present, in order; a typed serial number cannot add members.
  record.boardMnemonic = "MB";
  record.boardName = "Board";
  record.boardSerial = "BS";
  record.biosVersion = "B1";
  record.osMnemonic = "OS";
  record.osVersion = "10.0";
  record.hostName = "NAS-1";
  account.deviceName = "棚の\\NAS";
  account.serialNumber = R"(X","dev_id":"0)";
  const std::string body = BuildRegistrationBody(record, account, os.Ports());
  EXPECT_THAT(body, HasSubstr(R"("dev_name":"棚の\\NAS","serial_no":"X\",\"dev_id\":\"0","dev_id":)"));
  EXPECT_NE(body.find(R"("mac_adr":"00:11:22:33:44:55","mb_mnemonic":"MB","mb_name":"Board","mb_sn":"BS",)"
                      R"("bios_ver":"B1","os_mnemonic":"OS","os_name":"Windows Server","os_cd":"7",)"
                      R"("os_ver":"10.0","host_name":"NAS-1","ng_type":"1")"),
            std::string::npos);
  EXPECT_THAT(body, Not(HasSubstr("abc")));  // never the clear password
}

}  // namespace
}  // namespace orv
