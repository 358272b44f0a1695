#include "monitors/nas/raid_build.h"

#include <algorithm>
#include <string_view>

#include "model/model_flags.h"
#include "monitors/nas/port_map.h"

namespace orv {
namespace {

// The address at which a platform's external SATA port shows its disk; empty where it has none.
std::string_view EsataAddress(std::uint32_t modelFlags) {
  switch (CodesOf(modelFlags).platformCode) {
    case model::kFirstLineGen1: return "Port3Path1Target0Lun0";
    case model::kFirstLineGen2: return "Port1Path0Target0Lun0";
    case model::kTemperatureSeries: return "Port0Path1Target0Lun0";
    default: return {};
  }
}

char16_t LetterOf(const os::VdsSnapshot& snapshot, const std::string& volumeId) {
  for (const os::VdsDriveLetter& entry : snapshot.driveLetters) {
    if (entry.used && entry.volumeId == volumeId) return entry.letter;
  }
  return u'\0';
}

}  // namespace

RaidBuild::RaidBuild(os::VirtualDiskService& service, std::uint32_t modelFlags) {
  os::VdsSnapshot snapshot;
  initialized_ = service.Enumerate(snapshot, error_);
  if (initialized_) Build(snapshot, modelFlags);
}

RaidBuild::RaidBuild(const os::VdsSnapshot& snapshot, std::uint32_t modelFlags) : initialized_(true) {
  Build(snapshot, modelFlags);
}

void RaidBuild::Build(const os::VdsSnapshot& snapshot, std::uint32_t modelFlags) {
  disks_.reserve(snapshot.disks.size());
  for (const os::VdsDiskRecord& record : snapshot.disks) {
    disks_.push_back({record.diskAddress, record.deviceName, record.friendlyName, record.mediaType, record.busType,
                      PortMaskOf(modelFlags, record.diskAddress, record.busType, record.friendlyName), record.status,
                      record.health});
  }
  const std::string_view esata = EsataAddress(modelFlags);
  volumes_.reserve(snapshot.volumes.size());
  for (const os::VdsVolumeRecord& record : snapshot.volumes) {
    LayoutVolume volume;
    volume.driveLetter = LetterOf(snapshot, record.id);
    volume.name = record.name;
    volume.id = record.id;
    volume.layoutType = record.type;
    volume.status = record.status;
    volume.health = record.health;
    volume.fileSystemCode = record.fileSystemType;
    for (const std::string& diskId : record.extentDiskIds) {
      const auto disk = std::find_if(snapshot.disks.begin(), snapshot.disks.end(),
                                     [&](const os::VdsDiskRecord& d) { return d.id == diskId; });
      if (disk == snapshot.disks.end()) continue;  // gone between the two lists: no member
      const LayoutDisk& layout = disks_[static_cast<std::size_t>(disk - snapshot.disks.begin())];
      volume.memberMask |= layout.portMask;
      if (disk->status != os::vds::kDiskOnline) volume.offlineMember = 1;
      const bool usb = disk->busType == os::vds::kBusTypeUsb;
      const bool external = !esata.empty() && disk->diskAddress == esata;
      if (usb) volume.usb = 1;
      if (external) volume.esata = 1;
      if (usb || external) volume.diskName = disk->deviceName;
    }
    volumes_.push_back(std::move(volume));
  }
}

}  // namespace orv
