// The encrypted volume monitor: the volume-encryption product's Application-log records of a
// volume encrypted, decrypted, locked or unlocked, each reported as one event 5050.
//
// The position in the log is taken when the monitor is built, so only records written after
// the agent started are reported; each Check reads the records written since the last one.
#pragma once

#include <string>
#include <string_view>

#include "model/event_queue.h"
#include "os/os_ports.h"
#include "platform/event_log.h"

namespace orv {

inline constexpr std::string_view kEncryptionLogChannel = "Application";
inline constexpr std::string_view kEncryptionProvider = "SEALVOL";
inline constexpr std::string_view kEncryptionRecords =
    "*[System[((EventID=1003 or EventID=2003 or EventID=6000 or EventID=7000) and Provider[@Name=\"SEALVOL\"])]]";

// The volume a record's message names: the two characters after the first "Volume "; without
// one, the characters at positions 6 and 7. Characters are counted as the system's UTF-16 text
// counts them (so "ボリューム D:" gives "D:"); a message too short to hold them, or a position
// that would split a character, gives an empty text.
std::string VolumeTextIn(std::string_view message);

class EncryptedVolumeMonitor {
 public:
  // Bookmarks the newest record of the query (none when there is none or the log fails).
  EncryptedVolumeMonitor(const os::OsPorts& os, EventQueue& queue);

  // Reads the records after the stored position in batches of 10, posts one 5050 event per
  // "SEALVOL" record in log order, and stores the position of the last record read. A query
  // that cannot be opened reports nothing and keeps the position.
  void Check();

 private:
  void Report(const EventLog::FetchedEntry& fetched) const;

  os::OsPorts os_;
  EventQueue& queue_;
  EventLog log_;
};

}  // namespace orv
