// AgentCtrl_WebAPI: host and TLS choice, the proxy, the three API requests and downloads.
#include "webapi/agent_ctrl_webapi.h"

#include <memory>
#include <string>
#include <utility>

#include "platform/agent_registry.h"
#include "platform/c_crypt_string.h"
#include "platform/reg_handle.h"
#include "platform/text_encoding.h"
#include "webapi/api_hosts.h"

namespace orv {

namespace {

constexpr std::string_view kUploaderConfigName = "uploader.xml";
constexpr std::string_view kAuthHostElement = "auth_host";
constexpr std::uint16_t kTlsPort = 443;
constexpr std::uint16_t kPlainPort = 80;

RegHandle StatusKey(os::Registry& registry) {
  return RegHandle(registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey));
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The registration body travels as UTF-16LE with its terminating zero, as the server reads it.
std::vector<std::uint8_t> Utf16LeWithTerminator(std::string_view text) {
  std::vector<std::uint8_t> bytes = Utf16ToLeBytes(Utf8ToUtf16(text));
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

}  // namespace

AgentCtrl_WebAPI::AgentCtrl_WebAPI(const os::OsPorts& os)
    : os_(os), transportAvailable_(os.http.IsAvailable() ? 1 : 0), host_(kProductionApiHost) {
  const RegHandle status = StatusKey(os_.registry);
  // Its mere presence switches TLS off, whatever it holds: a test installation's switch.
  if (status.ValueExists("WebAPINoneSSL")) useTls_ = 0;
  (void)status.GetString("WebAPIFilePath", pathPrefix_);
}

AgentCtrl_WebAPI::AgentCtrl_WebAPI(const os::OsPorts& os, std::uint32_t useProductionHost)
    : os_(os),
      transportAvailable_(os.http.IsAvailable() ? 1 : 0),
      useTls_(useProductionHost),
      host_(useProductionHost == 1 ? kProductionApiHost : kStagingApiHost) {
  (void)StatusKey(os_.registry).GetString("WebAPIFilePath", pathPrefix_);
}

int AgentCtrl_WebAPI::SelectHost() {
  const std::string path = FolderOf(os_.system.ExecutablePath()) + std::string(kUploaderConfigName);
  if (!os_.files.FileExists(path)) return 0;
  std::unique_ptr<os::XmlNodeReader> reader;
  if (os::XmlFailed(os_.xmlReader.OpenFile(path, reader)) || !reader) return 0;

  const std::string stagingUrl = "http://" + std::string(kStagingApiHost) + "/";
  bool insideAuthHost = false;
  int result = 0;
  os::XmlNode node;
  while (reader->Read(node) == os::kXmlOk) {
    std::string name;
    std::string value;
    switch (node.kind) {
      case os::XmlNodeKind::ElementStart:
        if (reader->LocalName(name) == os::kXmlOk && name == kAuthHostElement) insideAuthHost = true;
        break;
      case os::XmlNodeKind::ElementEnd:
        if (reader->LocalName(name) == os::kXmlOk && name == kAuthHostElement) insideAuthHost = false;
        break;
      case os::XmlNodeKind::Text:
        if (insideAuthHost && reader->Value(value) == os::kXmlOk && value == stagingUrl) result = 1;
        break;
      case os::XmlNodeKind::Other:
        break;
    }
  }
  // A file cut inside the element is not trusted to name a host.
  return insideAuthHost ? 0 : result;
}

os::HttpProxy AgentCtrl_WebAPI::ReadProxy() const {
  const RegHandle status = StatusKey(os_.registry);
  if (status.GetDword("ProxyEnable") != 1) return {};
  os::HttpProxy proxy;
  std::string server;
  (void)status.GetString("ProxyServer", server);
  // As the uploader's configuration writes it: an unreadable port is 0, the protocol's default.
  const std::uint32_t port = status.GetDwordOr("ProxyPort", 0);
  proxy.server = server + ":" + std::to_string(port);
  (void)status.GetString("ProxyUser", proxy.user);
  // A password that cannot be decrypted stays empty: the proxy is then tried without one.
  (void)CCryptString(os_).DecryptRegistryValue(proxy.password, kStatusKey, "ProxyPassword");
  return proxy;
}

bool AgentCtrl_WebAPI::Exchange(os::HttpRequest& request, os::HttpResponse& response) {
  request.userAgent = std::string(kUserAgent);
  request.proxy = ReadProxy();
  request.host = host_;
  request.secure = useTls_ == 1;
  request.port = request.secure ? kTlsPort : kPlainPort;
  os::OsError error = os::kSuccess;
  if (!os_.http.Exchange(request, response, error)) {
    lastError_ = error;
    return false;
  }
  lastError_ = os::kSuccess;
  return true;
}

int AgentCtrl_WebAPI::Request(int kind, const service::RegistrationRecord* record, const AccountData* account) {
  if (transportAvailable_ == 0) return 0;
  os::HttpRequest request;
  switch (kind) {
    case kRequestRegistrationData:
      request.method = "GET";
      request.path = "/" + pathPrefix_ + "/devices/" + deviceIdText_;
      request.headers = "X-NASAPI-Device-Subkey:" + deviceSubkey_;
      break;
    case kRequestLatestSoftware:
      request.method = "GET";
      request.path = "/" + pathPrefix_ + "/devices/" + deviceIdText_ + "/software";
      request.headers = "X-NASAPI-Device-Subkey:" + deviceSubkey_;
      break;
    case kRequestRegistration:
      if (record == nullptr || account == nullptr) {
        lastError_ = os::kErrorInvalidParameter;
        return 0;
      }
      request.method = "POST";
      request.path = "/" + pathPrefix_ + "/devices";
      request.headers = "Content-Type:application/json\r\nAccept:application/json";
      lastBody_ = BuildRegistrationBody(*record, *account, os_);
      request.body = Utf16LeWithTerminator(lastBody_);
      break;
    default:
      lastError_ = os::kErrorInvalidParameter;
      return 0;
  }

  os::HttpResponse response;
  if (!Exchange(request, response)) return 0;
  // The whole body is converted at once: a double-byte character may straddle any two reads.
  const std::string body = response.body.empty() ? std::string() : os_.system.AnsiToUtf8(response.body);
  ParseResponse(kind, response.status, body);
  // An answer without a body carries nothing to act on; the callers report it as a
  // communication failure (with no system error to name).
  return body.empty() ? 0 : 1;
}

int AgentCtrl_WebAPI::Download(std::string_view url) {
  if (transportAvailable_ == 0) return 0;
  constexpr std::string_view kHttps = "https://";
  constexpr std::string_view kHttp = "http://";
  std::string_view rest = url;
  if (url.find("https") != std::string_view::npos) {
    if (rest.starts_with(kHttps)) rest.remove_prefix(kHttps.size());
    useTls_ = 1;
  } else if (url.find("http") != std::string_view::npos) {
    if (rest.starts_with(kHttp)) rest.remove_prefix(kHttp.size());
    useTls_ = 0;
  } else {
    return 0;
  }
  download_.clear();
  download_.shrink_to_fit();

  const std::size_t slash = rest.find('/');
  host_ = std::string(rest.substr(0, slash));
  os::HttpRequest request;
  request.method = "GET";
  request.path = slash == std::string_view::npos ? std::string("/") : std::string(rest.substr(slash));
  request.deadlineMs = os::kDownloadDeadlineMs;
  os::HttpResponse response;
  if (!Exchange(request, response)) return 0;
  if (response.status != 200) return 0;
  download_ = std::move(response.body);
  return 1;
}

void AgentCtrl_WebAPI::ParseResponse(int kind, std::uint32_t status, std::string_view body) {
  ParseWebApiResponse(response_, kind, status, body);
}

}  // namespace orv
