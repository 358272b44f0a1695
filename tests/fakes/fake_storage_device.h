// Disks as a test lays them out: what each answers to identify, the SMART reads and the two
// property queries, or how each request fails. Requests are recorded.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/fake_helpers.h"
#include "os/storage_device.h"

namespace orv::fakes {

class FakeStorageDevice final : public os::StorageDevice {
 public:
  // What a disk gives for one request: `bytes`, or the failure `error` when it is not 0.
  struct Answer {
    std::vector<std::uint8_t> bytes;
    os::OsError error = 0;
  };

  struct Disk {
    os::OsError openError = 0;  // the device does not open at all
    // Sectors as the drive sends them; the driver's 16 status bytes are put in front.
    Answer identify;
    Answer smartData;
    Answer smartThresholds;
    // Property answers as the driver gives them, cut to the caller's buffer.
    Answer deviceDescriptor;
    Answer accessAlignment;
  };

  struct Call {
    std::string deviceName;
    std::vector<std::uint8_t> request;  // SMART requests only
    std::uint32_t propertyId = 0;       // property queries only
    std::size_t answerSize = 0;
  };

  bool SmartReceive(std::string_view deviceName, std::span<const std::uint8_t> request, std::size_t answerSize,
                    std::vector<std::uint8_t>& answer, os::OsError& error) override {
    calls.push_back({std::string(deviceName), {request.begin(), request.end()}, 0, answerSize});
    answer.clear();
    const Disk* disk = Open(deviceName, error);
    if (!disk) return false;
    const Answer* sector = nullptr;
    namespace r = os::smart_request;
    if (request.size() > r::kCommand && request[r::kCommand] == 0xEC) {
      sector = &disk->identify;
    } else if (request.size() > r::kCommand && request[r::kCommand] == 0xB0) {
      if (request[r::kFeatures] == 0xD0) sector = &disk->smartData;
      if (request[r::kFeatures] == 0xD1) sector = &disk->smartThresholds;
    }
    if (!sector) return Fails(error, kErrorInvalidFunction);
    if (sector->error != 0) return Fails(error, sector->error);
    const auto size = static_cast<std::uint32_t>(sector->bytes.size());
    std::vector<std::uint8_t> full = {static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                                      static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    full.resize(r::kAnswerStatusSize);
    full.insert(full.end(), sector->bytes.begin(), sector->bytes.end());
    answer.assign(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(std::min(full.size(), answerSize)));
    error = 0;
    return true;
  }

  bool QueryProperty(std::string_view deviceName, std::uint32_t propertyId, std::size_t answerSize,
                     std::vector<std::uint8_t>& answer, os::OsError& error) override {
    calls.push_back({std::string(deviceName), {}, propertyId, answerSize});
    answer.clear();
    const Disk* disk = Open(deviceName, error);
    if (!disk) return false;
    const Answer* property = propertyId == os::kStorageDeviceProperty           ? &disk->deviceDescriptor
                             : propertyId == os::kStorageAccessAlignmentProperty ? &disk->accessAlignment
                                                                                 : nullptr;
    if (!property) return Fails(error, os::kErrorNotSupported);
    if (property->error != 0) return Fails(error, property->error);
    const std::size_t size = std::min(property->bytes.size(), answerSize);
    answer.assign(property->bytes.begin(), property->bytes.begin() + static_cast<std::ptrdiff_t>(size));
    error = 0;
    return true;
  }

  // A device descriptor answer whose strings follow the fixed part, each ended by a zero
  // byte; an empty text gets offset 0.
  static std::vector<std::uint8_t> DescriptorAnswer(std::string_view vendor, std::string_view product,
                                                    std::string_view revision, std::string_view serial) {
    std::vector<std::uint8_t> bytes(40, 0);
    std::size_t field = 12;
    for (const std::string_view text : {vendor, product, revision, serial}) {
      if (!text.empty()) {
        Put32(bytes, field, bytes.size());
        bytes.insert(bytes.end(), text.begin(), text.end());
        bytes.push_back(0);
      }
      field += 4;
    }
    Put32(bytes, 0, 40);
    Put32(bytes, 4, bytes.size());
    return bytes;
  }

  // An access-alignment answer with the two sector sizes.
  static std::vector<std::uint8_t> AlignmentAnswer(std::uint32_t logical, std::uint32_t physical) {
    std::vector<std::uint8_t> bytes(28, 0);
    using Field = std::pair<std::size_t, std::uint32_t>;
    for (const auto& [at, value] : {Field{0, 28}, Field{4, 28}, Field{16, logical}, Field{20, physical}}) {
      Put32(bytes, at, value);
    }
    return bytes;
  }

  std::map<std::string, Disk, std::less<>> disks;  // by device name; others do not open (2)
  std::vector<Call> calls;

 private:
  static constexpr os::OsError kErrorInvalidFunction = 1;

  static void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t value) {
    for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
  }

  const Disk* Open(std::string_view deviceName, os::OsError& error) const {
    const auto it = disks.find(deviceName);
    error = it == disks.end() ? os::kErrorFileNotFound : it->second.openError;
    return error == 0 ? &it->second : nullptr;
  }
};

}  // namespace orv::fakes
