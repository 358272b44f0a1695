#include "monitors/nas/disk_list.h"

#include <gtest/gtest.h>

#include "fakes/fake_storage_device.h"
#include "support/ata_sectors.h"

namespace orv {
namespace {

using fakes::FakeStorageDevice;
using testing::IdentifySector;
using testing::SmartSector;

constexpr std::uint32_t kTavolenFourBay = 0x100000 | 0x2000 | 0x8;
constexpr std::uint32_t kMeridexFiveBay = 0x100000 | 0x800 | 0x10;
constexpr std::uint32_t kSata = 11;

LayoutDisk Entry(std::string device, std::string model, std::uint32_t portMask, std::uint32_t media = kMediaTypeFixed) {
  return {"Port0Path0Target0Lun0", std::move(device), std::move(model), media, kSata, portMask};
}

class DiskListTest : public ::testing::Test {
 protected:
  FakeStorageDevice::Disk& Put(const std::string& device, std::string_view model) {
    FakeStorageDevice::Disk& disk = devices.disks[device];
    disk.identify.bytes = IdentifySector(model);
    disk.smartData.bytes = SmartSector({{9, 0x0102030405}, {12, 77}, {194, 0x1E0024}});
    disk.smartThresholds.bytes = std::vector<std::uint8_t>(512, 0);
    disk.deviceDescriptor.bytes = FakeStorageDevice::DescriptorAnswer("", model, "FW01", "  SER123  ");
    disk.accessAlignment.bytes = FakeStorageDevice::AlignmentAnswer(512, 4096);
    return disk;
  }
  FakeStorageDevice devices;
};

TEST_F(DiskListTest, APresentDiskGetsItsBayIdentitySmartAndIdentifyTexts) {
  Put("\\\\?\\PhysicalDrive0", "WDC WD40EFRX-68N32N0");
  const DiskInfo disk = ReadLayoutDisk(devices, Entry("\\\\?\\PhysicalDrive0", "WDC WD40EFRX-68N32N0", 2), false,
                                       kTavolenFourBay);
  EXPECT_EQ(disk.present, 1U);
  EXPECT_EQ(disk.name, "HDD1");
  EXPECT_EQ(disk.number, 1);
  EXPECT_EQ(disk.slotIndex, 1U);
  EXPECT_EQ(disk.portMask, 2U);
  EXPECT_EQ(disk.mediaType, kMediaTypeFixed);
  EXPECT_EQ(disk.busType, kSata);
  EXPECT_EQ(disk.diskAddress, "Port0Path0Target0Lun0");
  EXPECT_EQ(disk.deviceName, "\\\\?\\PhysicalDrive0");
  EXPECT_EQ(disk.friendlyName, "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(disk.vendorId, "");
  EXPECT_EQ(disk.productId, "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(disk.productRevision, "FW01");
  EXPECT_EQ(disk.serialNumber, "  SER123  ");
  EXPECT_EQ(disk.logicalSectorSize, 512U);
  EXPECT_EQ(disk.physicalSectorSize, 4096U);
  EXPECT_EQ(disk.smartValid, 1U);
  EXPECT_EQ(disk.powerOnHours, 0x02030405U);  // a six-byte raw number kept in 32 bits
  EXPECT_EQ(disk.powerCycleCount, 77U);
  EXPECT_EQ(disk.temperature, 0x24U);  // low 8 bits for a model other than "ST..."
  EXPECT_EQ(disk.smartData[18], 9);
  EXPECT_EQ(disk.transferMode, "---- | SATA/300");
  EXPECT_EQ(disk.ataVersion, "ATA8-ACS | ----");
  EXPECT_EQ(disk.features, "S.M.A.R.T, NCQ");
}

TEST_F(DiskListTest, SeagateValuesAndMeridexBayNames) {
  Put("\\\\?\\PhysicalDrive3", "ST4000VN008-2DR166");
  const DiskInfo disk =
      ReadLayoutDisk(devices, Entry("\\\\?\\PhysicalDrive3", "ST4000VN008-2DR166", 1), true, kMeridexFiveBay);
  EXPECT_EQ(disk.name, "SSD");
  EXPECT_EQ(disk.number, 1);
  EXPECT_EQ(disk.temperature, 36U);  // low 16 bits of 1E 0024
  EXPECT_EQ(disk.powerOnHours, 0x02030405U);
}

TEST_F(DiskListTest, WhatFailsStaysEmptyAndIsNoErrorForTheCaller) {
  struct Row {
    const char* name;
    void (*breakIt)(FakeStorageDevice::Disk&);
    std::uint32_t media;
    bool smartValid;
    bool identifyTexts;
    bool descriptor;
  };
  const Row rows[] = {
      {"all well", [](FakeStorageDevice::Disk&) {}, kMediaTypeFixed, true, true, true},
      {"removable media are not read for SMART", [](FakeStorageDevice::Disk&) {}, 11, false, true, true},
      {"SMART data fails", [](FakeStorageDevice::Disk& d) { d.smartData.error = 50; }, kMediaTypeFixed, false, true,
       true},
      {"thresholds fail", [](FakeStorageDevice::Disk& d) { d.smartThresholds.error = 1117; }, kMediaTypeFixed, false,
       true, true},
      {"thresholds short", [](FakeStorageDevice::Disk& d) { d.smartThresholds.bytes.resize(100); }, kMediaTypeFixed,
       false, true, true},
      {"identify fails", [](FakeStorageDevice::Disk& d) { d.identify.error = 50; }, kMediaTypeFixed, true, false,
       true},
      {"descriptor fails", [](FakeStorageDevice::Disk& d) { d.deviceDescriptor.error = 1; }, kMediaTypeFixed, true,
       true, false},
      {"disk gone", [](FakeStorageDevice::Disk& d) { d.openError = 2; }, kMediaTypeFixed, false, false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    devices.disks.clear();
    row.breakIt(Put("\\\\?\\PhysicalDrive0", "WDC WD40EFRX"));
    const DiskInfo disk =
        ReadLayoutDisk(devices, Entry("\\\\?\\PhysicalDrive0", "WDC WD40EFRX", 4, row.media), false, kTavolenFourBay);
    EXPECT_EQ(disk.present, 1U);
    EXPECT_EQ(disk.name, "HDD2");
    EXPECT_EQ(disk.friendlyName, "WDC WD40EFRX");
    EXPECT_EQ(disk.smartValid, row.smartValid ? 1U : 0U);
    EXPECT_EQ(disk.temperature, row.smartValid ? 0x24U : 0U);
    EXPECT_EQ(disk.powerOnHours, row.smartValid ? 0x02030405U : 0U);
    EXPECT_EQ(disk.powerCycleCount, row.smartValid ? 77U : 0U);
    EXPECT_EQ(disk.transferMode.empty(), !row.identifyTexts);
    EXPECT_EQ(disk.features.empty(), !row.identifyTexts);
    EXPECT_EQ(disk.productRevision, row.descriptor ? "FW01" : "");
  }
}

TEST_F(DiskListTest, AttributesTheDiskDoesNotHaveStayZero) {
  // An SSD without temperature or power-cycle attributes: a lookup that finds nothing must not
  // leave its all-ones marker in the record, where it would be reported as 4294967295.
  Put("\\\\?\\PhysicalDrive0", "INTEL SSDSA2CW120G3").smartData.bytes = SmartSector({{5, 0}, {9, 45}});
  const DiskInfo disk =
      ReadLayoutDisk(devices, Entry("\\\\?\\PhysicalDrive0", "INTEL SSDSA2CW120G3", 1), false, kTavolenFourBay);
  EXPECT_EQ(disk.smartValid, 1U);
  EXPECT_EQ(disk.powerOnHours, 45U);
  EXPECT_EQ(disk.powerCycleCount, 0U);
  EXPECT_EQ(disk.temperature, 0U);
}

TEST_F(DiskListTest, TheListFollowsTheLayoutOrderWithDisksOutsideTheBays) {
  Put("\\\\?\\PhysicalDrive0", "A");
  Put("\\\\?\\PhysicalDrive1", "B");
  const LayoutDisk layout[] = {Entry("\\\\?\\PhysicalDrive1", "B", 8), Entry("\\\\?\\PhysicalDrive0", "A", 32),
                               Entry("\\\\?\\PhysicalDrive2", "C", 0)};
  const std::vector<DiskInfo> list = BuildDiskList(devices, layout, false, kTavolenFourBay);
  ASSERT_EQ(list.size(), 3U);
  EXPECT_EQ(list[0].friendlyName, "B");
  EXPECT_EQ(list[0].name, "HDD3");
  EXPECT_EQ(list[1].friendlyName, "A");
  EXPECT_EQ(list[1].name, "");
  EXPECT_EQ(list[1].number, -1);
  EXPECT_EQ(list[1].smartValid, 1U);
  EXPECT_EQ(list[2].friendlyName, "C");
  EXPECT_EQ(list[2].present, 1U);  // found, though it does not open
  EXPECT_EQ(list[2].smartValid, 0U);
}

}  // namespace
}  // namespace orv
