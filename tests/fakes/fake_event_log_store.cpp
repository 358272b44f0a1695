#include "fakes/fake_event_log_store.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <memory>
#include <optional>
#include <regex>

#include "platform/text_encoding.h"

namespace orv::fakes {

// Counts every object the store hands out, so a test can prove nothing leaks.
class FakeHandle {
 public:
  explicit FakeHandle(FakeEventLogStore& store) : store_(store) { ++store_.openHandles_; }
  FakeHandle(const FakeHandle&) = delete;
  FakeHandle& operator=(const FakeHandle&) = delete;
  ~FakeHandle() { --store_.openHandles_; }

 private:
  FakeEventLogStore& store_;
};

namespace {

// ---- The filters -------------------------------------------------------------------------
// The agent's filters select event ids, providers or both: "*", or "*[System[...]]" of
// EventID=N and Provider[@Name="x"] terms joined by "and"/"or" in parentheses. An entry matches
// when its id is one of the ids named (if any) and its provider one of those named (if any).
// Text outside that vocabulary fails the query, so a misspelt filter fails a test.

using Filter = std::function<bool(const FakeLogEntry&)>;

Filter ParseFilter(std::string_view text) {
  static const std::regex kWhole(
      R"(\s*\*\s*(\[\s*System\s*\[((\s|\(|\)|\band\b|\bor\b|EventID\s*=\s*\d+|Provider\s*\[\s*@Name\s*=\s*("[^"]*"|'[^']*')\s*\])+)\]\s*\]\s*)?)");
  static const std::regex kTerm(R"(EventID\s*=\s*(\d+)|@Name\s*=\s*["']([^"']*)["'])");
  std::cmatch whole;
  if (!std::regex_match(text.data(), text.data() + text.size(), whole, kWhole)) return {};
  std::vector<std::uint64_t> ids;
  std::vector<std::string> providers;
  const std::string terms = whole[2].str();
  for (std::sregex_iterator it(terms.begin(), terms.end(), kTerm), end; it != end; ++it) {
    if ((*it)[1].matched) ids.push_back(std::stoull((*it)[1].str()));
    if ((*it)[2].matched) providers.push_back((*it)[2].str());
  }
  return [ids, providers](const FakeLogEntry& entry) {
    return (ids.empty() || std::find(ids.begin(), ids.end(), entry.eventId) != ids.end()) &&
           (providers.empty() || std::find(providers.begin(), providers.end(), entry.provider) != providers.end());
  };
}

// ---- Handed-out objects ------------------------------------------------------------------

class FakeQuery final : public os::EventQuery {
 public:
  FakeQuery(FakeEventLogStore& store, std::string channelKey,
            Filter parsedFilter, os::QueryDirection order)
      : handle(store),
        channel(std::move(channelKey)),
        filter(std::move(parsedFilter)),
        direction(order) {}

  // True when `id` is at or beyond `bound` in this query's reading order.
  bool AtOrBeyond(std::uint64_t id, std::uint64_t bound) const {
    return direction == os::QueryDirection::OldestFirst ? id >= bound : id <= bound;
  }

  FakeHandle handle;
  std::string channel;  // lower-cased
  Filter filter;
  os::QueryDirection direction;
  // The next entry read is the first at or beyond this record id; none: the first entry.
  std::optional<std::uint64_t> cursor;
};

class FakeEntry final : public os::EventEntry {
 public:
  FakeEntry(FakeEventLogStore& store, std::string channelName, FakeLogEntry source)
      : handle(store), channel(std::move(channelName)), entry(std::move(source)) {}
  FakeHandle handle;
  std::string channel;  // as added
  FakeLogEntry entry;
};

class FakeBookmark final : public os::EventBookmark {
 public:
  explicit FakeBookmark(FakeEventLogStore& store) : handle(store) {}
  FakeHandle handle;
  std::string channel;
  std::optional<std::uint64_t> recordId;
};

FakeQuery& Of(os::EventQuery& query) { return static_cast<FakeQuery&>(query); }
const FakeEntry& Of(const os::EventEntry& entry) { return static_cast<const FakeEntry&>(entry); }
const FakeBookmark& Of(const os::EventBookmark& bookmark) {
  return static_cast<const FakeBookmark&>(bookmark);
}

// The query's result set in its reading order, as the channel holds it now.
std::vector<const FakeLogEntry*> ResultSet(const FakeQuery& query,
                                           const std::vector<FakeLogEntry>& entries) {
  std::vector<const FakeLogEntry*> result;
  for (const auto& entry : entries) {
    if (query.filter(entry)) result.push_back(&entry);
  }
  if (query.direction == os::QueryDirection::NewestFirst) {
    std::reverse(result.begin(), result.end());
  }
  return result;
}

// Past either end a seek lands on the end entry, as Windows does without EvtSeekStrict.
void PlaceAt(FakeQuery& query, const std::vector<const FakeLogEntry*>& result, std::int64_t index) {
  if (result.empty()) return;
  const auto last = static_cast<std::int64_t>(result.size()) - 1;
  query.cursor =
      result[static_cast<std::size_t>(std::clamp<std::int64_t>(index, 0, last))]->recordId;
}

std::string ValueText(const os::EventValue& value) {
  using Kind = os::EventValue::Kind;
  if (value.kind == Kind::Unsigned) return std::to_string(value.unsignedValue);
  if (value.kind == Kind::Signed) return std::to_string(value.signedValue);
  return value.kind == Kind::Text ? value.text : std::string();
}

}  // namespace

FakeEventLogStore::Channel* FakeEventLogStore::Find(std::string_view name) {
  const auto it = channels_.find(AsciiLower(name));
  return it == channels_.end() ? nullptr : &it->second;
}

void FakeEventLogStore::AddChannel(std::string_view name) {
  std::lock_guard lock(mutex_);
  channels_.try_emplace(AsciiLower(name), Channel{std::string(name), {}, 0});
}

std::uint64_t FakeEventLogStore::Append(std::string_view channel, FakeLogEntry entry) {
  std::lock_guard lock(mutex_);
  Channel& target = channels_.try_emplace(AsciiLower(channel), Channel{std::string(channel), {}, 0})
                        .first->second;
  entry.recordId = ++target.lastRecordId;
  target.entries.push_back(std::move(entry));
  return target.lastRecordId;
}

void FakeEventLogStore::AddPublisher(std::string_view provider,
                                     std::map<std::uint16_t, std::string> messages) {
  std::lock_guard lock(mutex_);
  publishers_[std::string(provider)] = std::move(messages);
}

os::OsResult<os::EventQuery> FakeEventLogStore::Query(std::string_view channel,
                                                      std::string_view filter,
                                                      os::QueryDirection direction) {
  std::lock_guard lock(mutex_);
  if (failures.query != os::kSuccess) return failures.query;
  if (Find(channel) == nullptr) return os::kErrorEvtChannelNotFound;
  Filter parsed = ParseFilter(filter);
  if (!parsed) return os::kErrorEvtInvalidQuery;
  return std::make_unique<FakeQuery>(*this, AsciiLower(channel), std::move(parsed), direction);
}

os::OsError FakeEventLogStore::NextEntries(os::EventQuery& query, std::size_t maxCount,
                                           std::vector<std::unique_ptr<os::EventEntry>>& entries) {
  entries.clear();
  std::lock_guard lock(mutex_);
  if (failures.next != os::kSuccess) return failures.next;
  if (maxCount == 0) return os::kErrorInvalidParameter;
  FakeQuery& fake = Of(query);
  const Channel* channel = Find(fake.channel);
  if (channel == nullptr) return os::kErrorNoMoreItems;
  for (const FakeLogEntry* entry : ResultSet(fake, channel->entries)) {
    if (entries.size() == maxCount) break;
    if (fake.cursor && !fake.AtOrBeyond(entry->recordId, *fake.cursor)) continue;
    entries.push_back(std::make_unique<FakeEntry>(*this, channel->name, *entry));
  }
  if (entries.empty()) return os::kErrorNoMoreItems;
  const std::uint64_t lastRead = Of(*entries.back()).entry.recordId;
  fake.cursor = fake.direction == os::QueryDirection::OldestFirst ? lastRead + 1 : lastRead - 1;
  return os::kSuccess;
}

os::OsError FakeEventLogStore::Seek(os::EventQuery& query, os::SeekOrigin origin,
                                    std::int64_t offset) {
  std::lock_guard lock(mutex_);
  if (failures.seek != os::kSuccess) return failures.seek;
  FakeQuery& fake = Of(query);
  const Channel* channel = Find(fake.channel);
  if (channel == nullptr) return os::kErrorInvalidHandle;
  const auto result = ResultSet(fake, channel->entries);
  const std::int64_t base = origin == os::SeekOrigin::First ? 0 : static_cast<std::int64_t>(result.size()) - 1;
  PlaceAt(fake, result, base + offset);
  return os::kSuccess;
}

os::OsError FakeEventLogStore::SeekToBookmark(os::EventQuery& query,
                                              const os::EventBookmark& bookmark,
                                              std::int64_t offset) {
  std::lock_guard lock(mutex_);
  if (failures.seek != os::kSuccess) return failures.seek;
  FakeQuery& fake = Of(query);
  const FakeBookmark& mark = Of(bookmark);
  if (!mark.recordId || AsciiLower(mark.channel) != fake.channel) return os::kErrorInvalidParameter;
  const Channel* channel = Find(fake.channel);
  if (channel == nullptr) return os::kErrorInvalidHandle;
  const auto result = ResultSet(fake, channel->entries);
  const auto at = std::find_if(result.begin(), result.end(), [&](const FakeLogEntry* entry) {
    return fake.AtOrBeyond(entry->recordId, *mark.recordId);
  });
  auto index = static_cast<std::int64_t>(at - result.begin());
  // A bookmarked entry outside the result set counts as sitting just before the next one, so
  // offsets 0 and 1 both reach that next entry.
  const bool present = at != result.end() && (*at)->recordId == *mark.recordId;
  if (!present && offset > 0) --index;
  PlaceAt(fake, result, index + offset);
  return os::kSuccess;
}

os::OsResult<os::EventBookmark> FakeEventLogStore::NewBookmark(std::string_view xml) {
  std::lock_guard lock(mutex_);
  if (failures.newBookmark != os::kSuccess) return failures.newBookmark;
  auto bookmark = std::make_unique<FakeBookmark>(*this);
  if (xml.empty()) return bookmark;
  static const std::regex kForm(
      R"(\s*<BookmarkList>\s*(?:<Bookmark\s+Channel='([^']*)'\s+RecordId='([0-9]+)'(?:\s+IsCurrent='true')?\s*/>\s*)?</BookmarkList>\s*)");
  std::cmatch match;
  if (!std::regex_match(xml.data(), xml.data() + xml.size(), match, kForm)) {
    return os::kErrorInvalidParameter;
  }
  if (match[2].matched) {
    bookmark->channel = match[1].str();
    bookmark->recordId.emplace();
    if (std::from_chars(match[2].first, match[2].second, *bookmark->recordId).ec != std::errc()) return os::kErrorInvalidParameter;
  }
  return bookmark;
}

os::OsError FakeEventLogStore::UpdateBookmark(os::EventBookmark& bookmark,
                                              const os::EventEntry& entry) {
  std::lock_guard lock(mutex_);
  if (failures.updateBookmark != os::kSuccess) return failures.updateBookmark;
  auto& mark = static_cast<FakeBookmark&>(bookmark);
  mark.channel = Of(entry).channel;
  mark.recordId = Of(entry).entry.recordId;
  return os::kSuccess;
}

os::OsError FakeEventLogStore::RenderBookmark(const os::EventBookmark& bookmark, std::string& xml) {
  std::lock_guard lock(mutex_);
  if (failures.renderBookmark != os::kSuccess) return failures.renderBookmark;
  const FakeBookmark& mark = Of(bookmark);
  xml = "<BookmarkList>\r\n";
  if (mark.recordId) {
    xml += "  <Bookmark Channel='" + mark.channel + "' RecordId='" +
           std::to_string(*mark.recordId) + "' IsCurrent='true'/>\r\n";
  }
  xml += "</BookmarkList>";
  return os::kSuccess;
}

os::OsError FakeEventLogStore::RenderSystem(const os::EventEntry& entry,
                                            os::EventSystemProperties& out) {
  std::lock_guard lock(mutex_);
  if (failures.render != os::kSuccess) return failures.render;
  const FakeLogEntry& source = Of(entry).entry;
  out = {source.provider, source.eventId, source.timeCreated, source.recordId};
  return os::kSuccess;
}

os::OsError FakeEventLogStore::RenderUser(const os::EventEntry& entry,
                                          std::vector<os::EventValue>& out) {
  std::lock_guard lock(mutex_);
  if (failures.render != os::kSuccess) return failures.render;
  out = Of(entry).entry.userValues;
  return os::kSuccess;
}

os::OsError FakeEventLogStore::FormatEventMessage(const os::EventEntry& entry,
                                                  std::string_view providerName,
                                                  std::string& text) {
  std::lock_guard lock(mutex_);
  if (failures.format != os::kSuccess) return failures.format;
  const auto publisher = publishers_.find(std::string(providerName));
  if (publisher == publishers_.end()) return os::kErrorEvtPublisherMetadataNotFound;
  const FakeLogEntry& source = Of(entry).entry;
  const auto message = publisher->second.find(source.eventId);
  if (message == publisher->second.end()) return os::kErrorEvtMessageNotFound;
  std::string formatted;
  const std::string& pattern = message->second;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%') {
      std::size_t number = 0;
      const char* begin = pattern.data() + i + 1;
      const auto [stop, error] = std::from_chars(begin, pattern.data() + pattern.size(), number);
      if (error == std::errc() && number >= 1 && number <= source.userValues.size()) {
        formatted += ValueText(source.userValues[number - 1]);
        i += static_cast<std::size_t>(stop - begin);
        continue;
      }
    }
    formatted += pattern[i];
  }
  text = std::move(formatted);
  return os::kSuccess;
}

}  // namespace orv::fakes
