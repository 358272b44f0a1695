#include "monitors/nas/disk_list.h"

#include "monitors/nas/bay_tables.h"
#include "monitors/nas/disk_readers.h"
#include "monitors/nas/hdd_identify.h"
#include "monitors/nas/smart_attributes.h"

namespace orv {
namespace {

// The attribute's value when the disk has it. A disk without it (an SSD without a temperature
// sensor, say) keeps 0: the all-ones of a failed lookup would be reported as a reading.
void StoreAttribute(const DiskInfo& disk, std::uint8_t id, std::uint32_t& field) {
  std::uint64_t raw = 0;
  std::uint64_t value = 0;
  if (FindSmartAttribute(disk.smartData, id, raw, value, disk.friendlyName)) {
    field = static_cast<std::uint32_t>(value);
  }
}

}  // namespace

DiskInfo ReadLayoutDisk(os::StorageDevice& disks, const LayoutDisk& entry, bool meridexBrand,
                        std::uint32_t modelFlags) {
  DiskInfo disk;
  disk.present = 1;
  disk.portMask = entry.portMask;
  disk.name = BayName(entry.portMask, meridexBrand, modelFlags);
  disk.number = BayNumber(entry.portMask, meridexBrand);
  disk.slotIndex = SlotIndexOf(entry.portMask);
  disk.mediaType = entry.mediaType;
  disk.busType = entry.busType;
  disk.diskAddress = entry.diskAddress;
  disk.deviceName = entry.deviceName;
  disk.friendlyName = entry.friendlyName;

  DeviceDescriptorTexts texts;
  QueryDeviceDescriptor(disks, entry.deviceName, texts);
  disk.vendorId = texts.vendorId;
  disk.productId = texts.productId;
  disk.productRevision = texts.productRevision;
  disk.serialNumber = texts.serialNumber;
  SectorSizes sizes;
  QuerySectorSizes(disks, entry.deviceName, sizes);
  disk.logicalSectorSize = sizes.logical;
  disk.physicalSectorSize = sizes.physical;

  if (entry.mediaType == kMediaTypeFixed) {
    const bool data = ReadSmart(disks, entry.deviceName, kSmartReadData, disk.smartData);
    const bool thresholds = ReadSmart(disks, entry.deviceName, kSmartReadThresholds, disk.smartThresholds);
    disk.smartValid = data && thresholds ? 1 : 0;
    if (disk.smartValid == 1) {
      StoreAttribute(disk, kAttributePowerOnHours, disk.powerOnHours);
      StoreAttribute(disk, kAttributePowerCycles, disk.powerCycleCount);
      StoreAttribute(disk, kAttributeTemperature, disk.temperature);
    }
  }

  IdentifyBlock identify;
  if (Identify(disks, entry.deviceName, identify, true)) {
    disk.transferMode = HDDIdentify::TransferModeText(identify);
    disk.ataVersion = HDDIdentify::AtaVersionText(identify);
    disk.features = HDDIdentify::FeatureText(identify);
  }
  return disk;
}

std::vector<DiskInfo> BuildDiskList(os::StorageDevice& disks, std::span<const LayoutDisk> layout, bool meridexBrand,
                                    std::uint32_t modelFlags) {
  std::vector<DiskInfo> list;
  list.reserve(layout.size());
  for (const LayoutDisk& entry : layout) list.push_back(ReadLayoutDisk(disks, entry, meridexBrand, modelFlags));
  return list;
}

}  // namespace orv
