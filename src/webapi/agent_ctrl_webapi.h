// AgentCtrl_WebAPI: the agent's client of the cloud's Web API.
//
// A short-lived object: one per exchange (registration data, latest software, a download),
// used by one thread. It chooses host and TLS, sends one request through the configured proxy
// and keeps the answer's status and the values it needs from the body.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_ports.h"
#include "model/pipe_records.h"

namespace orv {

enum WebApiRequestKind : int {
  kRequestRegistrationData = 1,
  kRequestLatestSoftware = 2,
  kRequestRegistration = 3,
};

// What the client keeps of the last answer; cleared before each answer is read.
struct WebApiResponse {
  int kind = 0;
  std::uint32_t status = 0;
  std::string dev_id;
  std::string dev_id_changed;
  std::string mac_adr_changed;
  std::string agt_daily_sec;
  std::string agt_status_sec;
  std::string ms_ver;
  std::string agt_ver;
  std::string ms_url;
  std::string agt_url;
  std::string event_def;      // unescaped: the definition file's text
  std::string event_def_raw;  // as the body carried it
  std::string error_id;
  std::string error_field;
  std::string error_value;
};

// The account a device is registered with (request kind 3, sent by the settings program).
struct AccountData {
  std::string email;
  std::string password;
  std::string deviceName;
  std::string serialNumber;
};

class AgentCtrl_WebAPI {
 public:
  static constexpr std::string_view kErrorModuleName = "winhttp.dll";
  static constexpr std::string_view kUserAgent = "Orvane Agent";

  // TLS on unless `WebAPINoneSSL` exists (any value); the production host.
  explicit AgentCtrl_WebAPI(const os::OsPorts& os);
  // TLS = `useProductionHost`; the production host when it is 1, else the staging host.
  AgentCtrl_WebAPI(const os::OsPorts& os, std::uint32_t useProductionHost);
  virtual ~AgentCtrl_WebAPI() = default;

  // 1 when "uploader.xml" beside the agent names the staging host as `auth_host`, else 0.
  int SelectHost();
  // One exchange of `kind`; 1 when an answer arrived (whatever its status), 0 on a transport
  // failure (LastError says why; 0 for an empty body). Kind 3 needs both record and account.
  int Request(int kind, const service::RegistrationRecord* record = nullptr,
              const AccountData* account = nullptr);
  // Fetches `url` (http or https) into the download buffer; 1 only for status 200.
  int Download(std::string_view url);

  void ParseResponse(int kind, std::uint32_t status, std::string_view body);
  // The answer's text for the log and the settings program; never empty.
  std::string ResultMessage(bool detailed) const;

  void SetDeviceIdText(std::string text) { deviceIdText_ = std::move(text); }
  void SetDeviceSubkey(std::string text) { deviceSubkey_ = std::move(text); }
  const std::string& DeviceIdText() const { return deviceIdText_; }
  const std::string& DeviceSubkey() const { return deviceSubkey_; }

  const WebApiResponse& Response() const { return response_; }
  const std::vector<std::uint8_t>& DownloadBuffer() const { return download_; }
  const std::string& LastBody() const { return lastBody_; }
  std::uint32_t LastError() const { return lastError_; }
  const std::string& Host() const { return host_; }
  bool UsesTls() const { return useTls_ != 0; }
  bool TransportAvailable() const { return transportAvailable_ != 0; }

 private:
  // The proxy of the settings program's registry values; no server when it is not enabled.
  os::HttpProxy ReadProxy() const;
  // Completes `request` with user agent, proxy, host, port and TLS and sends it; false with
  // LastError set when no answer arrived.
  bool Exchange(os::HttpRequest& request, os::HttpResponse& response);

  os::OsPorts os_;
  WebApiResponse response_;
  std::string lastBody_;
  std::uint32_t transportAvailable_ = 0;
  std::uint32_t lastError_ = 0;
  std::vector<std::uint8_t> download_;
  std::uint32_t useTls_ = 1;
  std::string host_;
  std::string pathPrefix_;
  std::string deviceIdText_;
  std::string deviceSubkey_;
};

// The value of `key` in an answer body, matched as a whole JSON key (a quoted name outside any
// string, followed by a colon); empty when the key is missing or its value is not a string.
// `event_def` runs up to and including the first "</config>" in its string, else is empty.
std::string ExtractValue(std::string_view body, std::string_view key);
// The definition file's text from its JSON string form: \" \\ \b \f \n \r \t decoded in
// one pass; any other backslash is kept as it stands.
std::string UnescapeEventDefinition(std::string_view raw);
// Clears `response`, keeps kind and status, then reads the keys the kind's answer carries
// (only the three error fields when the status is neither 200 nor 201).
void ParseWebApiResponse(WebApiResponse& response, int kind, std::uint32_t status, std::string_view body);
// The Japanese text for the answer's kind, status and error_id; "未定義のエラーです。" when
// the combination is unknown.
std::string WebApiResultMessage(const WebApiResponse& response, bool detailed);
// The body of request kind 3, one line of JSON.
std::string BuildRegistrationBody(const service::RegistrationRecord& record, const AccountData& account,
                                  const os::OsPorts& os);
// 64 upper-case hexadecimal digits of the SHA-256 of the password's ANSI bytes; empty on failure.
std::string HashPassword(std::string_view password, const os::OsPorts& os);

}  // namespace orv
