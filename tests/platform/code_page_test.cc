#include "platform/code_page.h"

#include <gtest/gtest.h>

#include <string>

namespace quillaro {
namespace {

// In UTF-8 and in a single-byte code page, text the encoding carries and any byte string survive
// a round trip, NUL bytes included; a lone surrogate becomes "?".
TEST(CodePageTest, RoundTripsKeepTheBytesAndReplaceLoneSurrogates) {
  const std::u16string text = u"caf\u00E9 \u00FC";
  EXPECT_EQ(NarrowToWide(WideToNarrow(text)), text);
  EXPECT_EQ(NarrowToUtf8(WideToNarrow(text)), "caf\xC3\xA9 \xC3\xBC");
  EXPECT_EQ(NarrowToWide(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
  EXPECT_EQ(WideToNarrow(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(NarrowToWide("") + u"|" + NarrowToWide("plain"), u"|plain");
  for (const std::string& bytes : {std::string("lat\xE9|"), std::string("\x80\xFF\xA0z")})
    EXPECT_EQ(WideToNarrow(NarrowToWide(bytes)), bytes) << bytes;
  EXPECT_EQ(WideToNarrow(std::u16string(1, char16_t{0xDC7F}) + u"x" + char16_t{0xD800}), "?x?");
}

// Where the narrow encoding is UTF-8 (Linux), each byte of invalid UTF-8 (a Latin-1 byte, a
// truncated sequence, an overlong form, an encoded surrogate) has an escape of its own.
TEST(CodePageTest, InvalidUtf8BytesEachBecomeAnEscape) {
  if (WideToNarrow(u"\u00E9") != "\xC3\xA9") GTEST_SKIP() << "the narrow encoding is no UTF-8";
  EXPECT_EQ(NarrowToWide("caf\xC3\xA9 \xF0\x9F\x98\x80"), u"caf\u00E9 \U0001F600");
  EXPECT_EQ(WideToNarrow(u"caf\u00E9 \U0001F600"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  const std::string invalid = "lat\xE9|\xE2\x82|\xC0\xAF|\xED\xA0\x80";
  const std::u16string escaped = NarrowToWide(invalid);
  EXPECT_EQ(escaped.substr(0, 5), std::u16string(u"lat") + char16_t{0xDCE9} + u"|");
  EXPECT_EQ(escaped.size(), invalid.size());
  EXPECT_EQ(WideToNarrow(escaped), invalid);
  EXPECT_EQ(NarrowToUtf8(invalid), invalid);
}

}  // namespace
}  // namespace quillaro
