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

// ---- The XPath subset --------------------------------------------------------------------
//   query   := '*' [ '[' 'System' '[' or ']' ']' ]
//   or      := and { 'or' and }
//   and     := primary { 'and' primary }
//   primary := '(' or ')' | 'EventID' '=' number | 'Provider' '[' '@' 'Name' '=' string ']'

using Filter = std::function<bool(const FakeLogEntry&)>;

// Parses by tokens: whole words and numbers, quoted strings, single symbols. "order" is one
// word, never "or" followed by "der".
class FilterParser {
 public:
  explicit FilterParser(std::string_view text) {
    static const std::regex kToken(R"(\s*([A-Za-z0-9]+|"[^"]*"|'[^']*'|\S)\s*)");
    for (std::cregex_iterator it(text.data(), text.data() + text.size(), kToken), end; it != end; ++it) {
      tokens_.push_back((*it)[1].str());
    }
  }

  // Empty when the text is not in the subset.
  Filter Parse() {
    if (!Take("*")) return {};
    Filter root = [](const FakeLogEntry&) { return true; };
    if (next_ < tokens_.size() &&
        !(Take("[") && Take("System") && Take("[") && (root = Or()) && Take("]") && Take("]"))) {
      return {};
    }
    return next_ == tokens_.size() ? root : Filter{};
  }

 private:
  Filter Or() { return List("or", &FilterParser::And, true); }
  Filter And() { return List("and", &FilterParser::Primary, false); }

  Filter List(std::string_view word, Filter (FilterParser::*item)(), bool any) {
    std::vector<Filter> items{(this->*item)()};
    while (items.back() && Take(word)) items.push_back((this->*item)());
    if (!items.back()) return {};
    if (items.size() == 1) return items.front();
    return [items, any](const FakeLogEntry& entry) {
      const auto matches = [&entry](const Filter& f) { return f(entry); };
      return any ? std::any_of(items.begin(), items.end(), matches) : std::all_of(items.begin(), items.end(), matches);
    };
  }

  Filter Primary() {
    if (Take("(")) {
      Filter inner = Or();
      return inner && Take(")") ? inner : Filter{};
    }
    if (Take("EventID") && Take("=") && next_ < tokens_.size()) {
      const std::string& number = tokens_[next_++];
      std::uint64_t id = 0;
      const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), id);
      if (error != std::errc() || stop != number.data() + number.size()) return {};
      return [id](const FakeLogEntry& entry) { return entry.eventId == id; };
    }
    if (Take("Provider") && Take("[") && Take("@") && Take("Name") && Take("=") && next_ < tokens_.size()) {
      const std::string quoted = tokens_[next_++];
      if (quoted.size() < 2 || (quoted[0] != '"' && quoted[0] != '\'') || !Take("]")) return {};
      return [name = quoted.substr(1, quoted.size() - 2)](const FakeLogEntry& entry) { return entry.provider == name; };
    }
    return {};
  }

  bool Take(std::string_view token) {
    if (next_ == tokens_.size() || tokens_[next_] != token) return false;
    ++next_;
    return true;
  }

  std::vector<std::string> tokens_;
  std::size_t next_ = 0;
};

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
  Filter parsed = FilterParser(filter).Parse();
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
  switch (origin) {
    case os::SeekOrigin::First:
      PlaceAt(fake, result, offset);
      return os::kSuccess;
    case os::SeekOrigin::Last:
      PlaceAt(fake, result, static_cast<std::int64_t>(result.size()) - 1 + offset);
      return os::kSuccess;
  }
  return os::kErrorInvalidParameter;
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
    std::uint64_t recordId = 0;
    const auto [stop, failure] = std::from_chars(match[2].first, match[2].second, recordId);
    if (failure != std::errc() || stop != match[2].second) return os::kErrorInvalidParameter;
    bookmark->channel = match[1].str();
    bookmark->recordId = recordId;
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
