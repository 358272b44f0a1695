// Texts that devices give as single bytes (identify data, storage descriptors).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orv {

// The text in `bytes` up to its first zero byte (all of it when it has none), each byte one
// character (Latin-1), as UTF-8. A device's garbage thus reads as some text, never as invalid
// UTF-8, and nothing past `bytes` is read.
std::string SingleByteText(std::span<const std::uint8_t> bytes);

// `text` without leading and trailing blanks (space, tab, CR, LF, FF, VT).
std::string TrimBlanks(std::string_view text);

}  // namespace orv
