#include "monitors/nas/hdd_identify.h"

#include <array>
#include <string_view>
#include <utility>
#include <vector>

#include "monitors/nas/device_text.h"

namespace orv {
namespace {

std::uint16_t Word(std::span<const std::uint8_t> block, std::size_t index) {
  return static_cast<std::uint16_t>(block[2 * index] | (block[2 * index + 1] << 8));
}

bool Bit(std::uint16_t word, unsigned bit) { return ((static_cast<unsigned>(word) >> bit) & 1U) != 0; }

// UDMA modes 6 down to 0, as word 88 lists them (bits 6-0 supported, bits 14-8 selected).
constexpr std::array<const char*, 7> kUdmaModes = {"UDMA/16", "UDMA/25", "UDMA/33", "UDMA/44",
                                                   "UDMA/66", "UDMA/100", "UDMA/133"};

// The fastest mode whose bit is set among the seven bits from `firstBit`; keeps `mode` when
// none is.
void HighestUdma(std::uint16_t word, unsigned firstBit, std::string& mode) {
  for (unsigned m = 7; m-- > 0;) {
    if (Bit(word, firstBit + m)) {
      mode = kUdmaModes[m];
      return;
    }
  }
}

struct MinorVersion {
  std::uint16_t value;
  const char* text;
};

// The ATA/ACS minor version table of the T13 standard.
constexpr MinorVersion kMinorVersions[] = {
    {1, "ATA (ATA-1) X3T9.2 781D prior to revision 4"},
    {2, "ATA-1 published, ANSI X3.221-1994"},
    {3, "ATA (ATA-1) X3T10 781D revision 4"},
    {4, "ATA-2 published, ANSI X3.279-1996"},
    {5, "ATA-2 X3T10 948D prior to revision 2k"},
    {6, "ATA-3 X3T10 2008D revision 1"},
    {7, "ATA-2 X3T10 948D revision 2k"},
    {8, "ATA-3 X3T10 2008D revision 0"},
    {9, "ATA-2 X3T10 948D revision 3"},
    {10, "ATA-3 published, ANSI X3.298-199x"},
    {11, "ATA-3 X3T10 2008D revision 6"},
    {12, "ATA-3 X3T13 2008D revision 7 and 7a"},
    {13, "ATA/ATAPI-4 X3T13 1153D version 6"},
    {14, "ATA/ATAPI-4 T13 1153D version 13"},
    {15, "ATA/ATAPI-4 X3T13 1153D version 7"},
    {16, "ATA/ATAPI-4 T13 1153D version 18"},
    {17, "ATA/ATAPI-4 T13 1153D version 15"},
    {18, "ATA/ATAPI-4 published, ANSI INCITS 317-1998"},
    {19, "ATA/ATAPI-5 T13 1321D version 3"},
    {20, "ATA/ATAPI-4 T13 1153D version 14"},
    {21, "ATA/ATAPI-5 T13 1321D version 1"},
    {22, "ATA/ATAPI-5 published, ANSI INCITS 340-2000"},
    {23, "ATA/ATAPI-4 T13 1153D version 17"},
    {24, "ATA/ATAPI-6 T13 1410D version 0"},
    {25, "ATA/ATAPI-6 T13 1410D version 3a"},
    {26, "ATA/ATAPI-7 T13 1532D version 1"},
    {27, "ATA/ATAPI-6 T13 1410D version 2"},
    {28, "ATA/ATAPI-6 T13 1410D version 1"},
    {29, "ATA/ATAPI-7 published ANSI INCITS 397-2005."},
    {30, "ATA/ATAPI-7 T13 1532D version 0"},
    {31, "ACS-3 Revision 3b"},
    {33, "ATA/ATAPI-7 T13 1532D version 4a"},
    {34, "ATA/ATAPI-6 published, ANSI INCITS 361-2002"},
    {39, "ATA8-ACS version 3c"},
    {40, "ATA8-ACS version 6"},
    {41, "ATA8-ACS version 4"},
    {49, "ACS-2 Revision 2"},
    {51, "ATA8-ACS version 3e"},
    {57, "ATA8-ACS version 4c"},
    {66, "ATA8-ACS version 3f"},
    {82, "ATA8-ACS version 3b"},
    {130, "ACS-2 published, ANSI INCITS 482-2012"},
    {263, "ATA8-ACS version 2d"},
    {272, "ACS-2 Revision 3"},
    {283, "ACS-3 Revision 4"},
};

std::string MajorVersion(std::uint16_t word80) {
  if (word80 == 0 || word80 == 0xFFFF) return {};
  for (unsigned bit = 14; bit >= 1; --bit) {
    if (!Bit(word80, bit)) continue;
    if (bit >= 12) return {};  // standards newer than this agent knows
    if (bit == 11) return "ACS-4";
    if (bit == 10) return "ACS-3";
    if (bit == 9) return "ACS-2";
    if (bit == 8) return "ATA8-ACS";
    if (bit >= 4) return "ATA/ATAPI-" + std::to_string(bit);
    return "ATA-" + std::to_string(bit);
  }
  return "----";
}

std::string MinorVersionText(std::uint16_t word81) {
  if (word81 == 0 || word81 == 0xFFFF) return "----";
  for (const MinorVersion& minor : kMinorVersions) {
    if (minor.value == word81) return minor.text;
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "---- [";
  for (int shift = 12; shift >= 0; shift -= 4) text.push_back(kHex[(word81 >> shift) & 0xF]);
  return text + "h]";
}

}  // namespace

std::string HDDIdentify::TransferModeText(std::span<const std::uint8_t> block) {
  if (block.size() != kIdentifyBlockSize) return {};
  std::string current;
  std::string supported;
  if (Word(block, 63) & 0x0700) current = supported = "PIO/DMA";
  const std::uint16_t word88 = Word(block, 88);
  HighestUdma(word88, 0, supported);
  HighestUdma(word88, 8, current);
  const std::uint16_t word76 = Word(block, 76);
  if (word76 != 0 && word76 != 0xFFFF) {
    current = supported = "SATA/150";
    if (Bit(word76, 4)) {
      current = supported = "----";
    } else if (Bit(word76, 3)) {
      current = "----";
      supported = "SATA/600";
    } else if (Bit(word76, 2)) {
      current = "----";
      supported = "SATA/300";
    } else if (Bit(word76, 1)) {
      current = "----";
      supported = "SATA/150";
    }
    // Word 77 tells the negotiated speed; it means something only on a SATA device.
    switch (Word(block, 77) & 0x000E) {
      case 6: current = "SATA/600"; break;
      case 4: current = "SATA/300"; break;
      case 2: current = "SATA/150"; break;
      default: break;
    }
  }
  return current + " | " + supported;
}

std::string HDDIdentify::AtaVersionText(std::span<const std::uint8_t> block) {
  if (block.size() != kIdentifyBlockSize) return {};
  return MajorVersion(Word(block, 80)) + " | " + MinorVersionText(Word(block, 81));
}

std::string HDDIdentify::FeatureText(std::span<const std::uint8_t> block) {
  if (block.size() != kIdentifyBlockSize) return {};
  std::vector<std::string_view> names;
  if (Bit(Word(block, 82), 0)) names.push_back("S.M.A.R.T");
  if (Bit(Word(block, 83), 3)) names.push_back("APM");
  if (Bit(Word(block, 83), 9)) names.push_back("AAM");
  if (Bit(Word(block, 76), 8)) names.push_back("NCQ");
  std::string text;
  for (std::string_view name : names) {
    if (!text.empty()) text += ", ";
    text += name;
  }
  return text;
}

void SwapIdentifyTextFields(std::span<std::uint8_t> block) {
  if (block.size() != kIdentifyBlockSize) return;
  for (const IdentifyTextField field : {kSerialNumberField, kFirmwareRevisionField, kModelField}) {
    for (std::size_t word = field.firstWord; word < field.firstWord + field.words; ++word) {
      std::swap(block[2 * word], block[2 * word + 1]);
    }
  }
}

std::string IdentifyFieldBytes(std::span<const std::uint8_t> block, IdentifyTextField field) {
  if (block.size() != kIdentifyBlockSize) return {};
  std::string bytes;
  for (std::size_t word = field.firstWord; word < field.firstWord + field.words; ++word) {
    for (const std::uint8_t byte : {block[2 * word + 1], block[2 * word]}) {
      if (byte == 0) return TrimBlanks(bytes);
      bytes.push_back(static_cast<char>(byte));
    }
  }
  return TrimBlanks(bytes);
}

std::string IdentifyText(std::span<const std::uint8_t> block, IdentifyTextField field) {
  const std::string bytes = IdentifyFieldBytes(block, field);
  return SingleByteText(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

}  // namespace orv
