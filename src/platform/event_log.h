// EventLog: the monitors' reader of the system's event logs.
//
// Vocabulary: the reader keeps one reading position, a bookmark held as the XML text the log
// renders for it (none at first), and the rendered properties of one entry. Queries are the
// caller's: each operation takes the query it works on, nullptr standing for a query that
// could not be opened.
//
// Incremental reading: when a monitor is built it calls BookmarkNewest; each pass calls
// ReadSinceBookmark, which reads oldest first after the bookmark until nothing is left and
// then bookmarks the last entry it read. A reader whose query had no entries at start holds no
// bookmark, so its first pass reads everything.
//
// Every operation returns true on success; on failure the optional `error` receives the
// log's error code (never 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "os/event_log_store.h"

namespace orv {

class EventLog {
 public:
  // The log's own render context numbers.
  enum class Context : std::uint32_t { System = 1, User = 2 };

  // How many entries the forwarding step reads at a time.
  static constexpr std::size_t kBatchSize = 10;

  // One entry of a batch with its system properties; `system` is empty when `renderError`
  // says they could not be rendered.
  struct FetchedEntry {
    std::unique_ptr<os::EventEntry> entry;
    os::EventSystemProperties system;
    os::OsError renderError = os::kSuccess;
  };

  explicit EventLog(os::EventLogStore& store) : store_(&store) {}

  // Opens a query over `channel` of the local machine; nullptr when it cannot be opened.
  std::unique_ptr<os::EventQuery> OpenQuery(std::string_view channel, std::string_view filter,
                                            os::QueryDirection direction,
                                            os::OsError* error = nullptr) const;

  // Bookmarks the newest entry of `filter` over `channel`; none when there is none or the
  // query cannot be opened.
  void BookmarkNewest(std::string_view channel, std::string_view filter);
  // Hands every entry after the bookmark to `each`, oldest first and in batches (entries whose
  // system properties could not be rendered too: see `renderError`), then bookmarks the last
  // one read, not whatever is newest by then, so an entry written after the last fetch is
  // read by the next pass instead of skipped. False, and the bookmark kept, when the query
  // cannot be opened.
  bool ReadSinceBookmark(std::string_view channel, std::string_view filter,
                         const std::function<void(const FetchedEntry&)>& each);

  // Moves `query` to the entry after the bookmarked one. Without a bookmark or a query: false,
  // and the query stays at its first entry.
  bool SeekToBookmark(os::EventQuery* query, os::OsError* error = nullptr);
  // Bookmarks the entry at offset 0 from `origin` (callers pass Last). Drops the bookmark
  // first, so any failure leaves none; a nullptr query fails and keeps the previous bookmark.
  bool SaveBookmark(os::EventQuery* query, os::SeekOrigin origin, os::OsError* error = nullptr);
  // Bookmarks `entry` (the last one a pass read); the previous bookmark is kept on failure.
  bool SaveBookmarkAt(const os::EventEntry& entry, os::OsError* error = nullptr);

  // Drops every rendered value, then renders the system or user properties of `entry`; a
  // failed render leaves all values empty.
  bool Render(const os::EventEntry* entry, Context context, os::OsError* error = nullptr);
  // `text` is emptied first; the entry's event message through its provider's metadata.
  bool FormatEventMessage(const os::EventEntry* entry, std::string_view providerName,
                          std::string& text, os::OsError* error = nullptr) const;

  // Closes the current entry, fetches the next one (waiting without limit) as the current
  // entry and renders its system properties. False when nothing was fetched and rendered;
  // the values are then empty.
  bool Next(os::EventQuery* query, os::OsError* error = nullptr);
  // Fetches up to kBatchSize next entries (waiting without limit), each with its system
  // properties; `batch` is cleared first. False when nothing was fetched (kErrorNoMoreItems
  // at the end). The reader's own state is untouched.
  bool NextBatch(os::EventQuery* query, std::vector<FetchedEntry>& batch,
                 os::OsError* error = nullptr) const;

  bool HasBookmark() const { return bookmark_.has_value(); }
  // The bookmark text; empty without a bookmark.
  const std::string& BookmarkText() const;
  // The entry Next fetched last (even when it could not be rendered); nullptr before the
  // first Next or when the last one fetched nothing.
  const os::EventEntry* Current() const { return current_.get(); }

  const std::string& ProviderName() const { return system_.providerName; }
  std::uint16_t EventId() const { return system_.eventId; }
  std::uint64_t TimeCreated() const { return system_.timeCreated; }
  const std::vector<os::EventValue>& UserValues() const { return user_; }

 private:
  struct Bookmark {
    std::string text;
    // The bookmarked entry's record id when known: how a seek that landed back on it is told
    // from one that found a newer entry.
    std::optional<std::uint64_t> recordId;
  };

  std::optional<Bookmark> BookmarkOf(const os::EventEntry& entry, os::OsError& error) const;
  void ClearValues();

  os::EventLogStore* store_;
  std::optional<Bookmark> bookmark_;
  std::unique_ptr<os::EventEntry> current_;
  os::EventSystemProperties system_;
  std::vector<os::EventValue> user_;
};

}  // namespace orv
