#include "monitors/nas/disk_readers.h"

#include <gtest/gtest.h>

#include <numeric>

#include "fakes/fake_storage_device.h"
#include "model/disk_info.h"

namespace orv {
namespace {

using fakes::FakeStorageDevice;
constexpr const char* kDrive = "\\\\?\\PhysicalDrive1";

std::vector<std::uint8_t> Counting(std::size_t size, std::uint8_t first = 1) {
  std::vector<std::uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

std::vector<std::uint8_t> Request(std::uint32_t bufferSize, std::uint8_t features, std::uint8_t cylLow,
                                  std::uint8_t cylHigh, std::uint8_t command) {
  std::vector<std::uint8_t> bytes(33, 0);
  bytes[0] = static_cast<std::uint8_t>(bufferSize);
  bytes[1] = static_cast<std::uint8_t>(bufferSize >> 8);
  bytes[4] = features;
  bytes[7] = cylLow;
  bytes[8] = cylHigh;
  bytes[10] = command;
  return bytes;
}

class DiskReadersTest : public ::testing::Test {
 protected:
  FakeStorageDevice::Disk& Disk() { return devices.disks[kDrive]; }
  FakeStorageDevice devices;
};

TEST_F(DiskReadersTest, IdentifyAsksWithCommandEcAndSwapsTheTextFieldsOnRequest) {
  std::vector<std::uint8_t> sector = Counting(512);
  sector[54] = 'T';  // model, word 27, as the drive stores it
  sector[55] = 'S';
  Disk().identify.bytes = sector;

  IdentifyBlock block;
  os::OsError error = 99;
  ASSERT_TRUE(Identify(devices, kDrive, block, true, &error));
  EXPECT_EQ(error, os::kSuccess);
  ASSERT_EQ(devices.calls.size(), 1U);
  EXPECT_EQ(devices.calls[0].deviceName, kDrive);
  EXPECT_EQ(devices.calls[0].request, Request(512, 0, 0, 0, 0xEC));
  EXPECT_EQ(devices.calls[0].answerSize, 528U);
  EXPECT_EQ(block[54], 'S');
  EXPECT_EQ(block[55], 'T');
  for (std::size_t b = 0; b < 512; ++b) {
    const bool text = (b >= 20 && b < 40) || (b >= 46 && b < 94);
    if (!text) {
      EXPECT_EQ(block[b], sector[b]) << b;
    }
  }
  EXPECT_EQ(block[20], sector[21]);
  EXPECT_EQ(block[93], sector[92]);

  ASSERT_TRUE(Identify(devices, kDrive, block, false));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), sector.begin()));
}

TEST_F(DiskReadersTest, ReadSmartAsksForDataOrThresholdsWithTheSmartRegisters) {
  Disk().smartData.bytes = Counting(512, 10);
  Disk().smartThresholds.bytes = Counting(512, 20);
  SmartBlock block;
  block.fill(0xEE);
  ASSERT_TRUE(ReadSmart(devices, kDrive, 0xD0, block));
  ASSERT_EQ(devices.calls.size(), 1U);
  // The buffer-size field carries 33, the size of the request structure, as it always has.
  EXPECT_EQ(devices.calls[0].request, Request(33, 0xD0, 0x4F, 0xC2, 0xB0));
  EXPECT_EQ(devices.calls[0].answerSize, 529U);
  // 16 bytes of status (the fake's: the sector length), the sector, the untouched last byte.
  EXPECT_EQ(block[0], 0x00);
  EXPECT_EQ(block[1], 0x02);
  EXPECT_EQ(block[16], 10);
  EXPECT_EQ(block[527], static_cast<std::uint8_t>(10 + 511));
  EXPECT_EQ(block[528], 0);

  ASSERT_TRUE(ReadSmart(devices, kDrive, 0xD1, block));
  EXPECT_EQ(devices.calls[1].request, Request(33, 0xD1, 0x4F, 0xC2, 0xB0));
  EXPECT_EQ(block[16], 20);
}

TEST_F(DiskReadersTest, ReadSmartRefusesOtherFeaturesAndSizesWithoutAsking) {
  Disk().smartData.bytes = Counting(512);
  struct Row {
    std::uint8_t feature;
    std::size_t size;
  };
  for (const Row row : {Row{0xD2, 529}, Row{0xDA, 529}, Row{0x00, 529}, Row{0xD0, 528}, Row{0xD0, 512},
                        Row{0xD1, 530}, Row{0xD0, 0}}) {
    SCOPED_TRACE(::testing::Message() << std::hex << int{row.feature} << " " << std::dec << row.size);
    std::vector<std::uint8_t> block(row.size, 0xEE);
    os::OsError error = 0;
    EXPECT_FALSE(ReadSmart(devices, kDrive, row.feature, block, &error));
    EXPECT_EQ(error, os::kErrorInvalidParameter);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; }));
  }
  EXPECT_TRUE(devices.calls.empty());
}

// What each failing or short answer does to the two SMART-request readers.
TEST_F(DiskReadersTest, FailedAndShortAnswersLeaveZeroedBlocksAndTheirCode) {
  struct Row {
    const char* name;
    os::OsError openError;
    FakeStorageDevice::Answer answer;
    os::OsError expected;
  };
  const Row rows[] = {
      {"device does not open", os::kErrorAccessDenied, {Counting(512), 0}, os::kErrorAccessDenied},
      {"request fails (Wine)", 0, {Counting(512), os::kErrorNotSupported}, os::kErrorNotSupported},
      {"status only", 0, {{}, 0}, os::kErrorInvalidData},
      {"half a sector", 0, {Counting(256), 0}, os::kErrorInvalidData},
      {"one byte short", 0, {Counting(511), 0}, os::kErrorInvalidData},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Disk().openError = row.openError;
    Disk().identify = row.answer;
    Disk().smartData = row.answer;
    IdentifyBlock identify;
    identify.fill(0xEE);
    os::OsError error = 0;
    EXPECT_FALSE(Identify(devices, kDrive, identify, true, &error));
    EXPECT_EQ(error, row.expected);
    EXPECT_TRUE(std::all_of(identify.begin(), identify.end(), [](std::uint8_t b) { return b == 0; }));
    SmartBlock smart;
    smart.fill(0xEE);
    error = 0;
    EXPECT_FALSE(ReadSmart(devices, kDrive, 0xD0, smart, &error));
    EXPECT_EQ(error, row.expected);
    EXPECT_TRUE(std::all_of(smart.begin(), smart.end(), [](std::uint8_t b) { return b == 0; }));
  }
  IdentifyBlock identify;
  os::OsError error = 0;
  EXPECT_FALSE(Identify(devices, "\\\\?\\PhysicalDrive7", identify, true, &error));
  EXPECT_EQ(error, os::kErrorFileNotFound);
  EXPECT_FALSE(Identify(devices, "\\\\?\\PhysicalDrive7", identify, true));  // no code asked for
}

TEST_F(DiskReadersTest, DeviceDescriptorAsksForTheSizeFirstThenReadsTheTexts) {
  Disk().deviceDescriptor.bytes = FakeStorageDevice::DescriptorAnswer("ATA", "ST4000VN008-2DR166", "SC60", "  ZDH1ABCD");
  DeviceDescriptorTexts texts;
  os::OsError error = 99;
  ASSERT_TRUE(QueryDeviceDescriptor(devices, kDrive, texts, &error));
  EXPECT_EQ(error, os::kSuccess);
  ASSERT_EQ(devices.calls.size(), 2U);
  EXPECT_EQ(devices.calls[0].propertyId, 0U);
  EXPECT_EQ(devices.calls[0].answerSize, 8U);
  EXPECT_EQ(devices.calls[1].propertyId, 0U);
  EXPECT_EQ(devices.calls[1].answerSize, Disk().deviceDescriptor.bytes.size());
  EXPECT_EQ(texts.vendorId, "ATA");
  EXPECT_EQ(texts.productId, "ST4000VN008-2DR166");
  EXPECT_EQ(texts.productRevision, "SC60");
  EXPECT_EQ(texts.serialNumber, "  ZDH1ABCD");  // as the driver gives it; the status trims
}

std::vector<std::uint8_t> Le32At(std::vector<std::uint8_t> bytes, std::size_t at, std::uint32_t value) {
  for (std::size_t b = 0; b < 4; ++b) bytes[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
  return bytes;
}

// Descriptors from drivers and firmware that got them wrong: every text is empty or cut, and
// nothing outside the answer is read.
TEST(DeviceDescriptor, BrokenOffsetsAndTextsGiveEmptyOrCutTexts) {
  const std::vector<std::uint8_t> good = FakeStorageDevice::DescriptorAnswer("ATA", "MODEL", "FW01", "SERIAL");
  std::vector<std::uint8_t> unterminated = FakeStorageDevice::DescriptorAnswer("", "", "", "SERIAL");
  unterminated.pop_back();  // the answer ends inside the last text
  std::vector<std::uint8_t> latin = FakeStorageDevice::DescriptorAnswer("", "DISK\xE9\xFF", "", "");
  struct Row {
    const char* name;
    std::vector<std::uint8_t> answer;
    DeviceDescriptorTexts texts;
  };
  const Row rows[] = {
      {"whole", good, {"ATA", "MODEL", "FW01", "SERIAL"}},
      {"offsets past the end", Le32At(Le32At(good, 12, 5000), 24, static_cast<std::uint32_t>(good.size())),
       {"", "MODEL", "FW01", ""}},
      {"offset at the last byte", Le32At(good, 16, static_cast<std::uint32_t>(good.size() - 1)),
       {"ATA", "", "FW01", "SERIAL"}},
      {"huge offset", Le32At(good, 20, 0xFFFFFFFF), {"ATA", "MODEL", "", "SERIAL"}},
      {"no terminator before the end", unterminated, {"", "", "", "SERIAL"}},
      {"cut inside the offset fields", std::vector<std::uint8_t>(good.begin(), good.begin() + 22), {"", "", "", ""}},
      {"only the header", std::vector<std::uint8_t>(good.begin(), good.begin() + 8), {"", "", "", ""}},
      {"nothing", {}, {"", "", "", ""}},
      {"bytes above 0x7F", latin, {"", "DISK\xC3\xA9\xC3\xBF", "", ""}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const DeviceDescriptorTexts texts = DecodeDeviceDescriptor(row.answer);
    EXPECT_EQ(texts.vendorId, row.texts.vendorId);
    EXPECT_EQ(texts.productId, row.texts.productId);
    EXPECT_EQ(texts.productRevision, row.texts.productRevision);
    EXPECT_EQ(texts.serialNumber, row.texts.serialNumber);
  }
}

TEST_F(DiskReadersTest, DeviceDescriptorWithAnUnusableHeaderFailsWithoutASecondQuery) {
  const std::vector<std::uint8_t> good = FakeStorageDevice::DescriptorAnswer("ATA", "MODEL", "FW01", "SERIAL");
  struct Row {
    const char* name;
    std::vector<std::uint8_t> answer;
    std::size_t calls;
  };
  const Row rows[] = {
      {"header cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 6), 1},
      {"size below the header", Le32At(good, 4, 7), 1},
      {"size of four gigabytes", Le32At(good, 4, 0xFFFFFFF0), 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    devices.calls.clear();
    Disk().deviceDescriptor.bytes = row.answer;
    DeviceDescriptorTexts texts{"stale", "stale", "stale", "stale"};
    os::OsError error = 0;
    EXPECT_FALSE(QueryDeviceDescriptor(devices, kDrive, texts, &error));
    EXPECT_EQ(error, os::kErrorInvalidData);
    EXPECT_EQ(devices.calls.size(), row.calls);
    EXPECT_EQ(texts.vendorId + texts.productId + texts.productRevision + texts.serialNumber, "");
  }
  // A header that names more than the driver then gives is read as far as it goes.
  Disk().deviceDescriptor.bytes = Le32At(good, 4, static_cast<std::uint32_t>(good.size() + 100));
  DeviceDescriptorTexts texts;
  ASSERT_TRUE(QueryDeviceDescriptor(devices, kDrive, texts));
  EXPECT_EQ(texts.serialNumber, "SERIAL");
}

TEST_F(DiskReadersTest, SectorSizesFromTheAccessAlignmentProperty) {
  Disk().accessAlignment.bytes = FakeStorageDevice::AlignmentAnswer(512, 4096);
  SectorSizes sizes;
  ASSERT_TRUE(QuerySectorSizes(devices, kDrive, sizes));
  EXPECT_EQ(sizes.logical, 512U);
  EXPECT_EQ(sizes.physical, 4096U);
  ASSERT_EQ(devices.calls.size(), 1U);
  EXPECT_EQ(devices.calls[0].propertyId, 6U);
  EXPECT_EQ(devices.calls[0].answerSize, 28U);

  Disk().accessAlignment.bytes.resize(23);
  os::OsError error = 0;
  EXPECT_FALSE(QuerySectorSizes(devices, kDrive, sizes, &error));
  EXPECT_EQ(error, os::kErrorInvalidData);
  EXPECT_EQ(sizes.logical, 0U);
  EXPECT_EQ(sizes.physical, 0U);

  Disk().accessAlignment = {{}, os::kErrorNotSupported};
  EXPECT_FALSE(QuerySectorSizes(devices, kDrive, sizes, &error));
  EXPECT_EQ(error, os::kErrorNotSupported);
}

}  // namespace
}  // namespace orv
