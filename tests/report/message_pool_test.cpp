#include "platform/agent_event_ids.h"
#include "report/message_pool.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "support/agent_fixture.h"
#include "platform/agent_registry.h"
#include "platform/calendar.h"
#include "support/message_file_checks.h"
#include "support/shared_names.h"

namespace orv {
namespace {

constexpr std::uint64_t kSecond = 10'000'000;
constexpr std::uint64_t kDay = 86'400 * kSecond;

class MessagePoolTest : public orv::testing::AgentFixture {
 protected:
  MessagePoolTest() {
    os.registry.AddKey(kStatusKey);
    os.files.AddDirectory(kPool);
  }
  std::uint64_t Now() { return ToFileTime(os.clock.UtcNow()); }

  AgentEventLog log{os.eventReporter, os.system};
  MessagePool pool{os.Ports(), log, kPool};
};

TEST_F(MessagePoolTest, OneCounterNumbersBothKindsInHexadecimal) {
  EXPECT_TRUE(pool.Write(MessageKind::Status, "    \"a\":1\r\n"));
  EXPECT_TRUE(pool.Write(MessageKind::Event, "    \"b\":2\r\n"));
  EXPECT_EQ(Dword("FileCount"), 2U);
  EXPECT_EQ(os.files.Content("C:\\orvsvc\\MessagePool\\RL[0].json"), "\xEF\xBB\xBF{\r\n    \"a\":1\r\n}");
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RE[1].json"));

  SetDword("FileCount", 10);
  EXPECT_TRUE(pool.Write(MessageKind::Status, ""));
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RL[A].json"));
}

TEST_F(MessagePoolTest, TheCounterWrapsAfterItsLastValue) {
  SetDword("FileCount", 0xFFFFFFFF);
  EXPECT_TRUE(pool.Write(MessageKind::Status, ""));
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RL[FFFFFFFF].json"));
  EXPECT_EQ(Dword("FileCount"), 0U);
}

TEST_F(MessagePoolTest, AnExistingFileIsNeverReplaced) {
  // Written earlier, but its number never reached the registry (a crash between the steps).
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RE[5].json", "unsent");
  SetDword("FileCount", 5);
  EXPECT_TRUE(pool.Write(MessageKind::Status, ""));
  EXPECT_EQ(os.files.Content("C:\\orvsvc\\MessagePool\\RE[5].json"), "unsent");
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RL[6].json"));
  EXPECT_EQ(Dword("FileCount"), 7U);
}

TEST_F(MessagePoolTest, FailuresAreLoggedAndTakeNoNumber) {
  SetDword("FileCount", 3);
  os.files.writeError = 112;  // disk full
  os.system.errorTexts[112] = "ディスクに十分な空き領域がありません。";
  EXPECT_FALSE(pool.Write(MessageKind::Event, ""));
  EXPECT_EQ(Dword("FileCount"), 3U);
  // A missing pool is reported, not created, when writing.
  MessagePool elsewhere(os.Ports(), log, "C:\\nowhere\\pool");
  EXPECT_FALSE(elsewhere.Write(MessageKind::Status, ""));
  EXPECT_FALSE(os.files.DirectoryExists("C:\\nowhere\\pool"));
  EXPECT_EQ(os.eventReporter.Ids(), (std::vector<std::uint32_t>{event_id::kJsonWriteFailed, event_id::kPoolMissing}));
  EXPECT_EQ(TextOf(event_id::kJsonWriteFailed), "JSONファイルの作成に失敗しました。\n\nERROR CODE:[0x00000070]\nERROR MSG:\n"
                                                 "[ディスクに十分な空き領域がありません。]");
  EXPECT_EQ(TextOf(event_id::kPoolMissing), "メッセージプールが見つかりません。");
}

TEST_F(MessagePoolTest, CleanDeletesFilesOlderThanThirtyDaysToTheSecondUntilADeletionFails) {
  const std::uint64_t now = Now();
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RL[1].json", "x", now - 30 * kDay - kSecond);
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RL[2].json", "x", now - 30 * kDay);
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RL[3].json", "x", now);
  EXPECT_TRUE(pool.Clean());
  EXPECT_EQ(os.files.FilesIn(kPool), (std::vector<std::string>{"C:\\orvsvc\\MessagePool\\RL[2].json",
                                                                "C:\\orvsvc\\MessagePool\\RL[3].json"}));
  // Cleaning stops at the first deletion that fails.
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RL[0].json", "x", now - 40 * kDay);
  os.files.AddFile("C:\\orvsvc\\MessagePool\\RL[1].json", "x", now - 35 * kDay);
  os.files.undeletable.insert("c:\\orvsvc\\messagepool\\rl[0].json");
  EXPECT_FALSE(pool.Clean());
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RL[1].json"));
}

TEST_F(MessagePoolTest, CleanKeepsAtMostTenMebibytesDeletingOldestFirst) {
  const std::uint64_t now = Now();
  const std::string oneMiB(1 << 20, 'x');
  for (int i = 0; i < 12; ++i) {
    os.files.AddFile("C:\\orvsvc\\MessagePool\\RE[" + std::to_string(i) + "].json", oneMiB,
                     now - static_cast<std::uint64_t>(12 - i) * kSecond);
  }
  // A sub-folder is neither counted nor deleted.
  os.files.AddFile("C:\\orvsvc\\MessagePool\\held\\big.json", std::string(5 << 20, 'y'), now - 40 * kDay);
  EXPECT_TRUE(pool.Clean());
  const auto files = os.files.FilesIn(kPool);
  ASSERT_EQ(files.size(), 10U);
  EXPECT_EQ(files.front(), "C:\\orvsvc\\MessagePool\\RE[10].json");  // sorted names: 10, 11, 2...
  EXPECT_FALSE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RE[0].json"));
  EXPECT_FALSE(os.files.FileExists("C:\\orvsvc\\MessagePool\\RE[1].json"));
  EXPECT_TRUE(os.files.FileExists("C:\\orvsvc\\MessagePool\\held\\big.json"));
}

}  // namespace
}  // namespace orv
