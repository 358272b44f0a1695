#include "monitors/nas/bay_tables.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

constexpr std::uint32_t kFiveBayLine = 0x10;

struct BayRow {
  std::uint32_t mask;
  std::uint32_t slot;
  std::int32_t tavolenNumber;
  std::int32_t meridexNumber;
  const char* tavolenName;
  const char* meridexFiveBayName;
  const char* meridexName;
};

// The bays where the numbering turns (the first ones, the gap at 32, the last), and masks that
// name no bay: 32 (outside the bays), 0 (no address), two bits at once, bits above the last slot.
constexpr BayRow kBays[] = {
    {1, 0, 0, 1, "HDD0", "SSD", "HDD1"},
    {2, 1, 1, 2, "HDD1", "HDD1", "HDD2"},
    {8, 3, 3, 4, "HDD3", "HDD3", "HDD4"},
    {16, 4, 5, 5, "HDD5", "HDD5", "HDD5"},
    {64, 5, 6, 6, "HDD6", "HDD6", "HDD6"},
    {2048, 10, 11, 11, "HDD11", "HDD11", "HDD11"},
    {4096, 11, 12, 12, "HDD12", "HDD12", "HDD12"},
    {32, 0, -1, -1, "", "", ""},
    {0, 0, -1, -1, "", "", ""},
    {3, 0, -1, -1, "", "", ""},
    {8192, 0, -1, -1, "", "", ""},
    {0x80000000, 0, -1, -1, "", "", ""},
};

TEST(BayTables, SlotNumberAndNameOfEveryMaskOnBothBrands) {
  for (const BayRow& row : kBays) {
    SCOPED_TRACE(row.mask);
    EXPECT_EQ(SlotIndexOf(row.mask), row.slot);
    EXPECT_EQ(BayNumber(row.mask, false), row.tavolenNumber);
    EXPECT_EQ(BayNumber(row.mask, true), row.meridexNumber);
    // Model flags bit 4 names the Meridex 5-bay line; it changes nothing on Tavolen devices.
    EXPECT_EQ(BayName(row.mask, false, 0), row.tavolenName);
    EXPECT_EQ(BayName(row.mask, false, kFiveBayLine), row.tavolenName);
    EXPECT_EQ(BayName(row.mask, true, kFiveBayLine), row.meridexFiveBayName);
    EXPECT_EQ(BayName(row.mask, true, 0x100000 | 0x8), row.meridexName);
  }
}

TEST(BayTables, SlotMasksRoundTripAndEndAfterTwelveSlots) {
  for (std::uint32_t slot = 0; slot < kBaySlotCount; ++slot) {
    EXPECT_EQ(SlotIndexOf(SlotMask(slot)), slot);
    EXPECT_NE(SlotMask(slot), kMaskOutsideBays);
  }
  EXPECT_EQ(SlotMask(kBaySlotCount), 0U);
}

}  // namespace
}  // namespace orv
