// Feeds arbitrary stored registry values through RegHandle's readers: values are written by
// other programs and by hand, so no byte sequence may crash a read or yield invalid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/registry.h"
#include "platform/reg_handle.h"
#include "platform/text_encoding.h"

namespace {

class OneValueRegistry final : public orv::os::Registry {
 public:
  orv::os::RegistryValue value;

  orv::os::OsError ProbeKey(orv::os::RegistryRoot, std::string_view, orv::os::RegistryAccess) override { return 0; }
  orv::os::OsError QueryValue(orv::os::RegistryRoot, std::string_view, std::string_view,
                              orv::os::RegistryValue& out) override {
    out = value;
    return 0;
  }
  orv::os::OsError SetValue(orv::os::RegistryRoot, std::string_view, std::string_view, orv::os::RegistryType,
                            std::span<const std::uint8_t>) override {
    return 5;
  }
  orv::os::OsError DeleteValue(orv::os::RegistryRoot, std::string_view, std::string_view) override { return 5; }
  orv::os::OsError EnumSubKeys(orv::os::RegistryRoot, std::string_view, std::vector<std::string>&) override { return 0; }
  orv::os::OsError CreateKey(orv::os::RegistryRoot, std::string_view) override { return 5; }
  orv::os::OsError DeleteKeyTree(orv::os::RegistryRoot, std::string_view) override { return 5; }
  orv::os::OsResult<orv::os::RegistryWatch> Watch(orv::os::RegistryRoot, std::string_view) override { return 5; }
  // The handle under test reads by path; a kept opening is never asked for.
  orv::os::OsResult<orv::os::RegistryKey> OpenKey(orv::os::RegistryRoot, std::string_view, orv::os::RegistryAccess) override {
    return 5;
  }
};

// Structurally valid UTF-8: what a strict JSON parser downstream would accept.
bool IsValidUtf8(const std::string& text) {
  return orv::Utf16ToUtf8(orv::Utf8ToUtf16(text)) == text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  OneValueRegistry registry;
  registry.value.type = static_cast<orv::os::RegistryType>(data[0] % 12);
  registry.value.data.assign(data + 1, data + size);
  const orv::RegHandle handle(registry, orv::os::RegistryRoot::LocalMachine, "SOFTWARE\\ORVANE");

  std::string text;
  if (handle.GetString("v", text) && !IsValidUtf8(text)) std::abort();
  std::vector<std::string> items;
  if (handle.GetMultiString("v", items)) {
    for (const std::string& item : items) {
      if (item.empty() || !IsValidUtf8(item)) std::abort();
    }
  }
  (void)handle.GetDword("v");

  // Raw bytes taken as UTF-8 must also come out valid.
  const std::string raw(reinterpret_cast<const char*>(data), size);
  if (!IsValidUtf8(orv::Utf16ToUtf8(orv::Utf8ToUtf16(raw)))) std::abort();
  return 0;
}
