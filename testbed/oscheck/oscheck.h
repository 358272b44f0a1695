// oscheck: the agent's Win32 adapters driven on their own under Wine, one sub-command per
// adapter (see main.cpp). Each prints tab-separated lines for the wine tests to read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <type_traits>

// Text for a tab-separated line: backslash, tab, CR and LF escaped, so one field stays one field.
inline std::string Escaped(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      default: out += c;
    }
  }
  return out;
}

// Win32 errors and HRESULTs as the tests read them.
inline std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(value));
  return text;
}

inline std::string Field(std::string_view text) { return Escaped(text); }
template <typename Number>
  requires std::is_arithmetic_v<Number>
std::string Field(Number n) { return std::to_string(n + 0); }

// One line: the tag, then each field after a tab.
template <typename... Fields>
std::string Tabbed(std::string_view tag, const Fields&... fields) {
  std::string out(tag);
  ((out += '\t', out += Field(fields)), ...);
  return out + "\n";
}
template <typename... Fields>
void Print(std::string_view tag, const Fields&... fields) { std::fputs(Tabbed(tag, fields...).c_str(), stdout); }

// Each sub-command gets its own name as argv[0], its arguments after it.
int CryptoCheck(int argc, wchar_t** argv);
int HidCheck(int argc, wchar_t** argv);
int HttpCheck(int argc, wchar_t** argv);
int LayoutCheck(int argc, wchar_t** argv);
int NetCheck(int argc, wchar_t** argv);
int PipeCheck(int argc, wchar_t** argv);
int StorageCheck(int argc, wchar_t** argv);
int WmiCheck(int argc, wchar_t** argv);
int XmlCheck(int argc, wchar_t** argv);
