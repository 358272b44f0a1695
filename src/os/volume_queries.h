// What the file system tells of a mounted volume through its root folder ("D:\").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/os_error.h"

namespace orv::os {

struct VolumeSpace {
  std::uint64_t freeToCaller = 0;
  std::uint64_t totalBytes = 0;
  std::uint64_t totalFree = 0;
};

class VolumeQueries {
 public:
  virtual ~VolumeQueries() = default;

  // The free-space query of the volume at `root`; false with `error` and `space` untouched
  // when it fails.
  virtual bool QuerySpace(std::string_view root, VolumeSpace& space, OsError& error) = 0;
  // The file system's name ("NTFS") from the volume-information query of `root`; false with
  // `error` and `name` empty when it fails.
  virtual bool QueryFileSystemName(std::string_view root, std::string& name, OsError& error) = 0;
};

}  // namespace orv::os
