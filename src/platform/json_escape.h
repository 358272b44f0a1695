// EscapeJson: the agent's only JSON string escaping.
#pragma once

#include <string>
#include <string_view>

namespace orv {

// Escapes quotation mark, backslash, backspace, form feed, line feed, carriage return and tab
// by their short forms and every other control character below U+0020 as \u00XX, and replaces
// every byte sequence that is not UTF-8 by U+FFFD, so that the result is always a valid JSON
// string body. Everything else is copied unchanged.
std::string EscapeJson(std::string_view text);

}  // namespace orv

namespace orv {

// True when `token` is one complete JSON scalar: null, true, false, a number, or a string
// with valid escapes and no raw control characters.
bool IsJsonValueToken(std::string_view token);

// A value stored as a bare token (a trigger such as 0 or 1): written as it stands when it is
// a JSON scalar, null when empty, and otherwise as an escaped string, so a stray text can
// never break the file.
std::string JsonTokenOrQuoted(std::string_view token);

}  // namespace orv
