// oscheck xml FILE...: loads each event definition file through the XmlLite adapter and prints
//   <status> <version, or - when empty> <application rules> <system rules> <other rules> <stop entries>
// With --rules before the files, each rule and stop entry follows on its own line
// ("  A|S|O src<TAB>evt_id<TAB>act_id<TAB>msg", "  X act_id"), texts in UTF-8 with
// backslash, tab, CR and LF escaped.
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/agent_ctrl_config_file.h"
#include "os/win32/file_system_win32.h"
#include "os/win32/wide_text.h"
#include "os/win32/xml_reader_xmllite.h"

#include "oscheck.h"

namespace {

void PrintRules(char kind, const std::vector<orv::EventDefinition>& rules) {
  for (const orv::EventDefinition& rule : rules) {
    std::printf("  %c %s\t%s\t%s\t%s\n", kind, Escaped(rule.src).c_str(),
                Escaped(rule.evt_id).c_str(), Escaped(rule.act_id).c_str(),
                Escaped(rule.msg).c_str());
  }
}

}  // namespace

int XmlCheck(int argc, wchar_t** argv) {
  orv::win32::Win32FileSystem files;
  orv::win32::XmlLiteReader xml;
  bool withRules = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument(argv[i]);
    if (argument == L"--rules") {
      withRules = true;
      continue;
    }
    orv::AgentCtrl_ConfigFile config(files, xml);
    config.SetPath(orv::win32::Narrow(argument));
    config.Load();
    const std::string& version = config.GetVersion();
    std::printf("%d %s %zu %zu %zu %zu\n", config.GetLoadStatus(),
                version.empty() ? "-" : Escaped(version).c_str(),
                config.ApplicationDefinitions().size(), config.SystemDefinitions().size(),
                config.OtherDefinitions().size(), config.StopList().size());
    if (withRules) {
      PrintRules('A', config.ApplicationDefinitions());
      PrintRules('S', config.SystemDefinitions());
      PrintRules('O', config.OtherDefinitions());
      for (const std::string& code : config.StopList()) std::printf("  X %s\n", Escaped(code).c_str());
    }
  }
  return 0;
}
