// oscheck SUB-COMMAND [ARGS...]: crypto, hid, http, layout, net, pipe, storage, wmi, xml.
// Exit status 2 for an unknown sub-command.
#include <cstdio>
#include <string_view>
#include <utility>

#include "os/win32/process_control_win32.h"

#include "oscheck.h"

int wmain(int argc, wchar_t** argv) {
  static constexpr std::pair<std::wstring_view, int (*)(int, wchar_t**)> kSubCommands[] = {
      {L"crypto", CryptoCheck}, {L"hid", HidCheck}, {L"http", HttpCheck},
      {L"layout", LayoutCheck}, {L"net", NetCheck}, {L"pipe", PipeCheck},
      {L"storage", StorageCheck}, {L"wmi", WmiCheck}, {L"xml", XmlCheck}};
  // Libraries are looked up as in the agent: loaded by name only from the system folder.
  if (orv::win32::Win32ProcessControl().LoadLibrariesFromSystemFolderOnly() != orv::os::kSuccess) return 3;
  for (const auto& [name, run] : kSubCommands) {
    if (argc >= 2 && name == argv[1]) return run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "usage: oscheck crypto|hid|http|layout|net|pipe|storage|wmi|xml [ARGS...]\n");
  return 2;
}
