#include "os/win32/process_control_win32.h"

#include <cstdlib>
#include <limits>

#include "os/win32/windows_api.h"
#include "os/win32/wide_text.h"

namespace orv::win32 {

void Win32ProcessControl::PrintToConsole(std::string_view text) {
  HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  if (text.size() > std::numeric_limits<DWORD>::max() / 2) return;
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(output, &mode)) {
    // A real console shows Japanese system texts only through the wide call.
    const std::wstring wide = Wide(text);
    ::WriteConsoleW(output, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else {
    ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

void Win32ProcessControl::FatalExit(std::uint32_t code) {
  // Immediate: no destructors or DLL detach notifications that could hang a broken service.
  ::TerminateProcess(::GetCurrentProcess(), code);
  std::abort();
}

os::OsError Win32ProcessControl::LoadLibrariesFromSystemFolderOnly() {
  return ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) ? os::kSuccess : ::GetLastError();
}

}  // namespace orv::win32
