#include "fakes/fake_registry.h"

#include "platform/text_encoding.h"

namespace orv::fakes {

std::string FakeRegistry::Normalize(os::RegistryRoot root, std::string_view path) {
  std::string key = std::to_string(static_cast<int>(root)) + "\\" + AsciiLower(path);
  while (!key.empty() && key.back() == '\\') key.pop_back();
  return key;
}

FakeRegistry::Key* FakeRegistry::Find(os::RegistryRoot root, std::string_view path) {
  if (root == os::RegistryRoot::None) return nullptr;
  const auto it = keys_.find(Normalize(root, path));
  return it == keys_.end() ? nullptr : &it->second;
}

os::OsError FakeRegistry::FailureFor(os::RegistryRoot root, std::string_view path) const {
  if (failure_ != os::kSuccess || failingKey_.empty()) return failure_;
  const std::string key = Normalize(root, path);
  const bool under = key == failingKey_ || key.starts_with(failingKey_ + "\\");
  return under ? failingKeyError_ : os::kSuccess;
}

void FakeRegistry::FailKey(std::string_view path, os::OsError error) {
  std::lock_guard lock(mutex_);
  failingKey_ = error == os::kSuccess ? std::string() : Normalize(os::RegistryRoot::LocalMachine, path);
  failingKeyError_ = error;
}

bool FakeRegistry::HasKey(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return keys_.contains(Normalize(os::RegistryRoot::LocalMachine, path));
}

std::optional<os::RegistryValue> FakeRegistry::Value(std::string_view path,
                                                     std::string_view name) const {
  std::lock_guard lock(mutex_);
  const auto key = keys_.find(Normalize(os::RegistryRoot::LocalMachine, path));
  if (key == keys_.end()) return std::nullopt;
  const auto value = key->second.values.find(AsciiLower(name));
  if (value == key->second.values.end()) return std::nullopt;
  return value->second;
}

void FakeRegistry::MakeReadOnly(std::string_view path) {
  std::lock_guard lock(mutex_);
  if (Key* key = Find(os::RegistryRoot::LocalMachine, path)) key->readOnly = true;
}

os::OsError FakeRegistry::ProbeKey(os::RegistryRoot root, std::string_view path,
                                   os::RegistryAccess access) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  Key* key = Find(root, path);
  if (key == nullptr) return os::kErrorFileNotFound;
  if (access == os::RegistryAccess::AllAccess && key->readOnly) return os::kErrorAccessDenied;
  return os::kSuccess;
}

os::OsError FakeRegistry::QueryValue(os::RegistryRoot root, std::string_view path,
                                     std::string_view name, os::RegistryValue& out) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  Key* key = Find(root, path);
  if (key == nullptr) return os::kErrorFileNotFound;
  const auto it = key->values.find(AsciiLower(name));
  if (it == key->values.end()) return os::kErrorFileNotFound;
  out = it->second;
  return os::kSuccess;
}

os::OsError FakeRegistry::SetValue(os::RegistryRoot root, std::string_view path,
                                   std::string_view name, os::RegistryType type,
                                   std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  ++calls_;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  Key* key = Find(root, path);
  if (key == nullptr) return os::kErrorFileNotFound;
  if (key->readOnly) return os::kErrorAccessDenied;
  key->values[AsciiLower(name)] = {type, {data.begin(), data.end()}};
  key->valueNames[AsciiLower(name)] = std::string(name);
  Changed(Normalize(root, path));
  return os::kSuccess;
}

os::OsError FakeRegistry::DeleteValue(os::RegistryRoot root, std::string_view path,
                                      std::string_view name) {
  std::lock_guard lock(mutex_);
  ++calls_;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  Key* key = Find(root, path);
  if (key == nullptr) return os::kErrorFileNotFound;
  if (key->readOnly) return os::kErrorAccessDenied;
  if (key->values.erase(AsciiLower(name)) != 1) return os::kErrorFileNotFound;
  Changed(Normalize(root, path));
  return os::kSuccess;
}

os::OsError FakeRegistry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                      std::vector<std::string>& names) {
  const os::OsError result = ListSubKeys(root, path, names);
  if (afterEnumeration) afterEnumeration(path);
  return result;
}

os::OsError FakeRegistry::ListSubKeys(os::RegistryRoot root, std::string_view path,
                                      std::vector<std::string>& names) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  if (Find(root, path) == nullptr) return os::kErrorFileNotFound;
  const std::string prefix = Normalize(root, path) + "\\";
  for (const auto& [full, key] : keys_) {
    if (full.starts_with(prefix) && full.find('\\', prefix.size()) == std::string::npos) {
      names.push_back(key.name);
    }
  }
  return os::kSuccess;
}

os::OsError FakeRegistry::CreateKey(os::RegistryRoot root, std::string_view path) {
  std::lock_guard lock(mutex_);
  ++calls_;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  if (root == os::RegistryRoot::None) return os::kErrorInvalidHandle;
  std::size_t end = 0;
  do {
    end = path.find('\\', end + 1);
    const std::string_view prefix = path.substr(0, end);
    Key& key = keys_[Normalize(root, prefix)];
    const std::size_t slash = prefix.rfind('\\');
    key.name = std::string(slash == std::string_view::npos ? prefix : prefix.substr(slash + 1));
  } while (end != std::string_view::npos);
  Changed(Normalize(root, path));
  return os::kSuccess;
}

os::OsError FakeRegistry::DeleteKeyTree(os::RegistryRoot root, std::string_view path) {
  std::lock_guard lock(mutex_);
  ++calls_;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  if (Find(root, path) == nullptr) return os::kErrorFileNotFound;
  const std::string full = Normalize(root, path);
  std::erase_if(keys_, [&full](const auto& entry) {
    return entry.first == full || entry.first.starts_with(full + "\\");
  });
  Changed(full);
  return os::kSuccess;
}

class FakeRegistryWatch final : public os::RegistryWatch {
 public:
  FakeRegistryWatch(FakeRegistry& registry, int id) : registry_(registry), id_(id) {}
  ~FakeRegistryWatch() override {
    std::lock_guard lock(registry_.mutex_);
    registry_.watches_.erase(id_);
  }
  os::OsError Arm(os::Event& changed) override {
    std::lock_guard lock(registry_.mutex_);
    const auto it = registry_.watches_.find(id_);
    // A watched key that was deleted takes no more notice requests, as on Windows.
    if (registry_.keys_.find(it->second.path) == registry_.keys_.end()) return os::kErrorKeyDeleted;
    it->second.changed = &changed;
    return os::kSuccess;
  }

 private:
  FakeRegistry& registry_;
  int id_;
};

os::OsResult<os::RegistryWatch> FakeRegistry::Watch(os::RegistryRoot root, std::string_view path) {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (const os::OsError failure = FailureFor(root, path); failure != os::kSuccess) return failure;
  if (Find(root, path) == nullptr) return os::kErrorFileNotFound;
  const int id = nextWatch_++;
  watches_[id] = {Normalize(root, path), nullptr};
  return std::make_unique<FakeRegistryWatch>(*this, id);
}

void FakeRegistry::Changed(const std::string& normalisedPath) {
  for (auto& [id, armed] : watches_) {
    if (armed.changed == nullptr) continue;
    if (normalisedPath == armed.path || normalisedPath.starts_with(armed.path + "\\")) {
      armed.changed->Set();
      armed.changed = nullptr;  // one notice per request
    }
  }
}

int FakeRegistry::armedWatches() const {
  std::lock_guard lock(mutex_);
  int armed = 0;
  for (const auto& [id, watch] : watches_) armed += watch.changed != nullptr ? 1 : 0;
  return armed;
}

}  // namespace orv::fakes
