// Base64 with the standard alphabet and padding, no line breaks: how "config.ini" holds its text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

std::string Base64Encode(std::span<const std::uint8_t> bytes);
// nullopt when `text` is not padded Base64 of the standard alphabet exactly as Base64Encode
// writes it (no white space, zero bits after the last byte).
std::optional<std::vector<std::uint8_t>> Base64Decode(std::string_view text);

}  // namespace orv
