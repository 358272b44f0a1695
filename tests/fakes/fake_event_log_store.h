// In-memory event logs: channels of entries that tests append to at any time, the XPath subset
// the agent's queries use, bookmarks as the log's XML text, and injectable failures.
//
// A filter outside the agent's vocabulary fails the query (kErrorEvtInvalidQuery) instead of
// matching everything, and provider names compare exactly, as XPath does. Result sets are live: entries
// appended after a query opened are read by it when its position reaches them. Seeks behave
// as on Windows without the strict flag: a target past either end lands on the end entry.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "os/event_log_store.h"

namespace orv::fakes {

struct FakeLogEntry {
  std::string provider;
  std::uint16_t eventId = 0;
  std::uint64_t timeCreated = 0;  // FILETIME
  std::vector<os::EventValue> userValues;
  std::uint64_t recordId = 0;  // given by Append
};

class FakeEventLogStore final : public os::EventLogStore {
 public:
  os::OsResult<os::EventQuery> Query(std::string_view channel, std::string_view filter,
                                     os::QueryDirection direction) override;
  os::OsError NextEntries(os::EventQuery& query, std::size_t maxCount,
                          std::vector<std::unique_ptr<os::EventEntry>>& entries) override;
  os::OsError Seek(os::EventQuery& query, os::SeekOrigin origin, std::int64_t offset) override;
  os::OsError SeekToBookmark(os::EventQuery& query, const os::EventBookmark& bookmark,
                             std::int64_t offset) override;
  os::OsResult<os::EventBookmark> NewBookmark(std::string_view xml) override;
  os::OsError UpdateBookmark(os::EventBookmark& bookmark, const os::EventEntry& entry) override;
  os::OsError RenderBookmark(const os::EventBookmark& bookmark, std::string& xml) override;
  os::OsError RenderSystem(const os::EventEntry& entry, os::EventSystemProperties& out) override;
  os::OsError RenderUser(const os::EventEntry& entry, std::vector<os::EventValue>& out) override;
  os::OsError FormatEventMessage(const os::EventEntry& entry, std::string_view providerName,
                                 std::string& text) override;

  // Channel names compare without regard to ASCII case, as on Windows.
  void AddChannel(std::string_view name);
  // Appends to the channel (made if missing) with the next record id, which it returns.
  std::uint64_t Append(std::string_view channel, FakeLogEntry entry);
  // A publisher's message templates by event id; "%N" takes the N-th user value.
  void AddPublisher(std::string_view provider, std::map<std::uint16_t, std::string> messages);

  // Each operation fails with its error while that error is set.
  struct Failures {
    os::OsError query = os::kSuccess;
    os::OsError next = os::kSuccess;
    os::OsError seek = os::kSuccess;
    os::OsError newBookmark = os::kSuccess;
    os::OsError updateBookmark = os::kSuccess;
    os::OsError renderBookmark = os::kSuccess;
    os::OsError render = os::kSuccess;
    os::OsError format = os::kSuccess;
  };
  Failures failures;

  int openHandles() const { return openHandles_.load(); }  // queries, entries, bookmarks

 private:
  friend class FakeHandle;
  struct Channel {
    std::string name;  // as added
    std::vector<FakeLogEntry> entries;
    std::uint64_t lastRecordId = 0;
  };
  Channel* Find(std::string_view name);

  std::mutex mutex_;
  std::map<std::string, Channel> channels_;  // by lower-cased name
  std::map<std::string, std::map<std::uint16_t, std::string>> publishers_;
  std::atomic<int> openHandles_{0};
};

}  // namespace orv::fakes
