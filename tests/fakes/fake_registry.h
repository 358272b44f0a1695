// In-memory registry: keys must exist before values are written, as on Windows, and names
// compare without regard to ASCII case. Safe to use from several threads, as watcher threads
// read it while a test writes; a change sets the armed events of watches on the key or above.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "os/registry.h"

namespace orv::fakes {

class FakeRegistry final : public os::Registry {
 public:
  os::OsError ProbeKey(os::RegistryRoot root, std::string_view path,
                       os::RegistryAccess access) override;
  os::OsError QueryValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                         os::RegistryValue& out) override;
  os::OsError SetValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                       os::RegistryType type, std::span<const std::uint8_t> data) override;
  os::OsError DeleteValue(os::RegistryRoot root, std::string_view path,
                          std::string_view name) override;
  os::OsError EnumSubKeys(os::RegistryRoot root, std::string_view path,
                          std::vector<std::string>& names) override;
  os::OsError CreateKey(os::RegistryRoot root, std::string_view path) override;
  os::OsError DeleteKeyTree(os::RegistryRoot root, std::string_view path) override;
  os::OsResult<os::RegistryWatch> Watch(os::RegistryRoot root, std::string_view path) override;

  // Test set-up and inspection.
  void AddKey(std::string_view path) { CreateKey(os::RegistryRoot::LocalMachine, path); }
  bool HasKey(std::string_view path) const;
  std::optional<os::RegistryValue> Value(std::string_view path, std::string_view name) const;
  // Every later call that needs a key fails with `error` while it is set (0 clears it).
  void FailAll(os::OsError error) { failure_ = error; }
  // Every later call on the key at `path` (local machine) or a key below it fails with
  // `error` while it is set (0 clears it); one key at a time.
  void FailKey(std::string_view path, os::OsError error);
  // Keys that open for reading only (all-access opening is denied).
  void MakeReadOnly(std::string_view path);
  int calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  // Calls that set, delete or create anything, whether or not they succeeded.
  int changeAttempts() const {
    std::lock_guard lock(mutex_);
    return changeAttempts_;
  }
  // Runs `writes` as one change: a watcher woken by them reads only after the last one.
  template <typename Writes>
  void Atomically(Writes writes) {
    std::lock_guard lock(mutex_);
    writes();
  }
  // How many watches are armed now.
  int armedWatches() const;
  // Runs after every enumeration of sub-keys, on the enumerating thread and outside the lock:
  // a test's way to change the registry between two reads of another thread. Set it before
  // that thread starts.
  std::function<void(std::string_view path)> afterEnumeration;

 private:
  struct Key {
    std::map<std::string, os::RegistryValue> values;  // by lower-cased name
    std::map<std::string, std::string> valueNames;    // lower-cased -> as written
    std::string name;                                 // as created
    bool readOnly = false;
  };
  friend class FakeRegistryWatch;
  struct Armed {
    std::string path;                 // normalised
    os::Event* changed = nullptr;     // set once at the next change; nullptr when not armed
  };
  static std::string Normalize(os::RegistryRoot root, std::string_view path);
  Key* Find(os::RegistryRoot root, std::string_view path);
  os::OsError ListSubKeys(os::RegistryRoot root, std::string_view path, std::vector<std::string>& names);
  os::OsError FailureFor(os::RegistryRoot root, std::string_view path) const;
  void Changed(const std::string& normalisedPath);

  mutable std::recursive_mutex mutex_;
  std::map<std::string, Key> keys_;  // by normalised full path
  std::map<int, Armed> watches_;
  int nextWatch_ = 0;
  os::OsError failure_ = os::kSuccess;
  std::string failingKey_;  // normalised; empty: none
  os::OsError failingKeyError_ = os::kSuccess;
  int calls_ = 0;
  int changeAttempts_ = 0;
};

}  // namespace orv::fakes
