// oscheck layout: the storage layout's adapters as a monitoring pass calls them, one command each:
//   oscheck layout vds
//     vds TAB <ok> TAB <error, 0x%08X> TAB <milliseconds> TAB <disks> TAB <volumes> TAB <letters>
//   oscheck layout volume ROOT
//     space TAB <ok> TAB <error> TAB <free to caller> TAB <total> TAB <total free>
//     filesystem TAB <ok> TAB <error> TAB <name>
//   oscheck layout encryption PATH VOLUME-ID
//     load TAB <error> TAB <loaded>
//     query TAB <result> TAB <drive number, 4294967295 when untouched>
//     reload TAB <error>            (a second Load while loaded)
//     unload TAB <loaded>
//     after_unload TAB <result>
// Texts are UTF-8 with backslash, tab, CR and LF escaped.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "os/win32/encryption_library_win32.h"
#include "os/win32/virtual_disk_service_vds.h"
#include "os/win32/volume_queries_win32.h"
#include "os/win32/wide_text.h"

#include "oscheck.h"

namespace {

unsigned long Number(std::uint32_t value) { return static_cast<unsigned long>(value); }

int CheckVds() {
  orv::win32::VdsDiskService service;
  orv::os::VdsSnapshot snapshot;
  snapshot.disks.resize(1);  // must come back cleared
  orv::os::OsError error = 0;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = service.Enumerate(snapshot, error);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  std::printf("vds\t%d\t0x%08lX\t%lld\t%zu\t%zu\t%zu\n", ok ? 1 : 0, Number(error), static_cast<long long>(ms.count()),
              snapshot.disks.size(), snapshot.volumes.size(), snapshot.driveLetters.size());
  return 0;
}

int CheckVolume(const std::string& root) {
  orv::win32::Win32VolumeQueries volumes;
  orv::os::VolumeSpace space;
  orv::os::OsError error = 0;
  bool ok = volumes.QuerySpace(root, space, error);
  std::printf("space\t%d\t%lu\t%llu\t%llu\t%llu\n", ok ? 1 : 0, Number(error),
              static_cast<unsigned long long>(space.freeToCaller), static_cast<unsigned long long>(space.totalBytes),
              static_cast<unsigned long long>(space.totalFree));
  std::string name = "untouched";
  error = 0;
  ok = volumes.QueryFileSystemName(root, name, error);
  std::printf("filesystem\t%d\t%lu\t%s\n", ok ? 1 : 0, Number(error), Escaped(name).c_str());
  return 0;
}

int CheckEncryption(const std::string& path, const std::string& volumeId) {
  orv::win32::Win32EncryptionLibrary library;
  const orv::os::OsError loadError = library.Load(path);
  std::printf("load\t%lu\t%d\n", Number(loadError), library.IsLoaded() ? 1 : 0);
  std::uint32_t driveNumber = 0xFFFFFFFF;
  const std::uint32_t result = library.GetDriveNoByGUID(volumeId, driveNumber);
  std::printf("query\t%lu\t%lu\n", Number(result), Number(driveNumber));
  if (library.IsLoaded()) std::printf("reload\t%lu\n", Number(library.Load(path)));
  library.Unload();
  std::printf("unload\t%d\n", library.IsLoaded() ? 1 : 0);
  std::printf("after_unload\t%lu\n", Number(library.GetDriveNoByGUID(volumeId, driveNumber)));
  return 0;
}

}  // namespace

int LayoutCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"vds" && argc == 2) return CheckVds();
  if (command == L"volume" && argc == 3) return CheckVolume(orv::win32::Narrow(argv[2]));
  if (command == L"encryption" && argc == 4) {
    return CheckEncryption(orv::win32::Narrow(argv[2]), orv::win32::Narrow(argv[3]));
  }
  std::fprintf(stderr, "usage: oscheck layout vds | volume ROOT | encryption PATH VOLUME-ID\n");
  return 2;
}
