#include "platform/held_keys_registry.h"

#include "platform/text_encoding.h"

namespace orv {
namespace {

std::string PathKey(std::string_view path) {
  std::string key = AsciiLower(path);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

}  // namespace

class HeldKeysRegistry::Hold final : public os::RegistryHold {
 public:
  explicit Hold(HeldKeysRegistry& registry) : registry_(registry) {}
  ~Hold() override { registry_.Release(); }

 private:
  HeldKeysRegistry& registry_;
};

std::unique_ptr<os::RegistryHold> HeldKeysRegistry::HoldKeys() {
  std::lock_guard lock(mutex_);
  if (depth_ > 0 && holder_ != std::this_thread::get_id()) return nullptr;
  holder_ = std::this_thread::get_id();
  ++depth_;
  return std::make_unique<Hold>(*this);
}

void HeldKeysRegistry::Release() {
  std::lock_guard lock(mutex_);
  if (--depth_ > 0) return;
  keys_.clear();  // only the holding thread ever reaches them, and it is here
  holder_ = {};
}

bool HeldKeysRegistry::HeldByThisThread() {
  std::lock_guard lock(mutex_);
  return depth_ > 0 && holder_ == std::this_thread::get_id();
}

HeldKeysRegistry::Route HeldKeysRegistry::Find(os::RegistryRoot root, std::string_view path,
                                               os::RegistryAccess access) {
  if (!HeldByThisThread()) return {};
  HeldKey& held = keys_[{root, PathKey(path)}];
  const auto open = [&](Opening& opening, os::RegistryAccess with) {
    if (opening.key == nullptr && opening.error == os::kSuccess) {
      os::OsResult<os::RegistryKey> result = inner_.OpenKey(root, path, with);
      opening.error = result.error();
      opening.key = std::move(result).take();
    }
    return Route{true, opening.key.get(), opening.error};
  };
  if (access == os::RegistryAccess::AllAccess || held.all.key != nullptr) return open(held.all, os::RegistryAccess::AllAccess);
  return open(held.read, os::RegistryAccess::Read);
}

void HeldKeysRegistry::Forget(os::RegistryRoot root, std::string_view path) {
  if (!HeldByThisThread()) return;
  const std::string key = PathKey(path);
  std::erase_if(keys_, [&](const auto& entry) {
    return entry.first.first == root && (entry.first.second == key || entry.first.second.starts_with(key + "\\"));
  });
}

os::OsResult<os::RegistryKey> HeldKeysRegistry::OpenKey(os::RegistryRoot root, std::string_view path,
                                                        os::RegistryAccess access) {
  return inner_.OpenKey(root, path, access);
}

os::OsError HeldKeysRegistry::ProbeKey(os::RegistryRoot root, std::string_view path, os::RegistryAccess access) {
  const Route route = Find(root, path, access);
  return route.held ? route.error : inner_.ProbeKey(root, path, access);
}

os::OsError HeldKeysRegistry::QueryValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                                         os::RegistryValue& out) {
  const Route route = Find(root, path, os::RegistryAccess::Read);
  if (!route.held) return inner_.QueryValue(root, path, name, out);
  return route.key != nullptr ? route.key->QueryValue(name, out) : route.error;
}

os::OsError HeldKeysRegistry::SetValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                                       os::RegistryType type, std::span<const std::uint8_t> data) {
  const Route route = Find(root, path, os::RegistryAccess::AllAccess);
  if (!route.held) return inner_.SetValue(root, path, name, type, data);
  return route.key != nullptr ? route.key->SetValue(name, type, data) : route.error;
}

os::OsError HeldKeysRegistry::DeleteValue(os::RegistryRoot root, std::string_view path, std::string_view name) {
  const Route route = Find(root, path, os::RegistryAccess::AllAccess);
  if (!route.held) return inner_.DeleteValue(root, path, name);
  return route.key != nullptr ? route.key->DeleteValue(name) : route.error;
}

os::OsError HeldKeysRegistry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                          std::vector<std::string>& names) {
  const Route route = Find(root, path, os::RegistryAccess::Read);
  if (!route.held) return inner_.EnumSubKeys(root, path, names);
  return route.key != nullptr ? route.key->EnumSubKeys(names) : route.error;
}

os::OsError HeldKeysRegistry::CreateKey(os::RegistryRoot root, std::string_view path) {
  Forget(root, path);  // an opening that failed for want of the key would fail on
  return inner_.CreateKey(root, path);
}

os::OsError HeldKeysRegistry::DeleteKeyTree(os::RegistryRoot root, std::string_view path) {
  Forget(root, path);  // no held opening keeps a deleted key alive
  return inner_.DeleteKeyTree(root, path);
}

os::OsResult<os::RegistryWatch> HeldKeysRegistry::Watch(os::RegistryRoot root, std::string_view path) {
  return inner_.Watch(root, path);
}

}  // namespace orv
