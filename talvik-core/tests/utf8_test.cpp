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
