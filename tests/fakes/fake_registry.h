// In-memory registry: keys must exist before values are written, as on Windows, and names
// compare without regard to ASCII case. Safe to use from several threads, as watcher threads
// read it while a test writes; a change sets the armed events of watches on the key or above.
// It counts per key what the agent costs the system: openings (each path-based call opens the
// key once), reads, writes and deletes.
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
  os::OsResult<os::RegistryKey> OpenKey(os::RegistryRoot root, std::string_view path,
                                        os::RegistryAccess access) override;
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
  // Every later call on the key at `path` (local machine) or a key below it fails with
  // `error` while it is set (0 clears it); one key at a time.
  void FailKey(std::string_view path, os::OsError error);
  // Every later write (SetValue) fails with `error` while it is set, and changes nothing.
  void FailWrites(os::OsError error) { writeFailure_ = error; }
  // Keys that open for reading only (all-access opening is denied).
  void MakeReadOnly(std::string_view path);
  // What was asked of one key (under HKLM) since the start or the last ResetUses, whether or
  // not it succeeded; sub-key listings count as reads.
  struct KeyUses {
    int opens = 0;
    int reads = 0;
    int writes = 0;
    int deletes = 0;
    friend bool operator==(const KeyUses&, const KeyUses&) = default;
  };
  KeyUses Uses(std::string_view path) const;
  // The sums over every key, and the uses of each key asked for, by its lower-cased path.
  KeyUses TotalUses() const;
  std::map<std::string, KeyUses> UsesByKey() const;
  void ResetUses();
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
  // Runs after every enumeration of sub-keys by path, on the enumerating thread and outside
  // the lock: a test's way to change the registry between two reads of another thread. Set it
  // before that thread starts.
  std::function<void(std::string_view path)> afterEnumeration;

 private:
  struct Key {
    std::map<std::string, os::RegistryValue> values;  // by lower-cased name
    std::string name;                                 // as created
    bool readOnly = false;
  };
  friend class FakeRegistryWatch;
  friend class FakeRegistryKey;
  struct Armed {
    std::string path;                 // normalised
    os::Event* changed = nullptr;     // set once at the next change; nullptr when not armed
  };
  static std::string Normalize(os::RegistryRoot root, std::string_view path);
  Key* Find(os::RegistryRoot root, std::string_view path);
  os::OsError FailureFor(const std::string& normalisedPath) const;
  void Changed(const std::string& normalisedPath);
  // The work of the calls, on a key already opened; `path` is normalised.
  os::OsError Query(const std::string& path, std::string_view name, os::RegistryValue& out);
  os::OsError Set(const std::string& path, bool allAccess, std::string_view name, os::RegistryType type,
                  std::span<const std::uint8_t> data);
  os::OsError Delete(const std::string& path, bool allAccess, std::string_view name);
  os::OsError Enumerate(const std::string& path, std::vector<std::string>& names);
  // Counts an opening of root\path; the error it gives, kSuccess when it opened.
  os::OsError Open(os::RegistryRoot root, std::string_view path, os::RegistryAccess access);

  mutable std::recursive_mutex mutex_;
  std::map<std::string, Key> keys_;  // by normalised full path
  std::map<int, Armed> watches_;
  int nextWatch_ = 0;
  std::string failingKey_;  // normalised; empty: none
  os::OsError failingKeyError_ = os::kSuccess;
  os::OsError writeFailure_ = os::kSuccess;
  std::map<std::string, KeyUses> uses_;  // by normalised path
  int changeAttempts_ = 0;
  // Which creation of the key at a normalised path is there now (an opening keeps its own).
  std::map<std::string, std::uint64_t> instances_;
  std::uint64_t lastInstance_ = 0;
};

}  // namespace orv::fakes
