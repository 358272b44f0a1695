#include "orvdiag/dump_device.h"

#include <algorithm>
#include <utility>

#include "monitors/nas/hdd_identify.h"

namespace orv::diag {
namespace {

constexpr os::OsError kErrorInvalidFunction = 1;
constexpr std::size_t kDescriptorFixedPart = 40;
constexpr std::uint32_t kBusTypeSata = 11;

void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t value) {
  for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
}

std::uint16_t Word(const Sector& block, std::size_t index) {
  return static_cast<std::uint16_t>(block[2 * index] | (block[2 * index + 1] << 8));
}

std::vector<std::uint8_t> DeviceDescriptor(const Sector& identify) {
  std::vector<std::uint8_t> bytes(kDescriptorFixedPart, 0);
  Put32(bytes, 28, kBusTypeSata);
  std::size_t offsetField = 16;  // the vendor id (12) stays empty: ATA disks have none
  for (const IdentifyTextField field : {kModelField, kFirmwareRevisionField, kSerialNumberField}) {
    const std::string text = IdentifyFieldBytes(identify, field);
    if (!text.empty()) {
      Put32(bytes, offsetField, bytes.size());
      bytes.insert(bytes.end(), text.begin(), text.end());
      bytes.push_back(0);
    }
    offsetField += 4;
  }
  Put32(bytes, 0, kDescriptorFixedPart);
  Put32(bytes, 4, bytes.size());
  return bytes;
}

// Word 106 is valid when bit 14 is set and bit 15 clear. Bit 12: the logical sector is longer
// than 256 words, its length in words is in words 117-118. Bit 13: 2^(bits 0-3) logical
// sectors make one physical sector. Otherwise sectors are 512 bytes.
std::vector<std::uint8_t> AccessAlignment(const Sector& identify) {
  std::uint32_t logical = 512;
  std::uint32_t physical = 512;
  const std::uint16_t word106 = Word(identify, 106);
  if ((word106 & 0xC000) == 0x4000) {
    if (word106 & 0x1000) {
      const std::uint32_t words = Word(identify, 117) | static_cast<std::uint32_t>(Word(identify, 118)) << 16;
      if (words >= 256 && words <= 0x8000) logical = 2 * words;
    }
    physical = logical;
    if (word106 & 0x2000) physical = logical << (word106 & 0xF);
  }
  std::vector<std::uint8_t> bytes(28, 0);
  Put32(bytes, 0, 28);
  Put32(bytes, 4, 28);
  Put32(bytes, 16, logical);
  Put32(bytes, 20, physical);
  return bytes;
}

}  // namespace

bool DumpDevice::SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request,
                              std::size_t answerSize, std::vector<std::uint8_t>& answer, os::OsError& error) {
  namespace r = os::smart_request;
  answer.clear();
  if (deviceName != deviceName_) {
    error = os::kErrorFileNotFound;
    return false;
  }
  if (request.size() <= r::kCommand) {
    error = os::kErrorInvalidParameter;
    return false;
  }
  const Sector* sector = nullptr;
  if (request[r::kCommand] == 0xEC) {
    sector = &dump_.identify;
  } else if (request[r::kCommand] == 0xB0 && request[r::kFeatures] == 0xD0) {
    sector = dump_.smartData ? &*dump_.smartData : nullptr;
  } else if (request[r::kCommand] == 0xB0 && request[r::kFeatures] == 0xD1) {
    sector = dump_.smartThresholds ? &*dump_.smartThresholds : nullptr;
  } else {
    error = kErrorInvalidFunction;
    return false;
  }
  if (!sector) {
    error = os::kErrorNotSupported;
    return false;
  }
  std::vector<std::uint8_t> full(r::kAnswerStatusSize, 0);
  Put32(full, 0, sector->size());
  full.insert(full.end(), sector->begin(), sector->end());
  full.resize(std::min(full.size(), answerSize));
  answer = std::move(full);
  error = os::kSuccess;
  return true;
}

bool DumpDevice::QueryProperty(std::string_view deviceName, std::uint32_t propertyId, std::size_t answerSize,
                               std::vector<std::uint8_t>& answer, os::OsError& error) {
  answer.clear();
  if (deviceName != deviceName_) {
    error = os::kErrorFileNotFound;
    return false;
  }
  std::vector<std::uint8_t> full;
  if (propertyId == os::kStorageDeviceProperty) {
    full = DeviceDescriptor(dump_.identify);
  } else if (propertyId == os::kStorageAccessAlignmentProperty) {
    full = AccessAlignment(dump_.identify);
  } else {
    error = os::kErrorNotSupported;
    return false;
  }
  full.resize(std::min(full.size(), answerSize));
  answer = std::move(full);
  error = os::kSuccess;
  return true;
}

}  // namespace orv::diag
