// ORVSVC.exe: the composition root. Builds the Win32 adapters and hands the whole command
// line to the portable program entry.
#include "os/win32/wide_text.h"
#include "os/win32/windows_api.h"
#include "os/win32/win32_ports.h"
#include "service/program_entry.h"

int wmain(int /*argc*/, wchar_t** /*argv*/) {
  orv::win32::Win32Ports adapters;
  return orv::RunProgram(adapters.Ports(), orv::win32::Narrow(::GetCommandLineW()));
}
