#include "monitors/nas/vs_query.h"

#include <algorithm>
#include <map>
#include <optional>

#include "platform/service_queries.h"
#include "platform/text_encoding.h"

namespace orv {
namespace {

constexpr std::uint32_t kBootStart = 0;

// The count of living VsQuery objects, kept beside each library port object (one in the
// service; one per in-memory OS in the tests). Controller thread only: not locked.
std::map<const os::EncryptionLibrary*, int>& LivingCounts() {
  static std::map<const os::EncryptionLibrary*, int> counts;
  return counts;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// "C:\..." with an ASCII drive letter.
bool HasDriveRoot(std::string_view path) {
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && path[2] == '\\';
}

// Characters no Windows path holds, and the variable marks left unexpanded.
bool HasForbiddenCharacter(std::string_view path) {
  return std::any_of(path.begin(), path.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || c == '"' || c == '<' || c == '>' || c == '|' || c == '*' || c == '?' || c == '%';
  });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

// The folder that holds the system folder ("C:\Windows" for "C:\Windows\system32"); empty
// when the system folder is not an absolute path.
std::string WindowsFolderOf(std::string_view systemDirectory) {
  std::string_view folder = Trimmed(systemDirectory);
  if (!HasDriveRoot(folder)) return {};
  while (folder.size() > 3 && folder.back() == '\\') folder.remove_suffix(1);
  const std::size_t slash = folder.rfind('\\');
  if (slash == std::string_view::npos || slash < 2) return {};
  return std::string(folder.substr(0, slash == 2 ? 3 : slash));
}

// The executable's path in a service's command line, prefixes expanded; nullopt when it is not
// an absolute drive path.
std::optional<std::string> ExecutableOf(std::string_view commandLine, std::string_view windowsFolder) {
  const std::string_view line = Trimmed(commandLine);
  if (line.empty()) return std::nullopt;
  std::string path;
  if (line.front() == '"') {
    const std::size_t close = line.find('"', 1);
    if (close == std::string_view::npos) return std::nullopt;
    path = std::string(line.substr(1, close - 1));
  } else {
    // Unquoted: the program ends at the first ".exe" that the end or a blank follows (its
    // path may hold blanks); without one, at the first blank.
    const std::string lower = AsciiLower(line);
    std::size_t end = std::string::npos;
    for (std::size_t at = lower.find(".exe"); at != std::string::npos; at = lower.find(".exe", at + 1)) {
      if (at + 4 == line.size() || IsBlank(line[at + 4])) {
        end = at + 4;
        break;
      }
    }
    if (end == std::string::npos) end = std::min(line.find_first_of(" \t"), line.size());
    path = std::string(line.substr(0, end));
  }
  std::replace(path.begin(), path.end(), '/', '\\');

  // The kernel's and the long-path prefixes in front of a drive path.
  if (StartsWithNoCase(path, "\\?\?\\") || StartsWithNoCase(path, "\\\\?\\")) path.erase(0, 4);
  for (const std::string_view prefix : {std::string_view("%SystemRoot%"), std::string_view("%windir%"),
                                        std::string_view("\\SystemRoot")}) {
    if (!StartsWithNoCase(path, prefix)) continue;
    if (path.size() > prefix.size() && path[prefix.size()] != '\\') continue;
    if (windowsFolder.empty()) return std::nullopt;
    std::string rest = path.substr(prefix.size());
    path = std::string(windowsFolder);
    if (!path.empty() && path.back() == '\\' && !rest.empty()) rest.erase(0, 1);
    path += rest;
    break;
  }
  if (!HasDriveRoot(path) || HasForbiddenCharacter(path)) return std::nullopt;
  return path;
}

std::string LibraryIn(std::string_view folder) {
  std::string path(folder);
  if (path.back() != '\\') path += '\\';
  path += kEncryptionLibraryName;
  return path;
}

}  // namespace

std::vector<std::string> EncryptionLibraryPaths(std::string_view serviceBinaryPath,
                                                std::string_view systemDirectory) {
  std::vector<std::string> paths;
  const auto add = [&paths](std::string path) {
    const std::string lower = AsciiLower(path);
    if (std::none_of(paths.begin(), paths.end(), [&](const std::string& p) { return AsciiLower(p) == lower; })) {
      paths.push_back(std::move(path));
    }
  };
  if (const auto program = ExecutableOf(serviceBinaryPath, WindowsFolderOf(systemDirectory))) {
    const std::size_t slash = program->rfind('\\');  // at index 2 or later: the path has a drive root
    add(LibraryIn(std::string_view(*program).substr(0, slash == 2 ? 3 : slash)));
  }
  const std::string_view system = Trimmed(systemDirectory);
  if (HasDriveRoot(system) && !HasForbiddenCharacter(system)) add(LibraryIn(system));
  return paths;
}

VsQuery::VsQuery(const os::OsPorts& os, os::Event* stop) : os_(os) {
  ++LivingCounts()[&os_.encryption];
  state_ = Load(stop);
}

VsQuery::~VsQuery() {
  auto& counts = LivingCounts();
  const auto it = counts.find(&os_.encryption);
  if (it == counts.end() || --it->second > 0) return;
  counts.erase(it);
  if (os_.encryption.IsLoaded()) os_.encryption.Unload();
}

int VsQuery::LivingObjects(const os::EncryptionLibrary& library) {
  const auto& counts = LivingCounts();
  const auto it = counts.find(&library);
  return it == counts.end() ? 0 : it->second;
}

std::uint32_t VsQuery::Load(os::Event* stop) {
  if (os_.encryption.IsLoaded()) return kLoaded;  // another living object loaded it
  // One configuration read answers both questions: whether the service exists and how it starts.
  os::ServiceConfig config;
  os::OsError error = os::kSuccess;
  const bool readable = ReadServiceConfig(os_.serviceManager, kEncryptionServiceName, config, &error);
  if (error == os::kErrorServiceDoesNotExist) return kServiceNotInstalled;
  if ((!readable || config.startType == kBootStart) && !WaitUntilServiceRuns(stop)) return kNotLoadable;
  for (const std::string& path : EncryptionLibraryPaths(readable ? config.binaryPath : "", os_.system.SystemDirectory())) {
    if (os_.encryption.Load(path) == os::kSuccess) return kLoaded;
  }
  return kNotLoadable;
}

bool VsQuery::WaitUntilServiceRuns(os::Event* stop) {
  for (int test = 0; test < kServiceRunTests; ++test) {
    if (IsServiceRunning(os_.serviceManager, kEncryptionServiceName)) return true;
    if (stop == nullptr) {
      os_.clock.Sleep(kServiceRunPauseMs);
      continue;
    }
    os::Event* const stopOnly[] = {stop};
    const std::uint32_t woken = os_.sync.WaitAny(stopOnly, kServiceRunPauseMs);
    if (woken == 0) return false;
    if (woken == os::kWaitFailed) os_.clock.Sleep(kServiceRunPauseMs);  // still a pause, never a spin
  }
  return false;
}

std::uint32_t VsQuery::GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber) {
  if (!IsAvailable()) return os::kEncryptionQueryUnavailable;
  return os_.encryption.GetDriveNoByGUID(volumeId, driveNumber);
}

}  // namespace orv
