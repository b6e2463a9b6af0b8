#include "ros2cli/unicode_text.hpp"

#include <gtest/gtest.h>

namespace {

using namespace ros2cli;

TEST(UnicodeText, DecodesUtf8ByHandEncodedBytes) {
  // U+00E9 is C3 A9, U+4E2D is E4 B8 AD, U+1F600 is F0 9F 98 80.
  EXPECT_EQ(decodeUtf8("a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80"),
            (std::u32string{U'a', 0xE9, 0x4E2D, 0x1F600}));
  EXPECT_EQ(encodeUtf8(std::u32string{U'a', 0xE9, 0x4E2D, 0x1F600}),
            "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
}

TEST(UnicodeText, ReplacesBrokenUtf8) {
  EXPECT_EQ(decodeUtf8("\xFF"), std::u32string(1, 0xFFFD));
  EXPECT_EQ(decodeUtf8("\xC3"), std::u32string(1, 0xFFFD));          // truncated
  EXPECT_EQ(decodeUtf8("\xC0\xAF"), std::u32string(1, 0xFFFD));      // overlong '/'
  EXPECT_EQ(decodeUtf8("\xED\xA0\x80"), std::u32string(1, 0xFFFD));  // a surrogate
  EXPECT_EQ(decodeUtf8("\xC3x"), (std::u32string{0xFFFD, U'x'}));
}

TEST(UnicodeText, Utf16UsesSurrogatePairsAboveTheBasicPlane) {
  // U+1F600 is D83D DE00.
  EXPECT_EQ(encodeUtf16(std::u32string{U'a', 0x1F600}), (std::u16string{u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(decodeUtf16(std::u16string{u'a', 0xD83D, 0xDE00}), (std::u32string{U'a', 0x1F600}));
  EXPECT_EQ(decodeUtf16(std::u16string{0xDE00, u'b'}), (std::u32string{0xFFFD, U'b'}));
}

}  // namespace
