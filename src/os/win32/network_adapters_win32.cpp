// The adapter list of the IP helper (Windows only). Stub until the real adapter lands.
#include "os/win32/network_adapters_win32.h"

namespace orv::win32 {

bool Win32NetworkAdapters::List(std::vector<os::RawAdapter>&, os::OsError& error) {
  error = os::kErrorNotSupported;
  return false;
}

}  // namespace orv::win32
