#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

TEST(TextEncoding, RoundTripsJapaneseAndAstralText) {
  const std::string text = "Orvaneエージェントサービス 𠮷";
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
  EXPECT_EQ(Utf8ToUtf16("𠮷"), std::u16string(u"\xD842\xDFB7"));
  EXPECT_EQ(AsciiLower("/X-INSTALL Ｉ"), "/x-install Ｉ");
}

TEST(TextEncoding, MalformedUtf8AndUnpairedSurrogatesBecomeReplacementCharacters) {
  // Stray continuation, truncated sequence, overlong form, encoded surrogate, beyond U+10FFFF.
  EXPECT_EQ(Utf8ToUtf16("a\x80z"), u"a\uFFFDz");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, u'\xD83D')), "\xEF\xBF\xBD");
}

TEST(TextEncoding, LittleEndianBytesDropAnOddTrailingByte) {
  const std::uint8_t bytes[] = {0x41, 0x00, 0xA8, 0x30, 0x7F};
  EXPECT_EQ(Utf16FromLeBytes(bytes), u"Aエ");
  EXPECT_EQ(Utf16ToLeBytes(u"Aエ"), (std::vector<std::uint8_t>{0x41, 0x00, 0xA8, 0x30}));
}

TEST(TextEncoding, CutToBufferKeepsRoomForTheTerminatorAndWholeCharacters) {
  EXPECT_EQ(CutToUtf16Units("abcdef", 4), "abc");
  EXPECT_EQ(CutToUtf16Units("abc", 0), "");
  // A surrogate pair that would be split at the limit is left out whole.
  EXPECT_EQ(CutToUtf16Units("ab𠮷", 4), "ab");
  EXPECT_EQ(CutToUtf16Units("ab𠮷", 5), "ab𠮷");
}

}  // namespace
}  // namespace orv
