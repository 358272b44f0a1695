#include "orvdiag/orvdiag.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "model/common_status_data.h"
#include "model/nas_status_data.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/hdd_identify.h"
#include "monitors/nas/port_map.h"
#include "orvdiag/dump_device.h"
#include "report/status_message.h"

namespace orv::diag {
namespace {

constexpr const char* kUsage = "usage: orvdiag hd FILE";
constexpr const char* kDeviceName = "\\\\?\\PhysicalDrive0";
constexpr const char* kFirstBayAddress = "Port0Path0Target0Lun0";
constexpr std::uint32_t kBusTypeSata = 11;
// Dumps are a few kilobytes; anything far larger is not one (or is a device that never ends).
constexpr std::size_t kMaxFileSize = 1024 * 1024;

bool ReadFile(const std::string& utf8Path, std::vector<std::uint8_t>& bytes, std::string& error) {
  const std::filesystem::path path(std::u8string(reinterpret_cast<const char8_t*>(utf8Path.data()), utf8Path.size()));
  std::error_code status;
  if (std::filesystem::is_directory(path, status)) {
    error = "is a directory";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    error = "cannot be opened";
    return false;
  }
  bytes.resize(kMaxFileSize + 1);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (file.bad()) {
    error = "cannot be read";
    return false;
  }
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  if (bytes.size() > kMaxFileSize) {
    error = "is larger than " + std::to_string(kMaxFileSize) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

std::string HdReport(const AtaDump& dump) {
  DumpDevice device(dump, kDeviceName);
  LayoutDisk entry;
  entry.diskAddress = kFirstBayAddress;
  entry.deviceName = kDeviceName;
  entry.friendlyName = IdentifyText(dump.identify, kModelField);
  entry.mediaType = kMediaTypeFixed;
  entry.busType = kBusTypeSata;
  entry.portMask = PortMaskOf(kDiagnosisModelFlags, entry.diskAddress, entry.busType, entry.friendlyName);
  const DiskInfo disk = ReadLayoutDisk(device, entry, /*meridexBrand=*/false, kDiagnosisModelFlags);

  std::string text = DiskEntryText(disk, StatusKind::Test, CommonStatusData{}, NasStatusData{});
  text += "temperature=" + std::to_string(disk.temperature) + "\r\n";
  text += "power_on_hours=" + std::to_string(disk.powerOnHours) + "\r\n";
  text += "power_cycles=" + std::to_string(disk.powerCycleCount) + "\r\n";
  return text;
}

int RunOrvdiag(const std::vector<std::string>& args, std::string& out, std::string& err) {
  out.clear();
  err.clear();
  if (args.size() != 2 || args[0] != "hd") {
    err = std::string(kUsage) + "\n";
    return kExitFailure;
  }
  const std::string& path = args[1];
  std::vector<std::uint8_t> bytes;
  std::string error;
  AtaDump dump;
  if (!ReadFile(path, bytes, error) || !ParseAtaDump(bytes, dump, error)) {
    err = "orvdiag: " + path + ": " + error + "\n";
    return kExitFailure;
  }
  out = HdReport(dump);
  return kExitOk;
}

int OrvdiagMain(const std::vector<std::string>& args) {
  std::string out;
  std::string err;
  const int code = RunOrvdiag(args, out, err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  if (std::fflush(stdout) != 0 && code == kExitOk) return kExitFailure;
  return code;
}

}  // namespace orv::diag
