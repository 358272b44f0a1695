// The volume list of the NAS pass: every volume of the storage layout that has a drive letter,
// with its layout, file system and space, sorted by letter.
//
// The storage layout sees a volume of the encryption product as a raw volume without a letter;
// the product's query library knows its letter. Asking it may mean loading the library (and
// waiting for its service), so the list asks through `EncryptedDriveLookup` only for such
// volumes, and the caller decides how the library is reached.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "model/layout_entries.h"
#include "model/volume_info.h"
#include "os/volume_queries.h"

namespace orv {

inline constexpr std::uint32_t kFileSystemRaw = 1;
inline constexpr std::uint32_t kFileSystemCdfs = 5;
inline constexpr std::uint32_t kFileSystemUdf = 6;

// "シンプル", "スパン", ... for the layout types 10 to 14; "不明" for any other.
std::string_view LayoutName(std::uint32_t layoutType);
// "RAW" ... "ReFS" for the codes 1 to 9; "不明" for any other.
std::string_view FileSystemName(std::uint32_t code);
// The code of a file system name as the table lists it; 0 for a name it does not list.
std::uint32_t FileSystemCode(std::string_view name);
// "A" to "Z" give 1 to 26; anything else 0.
std::uint32_t DriveNumber(char16_t letter);

// The zero-based drive number of the volume with identifier `volumeId`, when the encryption
// library is there and knows it.
using EncryptedDriveLookup = std::function<bool(const std::string& volumeId, std::uint32_t& driveNumber)>;

std::vector<VolumeInfo> BuildVolumeList(const std::vector<LayoutVolume>& volumes,
                                        const std::vector<LayoutDisk>& disks, os::VolumeQueries& queries,
                                        const EncryptedDriveLookup& encryptedDrive);

}  // namespace orv
