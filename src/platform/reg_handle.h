// RegHandle: the agent's only door to its registry settings and memory.
//
// Vocabulary: a handle names a root and a key path; it holds no open key, and every
// operation asks the registry for the key afresh (64-bit view), so a handle is cheap to copy
// and safe to use from any thread. Whether that opens the key is the registry's affair: while a
// monitoring round holds its keys (HeldKeysRegistry), each key is opened once per round. Keys are never created here: writing to a
// missing key fails, and the callers treat that like any failed write.
//
// Every operation comes in two forms: a member form that uses the handle's root and path and
// fails without touching the registry when either is unset, and a static form that names
// root, path and value itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "os/registry.h"

namespace orv {

class RegHandle {
 public:
  using Root = os::RegistryRoot;

  // What the agent's settings rule reads a missing DWORD as; a stored one of this value gets the
  // default too (GetDwordOr).
  static constexpr std::uint32_t kMissingDword = 0xFFFFFFFF;

  RegHandle() = default;
  RegHandle(os::Registry& registry, Root root, std::string path);
  RegHandle(const RegHandle&) = default;
  RegHandle& operator=(const RegHandle&) = default;
  virtual ~RegHandle() = default;

  Root root() const { return root_; }
  const std::string& path() const { return path_; }

  // The stored value; nullopt when the key or a 4-byte DWORD value cannot be read.
  [[nodiscard]] std::optional<std::uint32_t> GetDword(std::string_view name) const;
  // The settings rule: `fallback` when the value cannot be read or is stored as kMissingDword.
  [[nodiscard]] std::uint32_t GetDwordOr(std::string_view name, std::uint32_t fallback) const;
  bool SetDword(std::string_view name, std::uint32_t value) const;
  // `out` is cleared first; false when the key or a string value cannot be read.
  [[nodiscard]] bool GetString(std::string_view name, std::string& out) const;
  // Stored with its terminator.
  bool SetString(std::string_view name, std::string_view text) const;
  // `out` is cleared first; the items up to the first empty one.
  [[nodiscard]] bool GetMultiString(std::string_view name, std::vector<std::string>& out) const;
  // Items joined with terminators and closed by an empty item.
  bool SetMultiString(std::string_view name, std::span<const std::string> items) const;
  // The whole binary value; `out` is left unchanged on failure.
  [[nodiscard]] bool GetBinary(std::string_view name, std::vector<std::uint8_t>& out) const;
  bool SetBinary(std::string_view name, std::span<const std::uint8_t> data) const;
  // True when the key opens with all access.
  [[nodiscard]] bool KeyExists() const;
  // True when the value can be queried, whatever its type.
  [[nodiscard]] bool ValueExists(std::string_view name) const;
  bool DeleteValue(std::string_view name) const;
  // `out` is cleared first; true when the enumeration ended normally.
  [[nodiscard]] bool EnumSubKeys(std::vector<std::string>& out) const;

  [[nodiscard]] static std::optional<std::uint32_t> GetDword(os::Registry& registry, Root root,
                                                             std::string_view path, std::string_view name);
  static bool SetDword(os::Registry& registry, Root root, std::string_view path,
                       std::string_view name, std::uint32_t value);
  [[nodiscard]] static bool GetString(os::Registry& registry, Root root, std::string_view path,
                                      std::string_view name, std::string& out);
  static bool SetString(os::Registry& registry, Root root, std::string_view path,
                        std::string_view name, std::string_view text);
  [[nodiscard]] static bool GetMultiString(os::Registry& registry, Root root,
                                           std::string_view path, std::string_view name,
                                           std::vector<std::string>& out);
  static bool SetMultiString(os::Registry& registry, Root root, std::string_view path,
                             std::string_view name, std::span<const std::string> items);
  [[nodiscard]] static bool GetBinary(os::Registry& registry, Root root, std::string_view path,
                                      std::string_view name, std::vector<std::uint8_t>& out);
  static bool SetBinary(os::Registry& registry, Root root, std::string_view path,
                        std::string_view name, std::span<const std::uint8_t> data);
  [[nodiscard]] static bool KeyExists(os::Registry& registry, Root root, std::string_view path);
  [[nodiscard]] static bool ValueExists(os::Registry& registry, Root root, std::string_view path,
                                        std::string_view name);
  static bool DeleteValue(os::Registry& registry, Root root, std::string_view path,
                          std::string_view name);
  [[nodiscard]] static bool EnumSubKeys(os::Registry& registry, Root root, std::string_view path,
                                        std::vector<std::string>& out);

 private:
  bool IsUsable() const;

  os::Registry* registry_ = nullptr;
  Root root_ = Root::None;
  std::string path_;
};

}  // namespace orv
