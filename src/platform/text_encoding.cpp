#include "platform/text_encoding.h"

namespace orv {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
  auto put = [&out](unsigned value) { out.push_back(static_cast<char>(value)); };
  if (cp < 0x80) {
    put(static_cast<unsigned>(cp));
  } else if (cp < 0x800) {
    put(0xC0U | static_cast<unsigned>(cp >> 6));
    put(0x80U | static_cast<unsigned>(cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0U | static_cast<unsigned>(cp >> 12));
    put(0x80U | static_cast<unsigned>((cp >> 6) & 0x3F));
    put(0x80U | static_cast<unsigned>(cp & 0x3F));
  } else {
    put(0xF0U | static_cast<unsigned>(cp >> 18));
    put(0x80U | static_cast<unsigned>((cp >> 12) & 0x3F));
    put(0x80U | static_cast<unsigned>((cp >> 6) & 0x3F));
    put(0x80U | static_cast<unsigned>(cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

bool IsSurrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Decodes one code point at `pos` and moves past it; a malformed sequence yields U+FFFD and
// consumes only its first byte (the maximal-subpart rule keeps resynchronisation simple).
char32_t DecodeUtf8(std::string_view in, std::size_t& pos) {
  const auto byte = [&in](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  const unsigned lead = byte(pos);
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  if (pos + length > in.size()) {
    ++pos;
    return kReplacement;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || IsSurrogate(cp)) {
    ++pos;
    return kReplacement;
  }
  pos += length;
  return cp;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) AppendUtf16(out, DecodeUtf8(utf8, pos));
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00U);
      ++i;
    } else if (IsSurrogate(cp)) {
      cp = kReplacement;
    }
    AppendUtf8(out, cp);
  }
  return out;
}

std::u16string Utf16FromLeBytes(std::span<const std::uint8_t> bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return out;
}

std::vector<std::uint8_t> Utf16ToLeBytes(std::u16string_view text) {
  std::vector<std::uint8_t> out;
  out.reserve(text.size() * 2);
  for (const char16_t unit : text) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return out;
}

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace orv

namespace orv {

std::string CutToUtf16Units(std::string_view text, std::size_t bufferUnits) {
  if (bufferUnits == 0) return {};
  std::u16string wide = Utf8ToUtf16(text);
  const std::size_t limit = bufferUnits - 1;
  if (wide.size() > limit) {
    std::size_t cut = limit;
    // Never keep the first half of a surrogate pair without its second half.
    if (cut > 0 && wide[cut - 1] >= 0xD800 && wide[cut - 1] <= 0xDBFF) --cut;
    wide.resize(cut);
  }
  return Utf16ToUtf8(wide);
}

}  // namespace orv
