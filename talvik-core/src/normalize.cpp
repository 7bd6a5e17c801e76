#include "talvik/normalize.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "talvik/utf8.hpp"

namespace talvik {

NormalizationLevel parse_level(std::string_view name) noexcept {
  if (name == "light") return NormalizationLevel::Light;
  if (name == "aggressive") return NormalizationLevel::Aggressive;
  return NormalizationLevel::Medium;
}

std::string_view level_name(NormalizationLevel level) noexcept {
  switch (level) {
    case NormalizationLevel::Light: return "light";
    case NormalizationLevel::Medium: return "medium";
    case NormalizationLevel::Aggressive: return "aggressive";
  }
  return "medium";
}

char32_t NormalizationSettings::alef_table(char32_t c) noexcept {
  switch (c) {
    case 0x0623: case 0x0625: case 0x0622: case 0x0671: return 0x0627;
    default: return 0;
  }
}

char32_t NormalizationSettings::digit_table(char32_t c) noexcept {
  return c >= 0x0660 && c <= 0x0669 ? U'0' + (c - 0x0660) : 0;
}

char32_t NormalizationSettings::apostrophe_table(char32_t c) noexcept {
  switch (c) {
    case 0x2019: case 0x2018: case 0x201B: case 0x02BC: case 0x02BB: case 0xFF07: return U'\'';
    default: return 0;
  }
}

char32_t NormalizationSettings::dash_table(char32_t c) noexcept {
  switch (c) {
    case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2015:
    case 0x2212: case 0xFE58: case 0xFE63: case 0xFF0D: return U'-';
    default: return 0;
  }
}

namespace {

// ---- shared byte helpers ----------------------------------------------------

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

[[nodiscard]] inline std::uint64_t load8(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

// Whether some byte of an all-ASCII word is below n (n <= 128). Exact for
// existence, which is all the callers ask.
[[nodiscard]] constexpr bool has_byte_below(std::uint64_t word, unsigned n) noexcept {
  return ((word - kOnes * n) & ~word & kHighBits) != 0;
}

[[nodiscard]] constexpr bool has_byte_equal(std::uint64_t word, unsigned value) noexcept {
  return has_byte_below(word ^ (kOnes * value), 1);
}

[[nodiscard]] inline unsigned byte_at(const char* p, std::size_t i) noexcept {
  return static_cast<unsigned char>(p[i]);
}

// Every fold below writes at most as many bytes as it reads, so each pass
// fills a buffer of the input's size and shrinks it to what it wrote. `fill`
// must not throw.
template <class Fill>
[[nodiscard]] std::string fill_bounded(std::size_t capacity, Fill fill) {
  std::string out;
  out.resize_and_overwrite(capacity, [&](char* p, std::size_t) noexcept { return fill(p); });
  return out;
}

// ---- normalization by level ---------------------------------------------------

// The invisible formatting characters that every level removes. All of them
// take three bytes in UTF-8.
[[nodiscard]] constexpr bool is_invisible_formatting(char32_t c) noexcept {
  return (c >= 0x200B && c <= 0x200D) || c == 0xFEFF || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

inline constexpr char32_t kDrop = 0xFFFFFFFF;

// What a level does to one code point of U+0600..U+06FF: kDrop, or the code
// point it becomes (itself when kept). The level's steps collapse into one
// lookup: every step matches single characters, so a removal cannot make a new
// match, and no replacement yields a character that any step touches (the
// results are U+0627, U+0647, U+0648, U+064A and ASCII digits), so neither the
// order of the steps nor running them as separate passes changes the outcome.
[[nodiscard]] constexpr char32_t fold_arabic_for_level(char32_t c, NormalizationLevel level) noexcept {
  const bool medium_up = level != NormalizationLevel::Light;
  const bool aggressive = level == NormalizationLevel::Aggressive;
  if ((c >= 0x064B && c <= 0x0652) || c == 0x0670) return kDrop;  // marks
  if (c == 0x0640) return kDrop;                                  // tatweel
  if (c == 0x0623 || c == 0x0625 || c == 0x0622) return 0x0627;
  if (c == 0x0649) return 0x064A;
  if (c >= 0x0660 && c <= 0x0669) return U'0' + (c - 0x0660);
  if (medium_up && c == 0x0624) return 0x0648;
  if (medium_up && c == 0x0626) return 0x064A;
  if (medium_up && c == 0x0671) return 0x0627;
  if (aggressive && c == 0x0629) return 0x0647;
  return c;
}

// One entry per code point of U+0600..U+06FF, indexed by the low two bits of
// the lead byte (0xD8..0xDB) and the six payload bits of the continuation.
// Two bytes are always stored; `len` says how many of them count (0: drop).
struct LevelEntry {
  char bytes[2];
  std::uint8_t len;
};
using LevelTable = std::array<LevelEntry, 256>;

constexpr LevelTable make_level_table(NormalizationLevel level) {
  LevelTable table{};
  for (unsigned k = 0; k < 256; ++k) {
    const char32_t folded = fold_arabic_for_level(0x0600 + k, level);
    LevelEntry& e = table[k];
    if (folded == kDrop) {
      e = {{0, 0}, 0};
    } else if (folded < 0x80) {
      e = {{static_cast<char>(folded), 0}, 1};
    } else {
      e = {{static_cast<char>(0xC0 | (folded >> 6)), static_cast<char>(0x80 | (folded & 0x3F))}, 2};
    }
  }
  return table;
}

constexpr std::array<LevelTable, 3> kLevelTables = {
    make_level_table(NormalizationLevel::Light),
    make_level_table(NormalizationLevel::Medium),
    make_level_table(NormalizationLevel::Aggressive),
};

static_assert(kLevelTables[0][0x40].len == 0);                                 // tatweel
static_assert(kLevelTables[0][0x63].len == 1 && kLevelTables[0][0x63].bytes[0] == '3');
static_assert(kLevelTables[0][0x29].len == 2 && kLevelTables[2][0x29].bytes[1] == '\x87');

// Four two-byte sequences with lead bytes 0xD8..0xDB, as a word loaded from
// memory (byte 0 lowest).
static_assert(std::endian::native == std::endian::little);
constexpr std::uint64_t kArabicPairMask = 0xC0FCC0FCC0FCC0FCULL;
constexpr std::uint64_t kArabicPairBits = 0x80D880D880D880D8ULL;

// Writes the folded text to out (room for n bytes) and returns its length.
// Invariant: o <= i, so two-byte stores at out + o stay inside the buffer.
std::size_t fold_by_level(const char* in, std::size_t n, char* out, const LevelTable& table) noexcept {
  const std::string_view text(in, n);
  std::size_t i = 0;
  std::size_t o = 0;
  const auto fold_pair = [&](unsigned lead, unsigned cont) noexcept {
    const LevelEntry& e = table[((lead & 3) << 6) | (cont & 0x3F)];
    out[o] = e.bytes[0];
    out[o + 1] = e.bytes[1];
    o += e.len;
  };
  while (i < n) {
    const unsigned b = byte_at(in, i);
    if (b < 0x80) {
      out[o++] = static_cast<char>(b);
      ++i;
      while (i + 8 <= n) {
        const std::uint64_t word = load8(in + i);
        if ((word & kHighBits) != 0) break;
        std::memcpy(out + o, &word, 8);
        i += 8;
        o += 8;
      }
      continue;
    }
    if (b - 0xD8 < 4 && i + 1 < n && (byte_at(in, i + 1) & 0xC0) == 0x80) {
      // Arabic prose: runs of letters separated by single spaces. Stay in
      // this loop for both, taking four letters per word where possible.
      fold_pair(b, byte_at(in, i + 1));
      i += 2;
      for (;;) {
        if (i + 8 <= n) {
          const std::uint64_t word = load8(in + i);
          if ((word & kArabicPairMask) == kArabicPairBits) {
            for (unsigned k = 0; k < 64; k += 16) {
              fold_pair(static_cast<unsigned>(word >> k), static_cast<unsigned>(word >> (k + 8)));
            }
            i += 8;
            continue;
          }
        }
        if (i + 1 < n && byte_at(in, i) - 0xD8 < 4 && (byte_at(in, i + 1) & 0xC0) == 0x80) {
          fold_pair(byte_at(in, i), byte_at(in, i + 1));
          i += 2;
          continue;
        }
        if (i < n && in[i] == ' ') {
          out[o++] = ' ';
          ++i;
          continue;
        }
        break;
      }
      continue;
    }
    // Everything else passes through, except the three-byte invisible
    // formatting characters. An ill-formed subpart is copied as it is.
    const utf8::Decoded d = utf8::decode(text, i);
    if (!(d.valid && d.len == 3 && is_invisible_formatting(d.cp))) {
      std::memcpy(out + o, in + i, d.len);
      o += d.len;
    }
    i += d.len;
  }
  return o;
}

// ---- the per-character pass of a settings record ------------------------------

[[nodiscard]] constexpr bool is_zero_width(char32_t c) noexcept {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x2060 && c <= 0x2064) || c == 0xFEFF;
}

[[nodiscard]] constexpr bool is_control(char32_t c) noexcept {
  return (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || (c >= 0x7F && c <= 0x9F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Which code points of U+0600..U+06FF a record changes, one bit each, built
// from its switches per call (a few word operations). Everything else in the
// block is copied without looking at the record.
class ArabicChanges {
 public:
  explicit constexpr ArabicChanges(const NormalizationSettings& s) noexcept {
    if (s.remove_tatweel) mark(0x0640, 0x0640);
    if (s.strip_diacritics) {
      mark(0x064B, 0x0656);
      mark(0x0670, 0x0670);
    }
    if (s.normalize_alef) {
      for (char32_t c : {0x0622, 0x0623, 0x0625, 0x0671}) mark(c, c);
    }
    if (s.normalize_taa_marbouta) mark(0x0629, 0x0629);
    if (s.normalize_alef_maqsura) mark(0x0649, 0x0649);
    if (s.normalize_digits) mark(0x0660, 0x0669);
    if (s.normalize_decimal_separator) mark(0x066B, 0x066B);
  }

  // lead is 0xD8..0xDB, cont a continuation byte.
  [[nodiscard]] constexpr bool changes(unsigned lead, unsigned cont) const noexcept {
    return ((bits_[lead & 3] >> (cont & 0x3F)) & 1) != 0;
  }

 private:
  constexpr void mark(char32_t first, char32_t last) noexcept {
    for (char32_t c = first; c <= last; ++c) bits_[(c - 0x600) >> 6] |= std::uint64_t{1} << ((c - 0x600) & 63);
  }

  std::array<std::uint64_t, 4> bits_{};
};

// The settings with the enumerations clamped (a value above 2 behaves like 2).
struct CharRules {
  const NormalizationSettings& s;
  std::uint8_t zero_width_mode;
  std::uint8_t control_char_mode;
};

// kDrop, or the code point to append (c itself when kept). A mapped code
// point is final: it is never looked up again.
[[nodiscard]] char32_t fold_char(char32_t c, const CharRules& r) noexcept {
  const NormalizationSettings& s = r.s;
  if (is_zero_width(c)) {
    if (r.zero_width_mode == 0) return kDrop;
    if (r.zero_width_mode == 1) return c == 0x200D ? c : kDrop;
    return c;
  }
  if (is_control(c)) {
    if (r.control_char_mode == 0) return c;
    if (r.control_char_mode == 1) return kDrop;
    return U' ';
  }
  if (s.remove_tatweel && c == 0x0640) return kDrop;
  if (s.strip_diacritics && ((c >= 0x064B && c <= 0x0656) || c == 0x0670)) return kDrop;
  if (s.normalize_alef) {
    if (const char32_t m = NormalizationSettings::alef_table(c)) return m;
  }
  if (s.normalize_taa_marbouta && c == 0x0629) return 0x0647;
  if (s.normalize_alef_maqsura && c == 0x0649) return 0x064A;
  if (s.normalize_digits) {
    if (const char32_t m = NormalizationSettings::digit_table(c)) return m;
  }
  if (s.normalize_apostrophes && NormalizationSettings::apostrophe_table(c) != 0) return U'\'';
  if (s.normalize_dashes && NormalizationSettings::dash_table(c) != 0) return U'-';
  if (s.normalize_decimal_separator && c == 0x066B) return U'.';
  return c;
}

// Whether eight ASCII bytes can be copied as they are: with controls kept any
// ASCII can; otherwise only words free of C0 controls and DEL (tab, line feed
// and carriage return also take the slow path, which keeps them).
[[nodiscard]] inline bool plain_ascii_word(std::uint64_t word, bool keep_controls) noexcept {
  if ((word & kHighBits) != 0) return false;
  return keep_controls || !(has_byte_below(word, 0x20) || has_byte_equal(word, 0x7F));
}

std::size_t fold_chars(const char* in, std::size_t n, char* out, const CharRules& rules) noexcept {
  const std::string_view text(in, n);
  const bool keep_controls = rules.control_char_mode == 0;
  const ArabicChanges arabic(rules.s);
  std::size_t i = 0;
  std::size_t o = 0;
  // Appends what the rules make of the code point c read from in[i, i + len).
  const auto emit = [&](char32_t c, std::size_t len) noexcept {
    const char32_t folded = fold_char(c, rules);
    if (folded == c) {
      std::memcpy(out + o, in + i, len);
      o += len;
    } else if (folded != kDrop) {
      // Every mapping shortens or keeps the length, so this stays in bounds.
      o += utf8::encode(folded, out + o);
    }
  };
  const auto arabic_pair = [&]() noexcept {
    return i + 1 < n && byte_at(in, i) - 0xD8 < 4 && (byte_at(in, i + 1) & 0xC0) == 0x80;
  };
  while (i < n) {
    const unsigned b = byte_at(in, i);
    if (b < 0x80) {
      if (keep_controls || !is_control(b)) {
        out[o++] = static_cast<char>(b);
      } else if (rules.control_char_mode >= 2) {
        out[o++] = ' ';
      }
      ++i;
      while (i + 8 <= n) {
        const std::uint64_t word = load8(in + i);
        if (!plain_ascii_word(word, keep_controls)) break;
        std::memcpy(out + o, &word, 8);
        i += 8;
        o += 8;
      }
      continue;
    }
    if (arabic_pair()) {
      // Arabic prose: runs of letters separated by single spaces. Four letters
      // the record leaves alone are copied as one word.
      do {
        if (i + 8 <= n) {
          const std::uint64_t word = load8(in + i);
          if ((word & kArabicPairMask) == kArabicPairBits) {
            bool changed = false;
            for (unsigned k = 0; k < 64; k += 16) {
              changed |= arabic.changes(static_cast<unsigned>(word >> k), static_cast<unsigned>(word >> (k + 8)));
            }
            if (!changed) {
              std::memcpy(out + o, &word, 8);
              i += 8;
              o += 8;
              continue;
            }
          }
        }
        if (arabic_pair()) {
          const unsigned lead = byte_at(in, i);
          const unsigned cont = byte_at(in, i + 1);
          if (arabic.changes(lead, cont)) {
            emit(((lead & 0x1F) << 6) | (cont & 0x3F), 2);
          } else {
            std::memcpy(out + o, in + i, 2);
            o += 2;
          }
          i += 2;
          continue;
        }
        if (i < n && in[i] == ' ') {
          out[o++] = ' ';
          ++i;
          continue;
        }
        break;
      } while (true);
      continue;
    }
    // Kept code points and ill-formed subparts go through as their bytes.
    const utf8::Decoded d = utf8::decode(text, i);
    if (d.valid) {
      emit(d.cp, d.len);
    } else {
      std::memcpy(out + o, in + i, d.len);
      o += d.len;
    }
    i += d.len;
  }
  return o;
}

// ---- Unicode normalization forms ----------------------------------------------

// End of the well-formed run that starts at i.
[[nodiscard]] std::size_t well_formed_end(std::string_view s, std::size_t i) noexcept {
  while (i < s.size()) {
    if (i + 8 <= s.size() && (load8(s.data() + i) & kHighBits) == 0) {
      i += 8;
      continue;
    }
    const utf8::Decoded d = utf8::decode(s, i);
    if (!d.valid) break;
    i += d.len;
  }
  return i;
}

struct FreeDeleter {
  void operator()(utf8proc_uint8_t* p) const noexcept { std::free(p); }
};

void append_in_form(std::string& out, std::string_view run, utf8proc_option_t options) {
  utf8proc_uint8_t* raw = nullptr;
  const utf8proc_ssize_t len = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(run.data()),
                                            static_cast<utf8proc_ssize_t>(run.size()), &raw, options);
  const std::unique_ptr<utf8proc_uint8_t, FreeDeleter> owned(raw);
  if (len == UTF8PROC_ERROR_NOMEM) throw std::bad_alloc();
  if (len < 0 || owned == nullptr) {
    // Not expected for a well-formed run; leave the run as it is rather than lose it.
    out.append(run);
    return;
  }
  out.append(reinterpret_cast<const char*>(owned.get()), static_cast<std::size_t>(len));
}

// Brings the text to Form C (form 1) or Form KC (form 2 and above). Composition
// never crosses an ill-formed subpart: each well-formed run is normalized on
// its own and the ill-formed bytes between runs are copied unchanged.
[[nodiscard]] std::string to_unicode_form(std::string_view text, std::uint8_t form) {
  const auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE |
                                                       (form >= 2 ? UTF8PROC_COMPAT : 0));
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t end = well_formed_end(text, i);
    if (end > i) append_in_form(out, text.substr(i, end - i), options);
    if (end < text.size()) {
      const utf8::Decoded d = utf8::decode(text, end);
      out.append(text.substr(end, d.len));
      i = end + d.len;
    } else {
      i = end;
    }
  }
  return out;
}

[[nodiscard]] bool is_all_ascii(std::string_view s) noexcept {
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    if ((load8(s.data() + i) & kHighBits) != 0) return false;
  }
  for (; i < s.size(); ++i) {
    if (byte_at(s.data(), i) >= 0x80) return false;
  }
  return true;
}

// ---- whitespace modes ----------------------------------------------------------

// Collapses every whitespace run to one space in place and returns the new
// length. With keep_line_breaks, a carriage return directly before a line feed
// is dropped (CRLF becomes LF) and a line feed is kept and ends the run. The
// writer never overtakes the reader, hence memmove.
std::size_t collapse_whitespace(char* s, std::size_t n, bool keep_line_breaks) noexcept {
  const std::string_view text(s, n);
  bool in_run = false;
  std::size_t i = 0;
  std::size_t o = 0;
  while (i < n) {
    const unsigned b = byte_at(s, i);
    if (b < 0x80) {
      if (b > 0x20) {
        s[o++] = static_cast<char>(b);
        in_run = false;
        ++i;
        while (i + 8 <= n) {
          const std::uint64_t word = load8(s + i);
          if ((word & kHighBits) != 0 || has_byte_below(word, 0x21)) break;
          std::memmove(s + o, s + i, 8);
          i += 8;
          o += 8;
        }
        continue;
      }
      ++i;
      if (keep_line_breaks && b == '\r' && i < n && s[i] == '\n') continue;
      if (keep_line_breaks && b == '\n') {
        s[o++] = '\n';
        in_run = false;
      } else if (is_white_space(b)) {
        if (!in_run) s[o++] = ' ';
        in_run = true;
      } else {
        s[o++] = static_cast<char>(b);
        in_run = false;
      }
      continue;
    }
    const utf8::Decoded d = utf8::decode(text, i);
    if (d.valid && is_white_space(d.cp)) {
      if (!in_run) s[o++] = ' ';
      in_run = true;
    } else {
      std::memmove(s + o, s + i, d.len);
      o += d.len;
      in_run = false;
    }
    i += d.len;
  }
  return o;
}

// After collapsing, the only whitespace left is U+0020 and (when kept) U+000A.
void trim_collapsed(std::string& s) {
  const auto is_trimmed = [](char ch) { return ch == ' ' || ch == '\n'; };
  std::size_t end = s.size();
  while (end > 0 && is_trimmed(s[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && is_trimmed(s[begin])) ++begin;
  s.resize(end);
  s.erase(0, begin);
}

}  // namespace

// ---- public operations ---------------------------------------------------------

std::string normalize_with_level(std::string_view text, NormalizationLevel level) {
  if (text.empty()) return {};
  // A level outside the enumeration folds as much as the highest one.
  const auto index = std::min<std::size_t>(static_cast<std::size_t>(level), 2);
  const LevelTable& table = kLevelTables[index];
  return fill_bounded(text.size(), [&](char* out) noexcept {
    return fold_by_level(text.data(), text.size(), out, table);
  });
}

std::string normalize_chars(std::string_view text, const NormalizationSettings& settings) {
  if (text.empty()) return {};
  const CharRules rules{settings, std::min<std::uint8_t>(settings.zero_width_mode, 2),
                        std::min<std::uint8_t>(settings.control_char_mode, 2)};
  return fill_bounded(text.size(), [&](char* out) noexcept {
    return fold_chars(text.data(), text.size(), out, rules);
  });
}

std::string normalize_with_settings(std::string_view text, const NormalizationSettings& settings) {
  std::string formed;
  std::string_view source = text;
  // Pure ASCII is already in both forms.
  if (settings.unicode_form != 0 && !is_all_ascii(text)) {
    formed = to_unicode_form(text, settings.unicode_form);
    source = formed;
  }
  std::string out = normalize_chars(source, settings);
  if (settings.whitespace_mode != 0) {
    const bool keep_line_breaks = settings.whitespace_mode >= 2;
    out.resize(collapse_whitespace(out.data(), out.size(), keep_line_breaks));
    trim_collapsed(out);
  }
  return out;
}

}  // namespace talvik
