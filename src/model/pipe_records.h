// The records the agent writes to the settings program's pipe: PipeNotice and
// RegistrationRecord.
//
// Both are byte layouts another program reads, so they are built field by field into byte
// arrays (little-endian numbers, texts in the system's ANSI code page, zero-terminated and
// zero-padded) and never copied from a C++ object whose padding or byte order could differ.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "os/system_info.h"

namespace orv::service {

// One field of a packed record: where it starts and how many bytes it takes.
struct RecordField {
  std::size_t offset;
  std::size_t size;
  constexpr std::size_t End() const { return offset + size; }
};

namespace notice_layout {
inline constexpr RecordField kResult{0, 4};
inline constexpr RecordField kText{4, 256};
inline constexpr std::size_t kSize = 260;
static_assert(kText.offset == kResult.End() && kText.End() == kSize);
}  // namespace notice_layout

// A result or state notice for the settings program.
struct PipeNotice {
  std::uint32_t result = 1;  // 1 success or state notice, 0 failure
  std::string text;          // UTF-8; converted to the ANSI code page when serialised
};

using PipeNoticeBytes = std::array<std::uint8_t, notice_layout::kSize>;

// The 260-byte record; a text too long for its field is cut at a character boundary.
PipeNoticeBytes SerializePipeNotice(const PipeNotice& notice, os::SystemInfo& system);

namespace registration_layout {
inline constexpr RecordField kModelFlags{0, 4};
inline constexpr RecordField kAgentState{4, 1};
inline constexpr RecordField kDefinitionVersion{5, 16};
inline constexpr RecordField kDeviceId{21, 16};
inline constexpr RecordField kProductName{37, 64};
inline constexpr RecordField kProductId{101, 64};
inline constexpr RecordField kMacAddress{165, 32};
inline constexpr RecordField kBoardMnemonic{197, 64};
inline constexpr RecordField kBoardName{261, 128};
inline constexpr RecordField kBoardSerial{389, 64};
inline constexpr RecordField kBiosVersion{453, 16};
inline constexpr RecordField kOsMnemonic{469, 64};
inline constexpr RecordField kOsName{533, 128};
inline constexpr RecordField kOsCode{661, 32};
inline constexpr RecordField kOsVersion{693, 128};
inline constexpr RecordField kHostName{821, 128};
inline constexpr RecordField kNetworkType{949, 8};
inline constexpr RecordField kManagementMnemonic{957, 64};
inline constexpr RecordField kManagementVersion{1021, 16};
inline constexpr RecordField kAgentMnemonic{1037, 64};
inline constexpr RecordField kAgentVersion{1101, 16};
inline constexpr RecordField kModuleName{1117, 64};
inline constexpr RecordField kComplete{1181, 4};
inline constexpr RecordField kStopReason{1185, 256};
inline constexpr std::size_t kSize = 1441;

// Every field starts where the previous one ends and the last one ends the record: no gap, no
// overlap, so the table above cannot drift from the layout the settings program reads.
inline constexpr std::array kInOrder{
    kModelFlags,  kAgentState,    kDefinitionVersion, kDeviceId,           kProductName,
    kProductId,   kMacAddress,    kBoardMnemonic,     kBoardName,          kBoardSerial,
    kBiosVersion, kOsMnemonic,    kOsName,            kOsCode,             kOsVersion,
    kHostName,    kNetworkType,   kManagementMnemonic, kManagementVersion, kAgentMnemonic,
    kAgentVersion, kModuleName,   kComplete,          kStopReason};
constexpr bool Contiguous() {
  std::size_t next = 0;
  for (const RecordField& field : kInOrder) {
    if (field.offset != next) return false;
    next = field.End();
  }
  return next == kSize;
}
static_assert(Contiguous());
static_assert(kInOrder.size() == 24);
}  // namespace registration_layout

// What the agent tells the settings program about the device. Texts are UTF-8 here.
struct RegistrationRecord {
  std::uint32_t modelFlags = 0;
  std::uint8_t agentState = 0;
  std::string definitionVersion;
  std::array<std::uint8_t, 16> deviceId{};
  std::string productName;
  std::string productId;
  std::string macAddress;
  std::string boardMnemonic;
  std::string boardName;
  std::string boardSerial;
  std::string biosVersion;
  std::string osMnemonic;
  std::string osName;
  std::string osCode;
  std::string osVersion;
  std::string hostName;
  std::string networkType;
  std::string managementMnemonic;
  std::string managementVersion;
  std::string agentMnemonic;
  std::string agentVersion;
  std::string moduleName;
  std::uint32_t complete = 0;
  std::string stopReason;
};

using RegistrationRecordBytes = std::array<std::uint8_t, registration_layout::kSize>;

// The 1441-byte record; each text is cut to its field (terminator included) at a character
// boundary.
RegistrationRecordBytes SerializeRegistrationRecord(const RegistrationRecord& record,
                                                    os::SystemInfo& system);

// Writes `text` in the ANSI code page into `field` of `out`: at most size - 1 bytes, never half
// a character, the rest zero.
void PutAnsiText(std::span<std::uint8_t> out, RecordField field, std::string_view text,
                 os::SystemInfo& system);

}  // namespace orv::service
