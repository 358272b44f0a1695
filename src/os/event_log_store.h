// Event-log reading port: queries over a channel, entries, bookmarks and rendered properties.
//
// Vocabulary: a query is a result set over one channel of the local machine, filtered by an
// XPath text and read oldest or newest first; reading it hands out entries, each an open
// handle to one event. A bookmark marks one entry of a channel and travels as the XML text the
// log renders for it. Queries, entries and bookmarks are closed when destroyed; an object is
// only ever passed back to the store that made it.
//
// Everything that decides (which entries were read, what to forward) lives above the port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "os/os_error.h"
#include "os/os_result.h"

namespace orv::os {

inline constexpr OsError kErrorInsufficientBuffer = 122;
inline constexpr OsError kErrorNotFound = 1168;
inline constexpr OsError kErrorEvtInvalidQuery = 15001;
inline constexpr OsError kErrorEvtPublisherMetadataNotFound = 15002;
inline constexpr OsError kErrorEvtChannelNotFound = 15007;
inline constexpr OsError kErrorEvtMessageNotFound = 15027;

enum class QueryDirection : std::uint8_t { OldestFirst, NewestFirst };

// The log's own seek origin numbers.
enum class SeekOrigin : std::uint32_t { First = 1, Last = 2 };

// Times are FILETIME values: 100-nanosecond units since 1601-01-01 UTC.
struct EventSystemProperties {
  std::string providerName;
  std::uint16_t eventId = 0;
  std::uint64_t timeCreated = 0;
  std::uint64_t recordId = 0;  // the entry's number in its channel, growing as entries are written
};

// One user property. Integers of every width arrive widened; types the agent does not read
// (binary, GUID, SID, arrays, ...) arrive as Other without a value.
struct EventValue {
  enum class Kind : std::uint8_t { Empty, Text, Unsigned, Signed, Other };
  Kind kind = Kind::Empty;
  std::string text;
  std::uint64_t unsignedValue = 0;
  std::int64_t signedValue = 0;

  friend bool operator==(const EventValue&, const EventValue&) = default;
};

class EventQuery {
 public:
  virtual ~EventQuery() = default;
};

class EventEntry {
 public:
  virtual ~EventEntry() = default;
};

class EventBookmark {
 public:
  virtual ~EventBookmark() = default;
};

class EventLogStore {
 public:
  virtual ~EventLogStore() = default;

  // Opens `filter` (XPath) over the channel `channel` of the local machine; the error when the
  // channel does not exist or the filter is not understood.
  virtual OsResult<EventQuery> Query(std::string_view channel, std::string_view filter,
                                     QueryDirection direction) = 0;
  // Fetches up to `maxCount` next entries, waiting at most 10 s (a stuck event-log service must
  // not hold the monitoring loop; the failure is then ERROR_TIMEOUT, 1460); `entries` is
  // cleared first and stays empty on failure; kErrorNoMoreItems when nothing is left.
  virtual OsError NextEntries(EventQuery& query, std::size_t maxCount,
                              std::vector<std::unique_ptr<EventEntry>>& entries) = 0;
  // Moves the query to `offset` entries from its first or last entry (past either end: to the
  // end entry itself); the position is unchanged on failure.
  virtual OsError Seek(EventQuery& query, SeekOrigin origin, std::int64_t offset) = 0;
  // Moves the query to `offset` entries from the bookmarked one. As on Windows, a target past
  // the last entry lands ON the last entry, so offset 1 from the newest entry yields it again.
  virtual OsError SeekToBookmark(EventQuery& query, const EventBookmark& bookmark,
                                 std::int64_t offset) = 0;
  // A bookmark from its rendered text, or an empty bookmark for empty text; the error when the
  // text is not a bookmark.
  virtual OsResult<EventBookmark> NewBookmark(std::string_view xml) = 0;
  // Makes `bookmark` mark `entry`; the bookmark is unchanged on failure.
  virtual OsError UpdateBookmark(EventBookmark& bookmark, const EventEntry& entry) = 0;
  // The bookmark's XML text; `xml` is left unchanged on failure.
  virtual OsError RenderBookmark(const EventBookmark& bookmark, std::string& xml) = 0;
  // The entry's system properties; `out` is left unchanged on failure.
  virtual OsError RenderSystem(const EventEntry& entry, EventSystemProperties& out) = 0;
  // The entry's user properties in their order; `out` is left unchanged on failure.
  virtual OsError RenderUser(const EventEntry& entry, std::vector<EventValue>& out) = 0;
  // The entry's event message through the metadata of publisher `providerName` (local
  // machine, default locale); `text` is left unchanged on failure.
  virtual OsError FormatEventMessage(const EventEntry& entry, std::string_view providerName,
                                     std::string& text) = 0;
};

}  // namespace orv::os
