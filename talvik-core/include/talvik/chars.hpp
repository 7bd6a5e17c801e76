#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "talvik/utf8.hpp"

// Character and grapheme-cluster predicates: a handful of range tests, no tables.
namespace talvik {

[[nodiscard]] constexpr bool is_arabic(char32_t c) noexcept {
  return (c >= 0x0600 && c <= 0x06FF) ||  // Arabic
         (c >= 0x0750 && c <= 0x077F) ||  // Arabic Supplement
         (c >= 0x08A0 && c <= 0x08FF) ||  // Arabic Extended-A
         (c >= 0xFB50 && c <= 0xFDFF) ||  // Arabic Presentation Forms-A
         (c >= 0xFE70 && c <= 0xFEFF);    // Arabic Presentation Forms-B
}

enum class PuaClass : std::uint8_t { None, Basic, Supplementary };

// Plane 16 and the plane-15 noncharacters U+FFFFE/U+FFFFF are deliberately neither.
[[nodiscard]] constexpr PuaClass pua_class(char32_t c) noexcept {
  if (c >= 0xE000 && c <= 0xF8FF) return PuaClass::Basic;
  if (c >= 0xF0000 && c <= 0xFFFFD) return PuaClass::Supplementary;
  return PuaClass::None;
}

[[nodiscard]] constexpr bool is_pua(char32_t c) noexcept { return pua_class(c) != PuaClass::None; }

[[nodiscard]] constexpr bool is_emoji_code_point(char32_t c) noexcept {
  return (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F680 && c <= 0x1F6FF) ||
         (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x1FA00 && c <= 0x1FA6F) ||
         (c >= 0x1FA70 && c <= 0x1FAFF) || (c >= 0x2600 && c <= 0x26FF) ||
         (c >= 0x2700 && c <= 0x27BF);
}

[[nodiscard]] constexpr bool is_skin_tone_modifier(char32_t c) noexcept { return c >= 0x1F3FB && c <= 0x1F3FF; }

[[nodiscard]] constexpr bool is_regional_indicator(char32_t c) noexcept { return c >= 0x1F1E6 && c <= 0x1F1FF; }

// Whether one extended grapheme cluster (UTF-8) counts as an emoji: a lone emoji,
// any joiner sequence, anything carrying a skin tone, a flag (exactly two
// regional indicators), or an emoji followed by a variation selector.
[[nodiscard]] constexpr bool is_emoji_cluster(std::string_view cluster) noexcept {
  std::size_t n = 0;
  char32_t c0 = 0, c1 = 0;
  bool joiner_or_tone = false;
  for (std::size_t i = 0; i < cluster.size();) {
    const utf8::Decoded d = utf8::decode(cluster, i);
    i += d.len;
    if (n == 0) c0 = d.cp;
    if (n == 1) c1 = d.cp;
    ++n;
    joiner_or_tone = joiner_or_tone || d.cp == 0x200D || is_skin_tone_modifier(d.cp);
  }
  if (n == 0) return false;
  if (n == 1 && is_emoji_code_point(c0)) return true;
  if (joiner_or_tone) return true;
  if (n == 1) return false;
  if (n == 2 && is_regional_indicator(c0) && is_regional_indicator(c1)) return true;
  return is_emoji_code_point(c0) && (c1 == 0xFE0E || c1 == 0xFE0F);
}

}  // namespace talvik
