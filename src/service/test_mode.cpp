#include "service/test_mode.h"

#include <algorithm>
#include <string>

namespace orv::service {

bool IsTestMode(std::string_view name, os::FileSystem& files, os::SystemInfo& system) {
  // Only the fixed names: a caller's text never becomes an arbitrary path next to the agent.
  if (std::find(kTestModeSwitches.begin(), kTestModeSwitches.end(), name) ==
      kTestModeSwitches.end()) {
    return false;
  }
  const std::string exe = system.ExecutablePath();
  const std::size_t slash = exe.find_last_of("\\/");
  if (exe.empty() || slash == std::string::npos) return false;
  std::string path = exe.substr(0, slash + 1);
  path.append(name);
  return files.FileExists(path);
}

}  // namespace orv::service
