// In-memory registry: keys must exist before values are written, as on Windows, and names
// compare without regard to ASCII case.
#pragma once

#include <map>
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

  // Test set-up and inspection.
  void AddKey(std::string_view path) { CreateKey(os::RegistryRoot::LocalMachine, path); }
  bool HasKey(std::string_view path) const;
  std::optional<os::RegistryValue> Value(std::string_view path, std::string_view name) const;
  // Every later call that needs a key fails with `error` while it is set (0 clears it).
  void FailAll(os::OsError error) { failure_ = error; }
  // Keys that open for reading only (all-access opening is denied).
  void MakeReadOnly(std::string_view path);
  int calls() const { return calls_; }

 private:
  struct Key {
    std::map<std::string, os::RegistryValue> values;  // by lower-cased name
    std::map<std::string, std::string> valueNames;    // lower-cased -> as written
    std::string name;                                 // as created
    bool readOnly = false;
  };
  static std::string Normalize(os::RegistryRoot root, std::string_view path);
  Key* Find(os::RegistryRoot root, std::string_view path);

  std::map<std::string, Key> keys_;  // by normalised full path
  os::OsError failure_ = os::kSuccess;
  int calls_ = 0;
};

}  // namespace orv::fakes
