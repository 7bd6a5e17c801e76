#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// UTF-8 decoding, encoding and lossy repair. Every decoder here is bounds-safe
// on arbitrary bytes; ill-formed input is reported, never read past.
namespace talvik::utf8 {

inline constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
  char32_t cp;        // the scalar value, or kReplacement when !valid
  std::uint8_t len;   // bytes consumed: the sequence, or the maximal ill-formed subpart (>= 1)
  bool valid;
};

// Decodes the sequence that starts at s[i] (i < s.size()). An ill-formed
// sequence consumes its maximal subpart, as Python's errors="replace" does.
[[nodiscard]] constexpr Decoded decode(std::string_view s, std::size_t i) noexcept {
  const auto byte = [&](std::size_t k) -> unsigned { return static_cast<unsigned char>(s[k]); };
  const unsigned b0 = byte(i);
  if (b0 < 0x80) return {b0, 1, true};
  const std::size_t avail = s.size() - i;
  unsigned need;
  unsigned lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
  char32_t cp;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {kReplacement, 1, false};
  }
  for (unsigned k = 1; k <= need; ++k) {
    if (k >= avail) return {kReplacement, static_cast<std::uint8_t>(k), false};
    const unsigned b = byte(i + k);
    const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return {kReplacement, static_cast<std::uint8_t>(k), false};
    cp = (cp << 6) | (b & 0x3F);
  }
  return {cp, static_cast<std::uint8_t>(need + 1), true};
}

// Number of bytes of the UTF-8 form of a scalar value.
[[nodiscard]] constexpr std::size_t encoded_length(char32_t cp) noexcept {
  return cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
}

// Writes the UTF-8 form of a scalar value to out (room for 4 bytes); returns its length.
constexpr std::size_t encode(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

inline void append(std::string& out, char32_t cp) {
  char buffer[4];
  out.append(buffer, encode(cp, buffer));
}

[[nodiscard]] inline std::string from_code_point(char32_t cp) {
  std::string out;
  append(out, cp);
  return out;
}

// True when the bytes are well-formed UTF-8.
[[nodiscard]] bool is_valid(std::string_view s) noexcept;

// True when every byte is ASCII.
[[nodiscard]] bool is_ascii(std::string_view s) noexcept;

// Well-formed UTF-8 from arbitrary bytes: each maximal ill-formed subpart
// becomes U+FFFD. Returns the input unchanged (moved) when it is already valid.
[[nodiscard]] std::string to_valid_lossy(std::string bytes);

// Number of code points of well-formed UTF-8 (lead bytes counted).
[[nodiscard]] std::size_t count_code_points(std::string_view s) noexcept;

// ---- fixed-width text --------------------------------------------------------
// A text stored as one fixed-width unit per code point, 1, 2 or 4 bytes wide,
// in the narrowest width that holds its widest code point: the storage of a
// host-language string. Conversions to and from UTF-8 run on worker threads
// of the batch operations, so they are plain functions of memory.

struct CodeUnits {
  const void* data = nullptr;
  std::size_t length = 0;  // code points
  std::uint8_t width = 1;  // bytes per code point: 1, 2 or 4
};

// True when the units hold a surrogate code point (never in a 1-byte text),
// which has no UTF-8 form.
[[nodiscard]] bool has_surrogate(const CodeUnits& text) noexcept;

// Appends the UTF-8 form of a text without surrogates.
void append_utf8(std::string& out, const CodeUnits& text);

// A text decoded from UTF-8 into the narrowest fixed width that holds it.
struct WideText {
  std::string units;       // length * width bytes
  std::size_t length = 0;  // code points
  char32_t max_class = 0x7F;  // 0x7F, 0xFF, 0xFFFF or 0x10FFFF
  [[nodiscard]] std::uint8_t width() const noexcept { return max_class <= 0xFF ? 1 : max_class <= 0xFFFF ? 2 : 4; }
};

// Decodes UTF-8; each maximal ill-formed subpart becomes U+FFFD.
[[nodiscard]] WideText to_wide(std::string_view utf8);

}  // namespace talvik::utf8
