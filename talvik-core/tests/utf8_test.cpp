#include "talvik/utf8.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using talvik::utf8::is_valid;
using talvik::utf8::to_valid_lossy;

const std::string kFffd = "\xEF\xBF\xBD";

// Maximal-subpart replacement, the same as Python's bytes.decode("utf-8", "replace").
TEST(Utf8, LossyRepairUsesMaximalSubparts) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"\xD8\xA7", "\xD8\xA7"},
      {"\xD8", kFffd},                                       // truncated two-byte
      {"a\xD8" "b", "a" + kFffd + "b"},
      {"\xE2\x82", kFffd},                                   // truncated three-byte: one subpart
      {"\xF0\x9F\x98", kFffd},                               // truncated four-byte
      {"\x80\x80", kFffd + kFffd},                           // lone continuations
      {"\xC0\xAF", kFffd + kFffd},                           // overlong lead is never valid
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},               // surrogate: ED then two continuations
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},   // above U+10FFFF
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},
      {"\xF8\x88\x80\x80\x80", kFffd + kFffd + kFffd + kFffd + kFffd},
  };
  for (const auto& [in, expected] : cases) {
    EXPECT_EQ(to_valid_lossy(in), expected);
    EXPECT_EQ(is_valid(in), in == expected);
  }
}

TEST(Utf8, EncodeDecodeEveryPlane) {
  for (char32_t cp : {0x0U, 0x7FU, 0x80U, 0x7FFU, 0x800U, 0xFFFFU, 0x10000U, 0x10FFFFU, 0xE000U, 0xF0000U}) {
    const std::string s = talvik::utf8::from_code_point(cp);
    EXPECT_EQ(s.size(), talvik::utf8::encoded_length(cp));
    const auto d = talvik::utf8::decode(s, 0);
    EXPECT_TRUE(d.valid);
    EXPECT_EQ(d.cp, cp);
    EXPECT_EQ(d.len, s.size());
  }
}

}  // namespace

namespace {

using talvik::utf8::CodeUnits;
using talvik::utf8::WideText;

// to_wide and append_utf8 are inverses on well-formed text, in every width;
// ill-formed input becomes U+FFFD as in the lossy repair.
TEST(Utf8, FixedWidthRoundTrips) {
  const std::pair<std::string, std::uint8_t> cases[] = {
      {"", 1},
      {"plain ascii, long enough for the word-at-a-time path", 1},
      {"caf\xC3\xA9 \xC3\xBF", 1},                                     // Latin-1 only
      {"\xD8\xA7\xD9\x84\xD9\x83\xD8\xAA\xD8\xA7\xD8\xA8 abc", 2},    // Arabic
      {"\xEE\x80\x80\xEF\xBF\xBF x", 2},                             // BMP PUA, U+FFFF
      {"a\xF0\x9F\x98\x80\xD8\xA7", 4},                               // astral
      {"\xF3\xB0\x80\x81", 4},                                       // plane 15 PUA
  };
  for (const auto& [utf8, width] : cases) {
    const WideText wide = talvik::utf8::to_wide(utf8);
    EXPECT_EQ(wide.width(), width) << utf8;
    EXPECT_EQ(wide.length, talvik::utf8::count_code_points(utf8));
    EXPECT_EQ(wide.units.size(), wide.length * width);
    std::string back = "prefix:";
    talvik::utf8::append_utf8(back, CodeUnits{wide.units.data(), wide.length, wide.width()});
    EXPECT_EQ(back, "prefix:" + utf8);
  }
  const WideText repaired = talvik::utf8::to_wide("a\xD8" "b\xED\xA0\x80");
  std::string back;
  talvik::utf8::append_utf8(back, CodeUnits{repaired.units.data(), repaired.length, repaired.width()});
  EXPECT_EQ(back, to_valid_lossy("a\xD8" "b\xED\xA0\x80"));
}

TEST(Utf8, SurrogatesAreFoundInWideTexts) {
  const std::uint16_t two[] = {0x0627, 0xD800, 0x0644};
  const std::uint32_t four[] = {0x1F600, 0xDFFF};
  const std::uint8_t one[] = {0xED, 0xA0};
  EXPECT_TRUE(talvik::utf8::has_surrogate({two, 3, 2}));
  EXPECT_FALSE(talvik::utf8::has_surrogate({two, 1, 2}));
  EXPECT_TRUE(talvik::utf8::has_surrogate({four, 2, 4}));
  EXPECT_FALSE(talvik::utf8::has_surrogate({one, 2, 1}));
}

}  // namespace
