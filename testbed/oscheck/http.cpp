// oscheck http: HTTP exchanges through the real WinHTTP adapter and the Web API client, for the
// wine-tier transport test.
//
//   oscheck http raw METHOD HOST PORT PATH OUTFILE [--header LINE]... [--body TEXT] [--deadline MS]
//       one exchange through WinHttpClient; the body goes to OUTFILE.
//   oscheck http api KIND
//       one request of KIND through AgentCtrl_WebAPI for the staging host (no TLS), with the
//       proxy and path prefix of the registry as the agent reads them.
//   oscheck http errtext CODE
//       the text the agent logs for CODE from "winhttp.dll".
// Prints one line of key=value pairs; exits 0 when the exchange (or look-up) was carried out.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "os/win32/wide_text.h"
#include "os/win32/win32_ports.h"
#include "model/pipe_records.h"
#include "webapi/agent_ctrl_webapi.h"

#include "oscheck.h"

namespace {

using namespace orv;

int Raw(const std::vector<std::string>& args) {
  if (args.size() < 6) return 2;
  os::HttpRequest request;
  request.userAgent = std::string(AgentCtrl_WebAPI::kUserAgent);
  std::tie(request.method, request.host, request.path) = std::tie(args[1], args[2], args[4]);
  request.port = static_cast<std::uint16_t>(std::strtoul(args[3].c_str(), nullptr, 10));
  request.secure = false;
  for (std::size_t i = 6; i + 1 < args.size(); i += 2) {
    const std::string& option = args[i];
    const std::string& value = args[i + 1];
    if (option == "--header") request.headers += (request.headers.empty() ? "" : "\r\n") + value;
    else if (option == "--body") request.body.assign(value.begin(), value.end());
    else if (option == "--deadline") request.deadlineMs = static_cast<std::uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    else return 2;
  }
  win32::WinHttpClient client;
  os::HttpResponse response;
  os::OsError error = os::kSuccess;
  const bool answered = client.IsAvailable() && client.Exchange(request, response, error);
  if (FILE* out = _wfopen(win32::Wide(args[5]).c_str(), L"wb")) {
    if (!response.body.empty()) std::fwrite(response.body.data(), 1, response.body.size(), out);
    std::fclose(out);
  }
  std::printf("answered=%d status=%s bytes=%zu error=%s\n", answered ? 1 : 0, Field(response.status).c_str(),
              response.body.size(), Field(error).c_str());
  return 0;
}

int Api(const std::vector<std::string>& args) {
  if (args.size() < 2) return 2;
  const int kind = std::atoi(args[1].c_str());
  win32::Win32Ports ports;
  AgentCtrl_WebAPI client(ports.Ports(), 0);
  client.SetDeviceIdText("0123456789ABCDEF0123456789ABCDEF");
  client.SetDeviceSubkey("00:11:22:AA:BB:CC");
  service::RegistrationRecord record;
  record.productId = "PID-1";
  record.productName = "NAS \"Pro\"";
  record.macAddress = "00:11:22:AA:BB:CC";
  const AccountData account{"user@example.jp", "abc", "棚のNAS", "SN-1"};
  const int result = client.Request(kind, &record, &account);
  std::printf("result=%d status=%s error=%s dev_id=%s text=%s\n", result, Field(client.Response().status).c_str(),
              Field(client.LastError()).c_str(), client.Response().dev_id.c_str(), client.ResultMessage(false).c_str());
  return 0;
}

}  // namespace

int HttpCheck(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(win32::Narrow(argv[i]));
  if (args.empty()) return 2;
  if (args[0] == "raw") return Raw(args);
  if (args[0] == "api") return Api(args);
  if (args[0] != "errtext" || args.size() < 2) return 2;
  const auto code = static_cast<os::OsError>(std::strtoul(args[1].c_str(), nullptr, 0));
  std::printf("text=%s\n", win32::Win32SystemInfo().ModuleErrorText(AgentCtrl_WebAPI::kErrorModuleName, code).c_str());
  return 0;
}
