// Twelve disks as the benchmarks lay them out on the fakes: the first ones at the bay addresses
// of the model's port map, so that every bay it can place is filled, the others at an address
// no map lists (an attached enclosure, outside the bays); all with full SMART tables, and 26
// volumes over them, every fourth volume low on space so that the capacity conditions stay open.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fakes/fake_os.h"

namespace orv::bench {

inline constexpr int kTwelveDisks = 12;
inline constexpr int kTwentySixVolumes = 26;

inline std::string DeviceName(int i) { return "\\\\?\\PhysicalDrive" + std::to_string(i); }

inline std::vector<std::uint8_t> FullSmartSector() {
  std::vector<std::uint8_t> sector(512, 0);
  const std::uint8_t ids[30] = {1, 3, 4, 5, 7, 9, 10, 12, 183, 184, 187, 188, 189, 190, 191,
                                192, 193, 194, 195, 196, 197, 198, 199, 200, 240, 241, 242, 11, 13, 254};
  for (std::size_t i = 0; i < 30; ++i) {
    const std::size_t at = 2 + 12 * i;
    sector[at] = ids[i];
    sector[at + 3] = 100;
    sector[at + 4] = 99;
    sector[at + 5] = static_cast<std::uint8_t>(i + 20);
  }
  return sector;
}

// The bay addresses of the maps the benchmarks' models use.
inline constexpr std::string_view kLcdNewOsBays[] = {"Port0Path0Target0Lun0", "Port0Path1Target0Lun0",
                                                     "Port0Path2Target0Lun0", "Port0Path3Target0Lun0"};
inline constexpr std::string_view kSecondLineBays[] = {"Port0Path0Target0Lun0", "Port0Path0Target4Lun0",
                                                       "Port1Path0Target0Lun0", "Port2Path1Target0Lun0"};

inline std::string AddressOf(int disk, std::span<const std::string_view> bayAddresses) {
  if (disk < static_cast<int>(bayAddresses.size())) return std::string(bayAddresses[static_cast<std::size_t>(disk)]);
  return "Port9Path0Target" + std::to_string(disk) + "Lun0";
}

inline void LayTwelveDisks(fakes::FakeOs& fake, std::span<const std::string_view> bayAddresses) {
  constexpr std::uint64_t kGiB = 1ULL << 30;
  os::VdsSnapshot snapshot;
  for (int i = 0; i < kTwelveDisks; ++i) {
    const std::string id = "{disk-" + std::to_string(i) + "}";
    snapshot.disks.push_back({id, 1, 1, 12, 11, 0, AddressOf(i, bayAddresses), DeviceName(i),
                              "WDC WD40EFRX-68N32N0"});
    auto& disk = fake.storage.disks[DeviceName(i)];
    disk.identify.bytes = std::vector<std::uint8_t>(512, 0x20);
    disk.smartData.bytes = FullSmartSector();
    disk.smartThresholds.bytes = std::vector<std::uint8_t>(512, 0);
    disk.deviceDescriptor.bytes = fakes::FakeStorageDevice::DescriptorAnswer(
        "ATA", "WDC WD40EFRX-68N32N0", "82.00A82", "WD-WCC7K0000" + std::to_string(i));
    disk.accessAlignment.bytes = fakes::FakeStorageDevice::AlignmentAnswer(512, 4096);
  }
  for (int v = 0; v < kTwentySixVolumes; ++v) {
    const std::string id = "{volume-" + std::to_string(v) + "}";
    snapshot.volumes.push_back({id, "\\\\?\\Volume" + id, 14, 1, 1, 4,
                                {"{disk-" + std::to_string(v % kTwelveDisks) + "}",
                                 "{disk-" + std::to_string((v + 1) % kTwelveDisks) + "}"}});
    const char16_t letter = static_cast<char16_t>(u'A' + v);
    snapshot.driveLetters.push_back({letter, id, true});
    const std::uint64_t free = (v % 4 == 0 ? 10 : 900) * kGiB;
    fake.volumes.volumes[std::string(1, static_cast<char>('A' + v)) + ":\\"] = {{free, 1000 * kGiB, free}, "NTFS"};
  }
  fake.diskService.Serve(snapshot);
}

}  // namespace orv::bench
