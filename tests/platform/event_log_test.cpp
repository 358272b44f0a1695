#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_event_log_store.h"

namespace orv {
namespace {

using os::SeekOrigin;
using Times = std::vector<std::uint64_t>;
using LogFailures = fakes::FakeEventLogStore::Failures;
using ValueKind = os::EventValue::Kind;

constexpr os::QueryDirection kOldest = os::QueryDirection::OldestFirst;

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override { store.AddChannel("Application"); }
  // Every query, entry and bookmark the reader or a test opened must be closed again.
  void TearDown() override {
    log.Next(nullptr);
    EXPECT_EQ(store.openHandles(), 0);
  }

  // Appends an entry; its time created, unique and growing, names it in the expectations.
  std::uint64_t Add(std::string provider, std::uint16_t eventId, std::vector<os::EventValue> user = {}) {
    const std::uint64_t time = 133'500'000'000'000'000 + ++written_;
    store.Append("Application", {std::move(provider), eventId, time, std::move(user), 0});
    return time;
  }
  Times ReadRest(os::EventQuery* query) {
    Times read;
    while (log.Next(query)) read.push_back(log.TimeCreated());
    return read;
  }
  std::unique_ptr<os::EventQuery> Open(std::string_view filter = "*") {
    return log.OpenQuery("Application", filter, kOldest);
  }
  // A monitor being built: bookmark the newest entry its query selects.
  bool StartReader(std::string_view filter = "*") { return log.SaveBookmark(Open(filter).get(), SeekOrigin::Last); }
  // One monitor pass, ending by bookmarking the query's last entry.
  Times Pass(std::string_view filter = "*") {
    const auto query = Open(filter);
    log.SeekToBookmark(query.get());
    Times read = ReadRest(query.get());
    log.SaveBookmark(query.get(), SeekOrigin::Last);
    return read;
  }

  fakes::FakeEventLogStore store;
  EventLog log{store};
  std::uint64_t written_ = 0;
};

TEST_F(EventLogTest, EachPassReadsOnlyWhatItsFilterSelectedSinceThePreviousOne) {
  const char* filter = R"(*[System[(EventID=1111 and Provider[@Name="ArraySetup"])]])";
  Add("ArraySetup", 1111);
  Add("ArraySetup", 1111);
  ASSERT_TRUE(StartReader(filter));
  EXPECT_EQ(log.BookmarkText(),
            "<BookmarkList>\r\n  <Bookmark Channel='Application' RecordId='2' "
            "IsCurrent='true'/>\r\n</BookmarkList>");
  EXPECT_EQ(Pass(filter), Times{}) << "nothing before the start, nor the bookmarked entry again";
  Add("Other", 1);
  const std::uint64_t fourth = Add("ArraySetup", 1111);
  Add("Other", 1111);
  const std::uint64_t sixth = Add("ArraySetup", 1111);
  EXPECT_EQ(Pass(filter), (Times{fourth, sixth}));
  Add("Other", 4);
  EXPECT_EQ(Pass(filter), Times{});
}

TEST_F(EventLogTest, AReaderStartedOnAnEmptyQueryHasNoBookmarkAndReadsEverythingFirst) {
  Add("disk", 11);  // not selected by the query
  ASSERT_TRUE(StartReader());
  os::OsError error = os::kSuccess;
  EXPECT_FALSE(log.SaveBookmark(Open("*[System[EventID=7]]").get(), SeekOrigin::Last, &error));
  EXPECT_EQ(error, os::kErrorNoMoreItems);
  EXPECT_EQ(log.BookmarkText(), "") << "an empty result drops it";

  const std::uint64_t first = Add("disk", 7);
  const std::uint64_t second = Add("Disk", 7);
  EXPECT_EQ(Pass("*[System[EventID=7]]"), (Times{first, second}));
}

TEST_F(EventLogTest, BookmarkingTheLastEntryReadKeepsEntriesWrittenDuringThePass) {
  Add("A", 1);
  ASSERT_TRUE(StartReader());
  Add("A", 2);
  const auto query = Open();
  ASSERT_TRUE(log.SeekToBookmark(query.get()));
  std::vector<EventLog::FetchedEntry> batch;
  ASSERT_TRUE(log.NextBatch(query.get(), batch));
  ASSERT_EQ(batch.size(), 1U);
  const std::uint64_t during = Add("A", 3);  // after the pass's last fetch
  ASSERT_TRUE(log.SaveBookmarkAt(*batch.back().entry));
  EXPECT_EQ(Pass(), Times{during});
}

TEST_F(EventLogTest, AFailedBookmarkStepLeavesNoneAndAFailedSeekMovesNothing) {
  const std::uint64_t first = Add("A", 1);
  const std::uint64_t second = Add("A", 2);
  os::OsError error = os::kSuccess;
  for (const auto step : {&LogFailures::seek, &LogFailures::next, &LogFailures::newBookmark,
                          &LogFailures::updateBookmark, &LogFailures::renderBookmark}) {
    ASSERT_TRUE(StartReader());
    const auto query = Open();
    store.failures.*step = 1234;
    EXPECT_FALSE(log.SaveBookmark(query.get(), SeekOrigin::Last, &error));
    EXPECT_EQ(error, 1234U);
    EXPECT_FALSE(log.HasBookmark());
    store.failures = {};
  }

  const auto query = Open();
  ASSERT_TRUE(StartReader());
  for (const auto step : {&LogFailures::newBookmark, &LogFailures::seek}) {
    store.failures.*step = 4321;
    EXPECT_FALSE(log.SeekToBookmark(query.get(), &error));
    EXPECT_EQ(error, 4321U);
    EXPECT_TRUE(log.HasBookmark());
    store.failures = {};
  }
  EXPECT_EQ(ReadRest(query.get()), (Times{first, second})) << "the query stays at its first entry";
}

TEST_F(EventLogTest, BatchesHoldUpToTenEntriesAndAnUnrenderedOneKeepsItsPlaceAndError) {
  Times written;
  for (std::uint16_t id = 1; id <= 23; ++id) written.push_back(Add("Batch", id));
  auto query = Open();
  std::vector<EventLog::FetchedEntry> batch;
  std::vector<std::size_t> sizes;
  Times read;
  os::OsError error = os::kSuccess;
  while (log.NextBatch(query.get(), batch, &error)) {
    sizes.push_back(batch.size());
    for (const auto& fetched : batch) read.push_back(fetched.system.timeCreated);
  }
  EXPECT_EQ(error, os::kErrorNoMoreItems);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 3}));
  EXPECT_EQ(read, written);

  query = Open();
  store.failures.render = 1815;
  ASSERT_TRUE(log.NextBatch(query.get(), batch));
  ASSERT_EQ(batch.size(), 10U);
  EXPECT_EQ(batch[0].renderError, 1815U);
  EXPECT_NE(batch[0].entry, nullptr);
}

TEST_F(EventLogTest, EachRenderOrFetchKeepsOnlyItsOwnValues) {
  const std::vector<os::EventValue> user = {{ValueKind::Text, "Volume1", 0, 0}};
  Add("SEALVOL", 1003, user);
  const auto query = Open();
  ASSERT_TRUE(log.Next(query.get()));
  EXPECT_TRUE(log.Render(log.Current(), EventLog::Context::User));
  EXPECT_EQ(log.UserValues(), user);
  EXPECT_EQ(log.ProviderName(), "") << "the system values were dropped";
  EXPECT_TRUE(log.Render(log.Current(), EventLog::Context::System));
  EXPECT_TRUE(log.UserValues().empty());
  EXPECT_EQ(log.ProviderName(), "SEALVOL");
}

}  // namespace
}  // namespace orv
