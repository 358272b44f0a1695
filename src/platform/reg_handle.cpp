#include "platform/reg_handle.h"

#include <utility>

#include "platform/text_encoding.h"

namespace orv {
namespace {

using os::RegistryType;
using os::RegistryValue;

bool IsStringType(RegistryType type) {
  return type == RegistryType::String || type == RegistryType::ExpandString;
}

// A stored string normally carries its terminator, but one written by another program may
// not; the text ends at the first terminator or at the end of the data, whichever comes first.
std::string DecodeStoredString(const std::vector<std::uint8_t>& data) {
  std::u16string text = Utf16FromLeBytes(data);
  if (const auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
  return Utf16ToUtf8(text);
}

std::vector<std::string> DecodeMultiString(const std::vector<std::uint8_t>& data) {
  const std::u16string text = Utf16FromLeBytes(data);
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(u'\0', start);
    if (end == std::u16string::npos) end = text.size();  // unterminated last item
    if (end == start) break;                              // the closing empty item
    items.push_back(Utf16ToUtf8(std::u16string_view(text).substr(start, end - start)));
    start = end + 1;
  }
  return items;
}

std::vector<std::uint8_t> EncodeString(std::string_view text) {
  std::u16string wide = Utf8ToUtf16(text);
  wide.push_back(u'\0');
  return Utf16ToLeBytes(wide);
}

std::vector<std::uint8_t> EncodeMultiString(std::span<const std::string> items) {
  std::u16string wide;
  for (const std::string& item : items) {
    wide += Utf8ToUtf16(item);
    wide.push_back(u'\0');
  }
  wide.push_back(u'\0');
  return Utf16ToLeBytes(wide);
}

}  // namespace

RegHandle::RegHandle(os::Registry& registry, Root root, std::string path)
    : registry_(&registry), root_(root), path_(std::move(path)) {}

bool RegHandle::IsUsable() const {
  return registry_ != nullptr && root_ != Root::None && !path_.empty();
}

std::optional<std::uint32_t> RegHandle::GetDword(os::Registry& registry, Root root, std::string_view path,
                                                 std::string_view name) {
  RegistryValue value;
  if (registry.QueryValue(root, path, name, value) != os::kSuccess ||
      value.type != RegistryType::Dword || value.data.size() != 4) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value.data[0]) |
         static_cast<std::uint32_t>(value.data[1]) << 8 |
         static_cast<std::uint32_t>(value.data[2]) << 16 |
         static_cast<std::uint32_t>(value.data[3]) << 24;
}

bool RegHandle::SetDword(os::Registry& registry, Root root, std::string_view path,
                         std::string_view name, std::uint32_t value) {
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return registry.SetValue(root, path, name, RegistryType::Dword, bytes) == os::kSuccess;
}

bool RegHandle::GetString(os::Registry& registry, Root root, std::string_view path,
                          std::string_view name, std::string& out) {
  out.clear();
  RegistryValue value;
  if (registry.QueryValue(root, path, name, value) != os::kSuccess || !IsStringType(value.type)) {
    return false;
  }
  out = DecodeStoredString(value.data);
  return true;
}

bool RegHandle::SetString(os::Registry& registry, Root root, std::string_view path,
                          std::string_view name, std::string_view text) {
  return registry.SetValue(root, path, name, RegistryType::String, EncodeString(text)) ==
         os::kSuccess;
}

bool RegHandle::GetMultiString(os::Registry& registry, Root root, std::string_view path,
                               std::string_view name, std::vector<std::string>& out) {
  out.clear();
  RegistryValue value;
  if (registry.QueryValue(root, path, name, value) != os::kSuccess ||
      value.type != RegistryType::MultiString) {
    return false;
  }
  out = DecodeMultiString(value.data);
  return true;
}

bool RegHandle::SetMultiString(os::Registry& registry, Root root, std::string_view path,
                               std::string_view name, std::span<const std::string> items) {
  return registry.SetValue(root, path, name, RegistryType::MultiString,
                           EncodeMultiString(items)) == os::kSuccess;
}

bool RegHandle::GetBinary(os::Registry& registry, Root root, std::string_view path,
                          std::string_view name, std::vector<std::uint8_t>& out) {
  RegistryValue value;
  if (registry.QueryValue(root, path, name, value) != os::kSuccess ||
      value.type != RegistryType::Binary) {
    return false;
  }
  out = std::move(value.data);
  return true;
}

bool RegHandle::SetBinary(os::Registry& registry, Root root, std::string_view path,
                          std::string_view name, std::span<const std::uint8_t> data) {
  return registry.SetValue(root, path, name, RegistryType::Binary, data) == os::kSuccess;
}

bool RegHandle::KeyExists(os::Registry& registry, Root root, std::string_view path) {
  return registry.ProbeKey(root, path, os::RegistryAccess::AllAccess) == os::kSuccess;
}

bool RegHandle::ValueExists(os::Registry& registry, Root root, std::string_view path,
                            std::string_view name) {
  RegistryValue value;
  return registry.QueryValue(root, path, name, value) == os::kSuccess;
}

bool RegHandle::DeleteValue(os::Registry& registry, Root root, std::string_view path,
                            std::string_view name) {
  return registry.DeleteValue(root, path, name) == os::kSuccess;
}

bool RegHandle::EnumSubKeys(os::Registry& registry, Root root, std::string_view path,
                            std::vector<std::string>& out) {
  out.clear();
  return registry.EnumSubKeys(root, path, out) == os::kSuccess;
}

std::optional<std::uint32_t> RegHandle::GetDword(std::string_view name) const {
  return IsUsable() ? GetDword(*registry_, root_, path_, name) : std::nullopt;
}

std::uint32_t RegHandle::GetDwordOr(std::string_view name, std::uint32_t fallback) const {
  const std::uint32_t value = GetDword(name).value_or(kMissingDword);
  return value == kMissingDword ? fallback : value;
}

bool RegHandle::SetDword(std::string_view name, std::uint32_t value) const {
  return IsUsable() && SetDword(*registry_, root_, path_, name, value);
}

bool RegHandle::GetString(std::string_view name, std::string& out) const {
  out.clear();
  return IsUsable() && GetString(*registry_, root_, path_, name, out);
}

bool RegHandle::SetString(std::string_view name, std::string_view text) const {
  return IsUsable() && SetString(*registry_, root_, path_, name, text);
}

bool RegHandle::GetMultiString(std::string_view name, std::vector<std::string>& out) const {
  out.clear();
  return IsUsable() && GetMultiString(*registry_, root_, path_, name, out);
}

bool RegHandle::SetMultiString(std::string_view name, std::span<const std::string> items) const {
  return IsUsable() && SetMultiString(*registry_, root_, path_, name, items);
}

bool RegHandle::GetBinary(std::string_view name, std::vector<std::uint8_t>& out) const {
  return IsUsable() && GetBinary(*registry_, root_, path_, name, out);
}

bool RegHandle::SetBinary(std::string_view name, std::span<const std::uint8_t> data) const {
  return IsUsable() && SetBinary(*registry_, root_, path_, name, data);
}

bool RegHandle::KeyExists() const { return IsUsable() && KeyExists(*registry_, root_, path_); }

bool RegHandle::ValueExists(std::string_view name) const {
  return IsUsable() && ValueExists(*registry_, root_, path_, name);
}

bool RegHandle::DeleteValue(std::string_view name) const {
  return IsUsable() && DeleteValue(*registry_, root_, path_, name);
}

bool RegHandle::EnumSubKeys(std::vector<std::string>& out) const {
  out.clear();
  return IsUsable() && EnumSubKeys(*registry_, root_, path_, out);
}

}  // namespace orv
