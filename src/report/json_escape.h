// EscapeJson: the agent's only JSON string escaping.
#pragma once

#include <string>
#include <string_view>

namespace orv {

// Escapes quotation mark, backslash, backspace, form feed, line feed, carriage return and tab
// by their short forms and every other control character below U+0020 as \u00XX, so that
// the result is always a valid JSON string body. Everything else is copied unchanged.
std::string EscapeJson(std::string_view text);

}  // namespace orv
