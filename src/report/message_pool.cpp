#include "report/message_pool.h"

#include <algorithm>
#include <cstdio>

#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "platform/text_encoding.h"
#include "platform/agent_event_ids.h"

namespace orv {
namespace {


// Numbers already taken are skipped; the uploader removes files long before this many pile up.
constexpr int kMaxTakenNumbersSkipped = 4096;

constexpr std::uint64_t kFileTimeUnitsPerDay = 864'000'000'000ULL;

std::string FileName(const std::string& folder, MessageKind kind, std::uint32_t number) {
  char name[32];
  std::snprintf(name, sizeof name, "\\%s[%X].json", kind == MessageKind::Status ? "RL" : "RE", number);
  return folder + name;
}

std::uint32_t Next(std::uint32_t counter) { return counter == 0xFFFFFFFF ? 0 : counter + 1; }

}  // namespace

MessagePool::MessagePool(const os::OsPorts& os, const AgentEventLog& log, std::string folder)
    : os_(os),
      log_(log),
      folder_(std::move(folder)),
      status_(os.registry, os::RegistryRoot::LocalMachine, std::string(kStatusKey)) {}

bool MessagePool::EnsureFolder() {
  if (os_.files.DirectoryExists(folder_)) return true;
  const os::OsError error = os_.files.MakeDirectory(folder_);
  if (error != os::kSuccess) {
    log_.SystemCallError(event_id::kPoolCreateFailed, "メッセージプールの作成に失敗しました。", error);
    return false;
  }
  return true;
}

std::uint32_t MessagePool::ReadFileCount() const {
  if (const std::optional<std::uint32_t> counter = status_.GetDword("FileCount")) return *counter;
  // A value that exists but cannot be read is used as 0xFFFFFFFF (and wraps to 0, as a stored
  // 0xFFFFFFFF does); only a missing value means 0.
  return status_.ValueExists("FileCount") ? RegHandle::kMissingDword : 0;
}

bool MessagePool::Write(MessageKind kind, std::string_view body) {
  if (!os_.files.DirectoryExists(folder_)) {
    log_.Error(event_id::kPoolMissing, "メッセージプールが見つかりません。");
    return false;
  }
  if (kind != MessageKind::Status && kind != MessageKind::Event) return false;

  std::string text = "{\r\n";
  text.append(body).append("}");
  // Round trip through UTF-16: any invalid sequence in the body becomes U+FFFD.
  const std::string utf8 = Utf16ToUtf8(Utf8ToUtf16(text));
  std::vector<std::uint8_t> bytes{0xEF, 0xBB, 0xBF};
  bytes.insert(bytes.end(), utf8.begin(), utf8.end());

  std::uint32_t counter = ReadFileCount();
  os::OsError error = os::kSuccess;
  // A file of this number exists only if an earlier write succeeded but its number was not
  // stored; it holds a message not yet sent, so it is kept and the next number taken. The
  // number is taken whichever kind holds it: numbers stay unique across both kinds.
  const MessageKind otherKind = kind == MessageKind::Status ? MessageKind::Event : MessageKind::Status;
  for (int skipped = 0;; ++skipped) {
    error = os_.files.FileExists(FileName(folder_, otherKind, counter))
                ? os::kErrorFileExists
                : os_.files.WriteWholeFile(FileName(folder_, kind, counter), bytes,
                                           os::CreateMode::NewOnly);
    if (error != os::kErrorFileExists || skipped == kMaxTakenNumbersSkipped) break;
    counter = Next(counter);
  }
  if (error != os::kSuccess) {
    log_.SystemCallError(event_id::kJsonWriteFailed, "JSONファイルの作成に失敗しました。", error);
    return false;
  }
  (void)status_.SetDword("FileCount", Next(counter));
  return true;
}

bool MessagePool::ListFiles(std::vector<os::FileEntry>& files) const {
  std::vector<os::FileEntry> entries;
  if (os_.files.ListDirectory(folder_, entries) != os::kSuccess) return false;
  files.clear();
  for (auto& entry : entries) {
    if (!entry.isDirectory) files.push_back(std::move(entry));
  }
  // Oldest first; equal times in name order, so a pass is repeatable.
  std::sort(files.begin(), files.end(), [](const os::FileEntry& a, const os::FileEntry& b) {
    return a.lastWriteTime != b.lastWriteTime ? a.lastWriteTime < b.lastWriteTime : a.name < b.name;
  });
  return true;
}

bool MessagePool::Clean() {
  if (!os_.files.DirectoryExists(folder_)) return EnsureFolder();

  std::vector<os::FileEntry> files;
  if (!ListFiles(files)) return false;
  const std::uint64_t now = ToFileTime(os_.clock.UtcNow());
  const std::uint64_t maxAge = kPoolMaxAgeDays * kFileTimeUnitsPerDay;
  const std::uint64_t cutoff = now > maxAge ? now - maxAge : 0;
  for (const os::FileEntry& file : files) {
    if (file.lastWriteTime >= cutoff) break;
    if (os_.files.RemoveFile(folder_ + "\\" + file.name) != os::kSuccess) return false;
  }

  if (!ListFiles(files)) return false;
  std::uint64_t total = 0;
  for (const os::FileEntry& file : files) total += file.size;
  for (const os::FileEntry& file : files) {
    if (total <= kPoolSizeLimitBytes) break;
    if (os_.files.RemoveFile(folder_ + "\\" + file.name) != os::kSuccess) return false;
    total -= file.size;
  }
  return true;
}

}  // namespace orv
