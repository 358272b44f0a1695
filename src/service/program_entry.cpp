#include "service/program_entry.h"

#include "platform/text_encoding.h"
#include "service/orv_svc_ctrl.h"
#include "service/service_identity.h"
#include "service/service_installer.h"
#include "service/service_instance.h"

namespace orv {

EntryAction SelectEntryAction(std::string_view commandLine) {
  const std::string lowered = AsciiLower(commandLine);
  if (lowered.find("-install") != std::string::npos) return EntryAction::Install;
  if (lowered.find("-remove") != std::string::npos) return EntryAction::Remove;
  return EntryAction::RunService;
}

int RunProgram(const os::OsPorts& os, std::string_view commandLine) {
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
