// oscheck storage: reads one disk through the real storage adapter the way a monitoring pass does,
// and prints what each reader gave:
//   identify TAB <ok> TAB <error> TAB <block all zero>
//   smart_data TAB <ok> TAB <error> TAB <block all zero>
//   smart_thresholds TAB <ok> TAB <error> TAB <block all zero>
//   descriptor TAB <ok> TAB <error> TAB <vendor> TAB <product> TAB <revision> TAB <serial>
//   sectors TAB <ok> TAB <error> TAB <logical> TAB <physical>
//   disk TAB <name> TAB <smart valid> TAB <transfer mode> TAB <ATA version> TAB <features>
// for the device name given as the only argument. Texts are UTF-8 with backslash, tab, CR and
// LF escaped.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

#include "model/disk_info.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_readers.h"
#include "os/win32/storage_device_win32.h"
#include "os/win32/wide_text.h"

#include "oscheck.h"

namespace {

template <typename Block>
std::string AllZero(const Block& block) {
  return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; }) ? "1" : "0";
}

void Line(const char* what, bool ok, orv::os::OsError error, const std::string& rest) {
  std::printf("%s\t%d\t%lu%s\n", what, ok ? 1 : 0, static_cast<unsigned long>(error), rest.c_str());
}

}  // namespace

int StorageCheck(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::string device = orv::win32::Narrow(argv[1]);
  orv::win32::Win32StorageDevice disks;
  orv::os::OsError error = 0;

  orv::IdentifyBlock identify;
  identify.fill(0xEE);
  bool ok = orv::Identify(disks, device, identify, true, &error);
  Line("identify", ok, error, Tabbed(AllZero(identify)));
  for (const auto& [what, feature] : {std::pair{"smart_data", orv::kSmartReadData},
                                      std::pair{"smart_thresholds", orv::kSmartReadThresholds}}) {
    orv::SmartBlock smart;
    smart.fill(0xEE);
    ok = orv::ReadSmart(disks, device, feature, smart, &error);
    Line(what, ok, error, Tabbed(AllZero(smart)));
  }
  orv::DeviceDescriptorTexts texts;
  ok = orv::QueryDeviceDescriptor(disks, device, texts, &error);
  Line("descriptor", ok, error, Tabbed(Escaped(texts.vendorId), Escaped(texts.productId),
                                       Escaped(texts.productRevision), Escaped(texts.serialNumber)));
  orv::SectorSizes sizes;
  ok = orv::QuerySectorSizes(disks, device, sizes, &error);
  Line("sectors", ok, error, Tabbed(std::to_string(sizes.logical), std::to_string(sizes.physical)));

  orv::LayoutDisk entry;
  entry.diskAddress = "Port0Path0Target0Lun0";
  entry.deviceName = device;
  entry.friendlyName = texts.productId;
  entry.mediaType = orv::kMediaTypeFixed;
  entry.portMask = 1;
  const orv::DiskInfo disk = orv::ReadLayoutDisk(disks, entry, false, 0x100000 | 0x2000 | 0x8);
  std::printf("disk\t%s\t%u%s\n", disk.name.c_str(), static_cast<unsigned>(disk.smartValid),
              Tabbed(Escaped(disk.transferMode), Escaped(disk.ataVersion), Escaped(disk.features)).c_str());
  return 0;
}
