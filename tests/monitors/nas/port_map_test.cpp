#include "monitors/nas/port_map.h"

#include <gtest/gtest.h>

#include <tuple>

#include "monitors/nas/bay_tables.h"

namespace orv {
namespace {

constexpr std::uint32_t kUsb = 7;
constexpr std::uint32_t kSata = 11;
constexpr const char* kDisk = "WDC WD40EFRX-68N32N0";
constexpr const char* kStoragePoolDevice = "Microsoft Storage Space Device";

// Model flags: platform code | OS code | bay code, as the appliances carry them.
constexpr std::uint32_t kFirstLine1 = 0x10000 | 0x100 | 0x8;
constexpr std::uint32_t kFirstLine2 = 0x20000 | 0x400 | 0x8;
constexpr std::uint32_t kTwoBayLine = 0x40000 | 0x100 | 0x2;
constexpr std::uint32_t kSecondFourBay = 0x80000 | 0x200 | 0x8;
constexpr std::uint32_t kLcdTwoBay = 0x100000 | 0x2000 | 0x2;
constexpr std::uint32_t kLcdFiveBay = 0x100000 | 0x800 | 0x10;
constexpr std::uint32_t kLcdFourBay2012R2 = 0x100000 | 0x400 | 0x8;
constexpr std::uint32_t kLcdFourBay2016 = 0x100000 | 0x800 | 0x8;
constexpr std::uint32_t kLcdTwelveBay2019 = 0x100000 | 0x2000 | 0x80;
constexpr std::uint32_t kLcdTwelveBay2012R2 = 0x100000 | 0x400 | 0x80;
constexpr std::uint32_t kTemperatureFiveBay = 0x200000 | 0x800 | 0x10;
constexpr std::uint32_t kTemperatureFourBay = 0x200000 | 0x800 | 0x8;
constexpr std::uint32_t kBoardSeries = 0x400000 | 0x400 | 0x80;

struct PortRow {
  std::uint32_t flags;
  const char* address;
  std::uint32_t busType;
  const char* name;
  std::uint32_t mask;
};

constexpr PortRow kPorts[] = {
    // 0x10000: the four targets of port 1; anything else is outside the bays.
    {kFirstLine1, "Port1Path0Target0Lun0", kSata, kDisk, 1},
    {kFirstLine1, "Port1Path0Target0Lun0", kUsb, kStoragePoolDevice, 1},
    {kFirstLine1, "Port0Path0Target0Lun0", kSata, kDisk, 32},
    // 0x20000: paths 1 to 4 of port 0.
    {kFirstLine2, "Port0Path4Target0Lun0", kSata, kDisk, 8},
    // 0x40000: a USB disk or a pool's virtual disk can take the first bay's address.
    {kTwoBayLine, "Port0Path0Target0Lun0", kUsb, kDisk, 32},
    {kTwoBayLine, "Port0Path0Target0Lun0", kSata, "MICROSOFT STORAGE SPACE DEVICE #2", 32},
    {kTwoBayLine, "Port0Path1Target0Lun0", kUsb, kStoragePoolDevice, 2},
    // 0x80000
    {kSecondFourBay, "Port0Path0Target4Lun0", kSata, kDisk, 2},
    // 0x100000, 2 bays: only USB moves the first bay's disk out; a pool disk stays.
    {kLcdTwoBay, "Port0Path0Target0Lun0", kUsb, kDisk, 32},
    {kLcdTwoBay, "Port0Path0Target0Lun0", kSata, kStoragePoolDevice, 1},
    // 0x100000, 5 bays
    {kLcdFiveBay, "Port1Path0Target3Lun0", kSata, kDisk, 16},
    // 0x100000, 4 bays on OS codes 2048, 4096, 8192: paths 0 to 3 of port 0.
    {kLcdFourBay2016, "Port0Path0Target0Lun0", kUsb, kDisk, 32},
    {kLcdFourBay2016, "Port0Path3Target0Lun0", kSata, kDisk, 8},
    {kLcdTwelveBay2019, "Port0Path1Target0Lun0", kSata, kDisk, 2},
    // 0x100000, other bay counts on other OS codes: the four targets of port 1, no USB rule.
    {kLcdFourBay2012R2, "Port1Path0Target0Lun0", kUsb, kDisk, 1},
    {kLcdTwelveBay2012R2, "Port1Path0Target3Lun0", kSata, kDisk, 8},
    // 0x200000, 5 bays: the internal SSD's address is unknown to the storage service.
    {kTemperatureFiveBay, "UNKNOWN", kSata, kDisk, 1},
    // 0x200000, other bay counts
    {kTemperatureFourBay, "Port1Path0Target3Lun0", kSata, kDisk, 8},
    {kTemperatureFourBay, "UNKNOWN", kSata, kDisk, 32},
    // No map: every disk 0.
    {kBoardSeries, "Port1Path0Target0Lun0", kSata, kDisk, 0},
    // Several platform bits: the lowest decides.
    {0x100000 | 0x200000 | 0x10, "Port1Path0Target3Lun0", kSata, kDisk, 16},
    {0x10000 | 0x400000, "Port1Path0Target0Lun0", kSata, kDisk, 1},
    // Addresses compare exactly.
    {kFirstLine1, "port1path0target0lun0", kSata, kDisk, 32},
};

TEST(PortMap, EveryPlatformBayCountAndOsCodeMapsItsAddresses) {
  for (const PortRow& row : kPorts) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.flags << " " << row.address << " bus " << std::dec
                                      << row.busType << " " << row.name);
    EXPECT_EQ(PortMaskOf(row.flags, row.address, row.busType, row.name), row.mask);
  }
}

TEST(PortMap, CodesAreTheLowestBitOfEachRangeAndBayCountFollowsTheBayCode) {
  const auto codes = [](std::uint32_t flags) {
    const ModelCodes c = CodesOf(flags);
    return std::tuple(c.bayCode, c.osCode, c.platformCode);
  };
  EXPECT_EQ(codes(0x300000 | 0x2400 | 0x12 | 0x10000000), std::tuple(0x2U, 0x400U, 0x100000U));
  EXPECT_EQ(codes(0x4000 | 0x800000), std::tuple(0U, 0U, 0U));  // beyond bits 8-13 and 16-22
  for (const auto& [bayCode, bays] : {std::pair{2U, 2U}, {16U, 5U}, {128U, 12U}, {8U, 4U}, {0U, 4U}}) {
    EXPECT_EQ(BayCount(bayCode), bays) << bayCode;
  }
}

constexpr std::uint32_t kBayFiveBayLine = 0x10;

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
    {16, 4, 5, 5, "HDD5", "HDD5", "HDD5"},
    {4096, 11, 12, 12, "HDD12", "HDD12", "HDD12"},
    {32, 0, -1, -1, "", "", ""},
    {8192, 0, -1, -1, "", "", ""},
};

TEST(BayTables, SlotNumberAndNameOfEveryMaskOnBothBrands) {
  for (const BayRow& row : kBays) {
    SCOPED_TRACE(row.mask);
    EXPECT_EQ(SlotIndexOf(row.mask), row.slot);
    EXPECT_EQ(BayNumber(row.mask, false), row.tavolenNumber);
    EXPECT_EQ(BayNumber(row.mask, true), row.meridexNumber);
    // Model flags bit 4 names the Meridex 5-bay line; it changes nothing on Tavolen devices.
    EXPECT_EQ(BayName(row.mask, false, 0), row.tavolenName);
    EXPECT_EQ(BayName(row.mask, false, kBayFiveBayLine), row.tavolenName);
    EXPECT_EQ(BayName(row.mask, true, kBayFiveBayLine), row.meridexFiveBayName);
    EXPECT_EQ(BayName(row.mask, true, 0x100000 | 0x8), row.meridexName);
  }
}

}  // namespace
}  // namespace orv
