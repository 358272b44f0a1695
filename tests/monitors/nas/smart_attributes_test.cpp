#include "monitors/nas/smart_attributes.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "model/disk_info.h"
#include "model/smart_table.h"

namespace orv {
namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

struct Entry {
  std::uint8_t id;
  std::uint8_t current;
  std::array<std::uint8_t, 7> raw;  // six raw bytes and the reserved byte, least significant first
};

// A 529-byte answer (table at byte 18) or a bare sector (table at byte 2) with `entries` from
// the first table place on.
std::vector<std::uint8_t> Block(std::size_t size, const std::vector<Entry>& entries) {
  std::vector<std::uint8_t> block(size, 0);
  const std::size_t start = size == kSmartBlockSize ? 18 : 2;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t at = start + 12 * i;
    block[at] = entries[i].id;
    block[at + 1] = 0x32;
    block[at + 3] = entries[i].current;
    block[at + 4] = 0x40;
    for (std::size_t b = 0; b < 7; ++b) block[at + 5 + b] = entries[i].raw[b];
  }
  return block;
}

TEST(SmartAttributes, EntriesWhoseIdDoesNotRiseAreSkippedNotAnEnd) {
  for (const std::size_t size : {kSmartBlockSize, kSmartSectorSize}) {
    SCOPED_TRACE(size);
    // Ids 1, 3, 3, 5: the second 3 is skipped and 5 is still found.
    const auto block = Block(size, {{1, 100, {1}}, {3, 90, {3}}, {3, 80, {33}}, {5, 70, {5}}});
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    ASSERT_TRUE(FindSmartAttribute(block, 5, raw, value, "WDC"));
    EXPECT_EQ(raw, 5U);
    ASSERT_TRUE(FindSmartAttribute(block, 3, raw, value, "WDC"));
    EXPECT_EQ(raw, 3U);  // the first 3
    std::uint8_t current = 0;
    ASSERT_TRUE(SmartCurrentValue(block, 3, current));
    EXPECT_EQ(current, 90);
    ASSERT_TRUE(SmartCurrentValue(block, 5, current));
    EXPECT_EQ(current, 70);
  }
}

TEST(SmartAttributes, IdsZeroAndFrom251AreNeverFound) {
  const auto block = Block(kSmartBlockSize, {{0, 1, {1}}, {9, 2, {2}}, {251, 3, {3}}, {254, 4, {4}}, {255, 5, {5}}});
  for (const int number : {0, 251, 254, 255}) {
    const auto id = static_cast<std::uint8_t>(number);
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    EXPECT_FALSE(FindSmartAttribute(block, id, raw, value, "WDC")) << int{id};
    EXPECT_EQ(raw, kAllOnes);
    EXPECT_EQ(value, kAllOnes);
    std::uint8_t current = 0;
    EXPECT_FALSE(SmartCurrentValue(block, id, current));
    EXPECT_EQ(current, 0xFF);
  }
  // An id that is skipped (not above the last one counted) is not found either: 5 after 9.
  const auto late = Block(kSmartBlockSize, {{9, 1, {}}, {5, 2, {}}});
  std::uint64_t raw = 0;
  std::uint64_t value = 0;
  EXPECT_FALSE(FindSmartAttribute(late, 5, raw, value, "WDC"));
}

TEST(SmartAttributes, OnlyBlocksOf529Or512BytesAreRead) {
  const auto full = Block(kSmartBlockSize, {{194, 1, {40}}});
  for (const std::size_t size : {std::size_t{0}, std::size_t{17}, std::size_t{30}, std::size_t{511},
                                 std::size_t{513}, std::size_t{528}}) {
    std::vector<std::uint8_t> other(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(std::min(size, full.size())));
    other.resize(size, 0);
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    EXPECT_FALSE(FindSmartAttribute(other, 194, raw, value, "WDC")) << size;
    EXPECT_EQ(raw, kAllOnes);
    EXPECT_EQ(value, kAllOnes);
  }
}

TEST(SmartAttributes, TheTableEndsAfterThirtyEntries) {
  // Bytes after the table (offline collection and self-test data, vendor bytes) must not read
  // as attributes, however they look.
  std::vector<Entry> entries(31, Entry{0, 0, {}});
  entries[0] = {1, 100, {}};
  entries[29] = {200, 100, {7}};
  entries[30] = {223, 100, {9}};
  for (const std::size_t size : {kSmartBlockSize, kSmartSectorSize}) {
    const auto block = Block(size, entries);
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    EXPECT_TRUE(FindSmartAttribute(block, 200, raw, value, "WDC")) << size;
    EXPECT_FALSE(FindSmartAttribute(block, 223, raw, value, "WDC")) << size;
  }
}

TEST(SmartAttributes, SeagateTakesSevenRawBytesOthersSix) {
  const auto block = Block(kSmartBlockSize, {{194, 36, {0x24, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x00}},
                                             {198, 100, {1, 2, 3, 4, 5, 6, 7}}});
  std::uint64_t raw = 0;
  std::uint64_t value = 0;
  ASSERT_TRUE(FindSmartAttribute(block, 194, raw, value, "ST3000DM001-1CH166"));
  EXPECT_EQ(raw, 0x1E0024U);
  EXPECT_EQ(value, 36U);  // the low 16 bits
  ASSERT_TRUE(FindSmartAttribute(block, 198, raw, value, "ST3000DM001-1CH166"));
  EXPECT_EQ(raw, 0x07060504030201U);
  ASSERT_TRUE(FindSmartAttribute(block, 198, raw, value, "WDC WD40EFRX"));
  EXPECT_EQ(raw, 0x060504030201U);
  // Only a model text that begins with "ST" is a Seagate one.
  ASSERT_TRUE(FindSmartAttribute(block, 198, raw, value, "XST3000"));
  EXPECT_EQ(raw, 0x060504030201U);
  ASSERT_TRUE(FindSmartAttribute(block, 198, raw, value, "st3000"));
  EXPECT_EQ(raw, 0x060504030201U);

  const auto other = Block(kSmartBlockSize, {{194, 45, {0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}});
  ASSERT_TRUE(FindSmartAttribute(other, 194, raw, value, "WDC WD40EFRX"));
  EXPECT_EQ(value, 45U);  // the low 8 bits
}

TEST(SmartAttributes, InterpretedValueByIdAndMaker) {
  constexpr std::uint64_t kRaw = 0x77112233445566U;  // seven bytes
  struct Row {
    std::uint8_t id;
    bool seagate;
    std::uint64_t value;
  };
  const Row rows[] = {
      {1, true, 0x771122},        // bits 32-55
      {5, true, 0x33445566},      // low 32 bits
      {9, true, 0x33445566},
      {12, true, 0x33445566},
      {197, true, 0x33445566},
      {198, true, 0x33445566},
      {199, true, 0x33445566},
      {7, true, 0x1122},          // bits 32-47
      {194, true, 0x5566},        // low 16 bits
      {3, true, kRaw},
      {190, true, kRaw},
      {194, false, 0x66},         // low 8 bits
      {1, false, kRaw},
      {9, false, kRaw},
      {7, false, kRaw},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(InterpretedSmartValue(row.id, kRaw, row.seagate), row.value) << int{row.id} << " " << row.seagate;
  }
}

TEST(SmartAttributes, AWalkNeverReadsAnEntryThatDoesNotFitTheBlock) {
  // A table start close to the end: entries that would cross the end are not visited.
  std::vector<std::uint8_t> block(40, 0);
  block[2] = 1;
  block[14] = 2;
  block[26] = 3;  // 26 + 12 = 38 fits
  std::vector<std::size_t> visited;
  WalkSmartTable(block, 2, [&](std::size_t at) {
    visited.push_back(at);
    return true;
  });
  EXPECT_EQ(visited, (std::vector<std::size_t>{2, 14, 26}));
  visited.clear();
  WalkSmartTable(std::span<const std::uint8_t>(block).first(37), 2, [&](std::size_t at) {
    visited.push_back(at);
    return true;
  });
  EXPECT_EQ(visited, (std::vector<std::size_t>{2, 14}));
  visited.clear();
  WalkSmartTable(block, 45, [&](std::size_t at) {
    visited.push_back(at);
    return true;
  });
  EXPECT_TRUE(visited.empty());
}

}  // namespace
}  // namespace orv
