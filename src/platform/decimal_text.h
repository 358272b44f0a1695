// The agent's one way of reading a decimal number from text (rows, definition files):
// optional leading white space and sign, then the digits up to the first other character.
// No digits give 0; values beyond 32 bits are held at the nearest limit.
#pragma once

#include <cstdint>
#include <string_view>

namespace orv {

std::int32_t ParseDecimal(std::string_view text);

}  // namespace orv
