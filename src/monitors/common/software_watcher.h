// The installed-software watcher: programs installed, updated or removed while monitoring runs.
//
// It waits for change notices on the two uninstall keys (64-bit and 32-bit programs) and
// compares each key's programs with the list it kept. The lists are taken when the watcher
// starts, so what changed while monitoring was not running is not reported.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/event_queue.h"
#include "os/os_ports.h"

namespace orv {

struct SoftwareEntry {
  std::string keyName;      // the program's sub-key under the uninstall key
  std::string displayName;
  std::string displayVersion;  // empty when the program states none
};

inline constexpr std::string_view kUninstallKey64 = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::string_view kUninstallKey32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The programs under `keyPath` in enumeration order; sub-keys without a readable DisplayName
// (components, patches) are not programs.
std::vector<SoftwareEntry> ReadInstalledSoftware(os::Registry& registry, std::string_view keyPath);
// The same into `programs`; false, with `programs` empty, when `keyPath` cannot be listed.
bool ReadInstalledSoftware(os::Registry& registry, std::string_view keyPath, std::vector<SoftwareEntry>& programs);

// Posts 1140 for every program that is new or has a new version and 1150 for every program
// gone; when anything was posted, `kept` becomes the list just compared. A list that cannot
// be read is no comparison: `kept` stays for the next one. Waits a second first so that an
// installer has finished writing; a stop during that second ends the comparison unposted.
void CompareInstalledSoftware(const os::OsPorts& os, os::Event& stop, std::string_view keyPath,
                              std::vector<SoftwareEntry>& kept, EventQueue& queue);

// The watcher thread's body: runs until `stop` is set.
void RunSoftwareWatcher(const os::OsPorts& os, os::Event& stop, EventQueue& queue);

}  // namespace orv
