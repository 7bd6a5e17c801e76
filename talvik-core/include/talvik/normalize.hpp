#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Folding Arabic spelling variants together: by a named level (codec) or by a
// settings record (tokenizer). Input is UTF-8; nothing here fails. Ill-formed
// bytes are never read past and pass through unchanged (each maximal
// ill-formed subpart is copied as it is and never matches a fold).
namespace talvik {

enum class NormalizationLevel : std::uint8_t { Light = 0, Medium = 1, Aggressive = 2 };

// "light" and "aggressive" (exact bytes) select those levels; every other text is medium.
[[nodiscard]] NormalizationLevel parse_level(std::string_view name) noexcept;
[[nodiscard]] std::string_view level_name(NormalizationLevel level) noexcept;

// The settings record. The four enumerations are stored as raw bytes; any
// value above 2 behaves like 2.
struct NormalizationSettings {
  bool normalize_alef = false;
  bool normalize_taa_marbouta = false;
  bool normalize_alef_maqsura = false;
  bool strip_diacritics = false;
  bool remove_tatweel = true;
  bool normalize_digits = false;
  bool normalize_apostrophes = false;
  bool normalize_dashes = false;
  bool normalize_decimal_separator = false;
  std::uint8_t unicode_form = 0;       // 0 none, 1 NFC, 2 NFKC
  std::uint8_t whitespace_mode = 0;    // 0 keep, 1 collapse + trim, 2 collapse keeping line breaks + trim
  std::uint8_t zero_width_mode = 0;    // 0 remove all, 1 keep U+200D only, 2 keep all
  std::uint8_t control_char_mode = 1;  // 0 keep, 1 remove, 2 replace by one space

  // The fixed mapping tables (alef: 4 entries, digits: 10, apostrophes: 6,
  // dashes: 10). A code point outside a table maps to 0.
  [[nodiscard]] static char32_t alef_table(char32_t c) noexcept;
  [[nodiscard]] static char32_t digit_table(char32_t c) noexcept;
  [[nodiscard]] static char32_t apostrophe_table(char32_t c) noexcept;
  [[nodiscard]] static char32_t dash_table(char32_t c) noexcept;
};

// The fixed sequence of folds that a level selects, fused into one pass. The
// result is never longer than the text.
[[nodiscard]] std::string normalize_with_level(std::string_view text, NormalizationLevel level);

// One pass of the per-character rules of a settings record.
[[nodiscard]] std::string normalize_chars(std::string_view text, const NormalizationSettings& settings);

// Unicode form, then normalize_chars, then the whitespace mode. The Unicode
// form is applied to each well-formed run on its own, so ill-formed bytes stay
// where they are and nothing composes across them.
[[nodiscard]] std::string normalize_with_settings(std::string_view text, const NormalizationSettings& settings);

// The Unicode White_Space property.
[[nodiscard]] constexpr bool is_white_space(char32_t c) noexcept {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

}  // namespace talvik
