// Registry port: raw typed values in the 64-bit view. The path-based calls open and close the
// key each time; an opened key (OpenKey) serves many calls on one opening.
//
// Values travel as the bytes the registry stores (strings as UTF-16LE with terminators), so
// that decoding, size limits and multi-string splitting live above the port where host tests
// reach them. Paths and value names are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"
#include "os/synchronization.h"

namespace orv::os {

enum class RegistryRoot : std::uint8_t { None, LocalMachine, CurrentUser, Users, ClassesRoot };

// The registry's own type numbers, so stored values keep their meaning across the port.
enum class RegistryType : std::uint32_t {
  None = 0,
  String = 1,
  ExpandString = 2,
  Binary = 3,
  Dword = 4,
  MultiString = 7,
  Qword = 11,
};

enum class RegistryAccess : std::uint8_t { Read, AllAccess };

struct RegistryValue {
  RegistryType type = RegistryType::None;
  std::vector<std::uint8_t> data;
};

// A key opened for change notices. Each Arm asks for one notice: `changed` is set at the next
// change of a sub-key name or a value anywhere below the key; arm again after each notice. The
// notice request ends when the watch is destroyed.
class RegistryWatch {
 public:
  virtual ~RegistryWatch() = default;
  virtual OsError Arm(Event& changed) = 0;
};

// A key kept open: one opening for many reads and writes of its values. Calls that need more
// than the access it was opened with fail with kErrorAccessDenied; a deleted key fails them all.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Reads a whole value, whatever its size; `out` is left unchanged on failure.
  virtual OsError QueryValue(std::string_view name, RegistryValue& out) = 0;
  virtual OsError SetValue(std::string_view name, RegistryType type, std::span<const std::uint8_t> data) = 0;
  virtual OsError DeleteValue(std::string_view name) = 0;
  // Names of the direct sub-keys; `names` holds what was enumerated before a failure.
  virtual OsError EnumSubKeys(std::vector<std::string>& names) = 0;
};

// While it lives, keys stay open (see Registry::HoldKeys).
class RegistryHold {
 public:
  virtual ~RegistryHold() = default;
};

class Registry {
 public:
  virtual ~Registry() = default;

  // Opens root\path with `access` until the key object is destroyed; never creates the key.
  virtual OsResult<RegistryKey> OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access) = 0;
  // Until the hold is destroyed, each key the calling thread uses is opened once, at its first
  // use, and serves that thread's later calls; other threads open keys per call as before.
  // nullptr from a registry that opens keys per call only.
  virtual std::unique_ptr<RegistryHold> HoldKeys() { return nullptr; }

  // Opens and closes root\path with `access`; the error of the opening, kSuccess when it opened.
  virtual OsError ProbeKey(RegistryRoot root, std::string_view path, RegistryAccess access) = 0;
  // Reads a whole value, whatever its size; `out` is left unchanged on failure.
  virtual OsError QueryValue(RegistryRoot root, std::string_view path, std::string_view name,
                             RegistryValue& out) = 0;
  // Writes a value into an existing key; never creates the key (a missing key fails).
  virtual OsError SetValue(RegistryRoot root, std::string_view path, std::string_view name,
                           RegistryType type, std::span<const std::uint8_t> data) = 0;
  virtual OsError DeleteValue(RegistryRoot root, std::string_view path, std::string_view name) = 0;
  // Names of the direct sub-keys; `names` holds what was enumerated before a failure.
  virtual OsError EnumSubKeys(RegistryRoot root, std::string_view path,
                              std::vector<std::string>& names) = 0;
  // Creates root\path and its missing parents. Only installation creates keys.
  virtual OsError CreateKey(RegistryRoot root, std::string_view path) = 0;
  // Deletes root\path with everything below it. Only removal deletes keys.
  virtual OsError DeleteKeyTree(RegistryRoot root, std::string_view path) = 0;
  // Opens root\path for change notices.
  virtual OsResult<RegistryWatch> Watch(RegistryRoot root, std::string_view path) = 0;
};

}  // namespace orv::os
