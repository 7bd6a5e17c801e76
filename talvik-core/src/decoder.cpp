#include "talvik/decoder.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace talvik {

namespace {

constexpr std::size_t kNone = std::string_view::npos;

[[nodiscard]] constexpr unsigned byte_at(const char* p, std::size_t i) noexcept {
  return static_cast<unsigned char>(p[i]);
}

// ---- byte-level decoding ------------------------------------------------------

// The GPT-2 byte-level alphabet writes the 188 printable bytes as the characters
// with the same code point and the other 68, in ascending order, as U+0100,
// U+0101, ... U+0143. Only those 68 ever change, so the inverse table is indexed
// by code point - 0x100.
[[nodiscard]] constexpr bool has_printable_stand_in(unsigned b) noexcept {
  return (b >= 0x21 && b <= 0x7E) || (b >= 0xA1 && b <= 0xAC) || b >= 0xAE;
}

constexpr std::size_t kSubstituteCount = 68;

[[nodiscard]] constexpr std::size_t count_substitutes() noexcept {
  std::size_t n = 0;
  for (unsigned b = 0; b < 256; ++b) n += has_printable_stand_in(b) ? 0 : 1;
  return n;
}
static_assert(count_substitutes() == kSubstituteCount);

constexpr std::array<unsigned char, kSubstituteCount> kSubstituteByte = [] {
  std::array<unsigned char, kSubstituteCount> table{};
  std::size_t n = 0;
  for (unsigned b = 0; b < 256; ++b) {
    if (!has_printable_stand_in(b)) table[n++] = static_cast<unsigned char>(b);
  }
  return table;
}();
static_assert(kSubstituteByte[0x00] == 0x00 && kSubstituteByte[0x20] == 0x20);  // U+0100, U+0120
static_assert(kSubstituteByte[0x21] == 0x7F && kSubstituteByte[0x42] == 0xA0);  // U+0121, U+0142
static_assert(kSubstituteByte[0x43] == 0xAD);                                   // U+0143

// In UTF-8 the substitutes are C4 80..C4 BF (U+0100..U+013F) and C5 80..C5 83
// (U+0140..U+0143). 0xC4 and 0xC5 are lead bytes, never continuation bytes, so
// a byte match is a character match even inside ill-formed text.
constexpr std::uint64_t kEachByte = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

// Index of the first byte at or after i that is 0xC4 or 0xC5, or n.
[[nodiscard]] std::size_t find_c4_or_c5(const char* p, std::size_t i, std::size_t n) noexcept {
  if constexpr (std::endian::native == std::endian::little) {
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      // Clearing bit 0 of every byte folds 0xC5 onto 0xC4; the XOR leaves a zero
      // byte exactly there. The lowest flagged byte is exact (borrows only run upward).
      const std::uint64_t x = (word & ~kEachByte) ^ (0xC4 * kEachByte);
      const std::uint64_t zero = (x - kEachByte) & ~x & kHighBits;
      if (zero != 0) return i + static_cast<std::size_t>(std::countr_zero(zero) >> 3);
      i += 8;
    }
  }
  while (i < n && (byte_at(p, i) & 0xFE) != 0xC4) ++i;
  return i;
}

struct Substitute {
  std::size_t pos;  // byte offset of its two-byte form, or n when there is none
  unsigned index;   // code point - 0x100
};

[[nodiscard]] Substitute find_substitute(std::string_view s, std::size_t i) noexcept {
  const char* p = s.data();
  const std::size_t n = s.size();
  for (;; ++i) {
    i = find_c4_or_c5(p, i, n);
    if (i + 1 >= n) return {n, 0};
    const unsigned cont = byte_at(p, i + 1);
    if (byte_at(p, i) == 0xC4) {
      if (cont >= 0x80 && cont <= 0xBF) return {i, cont - 0x80};
    } else if (cont >= 0x80 && cont <= 0x83) {
      return {i, 0x40 + (cont - 0x80)};
    }
  }
}

// Writes the decoding of `text`, whose first substitute is `sub`, to out
// (room for text.size() bytes: a substitute never grows); returns the length.
std::size_t decode_bytes_into(std::string_view text, Substitute sub, char* out) noexcept {
  const char* p = text.data();
  const std::size_t n = text.size();
  std::size_t copied = 0;
  char* w = out;
  for (; sub.pos < n; sub = find_substitute(text, sub.pos + 2)) {
    std::memcpy(w, p + copied, sub.pos - copied);
    w += sub.pos - copied;
    const unsigned char b = kSubstituteByte[sub.index];
    if (b < 0x80) {
      *w++ = static_cast<char>(b);
    } else {  // U+0080..U+00BF: C2 followed by the byte itself
      *w++ = '\xC2';
      *w++ = static_cast<char>(b);
    }
    copied = sub.pos + 2;
  }
  std::memcpy(w, p + copied, n - copied);
  w += n - copied;
  return static_cast<std::size_t>(w - out);
}

[[nodiscard]] std::string decode_bytes_from(std::string_view text, Substitute first) {
  if (first.pos == text.size()) return std::string(text);
  std::string out;
  out.resize_and_overwrite(text.size(),
                           [&](char* buffer, std::size_t) noexcept { return decode_bytes_into(text, first, buffer); });
  return out;
}

// ---- post-processing ----------------------------------------------------------
//
// The clean-up is defined as a sequence of regular-expression rules: collapse
// runs of spaces, trim, then joins that each delete single U+0020 spaces
// (letter-diacritic, diacritic-diacritic, before . ? U+061F, digit-digit,
// around @, inside "://", after a dot that starts a word), then collapse and
// trim again. After the first collapse and trim no two spaces touch and the text
// starts and ends with a non-space; the joins only ever delete a space, so every
// remaining space keeps the same two neighbours until the end, the last collapse
// and trim find nothing to do, and each space's fate depends only on fixed
// context. That turns the whole sequence into one left-to-right pass over the
// trimmed text that decides each run of spaces once, from its neighbours:
//
// - The three repeated joins (letter-diacritic, diacritic-diacritic, digits)
//   settle within two applications: a qualifying pair that one application skips
//   because its left character was consumed by the match just before it is
//   joined by the next, which cannot skip it again. Their caps (15, 10, 5) never
//   bind, so the result is "delete every space between a qualifying pair".
// - Deleting the space before every "." means the dot-word join never sees a
//   space in front of its dot, so it cannot be blocked by the previous match;
//   only the character after the letters needs the earlier joins' verdict on
//   the space there, which is looked up ahead.
// - "://" with its optional spaces is decided from the colon: the space before
//   it, the one between ":" and "//" and the one after "//".
//
// Look-ahead reads the text as the first collapse leaves it: a run of spaces
// counts as one space.

// Length of the White_Space character that starts at p[i] (i < n), or 0.
[[nodiscard]] std::size_t white_space_at(const char* p, std::size_t i, std::size_t n) noexcept {
  const unsigned c = byte_at(p, i);
  if (c < 0x80) return (c == 0x20 || (c >= 0x09 && c <= 0x0D)) ? 1 : 0;
  const std::size_t avail = n - i;
  if (c == 0xC2) {  // U+0085, U+00A0
    return avail >= 2 && (byte_at(p, i + 1) == 0x85 || byte_at(p, i + 1) == 0xA0) ? 2 : 0;
  }
  if (avail < 3 || c < 0xE1 || c > 0xE3) return 0;
  const unsigned c1 = byte_at(p, i + 1);
  const unsigned c2 = byte_at(p, i + 2);
  switch (c) {
    case 0xE1:  // U+1680
      return c1 == 0x9A && c2 == 0x80 ? 3 : 0;
    case 0xE2:  // U+2000..U+200A, U+2028, U+2029, U+202F; U+205F
      if (c1 == 0x80) return (c2 >= 0x80 && c2 <= 0x8A) || c2 == 0xA8 || c2 == 0xA9 || c2 == 0xAF ? 3 : 0;
      return c1 == 0x81 && c2 == 0x9F ? 3 : 0;
    default:  // U+3000
      return c1 == 0x80 && c2 == 0x80 ? 3 : 0;
  }
}

// Length of the White_Space character that ends at p[end - 1] (end > 0), or 0.
[[nodiscard]] std::size_t white_space_before(const char* p, std::size_t end) noexcept {
  if (byte_at(p, end - 1) < 0x80) return white_space_at(p, end - 1, end);
  if (end >= 2 && white_space_at(p, end - 2, end) == 2) return 2;
  if (end >= 3 && white_space_at(p, end - 3, end) == 3) return 3;
  return 0;
}

// Moves p[from, to) down to p[w]; returns the new write index.
std::size_t shift_down(char* p, std::size_t w, std::size_t from, std::size_t to) noexcept {
  if (w != from) std::memmove(p + w, p + from, to - from);
  return w + (to - from);
}

// Calls f(s) for every space p[s] in [begin, end), in order. f may overwrite
// bytes before s. (memchr beats a word-at-a-time mask here: spaces come every
// few bytes and the mask loop's branches are hard to predict.)
template <class F>
void for_each_space(const char* p, std::size_t begin, std::size_t end, F&& f) {
  for (std::size_t i = begin; i < end;) {
    const void* hit = std::memchr(p + i, ' ', end - i);
    if (hit == nullptr) return;
    const auto s = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
    f(s);
    i = s + 1;
  }
}

[[nodiscard]] std::size_t skip_spaces(const char* p, std::size_t i, std::size_t n) noexcept {
  while (i < n && p[i] == ' ') ++i;
  return i;
}

[[nodiscard]] constexpr bool is_ascii_digit(unsigned c) noexcept { return c >= '0' && c <= '9'; }
[[nodiscard]] constexpr bool is_ascii_letter(unsigned c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Two-byte characters by lead and continuation byte.
// Arabic letters U+0621..U+064A, U+066E..U+06D3.
[[nodiscard]] constexpr bool is_letter(unsigned lead, unsigned cont) noexcept {
  switch (lead) {
    case 0xD8: return cont >= 0xA1 && cont <= 0xBF;
    case 0xD9: return (cont >= 0x80 && cont <= 0x8A) || (cont >= 0xAE && cont <= 0xBF);
    case 0xDA: return cont >= 0x80 && cont <= 0xBF;
    case 0xDB: return cont >= 0x80 && cont <= 0x93;
    default: return false;
  }
}
// Diacritics U+064B..U+0655 and U+0670 (which is also a letter).
[[nodiscard]] constexpr bool is_mark(unsigned lead, unsigned cont) noexcept {
  return lead == 0xD9 && ((cont >= 0x8B && cont <= 0x95) || cont == 0xB0);
}
// Arabic-Indic digits U+0660..U+0669.
[[nodiscard]] constexpr bool is_indic_digit(unsigned lead, unsigned cont) noexcept {
  return lead == 0xD9 && cont >= 0xA0 && cont <= 0xA9;
}

// Whether "//", after at most one (collapsed) space, starts at p[i].
[[nodiscard]] bool is_scheme_rest(const char* p, std::size_t i, std::size_t n) noexcept {
  i = skip_spaces(p, i, n);
  return i + 1 < n && p[i] == '/' && p[i + 1] == '/';
}

// Whether the space run at p[s], whose left neighbour is an ASCII letter, is
// deleted before the dot-word join runs.
[[nodiscard]] bool is_dropped_after_letter(const char* p, std::size_t s, std::size_t n) noexcept {
  const std::size_t t = skip_spaces(p, s, n);
  if (t >= n) return false;
  switch (p[t]) {
    case '.':
    case '?':
    case '@':
      return true;
    case ':':
      return is_scheme_rest(p, t + 1, n);
    default:
      return t + 1 < n && byte_at(p, t) == 0xD8 && byte_at(p, t + 1) == 0x9F;  // U+061F
  }
}

// Whether the text from p[i] on starts a dot-word: two or more ASCII letters,
// then White_Space or the end of the text, as seen after the earlier joins.
[[nodiscard]] bool is_dot_word(const char* p, std::size_t i, std::size_t n) noexcept {
  std::size_t e = i;
  while (e < n && is_ascii_letter(byte_at(p, e))) ++e;
  if (e - i < 2) return false;
  if (e == n) return true;
  if (p[e] == ' ') return !is_dropped_after_letter(p, e, n);
  return white_space_at(p, e, n) != 0;
}

// The one pass. p[begin, end) is the trimmed text; spaces are deleted by
// compacting it to the front of the buffer.
class SpaceJoiner {
 public:
  SpaceJoiner(char* p, std::size_t begin, std::size_t end) noexcept : p_(p), end_(end), segment_(begin) {}

  void operator()(std::size_t s) noexcept {
    // The second and later spaces of a run always go; the first is decided for all.
    const bool drop = s == after_space_ || joins(s);
    after_space_ = s + 1;
    if (drop) {
      w_ = shift_down(p_, w_, segment_, s);
      segment_ = s + 1;
    }
  }

  // Length of the result, which starts at the front of the buffer.
  std::size_t finish() noexcept { return shift_down(p_, w_, segment_, end_); }

 private:
  // Whether the run of spaces that starts at s is deleted. s has a non-space on
  // both sides. Look-behind stays in [segment_, s): those bytes are still the
  // original text, while the compaction may have overwritten what lies before.
  bool joins(std::size_t s) noexcept {
    const char* p = p_;
    const std::size_t n = end_;
    if (s == scheme_tail_) return true;
    const unsigned left = byte_at(p, s - 1);
    if (left == '@') return true;
    const unsigned left_lead = s - segment_ >= 2 ? byte_at(p, s - 2) : 0;
    if (left == '/' && s - segment_ >= 3 && p[s - 2] == '/' && p[s - 3] == ':') return true;
    const std::size_t t = skip_spaces(p, s + 1, n);  // the right neighbour
    if (t >= n) return false;  // excluded by the trim; keeps look-ahead in bounds
    const unsigned right = byte_at(p, t);
    const unsigned right_cont = t + 1 < n ? byte_at(p, t + 1) : 0;
    switch (right) {
      case '.':
      case '?':
      case '@':
        return true;
      case ':':
        return is_scheme_rest(p, t + 1, n);
      case '/':
        if (left != ':' || right_cont != '/') return false;
        if (t + 2 < n && p[t + 2] == ' ') scheme_tail_ = t + 2;
        return true;
      case 0xD8:
        return right_cont == 0x9F;  // U+061F
      case 0xD9:
        if (is_mark(right, right_cont)) return is_letter(left_lead, left) || is_mark(left_lead, left);
        if (is_indic_digit(right, right_cont)) return is_ascii_digit(left) || is_indic_digit(left_lead, left);
        return false;
      default:
        if (is_ascii_digit(right)) return is_ascii_digit(left) || is_indic_digit(left_lead, left);
        if (left == '.' && is_ascii_letter(right)) return is_dot_word(p, t, n);
        return false;
    }
  }

  char* p_;
  std::size_t end_;
  std::size_t w_ = 0;
  std::size_t segment_;                // start of the bytes not yet moved
  std::size_t after_space_ = kNone;    // one past the last space seen
  std::size_t scheme_tail_ = kNone;    // the space after ": //", decided at its middle space
};

}  // namespace

std::string decode_bytes(std::string_view text) { return decode_bytes_from(text, find_substitute(text, 0)); }

void postprocess_in_place(std::string& text) {
  char* p = text.data();
  const std::size_t n = text.size();
  std::size_t begin = 0;
  while (begin < n) {
    const std::size_t k = white_space_at(p, begin, n);
    if (k == 0) break;
    begin += k;
  }
  std::size_t end = n;
  while (end > begin) {
    const std::size_t k = white_space_before(p, end);
    if (k == 0 || end - k < begin) break;
    end -= k;
  }
  SpaceJoiner joiner(p, begin, end);
  for_each_space(p, begin, end, joiner);
  text.resize(joiner.finish());
}

std::string postprocess(std::string text) {
  postprocess_in_place(text);
  return text;
}

SarfDecoder::SarfDecoder(const MorphemeMap& map) : trie_(MorphemeTrie::reverse(map)) {}
SarfDecoder::SarfDecoder(MorphemeTrie reverse) noexcept : trie_(std::move(reverse)) {}

std::string SarfDecoder::decode(std::string_view text) const {
  const Substitute first = find_substitute(text, 0);
  std::string out;
  if (trie_.entry_count() == 0) {
    out = decode_bytes_from(text, first);
  } else if (first.pos == text.size()) {
    out = trie_.replace_longest(text);  // nothing to convert: skip the intermediate copy
  } else {
    out = trie_.replace_longest(decode_bytes_from(text, first));
  }
  postprocess_in_place(out);
  return out;
}

}  // namespace talvik
