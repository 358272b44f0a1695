// oscheck layout: the storage layout's adapters as a monitoring pass calls them, one command each:
//   oscheck layout vds
//     vds TAB <ok> TAB <error, 0x%08X> TAB <disks> TAB <volumes> TAB <letters>
//   oscheck layout volume ROOT
//     space TAB <ok> TAB <error> TAB <free to caller> TAB <total> TAB <total free>
//     filesystem TAB <ok> TAB <error> TAB <name>
//   oscheck layout encryption PATH VOLUME-ID
//     load TAB <error> TAB <loaded>
//     query TAB <result> TAB <drive number, 4294967295 when untouched>
//     reload TAB <error>            (a second Load while loaded)
//     unload TAB <loaded>
//     after_unload TAB <result>
#include <cstdint>
#include <string>

#include "os/win32/encryption_library_win32.h"
#include "os/win32/virtual_disk_service_vds.h"
#include "os/win32/volume_queries_win32.h"
#include "os/win32/wide_text.h"

#include "oscheck.h"

using namespace orv;

int LayoutCheck(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  const auto arg = [argv](int i) { return win32::Narrow(argv[i]); };
  os::OsError error = 0;
  if (command == L"vds" && argc == 2) {
    os::VdsSnapshot snapshot;
    snapshot.disks.resize(1);  // must come back cleared
    const bool ok = win32::VdsDiskService().Enumerate(snapshot, error);
    Print("vds", ok, Hex(error), snapshot.disks.size(), snapshot.volumes.size(), snapshot.driveLetters.size());
  } else if (command == L"volume" && argc == 3) {
    win32::Win32VolumeQueries volumes;
    os::VolumeSpace space;
    bool ok = volumes.QuerySpace(arg(2), space, error);
    Print("space", ok, error, space.freeToCaller, space.totalBytes, space.totalFree);
    std::string name = "untouched";
    error = 0;
    ok = volumes.QueryFileSystemName(arg(2), name, error);
    Print("filesystem", ok, error, name);
  } else if (command == L"encryption" && argc == 4) {
    win32::Win32EncryptionLibrary library;
    const os::OsError loadError = library.Load(arg(2));
    Print("load", loadError, library.IsLoaded());
    std::uint32_t driveNumber = 0xFFFFFFFF;
    Print("query", library.GetDriveNoByGUID(arg(3), driveNumber), driveNumber);
    if (library.IsLoaded()) Print("reload", library.Load(arg(2)));
    library.Unload();
    Print("unload", library.IsLoaded());
    Print("after_unload", library.GetDriveNoByGUID(arg(3), driveNumber));
  } else {
    std::fprintf(stderr, "usage: oscheck layout vds | volume ROOT | encryption PATH VOLUME-ID\n");
    return 2;
  }
  return 0;
}
