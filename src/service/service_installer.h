// Installing and removing the service from the command line.
//
// Failures are printed on the console, never thrown: an installer run by hand must say what
// went wrong and end normally.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/os_ports.h"

namespace orv {

struct ServiceInstallInfo {
  static constexpr std::size_t kBufferUnits = 256;

  // Each text is cut to what a buffer of kBufferUnits UTF-16 units holds.
  ServiceInstallInfo(std::string_view name, std::string_view displayName,
                     std::string_view description = {});

  std::string name;
  std::string displayName;
  std::string description;
};

// Creates the service unless it exists; true when this call created it.
bool InstallService(const os::OsPorts& os, const ServiceInstallInfo& info,
                    std::uint32_t serviceType, std::uint32_t startType,
                    std::string_view dependencies, std::string_view account,
                    std::string_view password);
// Deletes the service; true when this call deleted it.
bool RemoveService(const os::OsPorts& os, std::string_view name, bool stopFirst);
bool ServiceExists(const os::OsPorts& os, std::string_view name);

// Registers `source` as an Application event source whose texts live in `messageFile`;
// false when the registration could not be written (reported on the console).
bool RegisterEventSource(const os::OsPorts& os, std::string_view source,
                         std::string_view messageFile);
void UnregisterEventSource(const os::OsPorts& os, std::string_view source);

// "%s failed: %s\n", or "%s failed: Unknown error %x\n" when the system has no text.
std::string FormatConsoleError(std::string_view callName, os::OsError code,
                               std::string_view systemText);

}  // namespace orv
