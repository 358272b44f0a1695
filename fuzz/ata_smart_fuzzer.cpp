// Feeds arbitrary sectors to the identify and SMART decoders and to the status message's "hd"
// entry: identify data, SMART sectors and descriptor answers come from disks, drivers and
// firmware, broken ones included. No input may crash a decoder or read outside its block, and
// every entry written must be one object that a strict JSON parser accepts (valid UTF-8
// included). Disk dumps in orvdiag's format are read from the same input.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/common_status_data.h"
#include "model/nas_status_data.h"
#include "monitors/nas/disk_readers.h"
#include "monitors/nas/hdd_identify.h"
#include "monitors/nas/smart_attributes.h"
#include "orvdiag/ata_dump.h"
#include "orvdiag/orvdiag.h"
#include "report/status_message.h"

namespace {

// One JSON object, accepted by the strict parser (no DOM is built: the check is the point).
void CheckStrictObject(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos || text[first] != '{' || !nlohmann::json::accept(text)) std::abort();
}

// A report is the entry, then three value lines.
void CheckReport(const std::string& report) {
  const std::size_t split = report.find("temperature=");
  if (split == std::string::npos) std::abort();
  CheckStrictObject(report.substr(0, split));
}

// `size` bytes of the input from `at`, zero-padded where the input ends.
std::vector<std::uint8_t> Piece(std::span<const std::uint8_t> input, std::size_t at, std::size_t size) {
  std::vector<std::uint8_t> piece(size, 0);
  for (std::size_t i = 0; i < size && at + i < input.size(); ++i) piece[i] = input[at + i];
  return piece;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  // The whole input as blocks of any size: decoders refuse what is no block, never read past.
  (void)orv::HDDIdentify::TransferModeText(input);
  (void)orv::HDDIdentify::AtaVersionText(input);
  (void)orv::HDDIdentify::FeatureText(input);
  for (unsigned id = 0; id < 256; id += 7) {
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    std::uint8_t current = 0;
    (void)orv::FindSmartAttribute(input, static_cast<std::uint8_t>(id), raw, value, "ST");
    (void)orv::SmartCurrentValue(input, static_cast<std::uint8_t>(id), current);
  }
  const orv::DeviceDescriptorTexts texts = orv::DecodeDeviceDescriptor(input);

  // The input as an identify sector, a SMART data and a threshold sector, and the descriptor
  // texts: the entry the status message writes for such a disk.
  std::vector<std::uint8_t> identify = Piece(input, 0, orv::kIdentifyBlockSize);
  orv::SwapIdentifyTextFields(identify);
  orv::DiskInfo disk;
  disk.present = 1;
  disk.name = "HDD0";
  disk.portMask = 1;
  disk.deviceName = "\\\\?\\PhysicalDrive0";
  disk.friendlyName = orv::IdentifyText(Piece(input, 0, orv::kIdentifyBlockSize), orv::kModelField);
  disk.vendorId = texts.vendorId;
  disk.productRevision = texts.productRevision;
  disk.serialNumber = texts.serialNumber;
  disk.transferMode = orv::HDDIdentify::TransferModeText(identify);
  disk.ataVersion = orv::HDDIdentify::AtaVersionText(identify);
  disk.features = orv::HDDIdentify::FeatureText(identify);
  disk.smartValid = 1;
  const std::vector<std::uint8_t> smartData = Piece(input, 512, orv::kSmartBlockSize);
  const std::vector<std::uint8_t> thresholds = Piece(input, 512 + orv::kSmartBlockSize, orv::kSmartBlockSize);
  std::copy(smartData.begin(), smartData.end(), disk.smartData.begin());
  std::copy(thresholds.begin(), thresholds.end(), disk.smartThresholds.begin());
  // The last byte picks the kind: the periodic status averages the samples.
  const bool periodic = size > 0 && (data[size - 1] & 1) != 0;
  orv::NasStatusData nas;
  if (periodic) nas.samples.Add({}, {disk});
  CheckStrictObject(orv::DiskEntryText(disk, periodic ? orv::StatusKind::Periodic : orv::StatusKind::Test,
                                       orv::CommonStatusData{}, nas));

  // The input as a dump file; when it is none, its sectors as a dump.
  orv::diag::AtaDump dump;
  std::string error;
  if (orv::diag::ParseAtaDump(input, dump, error)) {
    CheckReport(orv::diag::HdReport(dump));
    return 0;
  }
  if (error.empty() || error.find('\n') != std::string::npos) std::abort();
  dump = {};
  std::copy(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(std::min(size, dump.identify.size())),
            dump.identify.begin());
  if (size >= 1024) {
    dump.smartData.emplace();
    std::copy_n(input.begin() + 512, 512, dump.smartData->begin());
  }
  if (size >= 1536) {
    dump.smartThresholds.emplace();
    std::copy_n(input.begin() + 1024, 512, dump.smartThresholds->begin());
  }
  CheckReport(orv::diag::HdReport(dump));
  return 0;
}
