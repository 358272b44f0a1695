// UTF-8 <-> UTF-16 at the Win32 API boundary (Windows only; wchar_t is 16 bits there).
#pragma once

#include <string>
#include <string_view>

#include "platform/text_encoding.h"

namespace orv::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

inline std::string Narrow(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace orv::win32
