// What the agent reads of a disk: the requests to the storage driver, the identify words and
// SMART attributes they return, and the disk list made of them.
#include "monitors/nas/disk_readers.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "fakes/fake_storage_device.h"
#include "support/ata_sectors.h"
#include "model/disk_info.h"
#include "model/smart_table.h"
#include "monitors/nas/disk_list.h"
#include "monitors/nas/hdd_identify.h"
#include "monitors/nas/smart_attributes.h"

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
  EXPECT_EQ(block[19], sector[19]);
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

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

struct SmartEntry {
  std::uint8_t id;
  std::uint8_t current;
  std::array<std::uint8_t, 7> raw;  // six raw bytes and the reserved byte, least significant first
};

// A 529-byte answer (table at byte 18) or a bare sector (table at byte 2) with `entries` from
// the first table place on.
std::vector<std::uint8_t> SmartTableBlock(std::size_t size, const std::vector<SmartEntry>& entries) {
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
    const auto block = SmartTableBlock(size, {{1, 100, {1}}, {3, 90, {3}}, {3, 80, {33}}, {5, 70, {5}}});
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
  const auto block = SmartTableBlock(kSmartBlockSize, {{0, 1, {1}}, {9, 2, {2}}, {251, 3, {3}}, {254, 4, {4}}, {255, 5, {5}}});
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
  const auto late = SmartTableBlock(kSmartBlockSize, {{9, 1, {}}, {5, 2, {}}});
  std::uint64_t raw = 0;
  std::uint64_t value = 0;
  EXPECT_FALSE(FindSmartAttribute(late, 5, raw, value, "WDC"));
}

TEST(SmartAttributes, OnlyBlocksOf529Or512BytesAreRead) {
  const auto full = SmartTableBlock(kSmartBlockSize, {{194, 1, {40}}});
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
  std::vector<SmartEntry> entries(31, SmartEntry{0, 0, {}});
  entries[0] = {1, 100, {}};
  entries[29] = {200, 100, {7}};
  entries[30] = {223, 100, {9}};
  for (const std::size_t size : {kSmartBlockSize, kSmartSectorSize}) {
    const auto block = SmartTableBlock(size, entries);
    std::uint64_t raw = 0;
    std::uint64_t value = 0;
    EXPECT_TRUE(FindSmartAttribute(block, 200, raw, value, "WDC")) << size;
    EXPECT_FALSE(FindSmartAttribute(block, 223, raw, value, "WDC")) << size;
  }
}

TEST(SmartAttributes, SeagateTakesSevenRawBytesOthersSix) {
  const auto block = SmartTableBlock(kSmartBlockSize, {{194, 36, {0x24, 0x00, 0x1E, 0x00, 0x00, 0x00, 0x00}},
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

  const auto other = SmartTableBlock(kSmartBlockSize, {{194, 45, {0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}});
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
      {199, true, 0x33445566},
      {7, true, 0x1122},          // bits 32-47
      {194, true, 0x5566},        // low 16 bits
      {3, true, kRaw},
      {190, true, kRaw},
      {194, false, 0x66},         // low 8 bits
      {1, false, kRaw},
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

using IdentifyWords = std::array<std::uint8_t, kIdentifyBlockSize>;

IdentifyWords WithWords(std::initializer_list<std::pair<std::size_t, std::uint16_t>> words) {
  IdentifyWords block{};
  for (const auto& [index, value] : words) {
    block[2 * index] = static_cast<std::uint8_t>(value);
    block[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  return block;
}

// Puts `text` into a field the way a drive stores it: two characters per word, the first in
// the high byte; `fill` pads the rest.
void PutDriveText(IdentifyWords& block, IdentifyTextField field, std::string_view text, std::uint8_t fill = ' ') {
  for (std::size_t i = 0; i < 2 * field.words; ++i) {
    const std::uint8_t c = i < text.size() ? static_cast<std::uint8_t>(text[i]) : fill;
    block[2 * (field.firstWord + i / 2) + (i % 2 == 0 ? 1 : 0)] = c;
  }
}

struct ModeRow {
  std::uint16_t word63, word76, word77, word88;
  const char* text;
};

constexpr ModeRow kModes[] = {
    {0, 0, 0, 0, " | "},
    // Word 88: the highest supported bit of 6-0, the highest selected bit of 14-8.
    {0, 0, 0, 0x203F, "UDMA/100 | UDMA/100"},
    {0, 0, 0, 0x047F, "UDMA/33 | UDMA/133"},
    {0, 0, 0, 0x4001, "UDMA/133 | UDMA/16"},
    {0, 0, 0, 0x0102, "UDMA/16 | UDMA/25"},
    {0, 0, 0, 0x0080, " | "},  // bits 7 and 15 name no mode
    // Word 63 bits 8-10 (a selected multiword DMA mode): "PIO/DMA" unless word 88 says more.
    {0x0407, 0, 0, 0, "PIO/DMA | PIO/DMA"},
    {0x0107, 0, 0, 0x001F, "PIO/DMA | UDMA/66"},
    {0x0007, 0, 0, 0, " | "},
    {0x0800, 0, 0, 0, " | "},
    // A SATA device: word 76 overrides what word 88 says.
    {0, 0x0001, 0, 0x407F, "SATA/150 | SATA/150"},
    {0, 0x0002, 0, 0x407F, "---- | SATA/150"},
    {0, 0x070E, 0, 0, "---- | SATA/600"},
    {0, 0x0010, 0, 0, "---- | ----"},
    {0, 0x001E, 0x0006, 0, "SATA/600 | ----"},
    {0, 0x070E, 0x0004, 0, "SATA/300 | SATA/600"},
    {0, 0x070E, 0x0002, 0, "SATA/150 | SATA/600"},
    {0, 0x070E, 0x0006, 0, "SATA/600 | SATA/600"},
    {0, 0x070E, 0x000E, 0, "---- | SATA/600"},  // coded speed 7 is reserved
    {0, 0x070E, 0x00F5, 0, "SATA/300 | SATA/600"},  // only bits 1-3 count
    // Word 76 of 0 or 0xFFFF: no SATA device, and word 77 means nothing.
    {0, 0xFFFF, 0x0004, 0x203F, "UDMA/100 | UDMA/100"},
    {0, 0x0000, 0x0004, 0x203F, "UDMA/100 | UDMA/100"},
};

TEST(HDDIdentify, TransferModeFromWords63And88OverriddenBySataWords76And77) {
  for (const ModeRow& row : kModes) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.word63 << " " << row.word76 << " " << row.word77 << " "
                                      << row.word88);
    const IdentifyWords block = WithWords({{63, row.word63}, {76, row.word76}, {77, row.word77}, {88, row.word88}});
    EXPECT_EQ(HDDIdentify::TransferModeText(block), row.text);
  }
}

struct VersionRow {
  std::uint16_t word80, word81;
  const char* text;
};

constexpr VersionRow kVersions[] = {
    {0x0000, 0x0000, " | ----"},
    {0xFFFF, 0xFFFF, " | ----"},
    {0x00F0, 0x0000, "ATA/ATAPI-7 | ----"},
    {0x01F0, 0x0000, "ATA8-ACS | ----"},
    {0x0FE0, 0x0000, "ACS-4 | ----"},
    {0x1000, 0x0000, " | ----"},
    {0x7FFE, 0x0000, " | ----"},
    {0x07FE, 0x0000, "ACS-3 | ----"},
    {0x007E, 0x0000, "ATA/ATAPI-6 | ----"},
    {0x0010, 0x0000, "ATA/ATAPI-4 | ----"},
    {0x000E, 0x0000, "ATA-3 | ----"},
    {0x0002, 0x0000, "ATA-1 | ----"},
    {0x0001, 0x0000, "---- | ----"},  // bits 0 and 15 name no standard
    {0x8000, 0x0000, "---- | ----"},
    {0x01F0, 0x0001, "ATA8-ACS | ATA (ATA-1) X3T9.2 781D prior to revision 4"},
    {0x01F0, 0x001F, "ATA8-ACS | ACS-3 Revision 3b"},
    {0x01F0, 0x0052, "ATA8-ACS | ATA8-ACS version 3b"},
    {0x01F0, 0x011B, "ATA8-ACS | ACS-3 Revision 4"},
    {0x01F0, 0x0020, "ATA8-ACS | ---- [0020h]"},
    {0x01F0, 0xABCD, "ATA8-ACS | ---- [ABCDh]"},
};

TEST(HDDIdentify, AtaVersionFromWords80And81) {
  for (const VersionRow& row : kVersions) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.word80 << " " << row.word81);
    EXPECT_EQ(HDDIdentify::AtaVersionText(WithWords({{80, row.word80}, {81, row.word81}})), row.text);
  }
}

struct FeatureRow {
  std::uint16_t word76, word82, word83;
  const char* text;
};

constexpr FeatureRow kFeatures[] = {
    {0, 0, 0, ""},
    {0, 0x0001, 0, "S.M.A.R.T"},
    {0, 0, 0x0008, "APM"},
    {0, 0, 0x0200, "AAM"},
    {0x0100, 0, 0, "NCQ"},
    {0x0100, 0x0001, 0x0208, "S.M.A.R.T, APM, AAM, NCQ"},
    {0x0100, 0x0001, 0x0200, "S.M.A.R.T, AAM, NCQ"},
    {0xFEFF, 0xFFFE, 0xFDF7, ""},  // every other bit set
};

TEST(HDDIdentify, FeaturesInTheirOrderJoinedByCommas) {
  for (const FeatureRow& row : kFeatures) {
    SCOPED_TRACE(row.text);
    EXPECT_EQ(HDDIdentify::FeatureText(WithWords({{76, row.word76}, {82, row.word82}, {83, row.word83}})), row.text);
  }
}

TEST(HDDIdentify, BlocksOfAnotherSizeDecodeToNothing) {
  const IdentifyWords full = WithWords({{76, 0x070E}, {80, 0x01F0}, {82, 1}});
  for (const std::size_t size : {std::size_t{0}, std::size_t{2}, std::size_t{200}, std::size_t{511}}) {
    const std::span<const std::uint8_t> cut(full.data(), size);
    EXPECT_EQ(HDDIdentify::TransferModeText(cut), "");
    EXPECT_EQ(HDDIdentify::AtaVersionText(cut), "");
    EXPECT_EQ(HDDIdentify::FeatureText(cut), "");
    EXPECT_EQ(IdentifyText(cut, kModelField), "");
  }
  std::vector<std::uint8_t> longer(full.begin(), full.end());
  longer.resize(529);
  EXPECT_EQ(HDDIdentify::TransferModeText(longer), "");
}

TEST(HDDIdentify, TextFieldsReadAsTheDriveStoresThemAndSwapToByteOrder) {
  IdentifyWords block{};
  PutDriveText(block, kSerialNumberField, "   WD-WCC4M1234567");
  PutDriveText(block, kFirmwareRevisionField, "82.00A82");
  PutDriveText(block, kModelField, "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(IdentifyText(block, kSerialNumberField), "WD-WCC4M1234567");
  EXPECT_EQ(IdentifyText(block, kFirmwareRevisionField), "82.00A82");
  EXPECT_EQ(IdentifyText(block, kModelField), "WDC WD40EFRX-68N32N0");

  IdentifyWords swapped = block;
  SwapIdentifyTextFields(swapped);
  EXPECT_EQ(std::string(swapped.begin() + 54, swapped.begin() + 74), "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(std::string(swapped.begin() + 46, swapped.begin() + 54), "82.00A82");
  // Only the text fields move.
  IdentifyWords other = WithWords({{0, 0x1234}, {49, 0xABCD}, {255, 0x5A5A}});
  IdentifyWords otherSwapped = other;
  SwapIdentifyTextFields(otherSwapped);
  EXPECT_EQ(otherSwapped, other);
}

struct TextRow {
  const char* name;
  std::string stored;  // the field's characters in reading order
  std::uint8_t fill;
  std::string text;
};

TEST(HDDIdentify, TextFieldsWithoutTerminatorOrWithOddBytesGiveDefinedText) {
  const TextRow rows[] = {
      {"all blank", "", ' ', ""},
      {"all zero", "", 0, ""},
      {"full width, no terminator", std::string(40, 'M'), ' ', std::string(40, 'M')},
      {"cut at the first zero byte", std::string("ST1000\0GARBAGE", 14), ' ', "ST1000"},
      {"blanks inside stay", "  HGST  HUS724040ALE640  ", ' ', "HGST  HUS724040ALE640"},
      {"bytes above 0x7F read as Latin-1", "DISK\xE9\xFF", ' ', "DISK\xC3\xA9\xC3\xBF"},
      {"control characters pass to the JSON writer", "A\tB\x01", ' ', "A\tB\x01"},
  };
  for (const TextRow& row : rows) {
    SCOPED_TRACE(row.name);
    IdentifyWords block{};
    PutDriveText(block, kModelField, row.stored, row.fill);
    EXPECT_EQ(IdentifyText(block, kModelField), row.text);
  }
}

using testing::IdentifySector;
using testing::SmartSector;

constexpr std::uint32_t kDiskListTavolen = 0x100000 | 0x2000 | 0x8;
constexpr std::uint32_t kDiskListMeridex = 0x100000 | 0x800 | 0x10;
constexpr std::uint32_t kDiskListSata = 11;

LayoutDisk DiskListEntry(std::string device, std::string model, std::uint32_t portMask, std::uint32_t media = kMediaTypeFixed) {
  return {"Port0Path0Target0Lun0", std::move(device), std::move(model), media, kDiskListSata, portMask};
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
  const DiskInfo disk = ReadLayoutDisk(devices, DiskListEntry("\\\\?\\PhysicalDrive0", "WDC WD40EFRX-68N32N0", 2), false,
                                       kDiskListTavolen);
  EXPECT_EQ(disk.present, 1U);
  EXPECT_EQ(disk.name, "HDD1");
  EXPECT_EQ(disk.number, 1);
  EXPECT_EQ(disk.slotIndex, 1U);
  EXPECT_EQ(disk.portMask, 2U);
  EXPECT_EQ(disk.mediaType, kMediaTypeFixed);
  EXPECT_EQ(disk.busType, kDiskListSata);
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
      ReadLayoutDisk(devices, DiskListEntry("\\\\?\\PhysicalDrive3", "ST4000VN008-2DR166", 1), true, kDiskListMeridex);
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
        ReadLayoutDisk(devices, DiskListEntry("\\\\?\\PhysicalDrive0", "WDC WD40EFRX", 4, row.media), false, kDiskListTavolen);
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
      ReadLayoutDisk(devices, DiskListEntry("\\\\?\\PhysicalDrive0", "INTEL SSDSA2CW120G3", 1), false, kDiskListTavolen);
  EXPECT_EQ(disk.smartValid, 1U);
  EXPECT_EQ(disk.powerOnHours, 45U);
  EXPECT_EQ(disk.powerCycleCount, 0U);
  EXPECT_EQ(disk.temperature, 0U);
}

TEST_F(DiskListTest, TheListFollowsTheLayoutOrderWithDisksOutsideTheBays) {
  Put("\\\\?\\PhysicalDrive0", "A");
  Put("\\\\?\\PhysicalDrive1", "B");
  const LayoutDisk layout[] = {DiskListEntry("\\\\?\\PhysicalDrive1", "B", 8), DiskListEntry("\\\\?\\PhysicalDrive0", "A", 32),
                               DiskListEntry("\\\\?\\PhysicalDrive2", "C", 0)};
  const std::vector<DiskInfo> list = BuildDiskList(devices, layout, false, kDiskListTavolen);
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
