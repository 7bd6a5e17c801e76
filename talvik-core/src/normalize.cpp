// Placeholder: replaced by the real normalizer.
#include "talvik/normalize.hpp"

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

char32_t NormalizationSettings::alef_table(char32_t) noexcept { return 0; }
char32_t NormalizationSettings::digit_table(char32_t) noexcept { return 0; }
char32_t NormalizationSettings::apostrophe_table(char32_t) noexcept { return 0; }
char32_t NormalizationSettings::dash_table(char32_t) noexcept { return 0; }

std::string normalize_with_level(std::string_view text, NormalizationLevel) { return std::string(text); }
std::string normalize_chars(std::string_view text, const NormalizationSettings&) { return std::string(text); }
std::string normalize_with_settings(std::string_view text, const NormalizationSettings&) { return std::string(text); }

}  // namespace talvik
