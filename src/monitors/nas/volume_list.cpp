#include "monitors/nas/volume_list.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace orv {
namespace {

constexpr std::string_view kUnknown = "不明";
constexpr std::array<std::string_view, 5> kLayoutNames = {"シンプル", "スパン", "ストライプ", "ミラー", "RAID 5"};
constexpr std::uint32_t kFirstLayoutType = 10;
constexpr std::array<std::string_view, 9> kFileSystemNames = {"RAW",   "FAT",   "FAT32", "NTFS", "CDFS",
                                                              "UDF",   "exFAT", "CSVFS", "ReFS"};
constexpr std::uint32_t kNotFound = 0xFFFFFFFF;

std::string RootOf(char16_t letter) { return std::string(1, static_cast<char>(letter)) + ":\\"; }

// part × 100 / whole without overflow for any size; 0 for an empty whole.
std::uint32_t Percent(std::uint64_t part, std::uint64_t whole) {
  if (whole == 0) return 0;
  constexpr std::uint64_t kLargestExact = UINT64_MAX / 100;
  const std::uint64_t percent = part <= kLargestExact ? part * 100 / whole : part / (whole / 100);
  return static_cast<std::uint32_t>(percent);
}

bool IsDriveLetter(char16_t letter) { return letter >= u'A' && letter <= u'Z'; }

}  // namespace

std::string_view LayoutName(std::uint32_t layoutType) {
  const std::uint32_t index = layoutType - kFirstLayoutType;
  return layoutType >= kFirstLayoutType && index < kLayoutNames.size() ? kLayoutNames[index] : kUnknown;
}

std::string_view FileSystemName(std::uint32_t code) {
  return code >= 1 && code <= kFileSystemNames.size() ? kFileSystemNames[code - 1] : kUnknown;
}

std::uint32_t FileSystemCode(std::string_view name) {
  const auto it = std::find(kFileSystemNames.begin(), kFileSystemNames.end(), name);
  return it == kFileSystemNames.end() ? 0 : static_cast<std::uint32_t>(it - kFileSystemNames.begin()) + 1;
}

std::uint32_t DriveNumber(char16_t letter) { return IsDriveLetter(letter) ? std::uint32_t{letter} - u'A' + 1 : 0; }

std::vector<VolumeInfo> BuildVolumeList(const std::vector<LayoutVolume>& volumes,
                                        const std::vector<LayoutDisk>& disks, os::VolumeQueries& queries,
                                        const EncryptedDriveLookup& encryptedDrive) {
  std::vector<VolumeInfo> list;
  for (const LayoutVolume& volume : volumes) {
    char16_t letter = volume.driveLetter;
    std::uint32_t fileSystem = volume.fileSystemCode;
    if (letter == u'\0' && fileSystem == kFileSystemRaw && encryptedDrive) {
      std::uint32_t number = kNotFound;
      // Numbers past "Z" name no drive: such a volume stays unlisted rather than get a letter
      // that is no letter.
      if (encryptedDrive(volume.id, number) && number != kNotFound && number < 26) {
        letter = static_cast<char16_t>(u'A' + number);
        std::string name;
        os::OsError error = 0;
        fileSystem = queries.QueryFileSystemName(RootOf(letter), name, error) ? FileSystemCode(name) : 0;
      }
    }
    if (!IsDriveLetter(letter)) continue;

    VolumeInfo info;
    info.driveLetter = letter;
    info.status = volume.status;
    info.health = volume.health;
    info.layoutType = volume.layoutType;
    info.fileSystemCode = fileSystem;
    info.layoutName = LayoutName(volume.layoutType);
    info.fileSystemName = FileSystemName(fileSystem);
    info.volumeName = volume.name;
    info.diskName = volume.diskName;
    const auto disk = std::find_if(disks.begin(), disks.end(),
                                   [&](const LayoutDisk& d) { return !volume.diskName.empty() && d.deviceName == volume.diskName; });
    if (disk != disks.end()) info.diskModel = disk->friendlyName;
    info.usb = volume.usb;
    info.esata = volume.esata;
    info.memberMask = volume.memberMask;
    os::VolumeSpace space;
    os::OsError error = 0;
    if (queries.QuerySpace(RootOf(letter), space, error)) {
      info.freeToCaller = space.freeToCaller;
      info.totalBytes = space.totalBytes;
      info.totalFree = space.totalFree;
      // Free to the caller never exceeds the total, but a driver's answer is not trusted to know.
      info.usedBytes = space.totalBytes - std::min(space.freeToCaller, space.totalBytes);
      info.usedPercent = Percent(info.usedBytes, space.totalBytes);
    }
    list.push_back(std::move(info));
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const VolumeInfo& a, const VolumeInfo& b) { return a.driveLetter < b.driveLetter; });
  return list;
}

}  // namespace orv
