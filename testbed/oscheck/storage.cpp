// oscheck storage: reads one disk through the real storage adapter the way a monitoring pass does,
// and prints what each reader gave:
//   identify|smart_data|smart_thresholds TAB <ok> TAB <error> TAB <block all zero>
//   descriptor TAB <ok> TAB <error> TAB <vendor> TAB <product> TAB <revision> TAB <serial>
//   sectors TAB <ok> TAB <error> TAB <logical> TAB <physical>
//   disk TAB <name> TAB <smart valid> TAB <transfer mode> TAB <ATA version> TAB <features>
// for the device name given as the only argument.
#include <algorithm>
#include <string>

#include "model/disk_info.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/disk_readers.h"
#include "os/win32/storage_device_win32.h"
#include "os/win32/wide_text.h"

#include "oscheck.h"

using namespace orv;

int StorageCheck(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::string device = win32::Narrow(argv[1]);
  win32::Win32StorageDevice disks;
  os::OsError error = 0;
  const auto allZero = [](const auto& block) { return std::ranges::all_of(block, [](std::uint8_t b) { return b == 0; }); };
  IdentifyBlock identify;
  identify.fill(0xEE);
  bool ok = Identify(disks, device, identify, true, &error);
  Print("identify", ok, error, allZero(identify));
  for (const auto& [what, feature] : {std::pair{"smart_data", kSmartReadData}, std::pair{"smart_thresholds", kSmartReadThresholds}}) {
    SmartBlock smart;
    smart.fill(0xEE);
    ok = ReadSmart(disks, device, feature, smart, &error);
    Print(what, ok, error, allZero(smart));
  }
  DeviceDescriptorTexts texts;
  ok = QueryDeviceDescriptor(disks, device, texts, &error);
  Print("descriptor", ok, error, texts.vendorId, texts.productId, texts.productRevision, texts.serialNumber);
  SectorSizes sizes;
  ok = QuerySectorSizes(disks, device, sizes, &error);
  Print("sectors", ok, error, sizes.logical, sizes.physical);
  LayoutDisk entry;
  entry.diskAddress = "Port0Path0Target0Lun0";
  entry.deviceName = device;
  entry.friendlyName = texts.productId;
  entry.mediaType = kMediaTypeFixed;
  entry.portMask = 1;
  const DiskInfo disk = ReadLayoutDisk(disks, entry, false, 0x100000 | 0x2000 | 0x8);
  Print("disk", disk.name, disk.smartValid, disk.transferMode, disk.ataVersion, disk.features);
  return 0;
}
