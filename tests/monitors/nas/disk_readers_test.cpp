// What the agent reads of a disk: the requests to the storage driver, the identify words and
// SMART attributes they return, and the disk list made of them.
#include "monitors/nas/disk_readers.h"

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <numeric>
#include <string>
#include <tuple>
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
  EXPECT_EQ(std::string(block.begin() + 54, block.begin() + 56), "ST");

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
  EXPECT_EQ((std::vector<std::uint8_t>{block[16], block[527], block[528]}),
            (std::vector<std::uint8_t>{10, static_cast<std::uint8_t>(10 + 511), 0}));

  ASSERT_TRUE(ReadSmart(devices, kDrive, 0xD1, block));
  EXPECT_EQ(devices.calls[1].request, Request(33, 0xD1, 0x4F, 0xC2, 0xB0));
  EXPECT_EQ(block[16], 20);
}

TEST_F(DiskReadersTest, ReadSmartRefusesOtherFeaturesAndSizesWithoutAsking) {
  Disk().smartData.bytes = Counting(512);
  for (const auto& [feature, size] : {std::pair{0xD2, 529}, {0xD0, 528}, {0xD1, 530}}) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(size), 0xEE);
    os::OsError error = 0;
    EXPECT_FALSE(ReadSmart(devices, kDrive, static_cast<std::uint8_t>(feature), block, &error)) << feature << " " << size;
    EXPECT_EQ(error, os::kErrorInvalidParameter);
    EXPECT_EQ(std::count(block.begin(), block.end(), 0), size);
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
      {"one byte short", 0, {Counting(511), 0}, os::kErrorInvalidData},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Disk().openError = row.openError;
    Disk().identify = row.answer;
    Disk().smartData = row.answer;
    IdentifyBlock identify;
    SmartBlock smart;
    identify.fill(0xEE);
    smart.fill(0xEE);
    os::OsError errors[2] = {0, 0};
    EXPECT_FALSE(Identify(devices, kDrive, identify, true, &errors[0]));
    EXPECT_FALSE(ReadSmart(devices, kDrive, 0xD0, smart, &errors[1]));
    EXPECT_EQ(errors[0], row.expected);
    EXPECT_EQ(errors[1], row.expected);
    EXPECT_EQ(std::count(identify.begin(), identify.end(), 0) + std::count(smart.begin(), smart.end(), 0),
              static_cast<std::ptrdiff_t>(identify.size() + smart.size()));
  }
}

std::string Joined(const DeviceDescriptorTexts& t) {
  return t.vendorId + "|" + t.productId + "|" + t.productRevision + "|" + t.serialNumber;
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
    const char* texts;
  };
  const Row rows[] = {
      {"offsets past the end", Le32At(Le32At(good, 12, 5000), 24, static_cast<std::uint32_t>(good.size())),
       "|MODEL|FW01|"},
      {"huge offset", Le32At(good, 20, 0xFFFFFFFF), "ATA|MODEL||SERIAL"},
      {"no terminator before the end", unterminated, "|||SERIAL"},
      {"cut inside the offset fields", std::vector<std::uint8_t>(good.begin(), good.begin() + 22), "|||"},
      {"bytes above 0x7F", latin, "|DISK\xC3\xA9\xC3\xBF||"},
  };
  for (const Row& row : rows) EXPECT_EQ(Joined(DecodeDeviceDescriptor(row.answer)), row.texts) << row.name;
}

TEST_F(DiskReadersTest, DeviceDescriptorWithAnUnusableHeaderFailsWithoutASecondQuery) {
  const std::vector<std::uint8_t> good = FakeStorageDevice::DescriptorAnswer("ATA", "MODEL", "FW01", "SERIAL");
  // A header cut short, and one that asks for four gigabytes.
  for (const auto& answer : {std::vector<std::uint8_t>(good.begin(), good.begin() + 6), Le32At(good, 4, 0xFFFFFFF0)}) {
    devices.calls.clear();
    Disk().deviceDescriptor.bytes = answer;
    DeviceDescriptorTexts texts{"stale", "stale", "stale", "stale"};
    os::OsError error = 0;
    EXPECT_FALSE(QueryDeviceDescriptor(devices, kDrive, texts, &error));
    EXPECT_EQ(error, os::kErrorInvalidData);
    EXPECT_EQ(devices.calls.size(), 1U);
    EXPECT_EQ(Joined(texts), "|||");
  }
  // A header that names more than the driver then gives is read as far as it goes.
  devices.calls.clear();
  Disk().deviceDescriptor.bytes = Le32At(good, 4, static_cast<std::uint32_t>(good.size() + 100));
  DeviceDescriptorTexts texts;
  ASSERT_TRUE(QueryDeviceDescriptor(devices, kDrive, texts));
  ASSERT_EQ(devices.calls.size(), 2U);
  EXPECT_EQ(devices.calls[0].answerSize, 8U) << "the size first";
  EXPECT_EQ(Joined(texts), "ATA|MODEL|FW01|SERIAL");
}

TEST_F(DiskReadersTest, AShortAccessAlignmentAnswerGivesNoSectorSizes) {
  Disk().accessAlignment.bytes = FakeStorageDevice::AlignmentAnswer(512, 4096);
  Disk().accessAlignment.bytes.resize(23);
  SectorSizes sizes{512, 512};
  os::OsError error = 0;
  EXPECT_FALSE(QuerySectorSizes(devices, kDrive, sizes, &error));
  EXPECT_EQ(error, os::kErrorInvalidData);
  EXPECT_EQ(sizes.logical + sizes.physical, 0U);
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
    block[at + 3] = entries[i].current;
    for (std::size_t b = 0; b < 7; ++b) block[at + 5 + b] = entries[i].raw[b];
  }
  return block;
}

// The raw number found for `id`, or all ones when the lookup fails.
std::uint64_t RawOf(std::span<const std::uint8_t> block, std::uint8_t id, std::string_view model = "WDC") {
  std::uint64_t raw = 0;
  std::uint64_t value = 0;
  return FindSmartAttribute(block, id, raw, value, model) ? raw : kAllOnes;
}

// Ids that do not rise are skipped, not an end; ids 0 and from 251 on are never found; the
// table ends after thirty entries, whatever the vendor bytes after it look like.
TEST(SmartAttributes, WhichEntriesOfTheTableCount) {
  std::vector<SmartEntry> entries(31, SmartEntry{0, 0, {}});
  entries[0] = {1, 100, {1}};
  entries[1] = {3, 90, {3}};
  entries[2] = {3, 80, {33}};
  entries[3] = {5, 70, {5}};
  entries[4] = {4, 70, {4}};
  entries[5] = {251, 1, {2}};
  entries[29] = {200, 100, {7}};
  entries[30] = {223, 100, {9}};
  for (const std::size_t size : {kSmartBlockSize, kSmartSectorSize}) {
    SCOPED_TRACE(size);
    const auto block = SmartTableBlock(size, entries);
    // The first 3 counts; 0, 4, 251 and 223 are never found.
    std::vector<std::uint64_t> raws;
    for (const std::uint8_t id : std::initializer_list<std::uint8_t>{3, 5, 200, 0, 4, 251, 223}) raws.push_back(RawOf(block, id));
    EXPECT_EQ(raws, (std::vector<std::uint64_t>{3, 5, 7, kAllOnes, kAllOnes, kAllOnes, kAllOnes}));
    std::uint8_t current = 0;
    ASSERT_TRUE(SmartCurrentValue(block, 3, current));
    EXPECT_EQ(current, 90);
    EXPECT_FALSE(SmartCurrentValue(block, 251, current));
    EXPECT_EQ(current, 0xFF);
  }
  // Only blocks of 529 or 512 bytes are read.
  const auto full = SmartTableBlock(kSmartBlockSize, {{194, 1, {40}}});
  for (const std::size_t size : {std::size_t{17}, std::size_t{511}, std::size_t{528}}) {
    EXPECT_EQ(RawOf(std::span<const std::uint8_t>(full).first(size), 194), kAllOnes) << size;
  }
}

TEST(SmartAttributes, SeagateTakesSevenRawBytesOthersSixAndValuesDependOnIdAndMaker) {
  const auto block = SmartTableBlock(kSmartBlockSize, {{198, 100, {1, 2, 3, 4, 5, 6, 7}}});
  EXPECT_EQ(RawOf(block, 198, "ST3000DM001-1CH166"), 0x07060504030201U);
  // Only a model text that begins with "ST" is a Seagate one.
  for (const char* other : {"WDC WD40EFRX", "XST3000", "st3000"}) EXPECT_EQ(RawOf(block, 198, other), 0x060504030201U) << other;

  constexpr std::uint64_t kRaw = 0x77112233445566U;  // seven bytes
  struct Row {
    std::uint8_t id;
    bool seagate;
    std::uint64_t value;
  };
  const Row rows[] = {
      {1, true, 0x771122},        // bits 32-55
      {5, true, 0x33445566},      // low 32 bits
      {7, true, 0x1122},          // bits 32-47
      {194, true, 0x5566},        // low 16 bits
      {194, false, 0x66},         // low 8 bits
      {1, false, kRaw},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(InterpretedSmartValue(row.id, kRaw, row.seagate), row.value) << int{row.id} << " " << row.seagate;
  }
}

TEST(SmartAttributes, AWalkNeverReadsAnEntryThatDoesNotFitTheBlock) {
  std::vector<std::uint8_t> block(40, 0);
  block[2] = 1, block[14] = 2, block[26] = 3;
  const auto visits = [&block](std::size_t size, std::size_t start) {
    std::vector<std::size_t> visited;
    WalkSmartTable(std::span<const std::uint8_t>(block).first(size), start, [&](std::size_t at) {
      visited.push_back(at);
      return true;
    });
    return visited;
  };
  EXPECT_EQ(visits(40, 2), (std::vector<std::size_t>{2, 14, 26}));  // 26 + 12 = 38 fits
  EXPECT_EQ(visits(37, 2), (std::vector<std::size_t>{2, 14}));
  EXPECT_TRUE(visits(40, 45).empty());
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
    // Word 88: the highest supported bit of 6-0, the highest selected bit of 14-8.
    {0, 0, 0, 0x203F, "UDMA/100 | UDMA/100"},
    // Word 63 bits 8-10 (a selected multiword DMA mode): "PIO/DMA" unless word 88 says more.
    {0x0407, 0, 0, 0, "PIO/DMA | PIO/DMA"},
    // A SATA device: word 76 overrides what word 88 says.
    {0, 0x0001, 0, 0x407F, "SATA/150 | SATA/150"},
    {0, 0x070E, 0, 0, "---- | SATA/600"},
    {0, 0x070E, 0x000E, 0, "---- | SATA/600"},  // coded speed 7 is reserved
    {0, 0x070E, 0x00F5, 0, "SATA/300 | SATA/600"},  // only bits 1-3 count
    // Word 76 of 0 or 0xFFFF: no SATA device, and word 77 means nothing.
    {0, 0xFFFF, 0x0004, 0x203F, "UDMA/100 | UDMA/100"},
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
    {0x00F0, 0x0000, "ATA/ATAPI-7 | ----"},
    {0x0001, 0x0000, "---- | ----"},  // bits 0 and 15 name no standard
    {0x01F0, 0x0052, "ATA8-ACS | ATA8-ACS version 3b"},
    {0x01F0, 0xABCD, "ATA8-ACS | ---- [ABCDh]"},
};

TEST(HDDIdentify, AtaVersionFromWords80And81) {
  for (const VersionRow& row : kVersions) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.word80 << " " << row.word81);
    EXPECT_EQ(HDDIdentify::AtaVersionText(WithWords({{80, row.word80}, {81, row.word81}})), row.text);
  }
}

TEST(HDDIdentify, BlocksOfAnotherSizeDecodeToNothing) {
  const IdentifyWords full = WithWords({{76, 0x070E}, {80, 0x01F0}, {82, 1}});
  for (const std::size_t size : {std::size_t{0}, std::size_t{511}}) {
    const std::span<const std::uint8_t> cut(full.data(), size);
    EXPECT_EQ(HDDIdentify::TransferModeText(cut) + HDDIdentify::AtaVersionText(cut) + HDDIdentify::FeatureText(cut) +
                  IdentifyText(cut, kModelField),
              "");
  }
}

TEST(HDDIdentify, TextFieldsReadAsTheDriveStoresThemAndSwapToByteOrder) {
  IdentifyWords block = WithWords({{0, 0x1234}, {49, 0xABCD}, {255, 0x5A5A}});
  PutDriveText(block, kSerialNumberField, "   WD-WCC4M1234567");
  PutDriveText(block, kFirmwareRevisionField, "82.00A82");
  PutDriveText(block, kModelField, "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(IdentifyText(block, kSerialNumberField), "WD-WCC4M1234567");
  EXPECT_EQ(IdentifyText(block, kFirmwareRevisionField), "82.00A82");

  IdentifyWords swapped = block;
  SwapIdentifyTextFields(swapped);
  EXPECT_EQ(std::string(swapped.begin() + 46, swapped.begin() + 74), "82.00A82WDC WD40EFRX-68N32N0");
  // Only the text fields move.
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 20, swapped.begin()));
  EXPECT_TRUE(std::equal(block.begin() + 94, block.end(), swapped.begin() + 94));

  struct Row {
    const char* name;
    std::string stored;  // the field's characters in reading order
    std::uint8_t fill;
    std::string text;
  };
  const Row rows[] = {
      {"full width, no terminator", std::string(40, 'M'), ' ', std::string(40, 'M')},
      {"cut at the first zero byte", std::string("ST1000\0GARBAGE", 14), ' ', "ST1000"},
      {"blanks inside stay", "  HGST  HUS724040ALE640  ", ' ', "HGST  HUS724040ALE640"},
      {"bytes above 0x7F read as Latin-1", "DISK\xE9\xFF", ' ', "DISK\xC3\xA9\xC3\xBF"},
  };
  for (const Row& row : rows) {
    PutDriveText(block, kModelField, row.stored, row.fill);
    EXPECT_EQ(IdentifyText(block, kModelField), row.text) << row.name;
  }
}

using testing::IdentifySector;
using testing::SmartSector;

constexpr std::uint32_t kDiskListTavolen = 0x100000 | 0x2000 | 0x8;
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
  EXPECT_EQ(std::tuple(disk.present, disk.name, disk.number, disk.slotIndex, disk.deviceName, disk.physicalSectorSize),
            std::tuple(1U, "HDD1", 1, 1U, "\\\\?\\PhysicalDrive0", 4096U));
  EXPECT_EQ(disk.productId + "|" + disk.productRevision + "|" + disk.serialNumber, "WDC WD40EFRX-68N32N0|FW01|  SER123  ");
  // A six-byte raw number kept in 32 bits; the low 8 bits of the temperature for a model other than "ST...".
  EXPECT_EQ(std::tuple(disk.smartValid, disk.powerOnHours, disk.powerCycleCount, disk.temperature, disk.smartData[18]),
            std::tuple(1U, 0x02030405U, 77U, 0x24U, std::uint8_t{9}));
  EXPECT_EQ(disk.transferMode + "|" + disk.ataVersion + "|" + disk.features, "---- | SATA/300|ATA8-ACS | ----|S.M.A.R.T, NCQ");
}

TEST_F(DiskListTest, WhatFailsStaysEmptyAndIsNoErrorForTheCaller) {
  struct Row {
    const char* name;
    void (*breakIt)(FakeStorageDevice::Disk&);
    std::uint32_t media;
    bool smartValid;
    std::uint32_t smartSum;  // temperature, hours and cycles
    bool identifyTexts;
    bool descriptor;
  };
  constexpr std::uint32_t kAll = 0x24U + 0x02030405U + 77U;
  const Row rows[] = {
      {"removable media are not read for SMART", [](FakeStorageDevice::Disk&) {}, 11, false, 0, true, true},
      {"descriptor fails", [](FakeStorageDevice::Disk& d) { d.deviceDescriptor.error = 1; }, kMediaTypeFixed, true,
       kAll, true, false},
      {"disk gone", [](FakeStorageDevice::Disk& d) { d.openError = 2; }, kMediaTypeFixed, false, 0, false, false},
      // A lookup that finds nothing must not leave its all-ones marker, reported as 4294967295.
      {"an SSD without temperature or cycles",
       [](FakeStorageDevice::Disk& d) { d.smartData.bytes = SmartSector({{5, 0}, {9, 45}}); }, kMediaTypeFixed, true,
       45, true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    devices.disks.clear();
    row.breakIt(Put("\\\\?\\PhysicalDrive0", "WDC WD40EFRX"));
    const DiskInfo disk =
        ReadLayoutDisk(devices, DiskListEntry("\\\\?\\PhysicalDrive0", "WDC WD40EFRX", 4, row.media), false, kDiskListTavolen);
    EXPECT_EQ(disk.name, "HDD2");
    EXPECT_EQ(disk.smartValid, row.smartValid ? 1U : 0U);
    EXPECT_EQ(disk.temperature + disk.powerOnHours + disk.powerCycleCount, row.smartSum);
    EXPECT_EQ(disk.features.empty(), !row.identifyTexts);
    EXPECT_EQ(disk.productRevision, row.descriptor ? "FW01" : "");
  }
}

TEST_F(DiskListTest, TheListFollowsTheLayoutOrderWithDisksOutsideTheBays) {
  Put("\\\\?\\PhysicalDrive0", "A");
  Put("\\\\?\\PhysicalDrive1", "B");
  const LayoutDisk layout[] = {DiskListEntry("\\\\?\\PhysicalDrive1", "B", 8), DiskListEntry("\\\\?\\PhysicalDrive0", "A", 32),
                               DiskListEntry("\\\\?\\PhysicalDrive2", "C", 0)};
  const std::vector<DiskInfo> list = BuildDiskList(devices, layout, false, kDiskListTavolen);
  ASSERT_EQ(list.size(), 3U);
  EXPECT_EQ(list[0].friendlyName + list[1].friendlyName + list[2].friendlyName, "BAC");
  EXPECT_EQ(list[0].name, "HDD3");
  EXPECT_EQ(list[1].name, "");
  EXPECT_EQ(list[1].number, -1);
  EXPECT_EQ(list[2].present, 1U);  // found, though it does not open
  EXPECT_EQ(list[2].smartValid, 0U);
}

}  // namespace
}  // namespace orv
