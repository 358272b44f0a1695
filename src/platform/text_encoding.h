// UTF-8 <-> UTF-16 conversion for the agent's texts.
//
// Portable code keeps text as UTF-8; the registry and the Windows APIs hold UTF-16. Input from
// outside (registry values, event-log texts) may be malformed: every invalid sequence or
// unpaired surrogate becomes U+FFFD, so a conversion never fails and never yields invalid text.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// UTF-16LE bytes as the registry stores them; an odd trailing byte is dropped.
std::u16string Utf16FromLeBytes(std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> Utf16ToLeBytes(std::u16string_view text);

// Lower-cases the ASCII letters only, as the command-line switches need.
std::string AsciiLower(std::string_view text);

}  // namespace orv

namespace orv {

// The longest prefix of `text` that fits a UTF-16 buffer of `bufferUnits` units with its
// terminator, never splitting a character: how the agent's fixed-size text fields cut.
std::string CutToUtf16Units(std::string_view text, std::size_t bufferUnits);

}  // namespace orv
