#include "service/program_entry.h"

#include <algorithm>

#include "platform/text_encoding.h"
#include "service/diagnosis.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "service/service_installer.h"
#include "service/service_instance.h"

namespace orv {
namespace {

// What follows the program path, by the rule Windows programs split their command line with:
// a quoted path ends at the next quote, an unquoted one at the first blank.
std::string_view ArgumentsOf(std::string_view commandLine) {
  std::size_t end = 0;
  if (commandLine.starts_with('"')) {
    end = commandLine.find('"', 1);
    end = end == std::string_view::npos ? commandLine.size() : end + 1;
  } else {
    end = std::min(commandLine.find_first_of(" \t"), commandLine.size());
  }
  return commandLine.substr(end);
}

}  // namespace

EntryAction SelectEntryAction(std::string_view commandLine) {
  const std::string lowered = AsciiLower(commandLine);
  if (lowered.find("-install") != std::string::npos) return EntryAction::Install;
  if (lowered.find("-remove") != std::string::npos) return EntryAction::Remove;
  if (AsciiLower(ArgumentsOf(commandLine)).find("-diag") != std::string::npos) return EntryAction::Diagnose;
  return EntryAction::RunService;
}

int RunProgram(const os::OsPorts& os, std::string_view commandLine) {
  // First of all, before any library is loaded by name: the agent's folder and the current
  // folder may be writable by users, and every switch runs with an administrator's or SYSTEM's
  // rights. A system that refuses leaves the default order; nothing can be done about it here.
  (void)os.process.LoadLibrariesFromSystemFolderOnly();
  switch (SelectEntryAction(commandLine)) {
    case EntryAction::Install: {
      const ServiceInstallInfo info(kServiceName, kServiceDisplayName, kServiceDescription);
      if (InstallService(os, info, kServiceWin32OwnProcess, kServiceAutoStart, {}, {}, {})) {
        // Event Viewer finds the agent's texts through these sources: the agent's own entries
        // and the framework's, which are logged under the display name.
        const std::string exe = os.system.ExecutablePath();
        RegisterEventSource(os, kServiceName, exe);
        RegisterEventSource(os, kServiceDisplayName, exe);
      }
      break;
    }
    case EntryAction::Remove: {
      const ServiceInstallInfo info(kServiceName, kServiceDisplayName);
      RemoveService(os, info.name, false);
      UnregisterEventSource(os, kServiceName);
      UnregisterEventSource(os, kServiceDisplayName);
      break;
    }
    case EntryAction::Diagnose:
      os.process.PrintToConsole(DiagnosisText(os));
      break;
    case EntryAction::RunService: {
      CORVSvcCtrl service(os, kServiceName, kServiceDisplayName, kServiceWin32OwnProcess);
      const os::OsError error = os.serviceHost.RunDispatcher(kDispatchEntryName,
                                                             &ServiceMainCallback);
      // Started by hand rather than by the control manager: say so instead of ending silently.
      if (error != os::kSuccess) {
        os.process.PrintToConsole(FormatConsoleError("StartServiceCtrlDispatcher", error,
                                                     os.system.ErrorText(error)));
      }
      break;
    }
  }
  return 0;
}

}  // namespace orv
