#include "service/registration_exchange.h"

#include "platform/agent_registry.h"
#include "platform/network_info.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "report/device_id.h"
#include "report/model_identity.h"
#include "service/test_mode.h"
#include "webapi/agent_ctrl_webapi.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {


constexpr std::string_view kRequestTransportSentence = "登録情報の取得中に通信エラーが発生しました。";
constexpr std::string_view kRequestFailedSentence = "登録情報の取得に失敗しました。";
constexpr std::string_view kWindowsNtKey = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
constexpr std::string_view kMeridexNasKey = "SOFTWARE\\MERIDEX\\NAS";

// Model flag bit 22: appliances whose board serial number identifies them.
constexpr std::uint32_t kModelFlagBoardSerial = 1u << 22;

std::string CutLastTwo(std::string text) {
  text.resize(text.size() >= 2 ? text.size() - 2 : 0);
  return text;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string BoardMnemonic(std::string_view board) {
  static constexpr std::pair<std::string_view, std::string_view> kBoards[] = {
      {"EPIA-M920-LT", "M920LT"}, {"MZJ19AI-O4", "MZJ19AI"}, {"VT6075", "VT6075"},
      {"EPIA-P910", "P910"},      {"MDL-Q01", "MDLQ01"}};
  for (const auto& [fragment, mnemonic] : kBoards) {
    if (Contains(board, fragment)) return std::string(mnemonic);
  }
  return {};
}

std::string EditionMnemonic(std::string_view product, std::string_view standard, std::string_view workgroup) {
  if (Contains(product, "Standard")) return std::string(standard);
  if (Contains(product, "Workgroup")) return std::string(workgroup);
  return {};
}

}  // namespace

std::string RegistrationExchange::MacAddressText() { return NetworkInfo(os_.adapters).DeviceMacText(); }

std::string RegistrationExchange::ProductName() {
  std::string product;
  (void)RegHandle::GetString(os_.registry, os::RegistryRoot::LocalMachine, kWindowsNtKey, "ProductName", product);
  return product;
}

bool RegistrationExchange::IsTestSwitch(std::string_view name) { return service::IsTestMode(name, os_.files, os_.system); }

void RegistrationExchange::PrepareClient(AgentCtrl_WebAPI& client, AgentCtrl_Upload& upload) {
  DeviceId id{};
  upload.GetDeviceId(id);
  client.SetDeviceIdText(FormatDeviceId(id));
  client.SetDeviceSubkey(MacAddressText());
}

void LogRequestFailure(const AgentEventLog& log, const AgentCtrl_WebAPI& client, bool answered,
                       std::uint32_t transportEvent, std::uint32_t statusEvent, std::string_view sentence,
                       std::string_view statusSentence) {
  if (!answered) {
    if (client.LastError() == os::kErrorHttpCancelled) return;
    log.SystemCallError(transportEvent, sentence, client.LastError(), AgentCtrl_WebAPI::kErrorModuleName);
    return;
  }
  const WebApiResponse& answer = client.Response();
  log.Error(statusEvent, std::string(statusSentence) + "\n" + client.ResultMessage(false) + "\n\nstatus[" +
                             std::to_string(answer.status) + "]\nerror_id[" + answer.error_id +
                             "]\nerror_field[" + answer.error_field + "]\nerror_value[" + answer.error_value + "]");
}

RequestOutcome RegistrationExchange::Request(AgentCtrl_Upload& upload) {
  upload.LoadDeviceId();
  if (!upload.HasDeviceId()) return RequestOutcome::NotRegistered;

  AgentCtrl_WebAPI client(os_, useProductionHost_);
  PrepareClient(client, upload);
  if (IsTestSwitch("SVS_TESTMODE_7")) {
    client.SetDeviceIdText(CutLastTwo(client.DeviceIdText()));
    client.SetDeviceSubkey(CutLastTwo(client.DeviceSubkey()));
  }
  if (client.Request(kRequestRegistrationData) == 0) {
    LogRequestFailure(log_, client, false, event_id::kRegistrationTransportFailed, event_id::kRegistrationFailed, kRequestTransportSentence,
                      kRequestFailedSentence);
    return RequestOutcome::TransportFailure;
  }
  const WebApiResponse& answer = client.Response();
  if (answer.status == 200) {
    if (answer.dev_id_changed == "1") {
      // An identifier that does not parse is stored as all zero: the device then reads as
      // unregistered, which is what the server's answer amounts to.
      const DeviceId id = ParseDeviceIdText(answer.dev_id);
      upload.SetDeviceId(&id);
    }
    return RequestOutcome::Ok;
  }
  if (answer.status == 401) {
    log_.Warning(event_id::kDeviceUnknown, "本機器はOrvaneサーバーに登録されておりません。\n機器IDをリセットしました。");
    upload.ClearDeviceId();
    return RequestOutcome::Unauthorized;
  }
  LogRequestFailure(log_, client, true, event_id::kRegistrationTransportFailed, event_id::kRegistrationFailed, kRequestTransportSentence,
                    kRequestFailedSentence);
  return RequestOutcome::OtherStatus;
}

service::RegistrationRecord RegistrationExchange::BuildRecord(AgentCtrl_Upload& upload, std::uint8_t agentState,
                                                              const std::string& stopReason) {
  service::RegistrationRecord record;
  record.complete = 1;
  const auto required = [&record](const std::string& value) {
    if (value.empty()) record.complete = 0;
  };
  const auto machineString = [this](std::string_view key, std::string_view name) {
    std::string value;
    (void)RegHandle::GetString(os_.registry, os::RegistryRoot::LocalMachine, key, name, value);
    return value;
  };

  record.modelFlags = upload.ModelFlags();
  record.agentState = IsTestSwitch("SVS_TESTMODE_3") ? std::uint8_t{2} : agentState;
  record.definitionVersion = upload.EventDefinitions().GetVersion();
  upload.GetDeviceId(record.deviceId);
  record.stopReason = stopReason;

  record.productId = upload.BrandFlag() ? machineString(kMeridexNasKey, "ProductName")
                                        : machineString(kWindowsNtKey, "RegisteredOwner");
  if (const auto series = record.productId.find(" SERIES"); series != std::string::npos) {
    record.productId.resize(series);
  }
  required(record.productId);
  record.macAddress = MacAddressText();
  required(record.macAddress);

  record.boardMnemonic = BoardMnemonic(upload.BoardProduct());
  if ((upload.ModelFlags() & kModelFlagBoardSerial) != 0) record.boardSerial = upload.BoardSerial();
  record.biosVersion = upload.FirmwareText();

  const std::string product = ProductName();
  if (Contains(product, "Windows Storage Server 2016")) {
    record.osMnemonic = EditionMnemonic(product, "WSS2016STD", "WSS2016WG");
  } else if (Contains(product, "Windows Storage Server 2012 R2")) {
    record.osMnemonic = EditionMnemonic(product, "WSS2012R2STD", "WSS2012R2WG");
  } else if (Contains(product, "Windows Server 2019 Standard")) {
    const std::string edition = machineString(kMeridexNasKey, "OSEdition");
    if (edition == "Standard") record.osMnemonic = "WSIOT2019STD";
    if (edition == "Workgroup") record.osMnemonic = "WSIOT2019WG";
  }
  record.osCode = "WIN";
  record.hostName = upload.HostName();
  record.networkType = std::to_string(upload.NetworkGroupType());
  required(record.networkType);

  if (!GetModelName(os_.registry, upload.ModelFlags(), record.managementMnemonic, record.managementVersion)) {
    record.managementMnemonic.clear();
    record.managementVersion.clear();
  }
  required(record.managementMnemonic);
  required(record.managementVersion);
  record.agentMnemonic = upload.AgentName();
  required(record.agentMnemonic);
  record.agentVersion = upload.AgentVersion();
  required(record.agentVersion);
  record.moduleName = upload.ModuleName();
  if (IsTestSwitch("SVS_TESTMODE_2")) record.complete = 0;
  return record;
}

}  // namespace orv
