// VsQuery: the volume-encryption product's query library, as the volume list asks it for the
// drive letter of a volume the storage layout sees without one.
//
// Vocabulary: the library ("sealvol_query.dll") is one per process: the EncryptionLibrary port
// object is that library, and beside it this file keeps the count of living VsQuery objects
// over it. The first object that finds it unloaded loads it; the last one to go unloads it.
// Every object has a load state: 1 loaded, 2 not loadable (or the product's service did not
// come up), 4 the service "SEALVOLService" is not installed.
//
// The library is only ever loaded by an absolute path (a bare name would go through the DLL
// search path, where a planted library would run as LocalSystem): first from the folder of the
// service's executable, then from the system folder.
//
// Used from the controller's thread only; the count is not locked.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_ports.h"

namespace orv {

inline constexpr std::string_view kEncryptionServiceName = "SEALVOLService";
inline constexpr std::string_view kEncryptionLibraryName = "sealvol_query.dll";

// Where the library may be loaded from, in the order tried: the folder of the executable in
// `serviceBinaryPath` (the service's configured command line: quoted or not, arguments after
// the ".exe", "%SystemRoot%", "%windir%", "\SystemRoot\" and "\??\" prefixes expanded with the
// folder above `systemDirectory`), then `systemDirectory`. Only absolute paths with a drive
// letter ("C:\...") are listed: a relative, network or unparsable one is skipped, so the list
// may be empty. The same folder is listed once.
std::vector<std::string> EncryptionLibraryPaths(std::string_view serviceBinaryPath,
                                                std::string_view systemDirectory);

class VsQuery {
 public:
  enum LoadState : std::uint32_t { kLoaded = 1, kNotLoadable = 2, kServiceNotInstalled = 4 };

  static constexpr int kServiceRunTests = 50;
  static constexpr std::uint32_t kServiceRunPauseMs = 200;

  // Loads the library unless another living object has it loaded. When the product's service is
  // boot-start (or its start type cannot be read), first waits for it to run: up to 50 tests
  // with 200 ms pauses (about 10 s). `stop`, when given, must be a manual-reset event (a wait
  // would consume an auto-reset one); once it is set the wait ends at once with state 2.
  explicit VsQuery(const os::OsPorts& os, os::Event* stop = nullptr);
  VsQuery(const VsQuery&) = delete;
  VsQuery& operator=(const VsQuery&) = delete;
  // The last living object over the library unloads it.
  ~VsQuery();

  std::uint32_t LoadState() const { return state_; }
  // The load state is 1.
  bool IsAvailable() const { return state_ == kLoaded; }
  // The library's GetDriveNoByGUID for the volume identifier text: 0 and the zero-based drive
  // number ("A" is 0) on success, the library's answer otherwise; 5 when the library or its
  // entry point is missing, `driveNumber` then unchanged.
  std::uint32_t GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber);

  // How many VsQuery objects over `library` are alive (for tests and diagnostics).
  static int LivingObjects(const os::EncryptionLibrary& library);

 private:
  std::uint32_t Load(os::Event* stop);
  // True when the service ran within the tests; false when it did not or `stop` was set.
  bool WaitUntilServiceRuns(os::Event* stop);

  os::OsPorts os_;
  std::uint32_t state_ = kNotLoadable;
};

}  // namespace orv
