#include "talvik/normalize.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "talvik/utf8.hpp"

namespace {

using talvik::NormalizationLevel;
using talvik::NormalizationSettings;
using talvik::normalize_chars;
using talvik::normalize_with_level;
using talvik::normalize_with_settings;

std::string cps(std::initializer_list<char32_t> list) {
  std::string out;
  for (char32_t c : list) talvik::utf8::append(out, c);
  return out;
}

std::string hex(std::string_view s) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : s) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
  }
  return out;
}

constexpr NormalizationLevel kLevels[] = {NormalizationLevel::Light, NormalizationLevel::Medium,
                                          NormalizationLevel::Aggressive};

// ---- a plain reference: text as a list of units ------------------------------
//
// A unit is a code point, or (raw non-empty) one maximal ill-formed subpart,
// which no rule matches and which is written back as it was.

struct Unit {
  char32_t cp;
  std::string raw;
};

std::vector<Unit> to_units(std::string_view s) {
  std::vector<Unit> units;
  for (std::size_t i = 0; i < s.size();) {
    const auto d = talvik::utf8::decode(s, i);
    units.push_back(d.valid ? Unit{d.cp, {}} : Unit{0xFFFFFFFF, std::string(s.substr(i, d.len))});
    i += d.len;
  }
  return units;
}

std::string from_units(const std::vector<Unit>& units) {
  std::string out;
  for (const Unit& u : units) {
    if (u.raw.empty()) {
      talvik::utf8::append(out, u.cp);
    } else {
      out += u.raw;
    }
  }
  return out;
}

template <class Pred>
void remove_all(std::vector<Unit>& units, Pred pred) {
  std::erase_if(units, [&](const Unit& u) { return u.raw.empty() && pred(u.cp); });
}

void replace_all(std::vector<Unit>& units, char32_t from, char32_t to) {
  for (Unit& u : units) {
    if (u.raw.empty() && u.cp == from) u.cp = to;
  }
}

// The level folds exactly as defined: eight passes, each over the whole text.
std::string level_reference(std::string_view text, NormalizationLevel level) {
  std::vector<Unit> u = to_units(text);
  remove_all(u, [](char32_t c) { return (c >= 0x064B && c <= 0x0652) || c == 0x0670; });
  remove_all(u, [](char32_t c) { return c == 0x0640; });
  remove_all(u, [](char32_t c) {
    return (c >= 0x200B && c <= 0x200D) || c == 0xFEFF || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
  });
  replace_all(u, 0x0623, 0x0627);
  replace_all(u, 0x0625, 0x0627);
  replace_all(u, 0x0622, 0x0627);
  replace_all(u, 0x0649, 0x064A);
  for (char32_t k = 0; k <= 9; ++k) replace_all(u, 0x0660 + k, U'0' + k);
  if (level != NormalizationLevel::Light) {
    replace_all(u, 0x0624, 0x0648);
    replace_all(u, 0x0626, 0x064A);
    replace_all(u, 0x0671, 0x0627);
  }
  if (level == NormalizationLevel::Aggressive) replace_all(u, 0x0629, 0x0647);
  return from_units(u);
}

// The per-character rules written out one code point at a time.
std::string chars_reference(std::string_view text, const NormalizationSettings& s) {
  const unsigned zw = std::min<unsigned>(s.zero_width_mode, 2);
  const unsigned cc = std::min<unsigned>(s.control_char_mode, 2);
  std::vector<Unit> out;
  for (const Unit& u : to_units(text)) {
    if (!u.raw.empty()) {
      out.push_back(u);
      continue;
    }
    const char32_t c = u.cp;
    if ((c >= 0x200B && c <= 0x200F) || (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF) {
      if (zw == 2 || (zw == 1 && c == 0x200D)) out.push_back(u);
      continue;
    }
    if ((c <= 0x1F && c != 0x09 && c != 0x0A && c != 0x0D) || (c >= 0x7F && c <= 0x9F) ||
        (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
      if (cc == 0) out.push_back(u);
      if (cc == 2) out.push_back({U' ', {}});
      continue;
    }
    if (s.remove_tatweel && c == 0x0640) continue;
    if (s.strip_diacritics && ((c >= 0x064B && c <= 0x0656) || c == 0x0670)) continue;
    char32_t m = c;
    if (s.normalize_alef && (c == 0x0623 || c == 0x0625 || c == 0x0622 || c == 0x0671)) {
      m = 0x0627;
    } else if (s.normalize_taa_marbouta && c == 0x0629) {
      m = 0x0647;
    } else if (s.normalize_alef_maqsura && c == 0x0649) {
      m = 0x064A;
    } else if (s.normalize_digits && c >= 0x0660 && c <= 0x0669) {
      m = U'0' + (c - 0x0660);
    } else if (s.normalize_apostrophes &&
               (c == 0x2019 || c == 0x2018 || c == 0x201B || c == 0x02BC || c == 0x02BB || c == 0xFF07)) {
      m = U'\'';
    } else if (s.normalize_dashes && ((c >= 0x2010 && c <= 0x2015) || c == 0x2212 || c == 0xFE58 ||
                                      c == 0xFE63 || c == 0xFF0D)) {
      m = U'-';
    } else if (s.normalize_decimal_separator && c == 0x066B) {
      m = U'.';
    }
    out.push_back({m, {}});
  }
  return from_units(out);
}

// ---- generated text ------------------------------------------------------------

// The characters the folds care about, their neighbours, and a little of
// everything else (controls, whitespace, PUA, astral).
std::vector<char32_t> interesting_code_points() {
  std::vector<char32_t> v;
  for (char32_t c = 0x0600; c <= 0x06FF; ++c) v.push_back(c);  // the whole Arabic block
  for (char32_t c = 0x200B; c <= 0x200F; ++c) v.push_back(c);
  for (char32_t c = 0x2060; c <= 0x2064; ++c) v.push_back(c);
  for (char32_t c = 0x2066; c <= 0x2069; ++c) v.push_back(c);
  for (char32_t c = 0x2028; c <= 0x202F; ++c) v.push_back(c);
  for (char32_t c = 0x2010; c <= 0x2019; ++c) v.push_back(c);
  for (char32_t c : {0x0000, 0x0001, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x001F, 0x0020, 0x007F, 0x0080,
                     0x0085, 0x009F, 0x00A0, 0x02BB, 0x02BC, 0x0301, 0x1680, 0x2000, 0x200A, 0x201B, 0x205F,
                     0x2065, 0x206A, 0x2212, 0x3000, 0xE000, 0xF8FF, 0xFB50, 0xFE58, 0xFE63, 0xFEFB, 0xFEFE,
                     0xFEFF, 0xFF07, 0xFF0D, 0xFFFD, 0x1F600, 0xF0000, 0x10FFFF}) {
    v.push_back(c);
  }
  return v;
}

// Fragments that are not well-formed UTF-8 on their own.
const std::vector<std::string>& ill_formed_fragments() {
  static const std::vector<std::string> fragments = {
      "\x80", "\xBF", "\xC0", "\xC1\xBF", "\xD8", "\xD9", "\xDA", "\xDB", "\xE2", "\xE2\x80", "\xE2\x81",
      "\xEF\xBB", "\xED\xA0\x80", "\xE0\x80\xAF", "\xF0\x9F", "\xF0\x9F\x98", "\xF4\x90\x80\x80", "\xF8", "\xFF",
  };
  return fragments;
}

class TextGenerator {
 public:
  explicit TextGenerator(std::uint32_t seed) : rng_(seed), pool_(interesting_code_points()) {}

  std::string text(bool ill_formed) {
    std::string out;
    const int pieces = pick(0, 30);
    for (int p = 0; p < pieces; ++p) {
      const int kind = pick(0, 9);
      if (kind == 0) {
        // An ASCII run long enough to cross the eight-byte copies at any offset.
        const int len = pick(1, 20);
        for (int k = 0; k < len; ++k) out += static_cast<char>(pick(0, 9) == 0 ? pick(0, 0x7F) : pick(0x20, 0x7E));
      } else if (ill_formed && kind == 1) {
        const auto& f = ill_formed_fragments();
        out += f[static_cast<std::size_t>(pick(0, static_cast<int>(f.size()) - 1))];
      } else {
        talvik::utf8::append(out, pool_[static_cast<std::size_t>(pick(0, static_cast<int>(pool_.size()) - 1))]);
      }
    }
    return out;
  }

  NormalizationSettings settings() {
    NormalizationSettings s;
    s.normalize_alef = coin();
    s.normalize_taa_marbouta = coin();
    s.normalize_alef_maqsura = coin();
    s.strip_diacritics = coin();
    s.remove_tatweel = coin();
    s.normalize_digits = coin();
    s.normalize_apostrophes = coin();
    s.normalize_dashes = coin();
    s.normalize_decimal_separator = coin();
    s.zero_width_mode = static_cast<std::uint8_t>(pick(0, 4));
    s.control_char_mode = static_cast<std::uint8_t>(pick(0, 4));
    return s;
  }

 private:
  int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  bool coin() { return pick(0, 1) == 1; }

  std::mt19937 rng_;
  std::vector<char32_t> pool_;
};

// A copy in a buffer of exactly the text's size, so that a read past the end
// is caught by the sanitizers rather than landing in a string's spare room.
class ExactBuffer {
 public:
  explicit ExactBuffer(std::string_view s) : data_(new char[std::max<std::size_t>(s.size(), 1)]), size_(s.size()) {
    std::copy(s.begin(), s.end(), data_.get());
  }
  [[nodiscard]] std::string_view view() const { return {data_.get(), size_}; }

 private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
};

// ---- levels ----------------------------------------------------------------------

TEST(ParseLevel, OnlyExactNamesSelectLightOrAggressive) {
  const std::pair<std::string_view, NormalizationLevel> cases[] = {
      {"light", NormalizationLevel::Light},       {"medium", NormalizationLevel::Medium},
      {"aggressive", NormalizationLevel::Aggressive}, {"Aggressive", NormalizationLevel::Medium},
      {"LIGHT", NormalizationLevel::Medium},      {"light ", NormalizationLevel::Medium},
      {"", NormalizationLevel::Medium},           {"strong", NormalizationLevel::Medium},
  };
  for (const auto& [name, level] : cases) EXPECT_EQ(talvik::parse_level(name), level) << name;
  for (NormalizationLevel level : kLevels) EXPECT_EQ(talvik::parse_level(talvik::level_name(level)), level);
}

TEST(NormalizeWithLevel, FoldsByLevel) {
  struct Case {
    std::string in;
    std::string light, medium, aggressive;
  };
  const Case cases[] = {
      {"", "", "", ""},
      {cps({0x0629}), cps({0x0629}), cps({0x0629}), cps({0x0647})},
      {cps({0x0649}), cps({0x064A}), cps({0x064A}), cps({0x064A})},
      {cps({0x0663, 0x06F3}), "3" + cps({0x06F3}), "3" + cps({0x06F3}), "3" + cps({0x06F3})},
      {cps({0x0623, 0x0625, 0x0622}), cps({0x0627, 0x0627, 0x0627}), cps({0x0627, 0x0627, 0x0627}),
       cps({0x0627, 0x0627, 0x0627})},
      {cps({0x0624, 0x0626, 0x0671}), cps({0x0624, 0x0626, 0x0671}), cps({0x0648, 0x064A, 0x0627}),
       cps({0x0648, 0x064A, 0x0627})},
      // Marks U+064B..U+0652 and U+0670 go; U+0653..U+0656 stay.
      {cps({0x0628, 0x064B, 0x0652, 0x0670, 0x0653, 0x0654, 0x0655, 0x0656}),
       cps({0x0628, 0x0653, 0x0654, 0x0655, 0x0656}), cps({0x0628, 0x0653, 0x0654, 0x0655, 0x0656}),
       cps({0x0628, 0x0653, 0x0654, 0x0655, 0x0656})},
      {cps({0x0643, 0x0640, 0x0640, 0x062A, 0x0627, 0x0628}), cps({0x0643, 0x062A, 0x0627, 0x0628}),
       cps({0x0643, 0x062A, 0x0627, 0x0628}), cps({0x0643, 0x062A, 0x0627, 0x0628})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normalize_with_level(c.in, NormalizationLevel::Light), c.light) << hex(c.in);
    EXPECT_EQ(normalize_with_level(c.in, NormalizationLevel::Medium), c.medium) << hex(c.in);
    EXPECT_EQ(normalize_with_level(c.in, NormalizationLevel::Aggressive), c.aggressive) << hex(c.in);
  }
}

TEST(NormalizeWithLevel, TouchesOnlyTheInvisibleFormattingCharacters) {
  const std::string b = cps({0x0628});
  // Kept at every level: spacing, carriage returns, LRM/RLM, word joiner, controls.
  const std::string kept =
      "  " + b + "  " + b + "\r\n\t" + cps({0x200E, 0x200F, 0x2060, 0x0000, 0x007F, 0x0085}) + " ";
  const std::string invisible = cps({0x200B, 0x200C, 0x200D, 0xFEFF, 0x202A, 0x202B, 0x202E, 0x2066, 0x2069});
  const std::string neighbours = cps({0x2065, 0x206A, 0x2029, 0x202F});
  for (NormalizationLevel level : kLevels) {
    EXPECT_EQ(normalize_with_level(kept, level), kept);
    EXPECT_EQ(normalize_with_level(b + invisible + b, level), b + b);
    EXPECT_EQ(normalize_with_level(neighbours, level), neighbours);
  }
}

// The fused pass against the eight passes, on generated text.
TEST(NormalizeWithLevel, MatchesStepByStepDefinition) {
  TextGenerator gen(20240611);
  for (int round = 0; round < 20000; ++round) {
    const std::string text = gen.text(false);
    for (NormalizationLevel level : kLevels) {
      const std::string got = normalize_with_level(text, level);
      ASSERT_EQ(got, level_reference(text, level)) << "level " << int(level) << " input " << hex(text);
      ASSERT_LE(got.size(), text.size());
    }
  }
}

// Ill-formed bytes pass through unchanged and nothing is read past the end
// (every prefix, so truncated sequences sit at the very end too).
TEST(NormalizeWithLevel, IllFormedBytesPassThroughInBounds) {
  TextGenerator gen(7);
  for (int round = 0; round < 3000; ++round) {
    const std::string text = gen.text(true);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      const ExactBuffer buffer(std::string_view(text).substr(0, cut));
      for (NormalizationLevel level : kLevels) {
        ASSERT_EQ(normalize_with_level(buffer.view(), level), level_reference(buffer.view(), level))
            << hex(buffer.view());
      }
    }
  }
  for (const std::string& f : ill_formed_fragments()) {
    for (NormalizationLevel level : kLevels) EXPECT_EQ(normalize_with_level(f, level), f) << hex(f);
  }
}

// ---- the settings record ------------------------------------------------------------

TEST(NormalizationSettings, FixedTables) {
  for (char32_t c : {0x0623, 0x0625, 0x0622, 0x0671}) EXPECT_EQ(NormalizationSettings::alef_table(c), 0x0627U);
  for (char32_t k = 0; k <= 9; ++k) EXPECT_EQ(NormalizationSettings::digit_table(0x0660 + k), U'0' + k);
  for (char32_t c : {0x2019, 0x2018, 0x201B, 0x02BC, 0x02BB, 0xFF07}) {
    EXPECT_EQ(NormalizationSettings::apostrophe_table(c), U'\'');
  }
  for (char32_t c : {0x2010, 0x2011, 0x2012, 0x2013, 0x2014, 0x2015, 0x2212, 0xFE58, 0xFE63, 0xFF0D}) {
    EXPECT_EQ(NormalizationSettings::dash_table(c), U'-');
  }
  // Neighbours and the other tables' keys are outside each table.
  for (char32_t c : {0x0621, 0x0624, 0x0626, 0x0627, 0x0670, 0x0672, 0x065F, 0x066A, 0x06F0, 0x201A, 0x201C,
                     0x02BA, 0x02BD, 0x2016, 0x200F, 0x2211, 0xFF0C, 0x27, 0x2D, 0x30}) {
    const int hits = (NormalizationSettings::alef_table(c) != 0) + (NormalizationSettings::digit_table(c) != 0) +
                     (NormalizationSettings::apostrophe_table(c) != 0) + (NormalizationSettings::dash_table(c) != 0);
    EXPECT_EQ(hits, 0) << std::hex << static_cast<unsigned>(c);
  }
}

TEST(NormalizeChars, DefaultSettings) {
  const NormalizationSettings defaults;
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {cps({0x0643, 0x0640, 0x062A, 0x0640}), cps({0x0643, 0x062A})},
      {cps({0x0623, 0x0629, 0x0649, 0x0663, 0x064E, 0x066B, 0x2019, 0x2013}),
       cps({0x0623, 0x0629, 0x0649, 0x0663, 0x064E, 0x066B, 0x2019, 0x2013})},
      {"a" + cps({0x200B, 0x200C, 0x200D, 0x200E, 0x200F, 0x2060, 0x2064, 0xFEFF}) + "b", "ab"},
      {"a\x0C" "b\t\n\r" + cps({0x0000, 0x001F, 0x007F, 0x0080, 0x0085, 0x009F, 0x202A, 0x202E, 0x2066, 0x2069}) + "c",
       "ab\t\n\rc"},
      {cps({0x2065, 0x206A, 0x00A0, 0x0020, 0x2028}), cps({0x2065, 0x206A, 0x00A0, 0x0020, 0x2028})},
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(normalize_chars(in, defaults), expected) << hex(in);
}

TEST(NormalizeChars, ZeroWidthAndControlModes) {
  const std::string zw = cps({0x200B, 0x200C, 0x200D, 0x2060, 0xFEFF});
  const std::string controls = "\x01" + cps({0x0085, 0x202E}) + "\x7F";
  struct Case {
    std::uint8_t zero_width_mode, control_char_mode;
    std::string zw_out, controls_out;
  };
  const Case cases[] = {
      {0, 0, "", controls},
      {1, 1, cps({0x200D}), ""},
      {2, 2, zw, "    "},
      {3, 3, zw, "    "},  // above 2 behaves like 2
      {255, 255, zw, "    "},
  };
  for (const Case& c : cases) {
    NormalizationSettings s;
    s.zero_width_mode = c.zero_width_mode;
    s.control_char_mode = c.control_char_mode;
    EXPECT_EQ(normalize_chars("a" + zw + "b", s), "a" + c.zw_out + "b") << int(c.zero_width_mode);
    EXPECT_EQ(normalize_chars("a" + controls + "b", s), "a" + c.controls_out + "b") << int(c.control_char_mode);
    EXPECT_EQ(normalize_chars("\t\n\r", s), "\t\n\r");
  }
}

TEST(NormalizeChars, EachMappingFlag) {
  struct Case {
    bool NormalizationSettings::*flag;
    std::string in, out;
  };
  const Case cases[] = {
      {&NormalizationSettings::normalize_alef, cps({0x0623, 0x0625, 0x0622, 0x0671}),
       cps({0x0627, 0x0627, 0x0627, 0x0627})},
      {&NormalizationSettings::normalize_taa_marbouta, cps({0x0629}), cps({0x0647})},
      {&NormalizationSettings::normalize_alef_maqsura, cps({0x0649}), cps({0x064A})},
      {&NormalizationSettings::normalize_digits, cps({0x0660, 0x0665, 0x0669, 0x06F5}), "059" + cps({0x06F5})},
      {&NormalizationSettings::normalize_apostrophes, cps({0x2019, 0x2018, 0x201B, 0x02BC, 0x02BB, 0xFF07, 0x201C}),
       "''''''" + cps({0x201C})},
      {&NormalizationSettings::normalize_dashes,
       cps({0x2010, 0x2011, 0x2012, 0x2013, 0x2014, 0x2015, 0x2212, 0xFE58, 0xFE63, 0xFF0D, 0x2016}),
       "----------" + cps({0x2016})},
      {&NormalizationSettings::normalize_decimal_separator, cps({0x0663, 0x066B, 0x0665, 0x066C}),
       cps({0x0663}) + "." + cps({0x0665, 0x066C})},
      // The wider mark range: U+0653..U+0656 go too, U+0657 stays.
      {&NormalizationSettings::strip_diacritics, cps({0x0628, 0x064B, 0x0652, 0x0653, 0x0656, 0x0657, 0x0670}),
       cps({0x0628, 0x0657})},
  };
  for (const Case& c : cases) {
    NormalizationSettings on;
    on.*c.flag = true;
    EXPECT_EQ(normalize_chars(c.in, on), c.out) << hex(c.in);
    EXPECT_EQ(normalize_chars(c.in, NormalizationSettings{}), c.in) << hex(c.in);
  }
}

// With every switch on, each code point takes exactly one mapping: the result
// of one is never looked up again.
TEST(NormalizeChars, MappingsDoNotChain) {
  NormalizationSettings all;
  all.normalize_alef = all.normalize_taa_marbouta = all.normalize_alef_maqsura = all.strip_diacritics = true;
  all.normalize_digits = all.normalize_apostrophes = all.normalize_dashes = all.normalize_decimal_separator = true;
  const std::pair<std::string, std::string> cases[] = {
      {cps({0x0671, 0x0629, 0x0649}), cps({0x0627, 0x0647, 0x064A})},
      {cps({0x0660, 0x066B, 0x0669}), "0.9"},
      {cps({0x2019, 0x2212, 0x0640, 0x064B}), "'-"},
      {cps({0x0627, 0x0647, 0x064A, 0x0648}), cps({0x0627, 0x0647, 0x064A, 0x0648})},
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(normalize_chars(in, all), expected) << hex(in);
}

// The fast paths (ASCII words, untouched Arabic) against the rules applied one
// code point at a time, for random records and text, ill-formed bytes included.
TEST(NormalizeChars, MatchesPerCodePointRules) {
  TextGenerator gen(99);
  for (int round = 0; round < 20000; ++round) {
    const NormalizationSettings s = gen.settings();
    const std::string text = gen.text(round % 4 == 0);
    const ExactBuffer buffer(text);
    const std::string got = normalize_chars(buffer.view(), s);
    ASSERT_EQ(got, chars_reference(text, s)) << hex(text);
    ASSERT_LE(got.size(), text.size());
  }
}

// ---- the full settings pipeline ------------------------------------------------------

TEST(NormalizeWithSettings, WhitespaceModes) {
  struct Case {
    std::uint8_t mode;
    std::string in, out;
  };
  const Case cases[] = {
      {0, " a\t\n b  ", " a\t\n b  "},
      {1, " a\t\n b  ", "a b"},
      {1, " \t\n\r " + cps({0x3000, 0x00A0, 0x2028}), ""},
      {1, "a" + cps({0x2000, 0x200A, 0x205F, 0x1680}) + "b\r\nc", "a b c"},
      {1, "", ""},
      {2, "a \r\n  b", "a \n b"},
      {2, "a\n\n\nb", "a\n\n\nb"},
      {2, "\n \n a \n\n", "a"},
      {2, "a\rb", "a b"},           // a lone carriage return is ordinary whitespace
      {2, "a\r\r\nb", "a \nb"},
      {2, "a\n\r\n\rb", "a\n\n b"},
      {2, "a" + cps({0x2029}) + "\n" + cps({0x3000}) + "b", "a \n b"},
      {7, "a \r\n  b", "a \n b"},  // above 2 behaves like 2
  };
  for (const Case& c : cases) {
    NormalizationSettings s;
    s.whitespace_mode = c.mode;
    EXPECT_EQ(normalize_with_settings(c.in, s), c.out) << int(c.mode) << ": " << hex(c.in);
  }
}

// The stages run in order: form, then characters, then whitespace.
TEST(NormalizeWithSettings, StagesInOrder) {
  const std::string alef_madda_decomposed = cps({0x0627, 0x0653});
  struct Case {
    std::uint8_t form;
    bool normalize_alef;
    std::uint8_t control_char_mode, whitespace_mode, zero_width_mode;
    std::string in, out;
  };
  const Case cases[] = {
      {0, true, 1, 0, 0, alef_madda_decomposed, alef_madda_decomposed},
      {1, false, 1, 0, 0, alef_madda_decomposed, cps({0x0622})},
      {1, true, 1, 0, 0, alef_madda_decomposed, cps({0x0627})},
      {2, true, 1, 0, 0, cps({0x0628}) + alef_madda_decomposed, cps({0x0628, 0x0627})},
      {1, false, 1, 0, 0, cps({0xFEFB}), cps({0xFEFB})},
      {2, false, 1, 0, 0, cps({0xFEFB}), cps({0x0644, 0x0627})},
      {9, false, 1, 0, 0, cps({0xFEFB}), cps({0x0644, 0x0627})},  // above 2 behaves like 2
      {2, true, 1, 0, 0, cps({0xFDF2}), cps({0x0627, 0x0644, 0x0644, 0x0647})},  // the form may lengthen
      {2, false, 1, 1, 0, "a" + cps({0x2003}) + "b", "a b"},                     // NFKC gives U+0020
      {0, false, 2, 1, 0, "a " + cps({0x202E}) + " b", "a b"},   // the control's space joins the run
      {0, false, 1, 1, 0, "a" + cps({0x0085}) + "b", "ab"},     // U+0085 removed as a control first
      {0, false, 0, 1, 0, "a" + cps({0x0085}) + "b", "a b"},    // kept, it is whitespace
      {0, false, 1, 1, 2, "a" + cps({0x200B}) + " b", "a" + cps({0x200B}) + " b"},  // U+200B is not whitespace
      {0, false, 1, 1, 0, " " + cps({0x200B}) + " ", ""},
  };
  for (const Case& c : cases) {
    NormalizationSettings s;
    s.unicode_form = c.form;
    s.normalize_alef = c.normalize_alef;
    s.control_char_mode = c.control_char_mode;
    s.whitespace_mode = c.whitespace_mode;
    s.zero_width_mode = c.zero_width_mode;
    EXPECT_EQ(normalize_with_settings(c.in, s), c.out) << hex(c.in);
  }
}

// The forms never compose across ill-formed bytes, which pass through unchanged.
TEST(NormalizeWithSettings, IllFormedBytesPassThroughEveryStage) {
  NormalizationSettings s;
  s.unicode_form = 1;
  s.whitespace_mode = 2;
  EXPECT_EQ(normalize_with_settings("\xFF" + cps({0x0627, 0x0653}) + "\xD8", s), "\xFF" + cps({0x0622}) + "\xD8");
  EXPECT_EQ(normalize_with_settings("A\xFF" + cps({0x0301}), s), "A\xFF" + cps({0x0301}));
  EXPECT_EQ(normalize_with_settings("A" + cps({0x0301}), s), cps({0x00C1}));
  EXPECT_EQ(normalize_with_settings(" \xE2\x80  \xC2", s), "\xE2\x80 \xC2");

  TextGenerator gen(3);
  for (int round = 0; round < 2000; ++round) {
    NormalizationSettings r = gen.settings();
    r.unicode_form = static_cast<std::uint8_t>(round % 4);
    r.whitespace_mode = static_cast<std::uint8_t>((round / 4) % 4);
    const std::string text = gen.text(true);
    const ExactBuffer buffer(text);
    const std::string got = normalize_with_settings(buffer.view(), r);
    if (r.unicode_form == 0 && r.whitespace_mode == 0) {
      ASSERT_EQ(got, normalize_chars(text, r));
    }
    if (talvik::utf8::is_valid(text)) {
      ASSERT_TRUE(talvik::utf8::is_valid(got)) << hex(text);
    }
  }
}

TEST(NormalizeWithSettings, EmptyTextStaysEmpty) {
  for (std::uint8_t form = 0; form <= 2; ++form) {
    for (std::uint8_t ws = 0; ws <= 2; ++ws) {
      NormalizationSettings s;
      s.unicode_form = form;
      s.whitespace_mode = ws;
      EXPECT_EQ(normalize_with_settings("", s), "");
    }
  }
}

}  // namespace
