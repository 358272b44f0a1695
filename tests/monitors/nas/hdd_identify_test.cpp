#include "monitors/nas/hdd_identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace orv {
namespace {

using Block = std::array<std::uint8_t, kIdentifyBlockSize>;

Block WithWords(std::initializer_list<std::pair<std::size_t, std::uint16_t>> words) {
  Block block{};
  for (const auto& [index, value] : words) {
    block[2 * index] = static_cast<std::uint8_t>(value);
    block[2 * index + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  return block;
}

// Puts `text` into a field the way a drive stores it: two characters per word, the first in
// the high byte; `fill` pads the rest.
void PutDriveText(Block& block, IdentifyTextField field, std::string_view text, std::uint8_t fill = ' ') {
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
    {0, 0, 0, 0x0804, "UDMA/44 | UDMA/33"},
    {0, 0, 0, 0x1010, "UDMA/66 | UDMA/66"},
    {0, 0, 0, 0x0080, " | "},  // bits 7 and 15 name no mode
    // Word 63 bits 8-10 (a selected multiword DMA mode): "PIO/DMA" unless word 88 says more.
    {0x0407, 0, 0, 0, "PIO/DMA | PIO/DMA"},
    {0x0107, 0, 0, 0x001F, "PIO/DMA | UDMA/66"},
    {0x0007, 0, 0, 0, " | "},
    {0x0800, 0, 0, 0, " | "},
    // A SATA device: word 76 overrides what word 88 says.
    {0, 0x0001, 0, 0x407F, "SATA/150 | SATA/150"},
    {0, 0x0002, 0, 0x407F, "---- | SATA/150"},
    {0, 0x0506, 0, 0x407F, "---- | SATA/300"},
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
    const Block block = WithWords({{63, row.word63}, {76, row.word76}, {77, row.word77}, {88, row.word88}});
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
    {0x03FE, 0x0000, "ACS-2 | ----"},
    {0x007E, 0x0000, "ATA/ATAPI-6 | ----"},
    {0x001E, 0x0000, "ATA/ATAPI-4 | ----"},
    {0x0010, 0x0000, "ATA/ATAPI-4 | ----"},
    {0x000E, 0x0000, "ATA-3 | ----"},
    {0x0002, 0x0000, "ATA-1 | ----"},
    {0x0001, 0x0000, "---- | ----"},  // bits 0 and 15 name no standard
    {0x8000, 0x0000, "---- | ----"},
    {0x01F0, 0x0001, "ATA8-ACS | ATA (ATA-1) X3T9.2 781D prior to revision 4"},
    {0x01F0, 0x0012, "ATA8-ACS | ATA/ATAPI-4 published, ANSI INCITS 317-1998"},
    {0x01F0, 0x001D, "ATA8-ACS | ATA/ATAPI-7 published ANSI INCITS 397-2005."},
    {0x01F0, 0x001F, "ATA8-ACS | ACS-3 Revision 3b"},
    {0x01F0, 0x0029, "ATA8-ACS | ATA8-ACS version 4"},
    {0x01F0, 0x0052, "ATA8-ACS | ATA8-ACS version 3b"},
    {0x01F0, 0x0082, "ATA8-ACS | ACS-2 published, ANSI INCITS 482-2012"},
    {0x01F0, 0x0107, "ATA8-ACS | ATA8-ACS version 2d"},
    {0x01F0, 0x0110, "ATA8-ACS | ACS-2 Revision 3"},
    {0x01F0, 0x011B, "ATA8-ACS | ACS-3 Revision 4"},
    {0x01F0, 0x0020, "ATA8-ACS | ---- [0020h]"},
    {0x01F0, 0x0023, "ATA8-ACS | ---- [0023h]"},
    {0x01F0, 0xABCD, "ATA8-ACS | ---- [ABCDh]"},
};

TEST(HDDIdentify, AtaVersionFromWords80And81) {
  for (const VersionRow& row : kVersions) {
    SCOPED_TRACE(::testing::Message() << std::hex << row.word80 << " " << row.word81);
    EXPECT_EQ(HDDIdentify::AtaVersionText(WithWords({{80, row.word80}, {81, row.word81}})), row.text);
  }
}

TEST(HDDIdentify, EveryMinorVersionOfTheTableHasItsOwnText) {
  // Values the table names; each must give a text of its own, never the hexadecimal fallback.
  const std::uint16_t named[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,  15,  16,  17,  18,  19,  20,  21, 22, 23,
                                 24, 25, 26, 27, 28, 29, 30, 31, 33, 34, 39, 40, 41, 49, 51, 57, 66, 82, 130, 263, 272, 283};
  std::vector<std::string> texts;
  for (const std::uint16_t value : named) {
    const std::string text = HDDIdentify::AtaVersionText(WithWords({{81, value}}));
    EXPECT_EQ(text.find("----"), std::string::npos) << value << ": " << text;
    texts.push_back(text);
  }
  std::sort(texts.begin(), texts.end());
  EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
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
  const Block full = WithWords({{76, 0x070E}, {80, 0x01F0}, {82, 1}});
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
  Block block{};
  PutDriveText(block, kSerialNumberField, "   WD-WCC4M1234567");
  PutDriveText(block, kFirmwareRevisionField, "82.00A82");
  PutDriveText(block, kModelField, "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(IdentifyText(block, kSerialNumberField), "WD-WCC4M1234567");
  EXPECT_EQ(IdentifyText(block, kFirmwareRevisionField), "82.00A82");
  EXPECT_EQ(IdentifyText(block, kModelField), "WDC WD40EFRX-68N32N0");

  Block swapped = block;
  SwapIdentifyTextFields(swapped);
  EXPECT_EQ(std::string(swapped.begin() + 54, swapped.begin() + 74), "WDC WD40EFRX-68N32N0");
  EXPECT_EQ(std::string(swapped.begin() + 46, swapped.begin() + 54), "82.00A82");
  // Only the text fields move.
  Block other = WithWords({{0, 0x1234}, {49, 0xABCD}, {255, 0x5A5A}});
  Block otherSwapped = other;
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
    Block block{};
    PutDriveText(block, kModelField, row.stored, row.fill);
    EXPECT_EQ(IdentifyText(block, kModelField), row.text);
  }
}

}  // namespace
}  // namespace orv
