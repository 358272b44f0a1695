#include "platform/event_log.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "fakes/fake_event_log_store.h"

namespace orv {
namespace {

using os::QueryDirection;
using os::SeekOrigin;
using Times = std::vector<std::uint64_t>;

constexpr QueryDirection kOldest = QueryDirection::OldestFirst;
constexpr QueryDirection kNewest = QueryDirection::NewestFirst;

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* channel :
         {"Application", "System", "Microsoft-Windows-Backup", "VaultBackupService"}) {
      store.AddChannel(channel);
    }
  }
  // Every query, entry and bookmark the reader or a test opened must be closed again.
  void TearDown() override {
    log.Next(nullptr);
    EXPECT_EQ(store.openHandles(), 0);
  }

  // Appends an entry; its time created, unique and growing, names it in the expectations.
  std::uint64_t Add(std::string_view channel, std::string provider, std::uint16_t eventId,
                    std::vector<os::EventValue> user = {}) {
    const std::uint64_t time = kEpoch + ++written_;
    store.Append(channel, {std::move(provider), eventId, time, std::move(user), 0});
    return time;
  }

  // Reads what is left of `query` through Next: the times created, in reading order.
  Times ReadRest(os::EventQuery* query) {
    Times read;
    while (log.Next(query)) read.push_back(log.TimeCreated());
    return read;
  }
  Times ReadAll(std::string_view channel, std::string_view filter, QueryDirection direction) {
    const auto query = log.OpenQuery(channel, filter, direction);
    EXPECT_NE(query, nullptr) << filter;
    return ReadRest(query.get());
  }

  // A monitor being built: bookmark the newest entry its query selects.
  bool StartReader(std::string_view channel, std::string_view filter = "*") {
    const auto query = log.OpenQuery(channel, filter, kOldest);
    return log.SaveBookmark(query.get(), SeekOrigin::Last);
  }
  // One monitor pass, ending by bookmarking the query's last entry.
  Times Pass(std::string_view channel, std::string_view filter = "*") {
    const auto query = log.OpenQuery(channel, filter, kOldest);
    log.SeekToBookmark(query.get());
    Times read = ReadRest(query.get());
    log.SaveBookmark(query.get(), SeekOrigin::Last);
    return read;
  }

  static constexpr std::uint64_t kEpoch = 133'500'000'000'000'000;  // a FILETIME in 2024
  fakes::FakeEventLogStore store;
  EventLog log{store};
  std::uint64_t written_ = 0;
};

// ---- Incremental reading across passes ----------------------------------------------------

TEST_F(EventLogTest, EachPassReadsOnlyWhatWasWrittenSinceThePreviousOne) {
  Add("Application", "A", 1);
  Add("Application", "A", 2);
  Add("Application", "A", 3);
  ASSERT_TRUE(StartReader("Application"));
  EXPECT_EQ(log.BookmarkText(),
            "<BookmarkList>\r\n  <Bookmark Channel='Application' RecordId='3' "
            "IsCurrent='true'/>\r\n</BookmarkList>");

  EXPECT_EQ(Pass("Application"), Times{}) << "entries written before the start are not read, "
                                             "nor is the bookmarked one read again";
  const std::uint64_t fourth = Add("Application", "A", 4);
  const std::uint64_t fifth = Add("Application", "A", 5);
  EXPECT_EQ(Pass("Application"), (Times{fourth, fifth}));
  EXPECT_EQ(Pass("Application"), Times{});
  const std::uint64_t sixth = Add("Application", "A", 6);
  EXPECT_EQ(Pass("Application"), Times{sixth});
}

TEST_F(EventLogTest, AReaderStartedOnAnEmptyQueryHasNoBookmarkAndReadsEverythingFirst) {
  Add("System", "disk", 11);  // not selected by the query
  ASSERT_TRUE(StartReader("System"));
  const std::string saved = log.BookmarkText();
  os::OsError error = os::kSuccess;
  EXPECT_FALSE(log.SaveBookmark(nullptr, SeekOrigin::Last, &error));
  EXPECT_EQ(error, os::kErrorInvalidHandle);
  EXPECT_EQ(log.BookmarkText(), saved) << "an invalid query keeps the bookmark";

  const auto query = log.OpenQuery("System", "*[System[EventID=7]]", kOldest);
  EXPECT_FALSE(log.SaveBookmark(query.get(), SeekOrigin::Last, &error));
  EXPECT_EQ(error, os::kErrorNoMoreItems);
  EXPECT_FALSE(log.HasBookmark()) << "an empty result drops it";
  EXPECT_EQ(log.BookmarkText(), "");

  const std::uint64_t first = Add("System", "disk", 7);
  const std::uint64_t second = Add("System", "Disk", 7);
  EXPECT_EQ(Pass("System", "*[System[EventID=7]]"), (Times{first, second}));
  EXPECT_EQ(Pass("System", "*[System[EventID=7]]"), Times{});
}

TEST_F(EventLogTest, AFilteredReaderSkipsOtherEntriesWrittenAfterItsBookmark) {
  const char* filter = R"(*[System[(EventID=1111 and Provider[@Name="ArraySetup"])]])";
  Add("Application", "ArraySetup", 1111);
  ASSERT_TRUE(StartReader("Application", filter));
  Add("Application", "Other", 1);
  Add("Application", "Other", 2);
  const std::uint64_t wanted = Add("Application", "ArraySetup", 1111);
  Add("Application", "Other", 3);
  EXPECT_EQ(Pass("Application", filter), Times{wanted});
  Add("Application", "Other", 4);
  EXPECT_EQ(Pass("Application", filter), Times{});
}

TEST_F(EventLogTest, BookmarkingTheLastEntryReadKeepsEntriesWrittenDuringThePass) {
  Add("Application", "A", 1);
  ASSERT_TRUE(StartReader("Application"));
  const std::uint64_t before = Add("Application", "A", 2);

  const auto query = log.OpenQuery("Application", "*", kOldest);
  ASSERT_TRUE(log.SeekToBookmark(query.get()));
  std::vector<EventLog::FetchedEntry> batch;
  ASSERT_TRUE(log.NextBatch(query.get(), batch));
  ASSERT_EQ(batch.size(), 1U);
  EXPECT_EQ(batch[0].system.timeCreated, before);
  const std::uint64_t during = Add("Application", "A", 3);  // after the pass's last fetch
  ASSERT_TRUE(log.SaveBookmarkAt(*batch.back().entry));

  EXPECT_EQ(Pass("Application"), Times{during});
}

// ---- Bookmark rules ------------------------------------------------------------------------

TEST_F(EventLogTest, SaveBookmarkLeavesNoBookmarkWhicheverStepFails) {
  using Failures = fakes::FakeEventLogStore::Failures;
  Add("Application", "A", 1);
  const std::vector<os::OsError Failures::*> steps = {
      &Failures::seek, &Failures::next, &Failures::newBookmark, &Failures::updateBookmark,
      &Failures::renderBookmark};
  for (const auto step : steps) {
    ASSERT_TRUE(StartReader("Application"));
    const auto query = log.OpenQuery("Application", "*", kOldest);
    store.failures.*step = 1234;
    os::OsError error = os::kSuccess;
    EXPECT_FALSE(log.SaveBookmark(query.get(), SeekOrigin::Last, &error));
    EXPECT_EQ(error, 1234U);
    EXPECT_FALSE(log.HasBookmark());
    store.failures = {};
  }
}

TEST_F(EventLogTest, AFailedSeekToBookmarkReportsWhyAndMovesNothing) {
  const std::uint64_t first = Add("Application", "A", 1);
  const std::uint64_t second = Add("Application", "A", 2);
  const auto query = log.OpenQuery("Application", "*", kOldest);
  os::OsError error = os::kSuccess;
  EXPECT_FALSE(log.SeekToBookmark(query.get(), &error)) << "no bookmark yet";
  EXPECT_NE(error, os::kSuccess);
  EXPECT_FALSE(log.SeekToBookmark(nullptr, &error));
  EXPECT_EQ(error, os::kErrorInvalidHandle);
  EXPECT_EQ(store.seekCalls(), 0);
  EXPECT_EQ(ReadRest(query.get()), (Times{first, second})) << "the query stays at its first entry";

  ASSERT_TRUE(StartReader("Application"));
  for (os::OsError fakes::FakeEventLogStore::Failures::*step :
       {&fakes::FakeEventLogStore::Failures::newBookmark,
        &fakes::FakeEventLogStore::Failures::seek}) {
    store.failures.*step = 4321;
    EXPECT_FALSE(log.SeekToBookmark(query.get(), &error));
    EXPECT_EQ(error, 4321U);
    EXPECT_TRUE(log.HasBookmark()) << "a failed seek keeps the reading position";
    store.failures = {};
  }
}

// ---- Queries -------------------------------------------------------------------------------

TEST_F(EventLogTest, NewestFirstReadsTheNewestEntryFirst) {
  Add("System", "EventLog", 6008);
  Add("System", "EventLog", 6005);
  const std::uint64_t newest = Add("System", "EventLog", 6008);
  Add("System", "eventlog", 6008);
  const auto query = log.OpenQuery(
      "System", R"(*[System[(EventID=6008 and Provider[@Name="EventLog"])]])", kNewest);
  ASSERT_TRUE(log.Next(query.get()));
  EXPECT_EQ(log.TimeCreated(), newest);
  EXPECT_EQ(log.ProviderName(), "EventLog");
  EXPECT_EQ(log.EventId(), 6008);

  const std::uint64_t older = Add("System", "A", 1);
  EXPECT_EQ(ReadAll("System", "*", kNewest).front(), older);
}

// ---- Fetching and rendering ----------------------------------------------------------------

TEST_F(EventLogTest, BatchesHoldUpToTenEntriesEachWithItsSystemProperties) {
  Times written;
  for (std::uint16_t id = 1; id <= 23; ++id) written.push_back(Add("Application", "Batch", id));
  const auto query = log.OpenQuery("Application", "*", kOldest);
  std::vector<EventLog::FetchedEntry> batch;
  std::vector<std::size_t> sizes;
  Times read;
  os::OsError error = os::kSuccess;
  while (log.NextBatch(query.get(), batch, &error)) {
    sizes.push_back(batch.size());
    for (const auto& fetched : batch) {
      EXPECT_EQ(fetched.renderError, os::kSuccess);
      EXPECT_EQ(fetched.system.providerName, "Batch");
      EXPECT_EQ(fetched.system.eventId, read.size() + 1);
      read.push_back(fetched.system.timeCreated);
    }
  }
  EXPECT_EQ(error, os::kErrorNoMoreItems);
  EXPECT_TRUE(batch.empty());
  EXPECT_EQ(sizes, (std::vector<std::size_t>{10, 10, 3}));
  EXPECT_EQ(read, written);
}

TEST_F(EventLogTest, AnEntryThatCannotBeRenderedStaysInItsBatchWithItsError) {
  Add("Application", "A", 1);
  Add("Application", "A", 2);
  const auto query = log.OpenQuery("Application", "*", kOldest);
  store.failures.render = 1815;
  std::vector<EventLog::FetchedEntry> batch;
  ASSERT_TRUE(log.NextBatch(query.get(), batch));
  ASSERT_EQ(batch.size(), 2U);
  for (const auto& fetched : batch) {
    EXPECT_EQ(fetched.renderError, 1815U);
    EXPECT_NE(fetched.entry, nullptr);
    EXPECT_EQ(fetched.system.providerName, "");
  }
}

TEST_F(EventLogTest, RenderKeepsOnlyTheValuesOfItsLastRender) {
  using Kind = os::EventValue::Kind;
  const std::vector<os::EventValue> user = {{Kind::Text, "Volume1", 0, 0},
                                            {Kind::Unsigned, "", 3, 0}};
  const std::uint64_t time = Add("Application", "SEALVOL", 1003, user);
  const auto query = log.OpenQuery("Application", "*", kOldest);
  ASSERT_TRUE(log.Next(query.get()));
  EXPECT_EQ(log.TimeCreated(), time);

  EXPECT_TRUE(log.Render(log.Current(), EventLog::Context::User));
  EXPECT_EQ(log.UserValues(), user);
  EXPECT_EQ(log.ProviderName(), "") << "the system values were dropped";

  EXPECT_TRUE(log.Render(log.Current(), EventLog::Context::System));
  EXPECT_TRUE(log.UserValues().empty());
  EXPECT_EQ(log.ProviderName(), "SEALVOL");

  store.failures.render = 1815;
  os::OsError error = os::kSuccess;
  EXPECT_FALSE(log.Render(log.Current(), EventLog::Context::System, &error));
  EXPECT_EQ(error, 1815U);
  EXPECT_EQ(log.ProviderName(), "");
  EXPECT_EQ(log.EventId(), 0);
  EXPECT_EQ(log.TimeCreated(), 0U);
  EXPECT_FALSE(log.Render(nullptr, EventLog::Context::System, &error));
  EXPECT_EQ(error, os::kErrorInvalidHandle);
}

TEST_F(EventLogTest, NextPastTheEndOrOnAFailedFetchLeavesNoCurrentEntryNorValues) {
  Add("Application", "A", 1);
  const auto query = log.OpenQuery("Application", "*", kOldest);
  ASSERT_TRUE(log.Next(query.get()));
  ASSERT_NE(log.Current(), nullptr);
  os::OsError error = os::kSuccess;
  EXPECT_FALSE(log.Next(query.get(), &error));
  EXPECT_EQ(error, os::kErrorNoMoreItems);
  EXPECT_EQ(log.Current(), nullptr);
  EXPECT_EQ(log.ProviderName(), "");

  Add("Application", "A", 2);
  store.failures.next = 1460;
  EXPECT_FALSE(log.Next(query.get(), &error));
  EXPECT_EQ(error, 1460U);
  store.failures = {};
  EXPECT_TRUE(log.Next(query.get())) << "a failed fetch does not move the query";
  EXPECT_EQ(log.EventId(), 2);
}

TEST_F(EventLogTest, FormatEventMessageGoesThroughTheProvidersMetadata) {
  using Kind = os::EventValue::Kind;
  store.AddPublisher("SEALVOL", {{1003, "Volume %1 failed (%2 disks)."}});
  Add("Application", "SEALVOL", 1003, {{Kind::Text, "V1", 0, 0}, {Kind::Signed, "", 0, -2}});
  Add("Application", "SEALVOL", 1004);
  const auto query = log.OpenQuery("Application", "*", kOldest);
  ASSERT_TRUE(log.Next(query.get()));
  std::string text = "stale";
  ASSERT_TRUE(log.FormatEventMessage(log.Current(), log.ProviderName(), text));
  EXPECT_EQ(text, "Volume V1 failed (-2 disks).");

  os::OsError error = os::kSuccess;
  text = "stale";
  EXPECT_FALSE(log.FormatEventMessage(log.Current(), "sealvol", text, &error));
  EXPECT_EQ(error, os::kErrorEvtPublisherMetadataNotFound);
  EXPECT_EQ(text, "");
  ASSERT_TRUE(log.Next(query.get()));
  text = "stale";
  EXPECT_FALSE(log.FormatEventMessage(log.Current(), "SEALVOL", text, &error));
  EXPECT_EQ(error, os::kErrorEvtMessageNotFound);
  EXPECT_EQ(text, "");
  EXPECT_FALSE(log.FormatEventMessage(nullptr, "SEALVOL", text, &error));
  EXPECT_EQ(error, os::kErrorInvalidHandle);
}

}  // namespace
}  // namespace orv
