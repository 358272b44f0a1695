#include "platform/base64.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orv {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64Test, Rfc4648VectorsBothWays) {
  const std::pair<const char*, const char*> vectors[] = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    SCOPED_TRACE(plain);
    EXPECT_EQ(Base64Encode(Bytes(plain)), encoded);
    const auto decoded = Base64Decode(encoded);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, Bytes(plain));
  }
}

TEST(Base64Test, EveryByteValueAndLengthRoundTrips) {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(255 - i));
  // The alphabet's last two letters and no line breaks, however long the text.
  EXPECT_EQ(Base64Encode(std::vector<std::uint8_t>{0xFB, 0xFF, 0xBF}), "+/+/");
  for (std::size_t length = 0; length <= bytes.size(); length += 37) {
    const std::span<const std::uint8_t> part(bytes.data(), length);
    const std::string text = Base64Encode(part);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
    const auto back = Base64Decode(text);
    ASSERT_TRUE(back.has_value()) << text;
    EXPECT_TRUE(std::equal(back->begin(), back->end(), part.begin(), part.end()));
  }
}

TEST(Base64Test, MalformedTextIsRefused) {
  for (const char* text : {
           "Zg",        // padding left out
           "Zm=v",      // padding before a letter
           "Zg==Zg==",  // padding inside the text
           "Zm9-",      // the URL alphabet
           "Zm9v\r\n",  // a line break
           "Zh==",      // leftover bits set: "f" is Zg==
       }) {
    EXPECT_FALSE(Base64Decode(text).has_value()) << text;
  }
  EXPECT_FALSE(Base64Decode(std::string("Zm9v\0\0\0\0", 8)).has_value());
}

}  // namespace
}  // namespace orv
