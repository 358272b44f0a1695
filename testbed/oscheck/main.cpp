// oscheck SUB-COMMAND [ARGS...]: crypto, hid, http, layout, net, pipe, storage, wmi, xml.
// Exit status 2 for an unknown sub-command.
#include <cstdio>
#include <string_view>

#include "oscheck.h"

int wmain(int argc, wchar_t** argv) {
  struct SubCommand {
    std::wstring_view name;
    int (*run)(int, wchar_t**);
  };
  static constexpr SubCommand kSubCommands[] = {
      {L"crypto", CryptoCheck}, {L"hid", HidCheck}, {L"http", HttpCheck},
      {L"layout", LayoutCheck}, {L"net", NetCheck}, {L"pipe", PipeCheck},
      {L"storage", StorageCheck}, {L"wmi", WmiCheck}, {L"xml", XmlCheck}};
  if (argc >= 2) {
    for (const SubCommand& sub : kSubCommands) {
      if (sub.name == argv[1]) return sub.run(argc - 1, argv + 1);
    }
  }
  std::fprintf(stderr, "usage: oscheck crypto|hid|http|layout|net|pipe|storage|wmi|xml [ARGS...]\n");
  return 2;
}
