#include "fakes/fake_system.h"

#include <iconv.h>

#include <stdexcept>

namespace orv::fakes {
namespace {

// glibc's table for code page 932 maps "¥" and "‾" to 0x5C and 0x7E one way, as Windows' best
// fit does; a character that does not come back as itself therefore had no code of its own.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {
    if (handle_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no code page 932 converter");
  }
  ~Converter() { iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The whole of `in` converted; nullopt when any of it has no counterpart.
  std::optional<std::string> Convert(std::string_view in) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string out(in.size() * 4 + 4, '\0');
    char* source = const_cast<char*>(in.data());  // iconv does not write through it
    std::size_t sourceLeft = in.size();
    char* target = out.data();
    std::size_t targetLeft = out.size();
    if (iconv(handle_, &source, &sourceLeft, &target, &targetLeft) == static_cast<std::size_t>(-1)) {
      return std::nullopt;
    }
    out.resize(out.size() - targetLeft);
    return out;
  }

 private:
  iconv_t handle_;
};

std::size_t Utf8Length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  return 2;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> Utf8ToCp932(std::string_view text, bool exact) {
  Converter toCp932("WINDOWS-31J", "UTF-8");
  Converter fromCp932("UTF-8", "WINDOWS-31J");
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size();) {
    const std::string_view character = text.substr(i, Utf8Length(static_cast<unsigned char>(text[i])));
    i += character.size();
    std::optional<std::string> coded = toCp932.Convert(character);
    const bool ownCode = coded && fromCp932.Convert(*coded) == std::string(character);
    if (!ownCode && exact) return std::nullopt;
    if (!coded) coded = "?";  // the default character
    bytes.insert(bytes.end(), coded->begin(), coded->end());
  }
  return bytes;
}

std::string Cp932ToUtf8(std::span<const std::uint8_t> bytes) {
  Converter fromCp932("UTF-8", "WINDOWS-31J");
  std::string text;
  for (std::size_t i = 0; i < bytes.size();) {
    // A lead byte takes the next byte with it; what does not convert becomes "?".
    const bool lead = (bytes[i] >= 0x81 && bytes[i] <= 0x9F) || (bytes[i] >= 0xE0 && bytes[i] <= 0xFC);
    const std::size_t length = lead && i + 1 < bytes.size() ? 2 : 1;
    const std::string character(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                                bytes.begin() + static_cast<std::ptrdiff_t>(i + length));
    i += length;
    text += fromCp932.Convert(character).value_or("?");
  }
  return text;
}

}  // namespace orv::fakes
