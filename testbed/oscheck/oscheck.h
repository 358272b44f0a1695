// oscheck: the agent's Win32 adapters driven on their own under Wine, one sub-command per
// adapter (see main.cpp). Each prints tab-separated lines for the wine tests to read.
#pragma once

#include <string>
#include <string_view>

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

// Each field after a tab, for the rest of a line.
template <typename... Fields>
std::string Tabbed(const Fields&... fields) {
  std::string out;
  ((out += '\t', out += fields), ...);
  return out;
}

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
