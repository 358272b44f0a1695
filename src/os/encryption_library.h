// The volume-encryption product's query library, loaded into the agent's process.
//
// One adapter serves the whole process: whoever loads it shares it with every later user, and
// the last user unloads it. Counting the users is the caller's: Unload unloads at once.
#pragma once

#include <cstdint>
#include <string_view>

#include "os/os_error.h"

namespace orv::os {

// What a query answers when the library or its entry point is missing.
inline constexpr std::uint32_t kEncryptionQueryUnavailable = 5;

class EncryptionLibrary {
 public:
  virtual ~EncryptionLibrary() = default;

  virtual bool IsLoaded() const = 0;
  // Loads the library from the absolute `path` alone (never through the DLL search path) and
  // resolves its entry points; a missing entry point is not a failure, its calls answer
  // kEncryptionQueryUnavailable. Returns the load's error, 0 on success; a path that is not
  // absolute gives kErrorInvalidParameter. While loaded, a further Load keeps the library as
  // it is and succeeds.
  virtual OsError Load(std::string_view path) = 0;
  virtual void Unload() = 0;

  // The library's GetDriveNoByGUID: the zero-based drive number ("A" is 0) of the volume with
  // the identifier text `volumeId`. Returns the library's answer, 0 for success.
  virtual std::uint32_t GetDriveNoByGUID(std::string_view volumeId, std::uint32_t& driveNumber) = 0;
};

}  // namespace orv::os
