// The message pool: the folder of JSON message files that the uploader sends and removes.
//
// Files are named by one running number, FileCount in the registry, shared by both kinds:
// status messages "RL[%X].json", event messages "RE[%X].json". The agent takes no lock against
// the uploader; exclusive creation and unique numbers keep the two apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "os/os_ports.h"
#include "platform/agent_event_log.h"
#include "platform/reg_handle.h"

namespace orv {

enum class MessageKind : int { Status = 1, Event = 2 };

inline constexpr std::uint64_t kPoolSizeLimitBytes = 10'485'760;
inline constexpr std::uint32_t kPoolMaxAgeDays = 30;

class MessagePool {
 public:
  MessagePool(const os::OsPorts& os, const AgentEventLog& log, std::string folder);

  const std::string& Folder() const { return folder_; }
  // Creates the folder (one level) when missing; logs a failure. True when it exists after.
  bool EnsureFolder();
  // Writes "{" CR LF + body + "}" as UTF-8 with a byte order mark into the next numbered file
  // of `kind` (1 status, 2 event). Never replaces an existing file: a number already taken
  // is skipped. False, logged, when the pool is missing or the file could not be written.
  bool Write(MessageKind kind, std::string_view body);
  // Deletes files older than 30 days, then the oldest until at most 10 MiB remain;
  // sub-folders are left alone. False when a deletion (or creating a missing pool) failed.
  bool Clean();

 private:
  std::uint32_t ReadFileCount() const;
  bool ListFiles(std::vector<os::FileEntry>& files) const;

  os::OsPorts os_;
  const AgentEventLog& log_;
  std::string folder_;
  RegHandle status_;
};

}  // namespace orv
