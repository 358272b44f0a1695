// The body of the registration request: the account and the device in one line of JSON, with
// the password only as its SHA-256.
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "report/device_id.h"
#include "platform/json_escape.h"
#include "webapi/agent_ctrl_webapi.h"

namespace orv {

namespace {

// The settings program hashes the password from a buffer of this many ANSI bytes.
constexpr std::size_t kMaxPasswordBytes = 255;

enum class Presence : std::uint8_t { Always, IfSet };
constexpr Presence kIfSet = Presence::IfSet;

class JsonLine {
 public:
  // Every value passes EscapeJson: texts the user typed (serial number, device name) and the
  // device's own texts must never be able to end the string early or add members. Texts
  // without special characters are unchanged by it.
  void Add(std::string_view name, std::string_view value, Presence presence = Presence::Always) {
    if (presence == Presence::IfSet && value.empty()) return;
    text_ += text_.size() == 1 ? "\"" : ",\"";
    text_.append(name).append("\":\"").append(EscapeJson(value)).append("\"");
  }
  std::string Close() { return text_ + "}"; }

 private:
  std::string text_ = "{";
};

}  // namespace

std::string HashPassword(std::string_view password, const os::OsPorts& os) {
  std::vector<std::uint8_t> bytes = os.system.Utf8ToAnsi(password);
  if (bytes.size() > kMaxPasswordBytes) bytes.resize(kMaxPasswordBytes);
  std::array<std::uint8_t, 32> digest{};
  if (!os.crypto.Sha256(bytes, digest)) return {};
  std::string hex;
  hex.reserve(digest.size() * 2);
  for (const std::uint8_t byte : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", byte);
    hex += pair;
  }
  return hex;
}

std::string BuildRegistrationBody(const service::RegistrationRecord& record, const AccountData& account,
                                  const os::OsPorts& os) {
  JsonLine body;
  body.Add("email", account.email);
  body.Add("password", HashPassword(account.password, os));
  body.Add("dev_name", account.deviceName, kIfSet);
  body.Add("serial_no", account.serialNumber, kIfSet);
  body.Add("dev_id", FormatDeviceId(record.deviceId));
  body.Add("prdct_name", record.productName, kIfSet);
  body.Add("prdct_id", record.productId);
  body.Add("mac_adr", record.macAddress);
  body.Add("mb_mnemonic", record.boardMnemonic, kIfSet);
  body.Add("mb_name", record.boardName, kIfSet);
  body.Add("mb_sn", record.boardSerial, kIfSet);
  body.Add("bios_ver", record.biosVersion, kIfSet);
  body.Add("os_mnemonic", record.osMnemonic, kIfSet);
  body.Add("os_name", record.osName, kIfSet);
  body.Add("os_cd", record.osCode);
  body.Add("os_ver", record.osVersion, kIfSet);
  body.Add("host_name", record.hostName, kIfSet);
  body.Add("ng_type", record.networkType);
  body.Add("ms_mnemonic", record.managementMnemonic);
  body.Add("ms_ver", record.managementVersion);
  body.Add("agt_mnemonic", record.agentMnemonic);
  body.Add("agt_ver", record.agentVersion);
  return body.Close();
}

}  // namespace orv
