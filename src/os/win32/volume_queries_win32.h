// Free space and file system name of a mounted volume (Windows only).
#pragma once

#include "os/volume_queries.h"

namespace orv::win32 {

class Win32VolumeQueries final : public os::VolumeQueries {
 public:
  bool QuerySpace(std::string_view root, os::VolumeSpace& space, os::OsError& error) override;
  bool QueryFileSystemName(std::string_view root, std::string& name, os::OsError& error) override;
};

}  // namespace orv::win32
