#include "os/win32/volume_queries_win32.h"

#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {
namespace {

// An empty drive (a card reader, an optical drive without a disc) must answer "not ready", not
// ask the user to insert a disk from a service that has no desktop.
class NoCriticalErrorDialogs {
 public:
  NoCriticalErrorDialogs() : set_(::SetThreadErrorMode(SEM_FAILCRITICALERRORS, &previous_) != FALSE) {}
  // Only a mode that was replaced is put back: restoring a mode never read would clear the
  // thread's own.
  ~NoCriticalErrorDialogs() {
    if (set_) ::SetThreadErrorMode(previous_, nullptr);
  }
  NoCriticalErrorDialogs(const NoCriticalErrorDialogs&) = delete;
  NoCriticalErrorDialogs& operator=(const NoCriticalErrorDialogs&) = delete;

 private:
  DWORD previous_ = 0;
  bool set_;
};

// A failed query's code; one the system left at 0 must not read as success above the port.
os::OsError LastErrorOfFailure() {
  const DWORD code = ::GetLastError();
  return code != 0 ? code : os::kErrorInvalidHandle;
}

}  // namespace

bool Win32VolumeQueries::QuerySpace(std::string_view root, os::VolumeSpace& space, os::OsError& error) {
  const NoCriticalErrorDialogs quiet;
  ULARGE_INTEGER freeToCaller{};
  ULARGE_INTEGER total{};
  ULARGE_INTEGER totalFree{};
  if (!::GetDiskFreeSpaceExW(Wide(root).c_str(), &freeToCaller, &total, &totalFree)) {
    error = LastErrorOfFailure();
    return false;
  }
  space = {freeToCaller.QuadPart, total.QuadPart, totalFree.QuadPart};
  return true;
}

bool Win32VolumeQueries::QueryFileSystemName(std::string_view root, std::string& name, os::OsError& error) {
  name.clear();
  const NoCriticalErrorDialogs quiet;
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!::GetVolumeInformationW(Wide(root).c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                               MAX_PATH + 1)) {
    error = LastErrorOfFailure();
    return false;
  }
  name = Narrow(fileSystem);
  return true;
}

}  // namespace orv::win32
