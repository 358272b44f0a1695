#include "monitors/nas/disk_readers.h"

#include <algorithm>
#include <vector>

#include "model/smart_table.h"
#include "monitors/nas/device_text.h"

namespace orv {
namespace {

namespace request = os::smart_request;

constexpr std::size_t kIdentifyAnswerSize = request::kAnswerStatusSize + kIdentifyBlockSize;  // 528
constexpr std::size_t kSmartAnswerSize = 529;
// The request's buffer-size field for SMART reads: the size of the input structure, not of the
// sector. Drivers go by the answer buffer, and this is what the agent has always sent.
constexpr std::uint32_t kSmartBufferSizeField = request::kSize;
// A descriptor header naming more than this is garbage; nothing real comes near it.
constexpr std::uint32_t kMaxDescriptorSize = 64 * 1024;

// Device descriptor offsets (STORAGE_DEVICE_DESCRIPTOR).
constexpr std::size_t kDescriptorSize = 4;
constexpr std::size_t kVendorIdOffset = 12;
constexpr std::size_t kProductIdOffset = 16;
constexpr std::size_t kProductRevisionOffset = 20;
constexpr std::size_t kSerialNumberOffset = 24;
// Access-alignment descriptor offsets (STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR).
constexpr std::size_t kAlignmentAnswerSize = 28;
constexpr std::size_t kBytesPerLogicalSector = 16;
constexpr std::size_t kBytesPerPhysicalSector = 20;

std::uint32_t Le32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

bool Fail(os::OsError* error, os::OsError code) {
  if (error) *error = code;
  return false;
}

bool Succeed(os::OsError* error) {
  if (error) *error = os::kSuccess;
  return true;
}

std::string TextAt(std::span<const std::uint8_t> answer, std::size_t offsetField) {
  if (answer.size() < offsetField + 4) return {};
  const std::uint32_t offset = Le32(answer, offsetField);
  if (offset == 0 || offset >= answer.size()) return {};
  return SingleByteText(answer.subspan(offset));
}

}  // namespace

std::array<std::uint8_t, request::kSize> SmartRequestBlock(std::uint8_t command, std::uint8_t features,
                                                           std::uint8_t cylinderLow, std::uint8_t cylinderHigh,
                                                           std::uint32_t bufferSizeField) {
  std::array<std::uint8_t, request::kSize> block{};
  for (std::size_t b = 0; b < 4; ++b) {
    block[request::kBufferSize + b] = static_cast<std::uint8_t>(bufferSizeField >> (8 * b));
  }
  block[request::kFeatures] = features;
  block[request::kCylinderLow] = cylinderLow;
  block[request::kCylinderHigh] = cylinderHigh;
  block[request::kCommand] = command;
  return block;
}

bool Identify(os::StorageDevice& disks, std::string_view deviceName, IdentifyBlock& block, bool swapTextFields,
              os::OsError* error) {
  block.fill(0);
  const auto input = SmartRequestBlock(kAtaIdentifyDevice, 0, 0, 0, kIdentifyBlockSize);
  std::vector<std::uint8_t> answer;
  os::OsError code = os::kSuccess;
  if (!disks.SmartReceive(deviceName, input, kIdentifyAnswerSize, answer, code)) return Fail(error, code);
  if (answer.size() < kIdentifyAnswerSize) return Fail(error, os::kErrorInvalidData);
  std::copy_n(answer.begin() + request::kAnswerStatusSize, kIdentifyBlockSize, block.begin());
  if (swapTextFields) SwapIdentifyTextFields(block);
  return Succeed(error);
}

bool ReadSmart(os::StorageDevice& disks, std::string_view deviceName, std::uint8_t feature,
               std::span<std::uint8_t> block, os::OsError* error) {
  std::fill(block.begin(), block.end(), std::uint8_t{0});
  if (block.size() != kSmartAnswerSize || (feature != kSmartReadData && feature != kSmartReadThresholds)) {
    return Fail(error, os::kErrorInvalidParameter);
  }
  const auto input = SmartRequestBlock(kAtaSmart, feature, 0x4F, 0xC2, kSmartBufferSizeField);
  std::vector<std::uint8_t> answer;
  os::OsError code = os::kSuccess;
  if (!disks.SmartReceive(deviceName, input, kSmartAnswerSize, answer, code)) return Fail(error, code);
  // Drivers return the status and the sector (528 bytes) and leave the last byte alone.
  if (answer.size() < request::kAnswerStatusSize + kSmartSectorSize) return Fail(error, os::kErrorInvalidData);
  std::copy_n(answer.begin(), std::min(answer.size(), block.size()), block.begin());
  return Succeed(error);
}

bool QueryDeviceDescriptor(os::StorageDevice& disks, std::string_view deviceName, DeviceDescriptorTexts& record,
                           os::OsError* error) {
  record = {};
  std::vector<std::uint8_t> header;
  os::OsError code = os::kSuccess;
  if (!disks.QueryProperty(deviceName, os::kStorageDeviceProperty, 8, header, code)) return Fail(error, code);
  if (header.size() < 8) return Fail(error, os::kErrorInvalidData);
  const std::uint32_t size = Le32(header, kDescriptorSize);
  if (size < 8 || size > kMaxDescriptorSize) return Fail(error, os::kErrorInvalidData);
  std::vector<std::uint8_t> answer;
  if (!disks.QueryProperty(deviceName, os::kStorageDeviceProperty, size, answer, code)) return Fail(error, code);
  record = DecodeDeviceDescriptor(answer);
  return Succeed(error);
}

DeviceDescriptorTexts DecodeDeviceDescriptor(std::span<const std::uint8_t> answer) {
  return {TextAt(answer, kVendorIdOffset), TextAt(answer, kProductIdOffset), TextAt(answer, kProductRevisionOffset),
          TextAt(answer, kSerialNumberOffset)};
}

bool QuerySectorSizes(os::StorageDevice& disks, std::string_view deviceName, SectorSizes& record,
                      os::OsError* error) {
  record = {};
  std::vector<std::uint8_t> answer;
  os::OsError code = os::kSuccess;
  if (!disks.QueryProperty(deviceName, os::kStorageAccessAlignmentProperty, kAlignmentAnswerSize, answer, code)) {
    return Fail(error, code);
  }
  if (answer.size() < kBytesPerPhysicalSector + 4) return Fail(error, os::kErrorInvalidData);
  record.logical = Le32(answer, kBytesPerLogicalSector);
  record.physical = Le32(answer, kBytesPerPhysicalSector);
  return Succeed(error);
}

}  // namespace orv
