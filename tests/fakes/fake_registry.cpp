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

os::OsError FakeRegistry::FailureFor(const std::string& normalisedPath) const {
  if (failingKey_.empty()) return os::kSuccess;
  const bool under = normalisedPath == failingKey_ || normalisedPath.starts_with(failingKey_ + "\\");
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

FakeRegistry::KeyUses FakeRegistry::Uses(std::string_view path) const {
  std::lock_guard lock(mutex_);
  const auto it = uses_.find(Normalize(os::RegistryRoot::LocalMachine, path));
  return it == uses_.end() ? KeyUses{} : it->second;
}

FakeRegistry::KeyUses FakeRegistry::TotalUses() const {
  std::lock_guard lock(mutex_);
  KeyUses total;
  for (const auto& [path, uses] : uses_) {
    total = {total.opens + uses.opens, total.reads + uses.reads, total.writes + uses.writes,
             total.deletes + uses.deletes};
  }
  return total;
}

std::map<std::string, FakeRegistry::KeyUses> FakeRegistry::UsesByKey() const {
  std::lock_guard lock(mutex_);
  return uses_;
}

void FakeRegistry::ResetUses() {
  std::lock_guard lock(mutex_);
  uses_.clear();
}

os::OsError FakeRegistry::Open(os::RegistryRoot root, std::string_view path, os::RegistryAccess access) {
  ++uses_[Normalize(root, path)].opens;
  if (const os::OsError failure = FailureFor(Normalize(root, path)); failure != os::kSuccess) return failure;
  Key* key = Find(root, path);
  if (key == nullptr) return os::kErrorFileNotFound;
  if (access == os::RegistryAccess::AllAccess && key->readOnly) return os::kErrorAccessDenied;
  return os::kSuccess;
}

os::OsError FakeRegistry::Query(const std::string& path, std::string_view name, os::RegistryValue& out) {
  ++uses_[path].reads;
  if (const os::OsError failure = FailureFor(path); failure != os::kSuccess) return failure;
  const auto key = keys_.find(path);
  if (key == keys_.end()) return os::kErrorKeyDeleted;
  const auto it = key->second.values.find(AsciiLower(name));
  if (it == key->second.values.end()) return os::kErrorFileNotFound;
  out = it->second;
  return os::kSuccess;
}

os::OsError FakeRegistry::Set(const std::string& path, bool allAccess, std::string_view name, os::RegistryType type,
                              std::span<const std::uint8_t> data) {
  ++uses_[path].writes;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(path); failure != os::kSuccess) return failure;
  if (writeFailure_ != os::kSuccess) return writeFailure_;
  if (!allAccess) return os::kErrorAccessDenied;
  const auto key = keys_.find(path);
  if (key == keys_.end()) return os::kErrorKeyDeleted;
  key->second.values[AsciiLower(name)] = {type, {data.begin(), data.end()}};
  Changed(path);
  return os::kSuccess;
}

os::OsError FakeRegistry::Delete(const std::string& path, bool allAccess, std::string_view name) {
  ++uses_[path].deletes;
  ++changeAttempts_;
  if (const os::OsError failure = FailureFor(path); failure != os::kSuccess) return failure;
  if (!allAccess) return os::kErrorAccessDenied;
  const auto key = keys_.find(path);
  if (key == keys_.end()) return os::kErrorKeyDeleted;
  if (key->second.values.erase(AsciiLower(name)) != 1) return os::kErrorFileNotFound;
  Changed(path);
  return os::kSuccess;
}

os::OsError FakeRegistry::Enumerate(const std::string& path, std::vector<std::string>& names) {
  ++uses_[path].reads;
  if (const os::OsError failure = FailureFor(path); failure != os::kSuccess) return failure;
  if (keys_.find(path) == keys_.end()) return os::kErrorKeyDeleted;
  const std::string prefix = path + "\\";
  for (const auto& [full, key] : keys_) {
    if (full.starts_with(prefix) && full.find('\\', prefix.size()) == std::string::npos) {
      names.push_back(key.name);
    }
  }
  return os::kSuccess;
}

// An opening kept by the agent; it reaches the key by its path, so a key deleted meanwhile
// fails its calls as a deleted key does on Windows, and so does one created anew at that path.
class FakeRegistryKey final : public os::RegistryKey {
 public:
  FakeRegistryKey(FakeRegistry& registry, std::string path, bool allAccess)
      : registry_(registry), path_(std::move(path)), allAccess_(allAccess), instance_(registry.instances_[path_]) {}

  os::OsError QueryValue(std::string_view name, os::RegistryValue& out) override {
    std::lock_guard lock(registry_.mutex_);
    return Stale() ? os::kErrorKeyDeleted : registry_.Query(path_, name, out);
  }
  os::OsError SetValue(std::string_view name, os::RegistryType type, std::span<const std::uint8_t> data) override {
    std::lock_guard lock(registry_.mutex_);
    return Stale() ? os::kErrorKeyDeleted : registry_.Set(path_, allAccess_, name, type, data);
  }
  os::OsError DeleteValue(std::string_view name) override {
    std::lock_guard lock(registry_.mutex_);
    return Stale() ? os::kErrorKeyDeleted : registry_.Delete(path_, allAccess_, name);
  }
  os::OsError EnumSubKeys(std::vector<std::string>& names) override {
    std::lock_guard lock(registry_.mutex_);
    return Stale() ? os::kErrorKeyDeleted : registry_.Enumerate(path_, names);
  }

 private:
  bool Stale() const { return registry_.instances_[path_] != instance_; }

  FakeRegistry& registry_;
  std::string path_;
  bool allAccess_;
  std::uint64_t instance_;
};

os::OsResult<os::RegistryKey> FakeRegistry::OpenKey(os::RegistryRoot root, std::string_view path,
                                                    os::RegistryAccess access) {
  std::lock_guard lock(mutex_);
  if (const os::OsError error = Open(root, path, access)) return error;
  return std::make_unique<FakeRegistryKey>(*this, Normalize(root, path), access == os::RegistryAccess::AllAccess);
}

os::OsError FakeRegistry::ProbeKey(os::RegistryRoot root, std::string_view path,
                                   os::RegistryAccess access) {
  std::lock_guard lock(mutex_);
  return Open(root, path, access);
}

os::OsError FakeRegistry::QueryValue(os::RegistryRoot root, std::string_view path,
                                     std::string_view name, os::RegistryValue& out) {
  std::lock_guard lock(mutex_);
  if (const os::OsError error = Open(root, path, os::RegistryAccess::Read)) return error;
  return Query(Normalize(root, path), name, out);
}

// A path-based change opens the key for all access first; a failed opening still counts as an
// attempted change.
os::OsError FakeRegistry::SetValue(os::RegistryRoot root, std::string_view path,
                                   std::string_view name, os::RegistryType type,
                                   std::span<const std::uint8_t> data) {
  std::lock_guard lock(mutex_);
  const os::OsError error = Open(root, path, os::RegistryAccess::AllAccess);
  changeAttempts_ += error != os::kSuccess ? 1 : 0;
  return error != os::kSuccess ? error : Set(Normalize(root, path), true, name, type, data);
}

os::OsError FakeRegistry::DeleteValue(os::RegistryRoot root, std::string_view path,
                                      std::string_view name) {
  std::lock_guard lock(mutex_);
  const os::OsError error = Open(root, path, os::RegistryAccess::AllAccess);
  changeAttempts_ += error != os::kSuccess ? 1 : 0;
  return error != os::kSuccess ? error : Delete(Normalize(root, path), true, name);
}

os::OsError FakeRegistry::EnumSubKeys(os::RegistryRoot root, std::string_view path,
                                      std::vector<std::string>& names) {
  os::OsError result = os::kSuccess;
  {
    std::lock_guard lock(mutex_);
    result = Open(root, path, os::RegistryAccess::Read);
    if (result == os::kSuccess) result = Enumerate(Normalize(root, path), names);
  }
  if (afterEnumeration) afterEnumeration(path);
  return result;
}

os::OsError FakeRegistry::CreateKey(os::RegistryRoot root, std::string_view path) {
  std::lock_guard lock(mutex_);
  ++changeAttempts_;
  if (root == os::RegistryRoot::None) return os::kErrorInvalidHandle;
  std::size_t end = 0;
  do {
    end = path.find('\\', end + 1);
    const std::string_view prefix = path.substr(0, end);
    const auto [at, created] = keys_.try_emplace(Normalize(root, prefix));
    if (created) instances_[at->first] = ++lastInstance_;
    Key& key = at->second;
    const std::size_t slash = prefix.rfind('\\');
    key.name = std::string(slash == std::string_view::npos ? prefix : prefix.substr(slash + 1));
  } while (end != std::string_view::npos);
  Changed(Normalize(root, path));
  return os::kSuccess;
}

os::OsError FakeRegistry::DeleteKeyTree(os::RegistryRoot root, std::string_view path) {
  std::lock_guard lock(mutex_);
  ++changeAttempts_;
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
