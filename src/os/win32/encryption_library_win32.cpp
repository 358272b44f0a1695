#include "os/win32/encryption_library_win32.h"

#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"

namespace orv::win32 {
namespace {

// "X:\..." only. A bare name or a relative path would go through the search path, where any
// earlier folder could plant a library in a LocalSystem process; a path relative to a drive's
// current folder ("C:x.dll") depends on the process's state; a share is no place to load code
// from into that process.
bool IsAbsoluteLocalPath(const std::wstring& file) {
  if (file.size() < 4 || file[1] != L':' || file[2] != L'\\') return false;
  const wchar_t drive = file[0];
  return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
}

}  // namespace

os::OsError Win32EncryptionLibrary::Load(std::string_view path) {
  if (module_) return os::kSuccess;
  const std::wstring file = Wide(path);
  // The library's own dependencies are looked up beside it first, then in the system folders.
  if (!IsAbsoluteLocalPath(file)) return ERROR_INVALID_PARAMETER;
  HMODULE module = ::LoadLibraryExW(file.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!module && ::GetLastError() == ERROR_INVALID_PARAMETER) {
    // Systems without the search flags (before KB2533623) still take an absolute path safely
    // with the altered search order.
    module = ::LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  if (!module) {
    const DWORD code = ::GetLastError();
    return code != 0 ? code : os::kErrorInvalidHandle;  // a failure never reads as success
  }
  module_ = module;
  // GetProcAddress hands back a generic function pointer; the library's entry has this shape.
  driveNoByGuid_ = reinterpret_cast<DriveNoByGuid>(  // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
      reinterpret_cast<void*>(::GetProcAddress(module, "GetDriveNoByGUID")));
  return os::kSuccess;
}

void Win32EncryptionLibrary::Unload() {
  if (!module_) return;
  ::FreeLibrary(static_cast<HMODULE>(module_));
  module_ = nullptr;
  driveNoByGuid_ = nullptr;
}

std::uint32_t Win32EncryptionLibrary::GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber) {
  if (!driveNoByGuid_) return os::kEncryptionQueryUnavailable;
  unsigned long number = 0;
  const unsigned long result = driveNoByGuid_(Wide(volumeId).c_str(), &number);
  if (result == 0) driveNumber = number;
  return result;
}

}  // namespace orv::win32
