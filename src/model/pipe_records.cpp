#include "model/pipe_records.h"

#include <algorithm>
#include <span>

namespace orv::service {
namespace {

void PutUint32(std::span<std::uint8_t> out, RecordField field, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    out[field.offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

// Length of the UTF-8 prefix of `text` without its last code point.
std::size_t DropLastCodePoint(std::string_view text) {
  std::size_t end = text.size();
  if (end == 0) return 0;
  --end;
  while (end > 0 && (static_cast<std::uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return end;
}

}  // namespace

// A double-byte code page (932 on the appliances) would turn a plain byte cut into half a
// character followed by the terminator, which the settings program shows as garbage; so the
// UTF-8 text is shortened a character at a time until its ANSI form fits.
void PutAnsiText(std::span<std::uint8_t> out, RecordField field, std::string_view text,
                 os::SystemInfo& system) {
  std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(field.offset), field.size, std::uint8_t{0});
  if (field.size == 0) return;
  const std::size_t room = field.size - 1;
  std::vector<std::uint8_t> ansi = system.Utf8ToAnsi(text);
  while (ansi.size() > room) {
    text = text.substr(0, DropLastCodePoint(text));
    ansi = system.Utf8ToAnsi(text);
  }
  std::copy(ansi.begin(), ansi.end(), out.begin() + static_cast<std::ptrdiff_t>(field.offset));
}

PipeNoticeBytes SerializePipeNotice(const PipeNotice& notice, os::SystemInfo& system) {
  PipeNoticeBytes bytes{};
  PutUint32(bytes, notice_layout::kResult, notice.result);
  PutAnsiText(bytes, notice_layout::kText, notice.text, system);
  return bytes;
}

RegistrationRecordBytes SerializeRegistrationRecord(const RegistrationRecord& record,
                                                    os::SystemInfo& system) {
  namespace L = registration_layout;
  RegistrationRecordBytes bytes{};
  PutUint32(bytes, L::kModelFlags, record.modelFlags);
  bytes[L::kAgentState.offset] = record.agentState;
  PutAnsiText(bytes, L::kDefinitionVersion, record.definitionVersion, system);
  std::copy(record.deviceId.begin(), record.deviceId.end(),
            bytes.begin() + static_cast<std::ptrdiff_t>(L::kDeviceId.offset));
  PutAnsiText(bytes, L::kProductName, record.productName, system);
  PutAnsiText(bytes, L::kProductId, record.productId, system);
  PutAnsiText(bytes, L::kMacAddress, record.macAddress, system);
  PutAnsiText(bytes, L::kBoardMnemonic, record.boardMnemonic, system);
  PutAnsiText(bytes, L::kBoardName, record.boardName, system);
  PutAnsiText(bytes, L::kBoardSerial, record.boardSerial, system);
  PutAnsiText(bytes, L::kBiosVersion, record.biosVersion, system);
  PutAnsiText(bytes, L::kOsMnemonic, record.osMnemonic, system);
  PutAnsiText(bytes, L::kOsName, record.osName, system);
  PutAnsiText(bytes, L::kOsCode, record.osCode, system);
  PutAnsiText(bytes, L::kOsVersion, record.osVersion, system);
  PutAnsiText(bytes, L::kHostName, record.hostName, system);
  PutAnsiText(bytes, L::kNetworkType, record.networkType, system);
  PutAnsiText(bytes, L::kManagementMnemonic, record.managementMnemonic, system);
  PutAnsiText(bytes, L::kManagementVersion, record.managementVersion, system);
  PutAnsiText(bytes, L::kAgentMnemonic, record.agentMnemonic, system);
  PutAnsiText(bytes, L::kAgentVersion, record.agentVersion, system);
  PutAnsiText(bytes, L::kModuleName, record.moduleName, system);
  PutUint32(bytes, L::kComplete, record.complete);
  PutAnsiText(bytes, L::kStopReason, record.stopReason, system);
  return bytes;
}

}  // namespace orv::service
