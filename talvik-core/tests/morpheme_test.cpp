#include "talvik/morpheme.hpp"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "talvik/utf8.hpp"

namespace {

using talvik::MorphemeMap;
using talvik::MorphemeTrie;
using talvik::utf8::from_code_point;

const std::string kAlef = "\u0627", kLam = "\u0644", kKaf = "\u0643", kTeh = "\u062A", kBeh = "\u0628";
const std::string kReh = "\u0631", kTehMarbuta = "\u0629";
const std::string kE000 = "\uE000", kE001 = "\uE001", kFffd = "\uFFFD";

struct ReplaceCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> pairs;  // inserted in this order
  std::string text;
  std::string expected;
};

MorphemeTrie build(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<MorphemeTrie::Pair> views(pairs.begin(), pairs.end());
  return MorphemeTrie::build(views);
}

TEST(MorphemeTrie, ReplacesLeftmostLongest) {
  const std::string al = kAlef + kLam, alkitab = kAlef + kLam + kKaf + kTeh + kAlef + kBeh;
  const std::vector<std::pair<std::string, std::string>> two_keys = {{al, kE000}, {alkitab, kE001}};
  const ReplaceCase cases[] = {
      {"longer key wins", two_keys, alkitab, kE001},
      {"shorter key where the longer fails", two_keys, al + kKaf + kReh + kTehMarbuta, kE000 + kKaf + kReh + kTehMarbuta},
      {"longer key cut off by the end", two_keys, al + kKaf + kTeh, kE000 + kKaf + kTeh},
      {"keys inside words and between spaces", two_keys, "x" + kBeh + al + kBeh + " " + al, "x" + kBeh + kE000 + kBeh + " " + kE000},
      {"no backtracking", {{"ab", "X"}, {"bc", "Y"}}, "abc", "Xc"},
      {"walk past a value then fail", {{"a", "1"}, {"abcd", "4"}}, "abcxabcd", "1bcx4"},
      {"no value on the walk", {{"abc", "Z"}}, "ababc", "abZ"},
      {"no key occurs", two_keys, "Latin 123, " + kKaf + kTeh + kBeh + "\n\t\x01!", "Latin 123, " + kKaf + kTeh + kBeh + "\n\t\x01!"},
      {"empty text", two_keys, "", ""},
      {"repeated key takes the later value", {{"ab", "1"}, {"c", "2"}, {"ab", "3"}}, "abcab", "323"},
      {"empty value deletes", {{"-", ""}, {"a", "b"}}, "a-a--", "bb"},
      {"empty key never matches", {{"", "E"}}, "abc", "abc"},
      {"empty key beside others", {{"", "E"}, {"b", "B"}}, "abc", "aBc"},
      {"code of several characters", {{al, kE000 + kE001 + "z"}}, al + al, kE000 + kE001 + "z" + kE000 + kE001 + "z"},
      {"supplementary code", {{al, "\U000F0001"}}, al + kBeh, "\U000F0001" + kBeh},
      // Ill-formed strings only come from C++ callers; the output is repaired.
      {"lead byte alone as key", {{"\xD8", "L"}}, kAlef + "a", "L" + kFffd + "a"},
      {"continuation byte as key", {{"\xA7", "C"}}, kAlef + kBeh, kFffd + "C" + kBeh},
      {"ill-formed value", {{"a", "\xE0\x80"}}, "xa", "x" + kFffd + kFffd},
      {"ill-formed trie, untouched text", {{"\xFF", "?"}}, kAlef + "b", kAlef + "b"},
  };
  for (const ReplaceCase& c : cases) {
    const MorphemeTrie trie = build(c.pairs);
    EXPECT_EQ(trie.entry_count(), c.pairs.size()) << c.name;
    const std::string out = trie.replace_longest(c.text);
    EXPECT_EQ(out, c.expected) << c.name;
    EXPECT_TRUE(talvik::utf8::is_valid(out)) << c.name;
  }
}

TEST(MorphemeTrie, EmptyTrieCopies) {
  const MorphemeTrie empty;
  EXPECT_EQ(empty.entry_count(), 0u);
  // Even ill-formed bytes come back as they are: entry count 0 means no pass.
  EXPECT_EQ(empty.replace_longest("ab\xFF"), "ab\xFF");
  EXPECT_EQ(MorphemeTrie::forward(MorphemeMap{}).entry_count(), 0u);
  EXPECT_EQ(MorphemeTrie::reverse(MorphemeMap{}).entry_count(), 0u);
}

// Node layouts: the root's table, a dense node with every ASCII byte as a child,
// sparse nodes whose few children are spread over the byte range (just under
// and just over the size at which a node always turns dense), and chains.
TEST(MorphemeTrie, NodesWithManyOrSpreadChildren) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int b = 0; b < 0x80; ++b) pairs.emplace_back(std::string("D") + static_cast<char>(b), from_code_point(0xE000 + b));
  const std::string spread = "\x01 0AZaz~";  // 8 children over 0x01..0x7E: sparse
  for (const char c : spread) pairs.emplace_back(std::string("S") + c, std::string("s") + c);
  for (const char c : spread + "\x7F") pairs.emplace_back(std::string("T") + c, std::string("t") + c);  // 9: dense
  pairs.emplace_back("U" + kAlef, "ualef");  // a two-byte child far from the one-byte one
  pairs.emplace_back("Ua", "ua");
  pairs.emplace_back("long-chain-of-single-children", "!");
  const MorphemeTrie trie = build(pairs);

  std::string text, expected;
  for (int b = 0x7F; b >= 0; --b) {
    text += std::string("D") + static_cast<char>(b);
    expected += from_code_point(0xE000 + b);
  }
  EXPECT_EQ(trie.replace_longest(text), expected);
  EXPECT_EQ(trie.replace_longest("Sz S~S\x01SbTz T\x7FTbSa"), "sz s~s\x01Sbtz t\x7FTbsa");
  EXPECT_EQ(trie.replace_longest("U" + kAlef + "UaU" + kBeh + "U"), "ualefuaU" + kBeh + "U");
  EXPECT_EQ(trie.replace_longest("long-chain-of-single-childre long-chain-of-single-children"),
            "long-chain-of-single-childre !");
}

TEST(MorphemeTrie, ForwardAndReverseFromMap) {
  MorphemeMap map;
  map.insert(kAlef + kLam, kE000);
  map.insert(kKaf + kTeh + kAlef + kBeh, kE001);
  map.insert(kBeh, kE001);  // shares its code with the morpheme before
  map.insert("", "\uE002");
  const MorphemeTrie forward = MorphemeTrie::forward(map);
  const MorphemeTrie reverse = MorphemeTrie::reverse(map);
  EXPECT_EQ(forward.entry_count(), 4u);
  EXPECT_EQ(reverse.entry_count(), 3u);  // distinct codes
  EXPECT_EQ(forward.replace_longest(kAlef + kLam + kKaf + kTeh + kAlef + kBeh + " " + kBeh), kE000 + kE001 + " " + kE001);
  // The later entry wins the shared code; the empty morpheme's code decodes to nothing.
  EXPECT_EQ(reverse.replace_longest(kE000 + kE001 + "\uE002."), kAlef + kLam + kBeh + ".");
}

TEST(MapStats, CountsCodePointsPerPlane) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> entries;
    talvik::MapStats expected;
  };
  const Case cases[] = {
      {"empty map", {}, {0, 0, 0}},
      {"one of each plane", {{"a", "\uE000"}, {"b", "\U000F0001"}, {"c", "ab"}}, {3, 1, 1}},
      {"code points, not entries", {{"a", "\uE000\uF8FF"}}, {1, 2, 0}},
      {"plane bounds", {{"a", "\uD7FF\uF900\U000EFFFF\U000FFFFD\U000FFFFE\U000FFFFF\U000F0000"}}, {1, 0, 2}},
      {"plane 16 counts nowhere", {{"a", "\U00100000\U0010FFFD"}}, {1, 0, 0}},
      {"mixed value", {{"a", "x\uE001y\U000F0002"}, {"b", ""}}, {2, 1, 1}},
      {"ill-formed bytes around a code", {{"a", "\xEE\x80" "\xEE\x80\x80" "\xF3\xB0"}}, {1, 1, 0}},
  };
  for (const Case& c : cases) {
    MorphemeMap map;
    for (const auto& [k, v] : c.entries) map.insert(k, v);
    const talvik::MapStats s = talvik::map_stats(map);
    EXPECT_EQ(s.total_morphemes, c.expected.total_morphemes) << c.name;
    EXPECT_EQ(s.basic_pua_codes, c.expected.basic_pua_codes) << c.name;
    EXPECT_EQ(s.supplementary_pua_codes, c.expected.supplementary_pua_codes) << c.name;
  }
}

// The definition written out plainly: at each byte position try every key and
// take the longest that matches; the last insertion of a key gives its value.
// Returns the bytes before any repair.
std::string naive_replace(const std::vector<std::pair<std::string, std::string>>& pairs, std::string_view text) {
  std::map<std::string, std::string> latest;
  for (const auto& [k, v] : pairs) latest[k] = v;
  std::string out;
  std::size_t p = 0;
  while (p < text.size()) {
    const std::pair<const std::string, std::string>* best = nullptr;
    for (const auto& entry : latest) {
      if (entry.first.empty() || !text.substr(p).starts_with(entry.first)) continue;
      if (best == nullptr || entry.first.size() > best->first.size()) best = &entry;
    }
    if (best != nullptr) {
      out += best->second;
      p += best->first.size();
    } else {
      out += text[p];
      ++p;
    }
  }
  return out;
}

// Pseudo-random maps and texts. Keys come from a few pieces so that prefixes
// overlap heavily. Three kinds of round:
//  - whole letters: well-formed keys, values and text; the output must be the
//    repaired naive output without the trie repairing anything;
//  - with halves of a two-byte letter in keys and values: the trie repairs;
//  - arbitrary bytes everywhere (a C++ caller's worst): the output is the naive
//    output, repaired exactly when some key or value is ill-formed.
TEST(MorphemeTrie, MatchesNaiveDefinition) {
  const std::vector<std::string> letters = {"a", "b", " ", kAlef, kLam, kBeh, "\u064E", "\uE000"};
  const std::vector<std::string> fragments = {"\xD8", "\xA7"};
  const std::vector<std::string> bytes = {std::string(1, '\0'), "a", "\x80", "\xD8", "\xA7", "\xE0", "\xFF"};
  const std::vector<std::string> values = {"", "X", "\uE000", "\uE001\uE002", "\U000F0000", "yz"};
  std::mt19937 rng(20240611);
  const auto pick = [&](const std::vector<std::string>& from) {
    return from[std::uniform_int_distribution<std::size_t>(0, from.size() - 1)(rng)];
  };
  const auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(rng) < percent; };
  for (int round = 0; round < 1200; ++round) {
    const int kind = round % 3;  // 0 letters, 1 with fragments, 2 arbitrary bytes
    const auto piece = [&] {
      if (kind == 2) return pick(bytes);
      return kind == 1 && chance(20) ? pick(fragments) : pick(letters);
    };
    std::vector<std::pair<std::string, std::string>> pairs;
    bool well_formed = true;
    const int n_keys = std::uniform_int_distribution<int>(0, 30)(rng);
    for (int k = 0; k < n_keys; ++k) {
      std::string key;
      const int len = std::uniform_int_distribution<int>(0, 5)(rng);
      for (int i = 0; i < len; ++i) key += piece();
      std::string value = chance(80) ? pick(values) : from_code_point(0xE000 + static_cast<char32_t>(k));
      if (kind != 0 && chance(10)) value += piece();
      well_formed = well_formed && talvik::utf8::is_valid(key) && talvik::utf8::is_valid(value);
      pairs.emplace_back(std::move(key), std::move(value));
    }
    const MorphemeTrie trie = build(pairs);
    ASSERT_EQ(trie.entry_count(), pairs.size());
    for (int t = 0; t < 5; ++t) {
      std::string text;
      const int len = std::uniform_int_distribution<int>(0, 40)(rng);
      for (int i = 0; i < len; ++i) text += kind == 2 ? pick(bytes) : pick(letters);
      std::string expected = pairs.empty() ? text : naive_replace(pairs, text);
      if (!pairs.empty() && !well_formed) expected = talvik::utf8::to_valid_lossy(std::move(expected));
      if (kind == 0) {
        ASSERT_TRUE(talvik::utf8::is_valid(expected));
      }
      ASSERT_EQ(trie.replace_longest(text), expected) << "round " << round << ", text " << text;
    }
  }
}

// Tries whose keys are all single code points (a decoder's table of codes)
// take a per-character lookup instead of the byte walk; it must give exactly
// the walk's results, on well-formed text and on arbitrary bytes alike.
TEST(MorphemeTrie, SingleCodePointKeysMatchNaiveDefinition) {
  const std::vector<char32_t> points = {U'a', U' ', 0x0627, 0x0644, 0x0800, 0xE000, 0xE001, 0xF8FF,
                                        0xFFFF, 0xF0000, 0xF0001, 0x10FFFF, 0x1F600};
  const std::vector<std::string> junk = {"", "î", "î", "ó°", "ÿ"};
  const std::vector<std::string> values = {"", "x", "Ø§Ù", "î", "Ø"};
  std::mt19937 rng(7);
  const auto below = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
  for (int round = 0; round < 400; ++round) {
    std::vector<std::pair<std::string, std::string>> pairs;
    bool well_formed = true;
    const std::size_t n_keys = 1 + below(8);
    for (std::size_t k = 0; k < n_keys; ++k) {
      std::string value = values[below(values.size())];
      well_formed = well_formed && talvik::utf8::is_valid(value);
      pairs.emplace_back(from_code_point(points[below(points.size())]), std::move(value));
    }
    const MorphemeTrie trie = build(pairs);
    for (int t = 0; t < 5; ++t) {
      std::string text;
      const std::size_t len = below(30);
      for (std::size_t i = 0; i < len; ++i) {
        text += round % 2 == 1 && below(5) == 0 ? junk[below(junk.size())] : from_code_point(points[below(points.size())]);
      }
      std::string expected = naive_replace(pairs, text);
      if (!well_formed) expected = talvik::utf8::to_valid_lossy(std::move(expected));
      ASSERT_EQ(trie.replace_longest(text), expected) << "round " << round << ", text " << text;
    }
  }
}

}  // namespace

namespace {

// (Built with += : g++ 12 warns falsely on "literal" + std::to_string.)
std::string tagged(char tag, int i) {
  std::string s(1, tag);
  s += std::to_string(i);
  return s;
}

// The map keeps first-insertion order, replaces a repeated key's value in
// place, and finds every key after its index has grown many times.
TEST(MorphemeMap, OrderReplacementAndLookupAcrossGrowth) {
  talvik::MorphemeMap map;
  constexpr int kCount = 5000;
  for (int i = 0; i < kCount; ++i) map.insert(tagged('k', i), tagged('v', i));
  map.insert("k17", "replaced");
  map.insert("", "empty key");
  ASSERT_EQ(map.size(), static_cast<std::size_t>(kCount + 1));
  EXPECT_EQ(map.entries()[17], (talvik::MorphemeMap::Entry{"k17", "replaced"}));
  EXPECT_EQ(map.entries().back().first, "");
  for (int i = 0; i < kCount; i += 7) {
    const std::string* value = map.find(tagged('k', i));
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(*value, i == 17 ? "replaced" : tagged('v', i));
  }
  EXPECT_EQ(map.find("k5000"), nullptr);
  EXPECT_EQ(*map.find(""), "empty key");
  EXPECT_EQ(talvik::MorphemeMap{}.find("x"), nullptr);

  const talvik::MorphemeMap copy = map;  // copies keep a working index
  EXPECT_EQ(copy, map);
  EXPECT_EQ(*copy.find("k4999"), "v4999");
}

}  // namespace
