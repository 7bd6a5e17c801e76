#include "talvik/chars.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using talvik::utf8::from_code_point;

std::string cps(std::initializer_list<char32_t> list) {
  std::string out;
  for (char32_t c : list) talvik::utf8::append(out, c);
  return out;
}

// The predicates are constexpr: these hold at compile time.
static_assert(talvik::is_arabic(0x0628) && !talvik::is_arabic(U'a'));
static_assert(talvik::pua_class(0xF0000) == talvik::PuaClass::Supplementary);
static_assert(talvik::is_emoji_cluster("\xF0\x9F\x98\x80"));  // U+1F600

TEST(Chars, ArabicRangeEdges) {
  for (char32_t c : {U'\u0600', U'\u06FF', U'\u0750', U'\u077F', U'\u08A0', U'\u08FF', U'\uFB50', U'\uFDFF', U'\uFE70', U'\uFEFF'}) {
    EXPECT_TRUE(talvik::is_arabic(c)) << std::hex << static_cast<unsigned>(c);
  }
  for (char32_t c : {U'\u05FF', U'\u0700', U'\u074F', U'\u0780', U'\u0870', U'\u089F', U'\u0900', U'\uFB4F',
                     U'\uFE00', U'\uFE6F', U'\uFF00', U'A'}) {
    EXPECT_FALSE(talvik::is_arabic(c)) << std::hex << static_cast<unsigned>(c);
  }
}

TEST(Chars, PuaClasses) {
  using talvik::PuaClass;
  const std::vector<std::pair<char32_t, PuaClass>> cases = {
      {0xE000, PuaClass::Basic},          {0xF8FF, PuaClass::Basic},         {0xD7FF, PuaClass::None},
      {0xF900, PuaClass::None},           {0xF0000, PuaClass::Supplementary}, {0xFFFFD, PuaClass::Supplementary},
      {0xFFFFE, PuaClass::None},          {0xFFFFF, PuaClass::None},         {0x100000, PuaClass::None},
      {0x10FFFD, PuaClass::None},
  };
  for (const auto& [c, cls] : cases) {
    EXPECT_EQ(talvik::pua_class(c), cls) << std::hex << static_cast<unsigned>(c);
    EXPECT_EQ(talvik::is_pua(c), cls != PuaClass::None);
  }
}

TEST(Chars, EmojiClusters) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", false},
      {cps({0x1F600}), true},
      {cps({0x2600}), true},
      {cps({0x2702}), true},
      {cps({0x1F1F8, 0x1F1E6}), true},           // a flag
      {cps({0x1F1F8}), false},                   // a lone regional indicator
      {cps({0x1F1F8, 0x1F1E6, 0x1F1EA}), false},  // three regional indicators
      {cps({0x1F44D, 0x1F3FD}), true},           // skin tone
      {cps({0x2764, 0xFE0F}), true},             // emoji + variation selector
      {cps({0x2764, 0xFE0E}), true},
      {cps({0x200D}), true},
      {cps({0x1F3FB}), true},
      {cps({0x0628}), false},
      {"ab", false},
      {cps({'1', 0xFE0F, 0x20E3}), false},       // keycap
      {cps({0x1F468, 0x200D, 0x1F469}), true},   // joiner sequence
      {cps({'a', 0x1F600}), false},              // emoji not first
  };
  for (const auto& [cluster, expected] : cases) {
    EXPECT_EQ(talvik::is_emoji_cluster(cluster), expected) << cluster;
  }
}

}  // namespace
