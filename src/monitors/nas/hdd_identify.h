// HDDIdentify: what a disk says of itself in its 512-byte IDENTIFY DEVICE data, as the status
// message shows it: its transfer modes, the ATA standard it follows and its features.
//
// The block is read as 256 little-endian 16-bit words. A block of any other size than 512
// bytes decodes to empty texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orv {

inline constexpr std::size_t kIdentifyBlockSize = 512;

class HDDIdentify {
 public:
  // "current | supported": UDMA modes from word 88 ("PIO/DMA" when word 63 names a
  // multiword DMA mode and word 88 none), overridden by the SATA speeds of words 76 and 77.
  static std::string TransferModeText(std::span<const std::uint8_t> block);
  // "major | minor": the newest standard word 80 names, and word 81's revision.
  static std::string AtaVersionText(std::span<const std::uint8_t> block);
  // "S.M.A.R.T", "APM", "AAM", "NCQ" as far as supported, joined by ", ".
  static std::string FeatureText(std::span<const std::uint8_t> block);
};

// The text fields of identify data: first word and number of words.
struct IdentifyTextField {
  std::size_t firstWord;
  std::size_t words;
};
inline constexpr IdentifyTextField kSerialNumberField{10, 10};
inline constexpr IdentifyTextField kFirmwareRevisionField{23, 4};
inline constexpr IdentifyTextField kModelField{27, 20};

// Drives store two characters per word, the first in the high byte; this exchanges the two
// bytes of every word of the three text fields, so that the texts read in byte order. Does
// nothing to a block of another size than 512 bytes.
void SwapIdentifyTextFields(std::span<std::uint8_t> block);

// The bytes of a text field of identify data as the drive stores it (first character in the
// high byte), in reading order, cut at a zero byte, without leading and trailing blanks. Empty
// for a block of another size than 512 bytes.
std::string IdentifyFieldBytes(std::span<const std::uint8_t> block, IdentifyTextField field);
// The same as text: bytes above 0x7F read as Latin-1.
std::string IdentifyText(std::span<const std::uint8_t> block, IdentifyTextField field);

}  // namespace orv
