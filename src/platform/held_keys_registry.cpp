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
  // Only the holding thread ever reaches the keys, and it is here. Failed openings are forgotten,
  // so the next hold asks for a missing key again.
  for (auto entry = keys_.begin(); entry != keys_.end();) {
    HeldKey& held = entry->second;
    for (Opening* opening : {&held.read, &held.all}) {
      if (opening->key == nullptr) opening->error = os::kSuccess;
    }
    held.kept = true;
    entry = held.read.key == nullptr && held.all.key == nullptr ? keys_.erase(entry) : std::next(entry);
  }
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
    return Route{true, opening.key.get(), opening.error, &held};
  };
  if (access == os::RegistryAccess::AllAccess || held.all.key != nullptr) return open(held.all, os::RegistryAccess::AllAccess);
  return open(held.read, os::RegistryAccess::Read);
}

template <typename Call>
std::optional<os::OsError> HeldKeysRegistry::OnHeld(os::RegistryRoot root, std::string_view path,
                                                    os::RegistryAccess access, Call call) {
  for (int attempt = 0;; ++attempt) {
    const Route route = Find(root, path, access);
    if (!route.held) return std::nullopt;
    if (route.key == nullptr) return route.error;
    const os::OsError error = call(*route.key);
    if (error != os::kErrorKeyDeleted || attempt > 0) {
      route.entry->kept = false;
      return error;
    }
    Forget(root, path);  // the opening outlived its key: open the path as it is now
  }
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
  Route route = Find(root, path, access);
  if (!route.held) return inner_.ProbeKey(root, path, access);
  if (route.key != nullptr && route.entry->kept) {
    // A read through the kept opening tells whether its key still exists: one call, where an
    // opening and a closing would be two.
    os::RegistryValue unused;
    if (route.key->QueryValue("", unused) == os::kErrorKeyDeleted) {
      Forget(root, path);
      route = Find(root, path, access);
    } else {
      route.entry->kept = false;
    }
  }
  return route.error;
}

os::OsError HeldKeysRegistry::QueryValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                                         os::RegistryValue& out) {
  const auto held = OnHeld(root, path, os::RegistryAccess::Read,
                           [&](os::RegistryKey& key) { return key.QueryValue(name, out); });
  return held ? *held : inner_.QueryValue(root, path, name, out);
}

os::OsError HeldKeysRegistry::SetValue(os::RegistryRoot root, std::string_view path, std::string_view name,
                                       os::RegistryType type, std::span<const std::uint8_t> data) {
  const auto held = OnHeld(root, path, os::RegistryAccess::AllAccess,
                           [&](os::RegistryKey& key) { return key.SetValue(name, type, data); });
  return held ? *held : inner_.SetValue(root, path, name, type, data);
}

os::OsError HeldKeysRegistry::DeleteValue(os::RegistryRoot root, std::string_view path, std::string_view name) {
  const auto held = OnHeld(root, path, os::RegistryAccess::AllAccess,
                           [&](os::RegistryKey& key) { return key.DeleteValue(name); });
  return held ? *held : inner_.DeleteValue(root, path, name);
}

os::OsError HeldKeysRegistry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                          std::vector<std::string>& names) {
  const std::size_t before = names.size();
  const auto held = OnHeld(root, path, os::RegistryAccess::Read, [&](os::RegistryKey& key) {
    names.resize(before);  // a deleted key's listing is not kept
    return key.EnumSubKeys(names);
  });
  return held ? *held : inner_.EnumSubKeys(root, path, names);
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
