#include "fakes/fake_file_system.h"

#include <algorithm>

#include "platform/calendar.h"
#include "platform/text_encoding.h"

namespace orv::fakes {

std::string FakeFileSystem::Key(std::string_view path) {
  std::string key = AsciiLower(path);
  while (key.size() > 3 && key.back() == '\\') key.pop_back();
  return key;
}

std::string FakeFileSystem::Parent(const std::string& key) {
  const std::size_t slash = key.rfind('\\');
  return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

std::uint64_t FakeFileSystem::Now() { return ToFileTime(clock_.UtcNow()); }

bool FakeFileSystem::Exists(std::string_view path, bool directory) const {
  std::lock_guard lock(mutex_);
  const auto it = nodes_.find(Key(path));
  return it != nodes_.end() && it->second.isDirectory == directory;
}

bool FakeFileSystem::IsLink(std::string_view path) {
  std::lock_guard lock(mutex_);
  return links.contains(Key(path)) && nodes_.contains(Key(path));
}

os::OsError FakeFileSystem::MakeDirectory(std::string_view path) {
  std::lock_guard lock(mutex_);
  ++changeAttempts_;
  if (makeDirectoryError != os::kSuccess) return makeDirectoryError;
  const std::string key = Key(path);
  if (nodes_.contains(key)) return os::kErrorAlreadyExists;
  const auto parent = nodes_.find(Parent(key));
  if (parent == nodes_.end() || !parent->second.isDirectory) return 3;  // path not found
  nodes_[key] = {std::string(path), true, {}, Now()};
  return os::kSuccess;
}

os::OsError FakeFileSystem::WriteWholeFile(std::string_view path,
                                           std::span<const std::uint8_t> data,
                                           os::CreateMode mode) {
  std::lock_guard lock(mutex_);
  ++changeAttempts_;
  if (writeError != os::kSuccess) return writeError;
  const std::string key = Key(path);
  const auto parent = nodes_.find(Parent(key));
  if (parent == nodes_.end() || !parent->second.isDirectory) return 3;  // path not found
  const auto existing = nodes_.find(key);
  if (existing != nodes_.end()) {
    if (holds_.contains(key)) return os::kErrorSharingViolation;
    if (existing->second.isDirectory) return os::kErrorAccessDenied;
    if (mode == os::CreateMode::NewOnly) return os::kErrorFileExists;
  }
  nodes_[key] = {std::string(path), false, std::string(data.begin(), data.end()), Now()};
  return os::kSuccess;
}

os::OsError FakeFileSystem::ReadWholeFile(std::string_view path, std::vector<std::uint8_t>& out) {
  std::lock_guard lock(mutex_);
  const auto it = nodes_.find(Key(path));
  if (it == nodes_.end()) return os::kErrorFileNotFound;
  if (it->second.isDirectory) return os::kErrorAccessDenied;
  out.assign(it->second.data.begin(), it->second.data.end());
  return os::kSuccess;
}

os::OsError FakeFileSystem::ListDirectory(std::string_view path,
                                          std::vector<os::FileEntry>& entries) {
  std::function<void(const std::string&)> hook;
  os::OsError error = os::kSuccess;
  {
    std::lock_guard lock(mutex_);
    hook = afterListing;
    error = ListLocked(Key(path), entries);
  }
  // Another process acts once the listing is done, without the lock.
  if (hook) hook(std::string(path));
  return error;
}

os::OsError FakeFileSystem::ListLocked(const std::string& key, std::vector<os::FileEntry>& entries) {
  const auto folder = nodes_.find(key);
  if (folder == nodes_.end() || !folder->second.isDirectory) return 3;
  for (const auto& [childKey, node] : nodes_) {
    if (Parent(childKey) != key || childKey == key) continue;
    const std::size_t slash = node.path.rfind('\\');
    entries.push_back({node.path.substr(slash + 1), node.isDirectory, node.data.size(),
                       node.lastWriteTime, links.contains(childKey)});
  }
  return os::kSuccess;
}

os::OsError FakeFileSystem::RemoveFile(std::string_view path) {
  std::lock_guard lock(mutex_);
  return RemoveLocked(Key(path), false, false);
}

os::OsError FakeFileSystem::RemoveEmptyDirectory(std::string_view path) {
  std::lock_guard lock(mutex_);
  return RemoveLocked(Key(path), true, false);
}

os::OsError FakeFileSystem::RemoveLocked(const std::string& key, std::optional<bool> directory, bool throughHold) {
  ++changeAttempts_;
  const auto it = nodes_.find(key);
  if (it == nodes_.end()) return os::kErrorFileNotFound;
  if ((directory && it->second.isDirectory != *directory) || undeletable.contains(key)) return os::kErrorAccessDenied;
  if (!throughHold && holds_.contains(key)) return os::kErrorSharingViolation;
  if (links.erase(key) != 0) {
    // The link alone: what it stood for stays where it is, out of view.
    std::erase_if(nodes_, [&key](const auto& entry) {
      return entry.first == key || entry.first.starts_with(key + "\\");
    });
    return os::kSuccess;
  }
  if (it->second.isDirectory) {
    for (const auto& [other, node] : nodes_) {
      if (other != key && Parent(other) == key) return 145;  // the folder is not empty
    }
  } else {
    removedFiles.push_back(it->second.path);
  }
  nodes_.erase(it);
  security_.erase(key);
  return os::kSuccess;
}

void FakeFileSystem::AddDirectory(std::string_view path) {
  std::lock_guard lock(mutex_);
  std::size_t end = 0;
  do {
    end = path.find('\\', end + 1);
    const std::string_view prefix = path.substr(0, end);
    auto& node = nodes_[Key(prefix)];
    node.path = std::string(prefix);
    node.isDirectory = true;
  } while (end != std::string_view::npos);
}

void FakeFileSystem::AddFile(std::string_view path, std::string_view content,
                             std::uint64_t lastWriteTime) {
  const std::string key = Key(path);
  AddDirectory(std::string_view(path).substr(0, path.rfind('\\')));
  std::lock_guard lock(mutex_);
  nodes_[key] = {std::string(path), false, std::string(content),
                 lastWriteTime != 0 ? lastWriteTime : Now()};
}

std::optional<std::string> FakeFileSystem::Content(std::string_view path) const {
  std::lock_guard lock(mutex_);
  const auto it = nodes_.find(Key(path));
  if (it == nodes_.end() || it->second.isDirectory) return std::nullopt;
  return it->second.data;
}

std::vector<std::string> FakeFileSystem::FilesIn(std::string_view folder) const {
  std::lock_guard lock(mutex_);
  const std::string key = Key(folder);
  std::vector<std::string> files;
  for (const auto& [childKey, node] : nodes_) {
    if (!node.isDirectory && Parent(childKey) == key) files.push_back(node.path);
  }
  return files;
}

os::OsError FakeFileSystem::WriteNewSecuredFile(std::string_view path,
                                                std::span<const std::uint8_t> data,
                                                std::string_view sddl) {
  const os::OsError error = WriteWholeFile(path, data, os::CreateMode::NewOnly);
  if (error != os::kSuccess) return error;
  std::lock_guard lock(mutex_);
  security_[Key(path)] = std::string(sddl);
  return os::kSuccess;
}

os::OsError FakeFileSystem::ReplaceWith(std::string_view from, std::string_view to) {
  if (beforeReplace) beforeReplace();
  std::lock_guard lock(mutex_);
  ++changeAttempts_;
  if (replaceError != os::kSuccess) return replaceError;
  const std::string fromKey = Key(from);
  const std::string toKey = Key(to);
  const auto source = nodes_.find(fromKey);
  if (source == nodes_.end()) return os::kErrorFileNotFound;
  const auto target = nodes_.find(toKey);
  if (source->second.isDirectory || (target != nodes_.end() && target->second.isDirectory)) {
    return os::kErrorAccessDenied;
  }
  Node moved = source->second;
  moved.path = std::string(to);
  nodes_.erase(source);
  nodes_[toKey] = std::move(moved);
  const auto secured = security_.find(fromKey);
  if (secured == security_.end()) {
    security_.erase(toKey);
  } else {
    security_[toKey] = secured->second;
    security_.erase(secured);
  }
  return os::kSuccess;
}

std::optional<std::string> FakeFileSystem::SecurityOf(std::string_view path) const {
  std::lock_guard lock(mutex_);
  const auto it = security_.find(Key(path));
  if (it == security_.end()) return std::nullopt;
  return it->second;
}

// --- Holding what the agent checks ---

class FakeFileSystem::Held final : public os::HeldPath {
 public:
  Held(FakeFileSystem& files, std::string key, bool link) : files_(files), key_(std::move(key)), link_(link) {}
  ~Held() override { files_.Release(key_); }

  bool IsLink() override { return link_; }
  os::PathOwner Owner() override {
    std::lock_guard lock(files_.mutex_);
    const auto it = files_.owners.find(key_);
    return it == files_.owners.end() ? os::PathOwner::Administrators : it->second;
  }
  os::OsError MoveTo(std::string_view path) override {
    std::lock_guard lock(files_.mutex_);
    ++files_.changeAttempts_;
    const std::string to = Key(path);
    if (files_.nodes_.contains(to)) return os::kErrorAlreadyExists;
    if (!files_.nodes_.contains(Parent(to))) return 3;
    // Every key at or below the held path, renamed; what is elsewhere keeps its key.
    const auto moved = [this, &to](const std::string& key) {
      return key == key_ || key.starts_with(key_ + "\\") ? to + key.substr(key_.size()) : key;
    };
    std::map<std::string, Node> nodes;
    std::set<std::string> movedLinks, movedFolders;
    std::map<std::string, os::PathOwner> movedOwners;
    for (auto& [key, node] : files_.nodes_) {
      if (moved(key) != key) node.path = std::string(path) + node.path.substr(std::min(node.path.size(), key_.size()));
      nodes[moved(key)] = std::move(node);
    }
    for (const std::string& key : files_.links) movedLinks.insert(moved(key));
    for (const std::string& key : files_.privateFolders) movedFolders.insert(moved(key));
    for (const auto& [key, owner] : files_.owners) movedOwners[moved(key)] = owner;
    files_.nodes_ = std::move(nodes);
    files_.links = std::move(movedLinks);
    files_.privateFolders = std::move(movedFolders);
    files_.owners = std::move(movedOwners);
    files_.holds_.erase(key_);
    key_ = to;
    ++files_.holds_[key_];
    return os::kSuccess;
  }
  os::OsError Remove() override {
    std::lock_guard lock(files_.mutex_);
    return files_.RemoveLocked(key_, std::nullopt, true);
  }

 private:
  FakeFileSystem& files_;
  std::string key_;
  bool link_;
};

class FakeFileSystem::Reading final : public os::ReadHold {
 public:
  Reading(FakeFileSystem& files, std::string key) : files_(files), key_(std::move(key)) {}
  ~Reading() override { files_.Release(key_); }

 private:
  FakeFileSystem& files_;
  std::string key_;
};

void FakeFileSystem::Release(const std::string& key) {
  std::lock_guard lock(mutex_);
  if (const auto it = holds_.find(key); it != holds_.end() && --it->second == 0) holds_.erase(it);
}

os::OsError FakeFileSystem::MakePrivateDirectory(std::string_view path) {
  const os::OsError error = MakeDirectory(path);
  if (error != os::kSuccess) return error;
  std::lock_guard lock(mutex_);
  privateFolders.insert(Key(path));
  owners[Key(path)] = ownerOfNewFolders;
  return os::kSuccess;
}

os::OsResult<os::HeldPath> FakeFileSystem::HoldPath(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  if (!nodes_.contains(key)) return os::kErrorFileNotFound;
  ++holds_[key];
  return std::make_unique<Held>(*this, key, links.contains(key));
}

os::OsResult<os::ReadHold> FakeFileSystem::HoldForReading(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  const auto it = nodes_.find(key);
  if (it == nodes_.end()) return os::kErrorFileNotFound;
  if (it->second.isDirectory) return os::kErrorAccessDenied;
  ++holds_[key];
  return std::make_unique<Reading>(*this, key);
}

os::OsError FakeFileSystem::ReplaceWithLink(std::string_view path) {
  std::lock_guard lock(mutex_);
  const std::string key = Key(path);
  if (holds_.contains(key)) return os::kErrorSharingViolation;
  std::erase_if(nodes_, [&key](const auto& entry) { return entry.first.starts_with(key + "\\"); });
  nodes_[key] = {std::string(path), true, {}, Now()};
  links.insert(key);
  return os::kSuccess;
}

bool FakeFileSystem::IsHeld(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return holds_.contains(Key(path));
}

}  // namespace orv::fakes
