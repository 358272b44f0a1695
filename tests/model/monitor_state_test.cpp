#include "model/monitor_state.h"

#include <gtest/gtest.h>

#include <limits>
#include <type_traits>

#include "fakes/fake_clock.h"
#include "fakes/fake_registry.h"
#include "model/act_ids.h"
#include "monitors/common/condition_tracker.h"
#include "monitors/common/state_tables.h"
#include "platform/text_encoding.h"
#include "support/posted_events.h"

namespace orv {
namespace {

using namespace std::string_literals;
using namespace std::string_view_literals;

MonitorState Entry(std::int32_t id, std::int32_t sts, std::string key, std::int32_t code = 0) {
  MonitorState entry;
  entry.act_id = id;
  entry.act_sts = sts;
  entry.act_trg = "1";
  entry.act_para = "para " + key;
  entry.msg = "status of " + key;
  entry.item_key = std::move(key);
  entry.item_code = code;
  return entry;
}

MonitorState Parsed(std::string_view row) {
  MonitorState entry;
  ParseStateRow(row, entry);
  return entry;
}

// ---- Rows -------------------------------------------------------------------------------

TEST(StateRow, WritesTheLongStandingFormatAndReadsItBack) {
  MonitorState entry{act_id::kUpsDegraded, 1, "1", "UPS", "劣化を検出しました", "", 7, 0};
  EXPECT_EQ(FormatStateRow(entry), "[4040][1][1][UPS][劣化を検出しました][][0]");
  entry = {-5, 3, "[x", "a,b", "", "Disk [2]", 0, -2};
  const std::string row = FormatStateRow(entry);
  EXPECT_EQ(row, "[-5][3][[x][a,b][][Disk [2］][-2]");

  MonitorState back;
  ParseStateRow(row, back);
  entry.item_key = "Disk [2］";
  EXPECT_EQ(back, entry);
}

TEST(StateRow, ReadsLenientlyWhateverTheRowHolds) {
  // Fewer pairs than fields: the rest read as 0 and empty.
  EXPECT_EQ(Parsed("[7][1]"), (MonitorState{7, 1, "", "", "", "", 0, 0}));
  // Text outside the brackets is ignored; extra pairs too.
  EXPECT_EQ(Parsed("x[5]y[1] [t]z[p][m][k][3][99]"), (MonitorState{5, 1, "t", "p", "m", "k", 0, 3}));
  // Numbers: blanks and a sign before the digits, letters after them; no digits give 0.
  EXPECT_EQ(Parsed("[ -12][+3][][][][][ 42abc]"), (MonitorState{-12, 3, "", "", "", "", 0, 42}));
  // "]" before "[": the first field is empty and reading resumes after that "]".
  EXPECT_EQ(Parsed("]x[5][6][7]"), (MonitorState{0, 5, "6", "7", "", "", 0, 0}));
  // No "[" at all: a field is what precedes the next "]".
  EXPECT_EQ(Parsed("12]3]ab]"), (MonitorState{12, 3, "ab", "", "", "", 0, 0}));
  // Once no "]" is left, every further field is empty.
  EXPECT_EQ(Parsed("[4][1][abc"), (MonitorState{4, 1, "", "", "", "", 0, 0}));
  // A "[" inside a text is read back unchanged.
  EXPECT_EQ(Parsed("[1][1][a[b][[p][m[][k][2]"), (MonitorState{1, 1, "a[b", "[p", "m[", "k", 0, 2}));
}

TEST(StateRow, AllRowKindsRoundTrip) {
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  const MonitorState extremes{kMin, kMax, "-0", "[[", "ドライブ C:", "C:", 0, kMin};
  EXPECT_EQ(Parsed(FormatStateRow(extremes)), extremes);

  std::string a;
  std::string b;
  ParsePairRow(FormatPairRow("Intel(R) [I219]", "12.19.1.37"), a, b);
  EXPECT_EQ(a, "Intel(R) [I219］");
  EXPECT_EQ(b, "12.19.1.37");

  const FiveTexts task{"バックアップ1", "", "[daily", "D:\\share", "0"};
  FiveTexts back;
  ParseFiveTextRow(FormatFiveTextRow(task), back);
  EXPECT_EQ(back, task);
}

TEST(StateRow, AClosingBracketInATextCannotShiftTheFieldsAfterIt) {
  const FiveTexts task{"week]end", "]", "a]]b", "x", "y"};
  const std::string row = FormatFiveTextRow(task);
  EXPECT_EQ(row, "[week］end][］][a］］b][x][y]");
  FiveTexts back;
  ParseFiveTextRow(row, back);
  EXPECT_EQ(back, (FiveTexts{"week］end", "］", "a］］b", "x", "y"}));
  EXPECT_EQ(FormatFiveTextRow(back), row) << "what is read back writes the same row";

  // A NUL would end the registry string (or split a list row): it is dropped.
  const MonitorState withNul{1, 1, "2", "p\0q"s, "m", "k", 0, 5};
  EXPECT_EQ(FormatStateRow(withNul), "[1][1][2][pq][m][k][5]");
  EXPECT_EQ(RowText("a]\0b"sv), "a］b");
}

// ---- Tables in the registry ----------------------------------------------------------------

class StateTablesTest : public ::testing::Test {
 protected:
  StateTablesTest() {
    registry.AddKey(kCommonKey);
    registry.AddKey(kNasKey);
  }
  bool Stored(const auto& table) { return registry.Value(table.key, table.value).has_value(); }

  fakes::FakeRegistry registry;
};

TEST_F(StateTablesTest, SavedTablesLoadBackInOrder) {
  const MonitorState fan = Entry(act_id::kSmartAttention, 1, "");
  const std::vector<MonitorState> disks{Entry(act_id::kDiskTemperature, 1, "Disk 3"), Entry(act_id::kDiskTemperature, 0, "Disk 1"),
                                        Entry(4051, 3, "Disk 2", 4)};
  const std::vector<TextPair> serials{{"2", "WD-2"}, {"0", "WD-0"}};
  const std::vector<FiveTexts> tasks{{"t1", "a", "b", "c", "d"}, {"t0", "", "", "", ""}};
  EXPECT_TRUE(SaveSingle(registry, kCPUFanStatusTable, fan));
  // Every entry, whatever its act_sts, in list order.
  const auto roundTrip = [this](const auto& table, const auto& rows) {
    EXPECT_TRUE(SaveList(registry, table, rows));
    std::remove_cvref_t<decltype(rows)> back;
    EXPECT_TRUE(LoadList(registry, table, back));
    EXPECT_EQ(back, rows);
  };
  roundTrip(kHDDStaStatusTable, disks);
  roundTrip(kHDDSerialInfo, serials);
  roundTrip(kVaultBackupTaskInfo, tasks);

  const auto single = registry.Value(kNasKey, "CPUFanStatusTable");
  ASSERT_TRUE(single.has_value());
  EXPECT_EQ(single->type, os::RegistryType::String);
  EXPECT_EQ(single->data, Utf16ToLeBytes(u"[4010][1][1][para ][status of ][][0]\0"sv));
  EXPECT_EQ(registry.Value(kNasKey, "HDDSerialInfo")->data,
            Utf16ToLeBytes(u"[2][WD-2]\0[0][WD-0]\0\0"sv));

  MonitorState fanBack;
  EXPECT_TRUE(LoadSingle(registry, kCPUFanStatusTable, fanBack));
  EXPECT_EQ(fanBack, fan);
}

// An owner that keeps what its tables hold writes a table only when its rows change, replaces
// it with one write (never a delete first) and deletes it once when it empties.
TEST_F(StateTablesTest, AnOwnerWritesOnlyWhatChanged) {
  ASSERT_TRUE(SaveList(registry, kVolStaStatusTable, {Entry(act_id::kCaseFan, 1, "C:")}));
  StoredTables stored;
  std::vector<MonitorState> list;
  ASSERT_TRUE(LoadList(registry, kVolStaStatusTable, list, &stored));
  struct TableStep {
    std::vector<MonitorState> rows;
    int writes;
    int deletes;
  };
  const std::vector<TableStep> steps{
      {{Entry(act_id::kCaseFan, 1, "C:")}, 0, 0},                        // as loaded
      {{Entry(act_id::kCaseFan, 1, "C:"), Entry(act_id::kCaseFan, 2, "D:")}, 1, 0},  // changed: one write
      {{Entry(act_id::kCaseFan, 1, "C:"), Entry(act_id::kCaseFan, 2, "D:")}, 0, 0},
      {{}, 0, 1},  // emptied: one delete
      {{}, 0, 0},
  };
  for (std::size_t i = 0; i < steps.size(); ++i) {
    registry.ResetUses();
    EXPECT_TRUE(SaveList(registry, kVolStaStatusTable, steps[i].rows, &stored)) << "step " << i;
    const fakes::FakeRegistry::KeyUses uses = registry.Uses(kNasKey);
    EXPECT_EQ(uses.writes, steps[i].writes) << "step " << i;
    EXPECT_EQ(uses.deletes, steps[i].deletes) << "step " << i;
    std::vector<MonitorState> back;
    (void)LoadList(registry, kVolStaStatusTable, back);
    EXPECT_EQ(back, steps[i].rows) << "step " << i;
  }
}

TEST_F(StateTablesTest, AFailedWriteLeavesThePreviousRowsAndIsTriedAgain) {
  StoredTables stored;
  const MonitorState open = Entry(act_id::kUpsDegraded, 1, "");
  const MonitorState updated = Entry(act_id::kUpsDegraded, 2, "");
  ASSERT_TRUE(SaveSingle(registry, kUPSDegradeStatusTable, open, &stored));
  registry.FailWrites(os::kErrorAccessDenied);
  EXPECT_FALSE(SaveSingle(registry, kUPSDegradeStatusTable, updated, &stored));
  MonitorState back;
  ASSERT_TRUE(LoadSingle(registry, kUPSDegradeStatusTable, back)) << "the old row is still there";
  EXPECT_EQ(back, open);

  registry.FailWrites(os::kSuccess);
  EXPECT_TRUE(SaveSingle(registry, kUPSDegradeStatusTable, updated, &stored));
  ASSERT_TRUE(LoadSingle(registry, kUPSDegradeStatusTable, back));
  EXPECT_EQ(back, updated) << "the next save writes what failed";
}

// ---- The open/close rule ---------------------------------------------------------------------

class ConditionTrackerTest : public ::testing::Test {
 protected:
  std::vector<testing::Posted> Posted() { return testing::DrainPosted(queue); }
  static ConditionOpening Opening(std::int32_t id, std::string trg) {
    return {id, std::move(trg), "45,50", "温度が上昇しました", "温度異常"};
  }

  fakes::FakeClock clock;
  EventQueue queue;
  ConditionTracker tracker{queue, clock};
  const ConditionClosing closing{"38", "温度が正常に戻りました"};
};

TEST_F(ConditionTrackerTest, ASingleConditionIsReportedOnceWhenItOpensAndOnceWhenItCloses) {
  MonitorState entry;
  EXPECT_EQ(tracker.Track(entry, false, Opening(act_id::kSmartChanged, "1"), closing), ConditionChange::None);
  EXPECT_EQ(tracker.Track(entry, true, Opening(act_id::kSmartChanged, "1"), closing), ConditionChange::Opened);
  EXPECT_EQ(entry, (MonitorState{act_id::kSmartChanged, 1, "1", "45,50", "温度異常", "", 0, 0}));
  EXPECT_EQ(Posted(), (std::vector<testing::Posted>{{act_id::kSmartChanged, 1, "1", "45,50", "温度が上昇しました"}}));

  // Still present with other values: already reported.
  EXPECT_EQ(tracker.Track(entry, true, Opening(4021, "2"), closing), ConditionChange::None);
  EXPECT_TRUE(Posted().empty());

  // Closing carries the opening's id and trigger, not today's.
  EXPECT_EQ(tracker.Track(entry, false, Opening(4021, "2"), closing), ConditionChange::Closed);
  EXPECT_EQ(Posted(), (std::vector<testing::Posted>{{act_id::kSmartChanged, 3, "1", "38", "温度が正常に戻りました"}}));
  EXPECT_EQ(entry, MonitorState{});
  EXPECT_EQ(tracker.Track(entry, false, Opening(act_id::kSmartChanged, "1"), closing), ConditionChange::None);
  EXPECT_TRUE(Posted().empty());
}

TEST_F(ConditionTrackerTest, ListEntriesFollowTheirItemByKeyOrByCode) {
  std::vector<MonitorState> disks;
  const ConditionItem disk1{"Disk 1", 0, 1};
  const ConditionItem disk2{"Disk 2", 0, 2};
  tracker.Track(disks, ItemMatch::ByKey, disk1, true, Opening(act_id::kUpsDegraded, "1"), closing);
  tracker.Track(disks, ItemMatch::ByKey, disk2, true, Opening(act_id::kUpsDegraded, "1"), closing);
  tracker.Track(disks, ItemMatch::ByKey, disk1, true, Opening(act_id::kUpsDegraded, "1"), closing);
  ASSERT_EQ(disks.size(), 2U);
  EXPECT_EQ(disks[1].item_key, "Disk 2");
  EXPECT_EQ(disks[1].item_number, 2);
  EXPECT_EQ(Posted().size(), 2U);

  EXPECT_EQ(tracker.Track(disks, ItemMatch::ByKey, disk1, false, Opening(act_id::kUpsDegraded, "1"), closing),
            ConditionChange::Closed);
  ASSERT_EQ(disks.size(), 1U);
  EXPECT_EQ(disks[0].item_key, "Disk 2");
  EXPECT_EQ(Posted().at(0).sts, 3);

  std::vector<MonitorState> bays;
  const ConditionItem bay{"", 0x4, 3};
  tracker.Track(bays, ItemMatch::ByCode, bay, true, Opening(act_id::kDiskTemperature, "1"), closing);
  EXPECT_EQ(tracker.Track(bays, ItemMatch::ByCode, {"", 0x8, 4}, false, Opening(act_id::kDiskTemperature, "1"), closing),
            ConditionChange::None);
  EXPECT_EQ(tracker.Track(bays, ItemMatch::ByCode, bay, false, Opening(act_id::kDiskTemperature, "1"), closing),
            ConditionChange::Closed);
  EXPECT_TRUE(bays.empty());
}

}  // namespace
}  // namespace orv
