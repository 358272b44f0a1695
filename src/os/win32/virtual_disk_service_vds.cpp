#include "os/win32/virtual_disk_service_vds.h"

#include "os/win32/windows_api.h"

namespace orv::win32 {

bool VdsDiskService::Enumerate(os::VdsSnapshot& snapshot, os::OsError& error) {
  snapshot = {};
  error = ERROR_NOT_SUPPORTED;
  return false;
}

}  // namespace orv::win32
