#include "service/service_installer.h"

#include <cstdio>

#include "platform/text_encoding.h"
#include "service/service_identity.h"

namespace orv {
namespace {

constexpr std::size_t kExecutablePathUnits = 520;
constexpr std::string_view kApplicationLogSources =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information entries.
constexpr std::uint32_t kEventTypesSupported = 7;

void PrintError(const os::OsPorts& os, std::string_view callName, os::OsError code) {
  os.process.PrintToConsole(FormatConsoleError(callName, code, os.system.ErrorText(code)));
}

// An unquoted path with spaces lets the control manager start "C:\Program.exe" instead of
// the agent: quote it.
std::string QuotedIfSpaced(std::string path) {
  if (path.find(' ') == std::string::npos || path.starts_with('"')) return path;
  return '"' + path + '"';
}

}  // namespace

ServiceInstallInfo::ServiceInstallInfo(std::string_view nameText, std::string_view displayText,
                                       std::string_view descriptionText)
    : name(CutToUtf16Units(nameText, kBufferUnits)),
      displayName(CutToUtf16Units(displayText, kBufferUnits)),
      description(CutToUtf16Units(descriptionText, kBufferUnits)) {}

std::string FormatConsoleError(std::string_view callName, os::OsError code,
                               std::string_view systemText) {
  std::string line(callName);
  if (systemText.empty()) {
    char number[16];
    std::snprintf(number, sizeof number, "%x", code);
    line.append(" failed: Unknown error ").append(number);
  } else {
    line.append(" failed: ").append(systemText);
  }
  line.push_back('\n');
  return line;
}

bool ServiceExists(const os::OsPorts& os, std::string_view name) {
  const auto manager = os.serviceManager.Connect(os::kScManagerConnect);
  return manager && manager->OpenExisting(name, os::kServiceQueryConfig);
}

bool InstallService(const os::OsPorts& os, const ServiceInstallInfo& info,
                    std::uint32_t serviceType, std::uint32_t startType,
                    std::string_view dependencies, std::string_view account,
                    std::string_view password) {
  if (ServiceExists(os, info.name)) return false;

  const auto manager = os.serviceManager.Connect(os::kScManagerCreateService);
  if (!manager) {
    PrintError(os, "OpenSCManager", manager.error());
    return false;
  }

  os::ServiceCreation creation;
  creation.name = info.name;
  creation.displayName = info.displayName;
  creation.access = os::kServiceAllAccess;
  creation.serviceType = serviceType;
  creation.startType = startType;
  creation.errorControl = kServiceErrorNormal;
  creation.binaryPath = QuotedIfSpaced(CutToUtf16Units(os.system.ExecutablePath(), kExecutablePathUnits));
  creation.dependencies = dependencies;
  creation.account = account;
  creation.password = password;
  const auto service = manager->AddService(creation);
  if (!service) {
    PrintError(os, "CreateService", service.error());
    return false;
  }
  // The system's default list would let every interactive user send the agent's controls.
  // A failure is reported but keeps the installation: the service narrows its own list when
  // it starts.
  const os::OsError securityError = service->SetSecurity(os::kServiceDacl);
  if (securityError != os::kSuccess) PrintError(os, "SetServiceObjectSecurity", securityError);
  if (!info.description.empty()) {
    // The service works without its description; a failure here is not worth an install error.
    (void)service->SetDescription(info.description);
  }
  return true;
}

bool RemoveService(const os::OsPorts& os, std::string_view name, bool stopFirst) {
  const auto manager = os.serviceManager.Connect(os::kScManagerConnect);
  if (!manager) {
    PrintError(os, "OpenSCManager", manager.error());
    return false;
  }
  const auto service = manager->OpenExisting(name, os::kDeleteAccess | os::kServiceStop);
  if (!service) {
    PrintError(os, "OpenService", service.error());
    return false;
  }
  if (stopFirst) {
    os::ServiceStatusRecord status;
    (void)service->Control(kControlStop, status);
  }
  const os::OsError error = service->Delete();
  if (error != os::kSuccess) {
    PrintError(os, "DeleteService", error);
    return false;
  }
  return true;
}

bool RegisterEventSource(const os::OsPorts& os, std::string_view source,
                         std::string_view messageFile) {
  const std::string path = std::string(kApplicationLogSources).append(source);
  const auto root = os::RegistryRoot::LocalMachine;
  os::OsError error = os.registry.CreateKey(root, path);
  if (error == os::kSuccess) {
    std::u16string file = Utf8ToUtf16(messageFile);
    file.push_back(u'\0');
    error = os.registry.SetValue(root, path, "EventMessageFile", os::RegistryType::ExpandString,
                                 Utf16ToLeBytes(file));
  }
  if (error == os::kSuccess) {
    const std::uint8_t types[4] = {kEventTypesSupported, 0, 0, 0};
    error = os.registry.SetValue(root, path, "TypesSupported", os::RegistryType::Dword, types);
  }
  if (error != os::kSuccess) {
    PrintError(os, "RegisterEventSource", error);
    return false;
  }
  return true;
}

void UnregisterEventSource(const os::OsPorts& os, std::string_view source) {
  const std::string path = std::string(kApplicationLogSources).append(source);
  (void)os.registry.DeleteKeyTree(os::RegistryRoot::LocalMachine, path);
}

}  // namespace orv
