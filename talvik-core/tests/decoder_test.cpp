#include "talvik/decoder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talvik/morpheme.hpp"
#include "talvik/utf8.hpp"

namespace {

using talvik::decode_bytes;
using talvik::MorphemeTrie;
using talvik::postprocess;
using talvik::SarfDecoder;

// Code point -> byte for the 68 GPT-2 substitutes, from the published rule: the
// bytes without a printable stand-in take U+0100, U+0101, ... in ascending order.
std::array<int, 0x144> substitute_bytes() {
  std::array<int, 0x144> table;
  table.fill(-1);
  char32_t next = 0x100;
  for (int b = 0; b < 256; ++b) {
    const bool printable = (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xAC) || b >= 0xAE;
    if (!printable) table[next++] = b;
  }
  return table;
}

// Character by character; ill-formed bytes pass as they are.
std::string naive_decode_bytes(std::string_view s) {
  static const std::array<int, 0x144> table = substitute_bytes();
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const talvik::utf8::Decoded d = talvik::utf8::decode(s, i);
    if (d.valid && d.cp >= 0x100 && d.cp < 0x144) {
      talvik::utf8::append(out, static_cast<char32_t>(table[d.cp]));
    } else {
      out.append(s.substr(i, d.len));
    }
    i += d.len;
  }
  return out;
}

// Random byte strings over the bytes the scanners look at: spaces, the leads and
// continuations of substitutes, Arabic letters, marks and digits, White_Space
// sequences, the join triggers, and bytes that are never valid.
std::vector<std::string> random_byte_strings(std::size_t count, std::uint32_t seed) {
  static constexpr unsigned char kAlphabet[] = {
      ' ', ' ', ' ', ' ', '\t', '\n', 0xC4, 0xC5, 0x80, 0x83, 0x84, 0xA0, 0xBF, 0xD8, 0xD9, 0xDA, 0xDB, 0xA1,
      0x8B, 0x95, 0xB0, 0x9F, 0xA9, 0xC2, 0x85, 0xE1, 0x9A, 0xE2, 0x81, 0x8A, 0xA8, 0xAF, 0xE3, 0xF0, 0xFF,
      0x00, '.', '?', '@', ':', '/', '/', 'a', 'b', 'Z', '1', '2'};
  std::mt19937 rng(seed);
  std::uniform_int_distribution<std::size_t> length(0, 40);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 1);
  std::vector<std::string> out(count);
  for (std::string& s : out) {
    const std::size_t n = length(rng);
    for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(kAlphabet[pick(rng)]));
  }
  return out;
}

// A copy on the heap with no spare byte after it, so that the address sanitizer
// sees any read past the end (a std::string has its terminator and capacity).
class ExactCopy {
 public:
  explicit ExactCopy(std::string_view s) : bytes_(new char[s.size() == 0 ? 1 : s.size()]), size_(s.size()) {
    std::copy(s.begin(), s.end(), bytes_.get());
  }
  [[nodiscard]] std::string_view view() const { return {bytes_.get(), size_}; }

 private:
  std::unique_ptr<char[]> bytes_;
  std::size_t size_;
};

std::string without_spaces(std::string s) {
  std::erase(s, ' ');
  return s;
}

// Byte decoding agrees with the character-by-character definition on any bytes,
// including substitutes split from their lead, at every alignment of the
// eight-byte scan.
TEST(DecodeBytes, MatchesNaiveDefinitionOnArbitraryBytes) {
  for (const std::string& s : random_byte_strings(50000, 1)) {
    ASSERT_EQ(decode_bytes(ExactCopy(s).view()), naive_decode_bytes(s)) << testing::PrintToString(s);
  }
  for (std::size_t pad = 0; pad < 17; ++pad) {
    const std::string s = std::string(pad, 'a') + "\u0120\u015F\u0143" + std::string(pad, 'b') + "\xC4";
    EXPECT_EQ(decode_bytes(s), naive_decode_bytes(s)) << pad;
  }
}

TEST(DecodeBytes, LongTextsWithAndWithoutSubstitutes) {
  std::string spaced, plain;
  for (int i = 0; i < 5000; ++i) {
    spaced += "\u0643\u062A\u0627\u0628\u0120";
    plain += "\u0643\u062A\u0627\u0628 ";
  }
  EXPECT_EQ(decode_bytes(spaced), plain);
  EXPECT_EQ(decode_bytes(plain), plain);
}

// The clean-up only ever removes bytes: White_Space at the ends and single
// spaces inside. On ill-formed input that must hold too, without reading out of
// bounds (run under the address sanitizer to check the latter).
TEST(Postprocess, OnlyRemovesSpacesOnArbitraryBytes) {
  for (const std::string& s : random_byte_strings(50000, 2)) {
    const std::string out = postprocess(s);
    ASSERT_LE(out.size(), s.size());
    ASSERT_NE(without_spaces(s).find(without_spaces(out)), std::string::npos) << testing::PrintToString(s);
    if (!out.empty()) {
      EXPECT_NE(out.front(), ' ');
      EXPECT_NE(out.back(), ' ');
    }
    EXPECT_EQ(out.find("  "), std::string::npos);
    if (talvik::utf8::is_valid(s)) {
      EXPECT_TRUE(talvik::utf8::is_valid(out)) << testing::PrintToString(s);
    }
  }
}

TEST(Postprocess, InPlaceEqualsCopying) {
  std::string text = "  \u0628 \u064E 1 2 3 a @ b : // c . de\t ";
  const std::string copied = postprocess(text);
  talvik::postprocess_in_place(text);
  EXPECT_EQ(text, copied);
  EXPECT_EQ(copied, "\u0628\u064E 123 a@b://c.de");
}

// A long text in which compaction moves many segments.
TEST(Postprocess, LongText) {
  std::string text, expected;
  for (int i = 0; i < 3000; ++i) {
    text += "\u0628 \u064E  \u0661 \u0662 x . txt ";
    expected += "\u0628\u064E \u0661\u0662 x.txt ";
  }
  expected.pop_back();
  EXPECT_EQ(postprocess(text), expected);
}

MorphemeTrie prefix_codes() {
  // Codes U+E000 and U+E000 U+E001: the longer one must win where both match.
  return MorphemeTrie::build({{"\uE000", "\u0627\u0644"}, {"\uE000\uE001", "\u0643\u062A\u0627\u0628"}});
}

TEST(SarfDecoder, PreparedTrieTakesTheLongerCode) {
  const SarfDecoder decoder(prefix_codes());
  const std::pair<std::string, std::string> cases[] = {
      {"\uE000\uE001\uE000", "\u0643\u062A\u0627\u0628\u0627\u0644"},
      {"\uE000\uE000\uE001", "\u0627\u0644\u0643\u062A\u0627\u0628"},
      {"\uE001\uE000", "\uE001\u0627\u0644"},  // U+E001 alone is no code
      // With byte-level substitutes the text goes through decode_bytes first.
      {"\u0120\uE000\u0120\u0120\uE000\uE001\u0120", "\u0627\u0644 \u0643\u062A\u0627\u0628"},
      {"", ""},
      {"\u0120\u010A", ""},
  };
  for (const auto& [in, expected] : cases) EXPECT_EQ(decoder.decode(in), expected) << testing::PrintToString(in);
}

TEST(SarfDecoder, FromMapAndEmptyMap) {
  talvik::MorphemeMap map;
  map.insert("\u0627\u0644", "\uE000");
  map.insert("\u0643\u062A\u0627\u0628", "\uE001");
  EXPECT_EQ(SarfDecoder(map).decode("\uE000\uE001 \uE000"), "\u0627\u0644\u0643\u062A\u0627\u0628 \u0627\u0644");
  const SarfDecoder empty{talvik::MorphemeMap{}};
  EXPECT_EQ(empty.decode("\uE000 \u0120 \u0628 \u064E"), "\uE000 \u0628\u064E");
}

// decode() skips the intermediate copy when there is nothing to byte-decode;
// every path must still be the three stages in order.
TEST(SarfDecoder, ArbitraryBytesGoThroughTheThreeStages) {
  const MorphemeTrie trie = prefix_codes();
  const SarfDecoder decoder(prefix_codes());
  const SarfDecoder empty{talvik::MorphemeMap{}};
  for (const std::string& s : random_byte_strings(20000, 3)) {
    ASSERT_EQ(decoder.decode(ExactCopy(s).view()), postprocess(trie.replace_longest(decode_bytes(s)))) << testing::PrintToString(s);
    ASSERT_EQ(empty.decode(ExactCopy(s).view()), postprocess(decode_bytes(s))) << testing::PrintToString(s);
  }
}

}  // namespace
