#include "report/hardware_inventory.h"

#include <gtest/gtest.h>

#include "fakes/fake_os.h"
#include "platform/agent_registry.h"
#include "platform/reg_handle.h"
#include "report/agent_ctrl_upload.h"
#include "report/model_identity.h"
#include "support/shared_names.h"

namespace orv {
namespace {

using namespace model;

constexpr const char* kBoardQuery = "SELECT * FROM Win32_BaseBoard";

class InventoryTest : public ::testing::Test {
 protected:
  void AddBoard(const char* product, const char* serial, std::optional<std::string> version) {
    wmi.AddInstance("Win32_BaseBoard",
                    {{"Product", product}, {"SerialNumber", serial}, {"Version", version}});
  }
  void AddBios(std::optional<std::string> date, const char* version, const char* serial) {
    wmi.AddInstance(
        "Win32_BIOS",
        {{"ReleaseDate", date}, {"SMBIOSBIOSVersion", version}, {"SerialNumber", serial}});
  }
  HardwareInventory Read(std::uint32_t flags) {
    WmiBase base(wmi);
    return ReadHardwareInventory(base, flags);
  }

  fakes::FakeWmi wmi;
};

TEST_F(InventoryTest, EachRowOfTheFirmwareTable) {
  AddBoard("MDL-Q01", "BOARD-SN", "1.0A");
  AddBios("20190412000000.000000+000", "R1.07", "BIOS-SN");
  struct FirmwareRow {
    std::uint32_t flags;
    const char* firmware;
    const char* serial;
    bool written;
  };
  for (const FirmwareRow& row : {FirmwareRow{kLcdSeries, "1.0A", "BOARD-SN", false},
                         FirmwareRow{kTemperatureSeries, "R1.07", "BOARD-SN", false},
                         FirmwareRow{kBoardSeries, "R1.07", "BIOS-SN", true},
                         FirmwareRow{kFourBays | kStorageServer2016, "20190412", "BOARD-SN", false},
                         FirmwareRow{kLcdSeries | kBoardSeries, "1.0A", "BOARD-SN", true},
                         FirmwareRow{kTemperatureSeries | kBoardSeries, "R1.07", "BOARD-SN", true}}) {
    SCOPED_TRACE(row.flags);
    const HardwareInventory inventory = Read(row.flags);
    EXPECT_EQ(inventory.boardProduct, "MDL-Q01");
    EXPECT_EQ(inventory.firmware, row.firmware);
    EXPECT_EQ(inventory.boardSerial, row.serial);
    EXPECT_EQ(inventory.writesBoardSerial, row.written);
  }
  const std::size_t asked = wmi.Queries().size();
  (void)Read(kLcdSeries);
  EXPECT_EQ(wmi.Queries().size(), asked + 1);
  EXPECT_EQ(wmi.Queries().back(), kBoardQuery) << "the LCD series never asks for the BIOS";
}

}  // namespace
}  // namespace orv
